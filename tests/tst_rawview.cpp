// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/rawview.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

class tst_RawView : public QObject
{
    Q_OBJECT

private slots:
    void byteTexts_data();
    void byteTexts();
    void oneRowPerByte();
    void shortChunksAreNotListed_data();
    void shortChunksAreNotListed();
};

void tst_RawView::byteTexts_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0x00";
    QTest::newRow("5") << 5 << "0x05";
    QTest::newRow("15") << 15 << "0x0F";
    QTest::newRow("16") << 16 << "0x10";
    QTest::newRow("91") << 91 << "0x5B";
    QTest::newRow("128") << 128 << "0x80";
    QTest::newRow("165") << 165 << "0xA5";
    QTest::newRow("255") << 255 << "0xFF";
}

void tst_RawView::byteTexts()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    QCOMPARE(hexByteText(quint8(value)), text);

    QTableWidget table;
    QByteArray chunk(11, '\x01');
    chunk[7] = char(value);
    showRawPacket(&table, chunk);
    QCOMPARE(table.item(7, 0)->text(), text);
}

void tst_RawView::oneRowPerByte()
{
    QTableWidget table;
    QByteArray chunk;
    for (int i = 0; i < 18; ++i)
        chunk.append(char(0xF0 + i));
    showRawPacket(&table, chunk);
    QCOMPARE(table.rowCount(), 18);
    QCOMPARE(table.columnCount(), 1);
    for (int i = 0; i < 18; ++i)
        QCOMPARE(table.item(i, 0)->text(), hexByteText(quint8(0xF0 + i)));
    QCOMPARE(table.verticalHeaderItem(0), nullptr);

    showRawPacket(&table, QByteArray(11, '\x7F'));
    QCOMPARE(table.rowCount(), 11);
    QCOMPARE(cellTexts(&table), QStringList(QVector<QString>(11, QStringLiteral("0x7F")).toList()));
}

void tst_RawView::shortChunksAreNotListed_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("1 byte") << 1;
    QTest::newRow("5 bytes") << 5;
    QTest::newRow("10 bytes") << 10;
}

void tst_RawView::shortChunksAreNotListed()
{
    QFETCH(int, length);
    QTableWidget table;
    showRawPacket(&table, QByteArray(12, '\x42'));
    const QStringList before = cellTexts(&table);
    showRawPacket(&table, QByteArray(length, '\xA3'));
    QCOMPARE(table.rowCount(), 12);
    QCOMPARE(cellTexts(&table), before);
}

QTEST_MAIN(tst_RawView)
#include "tst_rawview.moc"
