// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/decoderstate.h"
#include "display/decodedtable.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

using namespace packets;

class tst_Nordax : public QObject
{
    Q_OBJECT

private slots:
    void workedPacket();
    void modeIsUnsigned();
    void conversion_data();
    void conversion();
    void zeroWordShowsAnotherFamilysValue();
    void badCrc();
    void notAcceptedLeavesEverything_data();
    void notAcceptedLeavesEverything();

private:
    QTableWidget table;
};

void tst_Nordax::workedPacket()
{
    const QByteArray packet = fromHex("A3 01 00") + QByteArray::fromHex(QByteArray("0980").repeated(12)) + fromHex("57 87");
    QVERIFY(decodePacket(packet, &table));
    QCOMPARE(table.rowCount(), 16);
    QCOMPARE(table.columnCount(), 1);
    const QStringList cells = QStringList{"NORDAX", "1", "0"} + QVector<QString>(12, "0").toList() + QStringList{"OK"};
    const QStringList labels = QStringList{"ID", "Version", "Mode"} + channelLabels(12) + QStringList{"CRC"};
    QCOMPARE(cellTexts(&table), cells);
    QCOMPARE(rowLabels(&table), labels);
}

void tst_Nordax::modeIsUnsigned()
{
    QVERIFY(decodePacket(nordax(200, QVector<quint16>(12, 0x0980)), &table));
    QCOMPARE(table.item(2, 0)->text(), QStringLiteral("200"));
}

void tst_Nordax::conversion_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("shown");
    QTest::newRow("1") << 1 << "-6029";
    QTest::newRow("0x0800") << 0x0800 << "-952";
    QTest::newRow("2431") << 2431 << "-2";
    QTest::newRow("2432, centre") << 2432 << "0";
    QTest::newRow("2433") << 2433 << "3";
    QTest::newRow("0x0BB8") << 0x0BB8 << "1409";
    QTest::newRow("0x3D1C") << 0x3D1C << "32766";
    QTest::newRow("0x3D1D wraps") << 0x3D1D << "-32767";
    QTest::newRow("0xFFFF") << 0xFFFF << "25424";
}

void tst_Nordax::conversion()
{
    QFETCH(int, word);
    QFETCH(QString, shown);
    for (int channel : {0, 11}) {
        QVector<quint16> words(12, 2432);
        words[channel] = quint16(word);
        QVERIFY(decodePacket(nordax(3, words), &table));
        QCOMPARE(table.item(3 + channel, 0)->text(), shown);
        QCOMPARE(QString::number(channelValues[channel]), shown);
    }
}

void tst_Nordax::zeroWordShowsAnotherFamilysValue()
{
    QVERIFY(decodePacket(mpx(QVector<quint16>(12, 0x0800)), &table));
    QVector<quint16> words(12, 0x0BB8);
    words[4] = 0;
    QVERIFY(decodePacket(nordax(0, words), &table));
    QCOMPARE(table.item(7, 0)->text(), QStringLiteral("-748"));
    QCOMPARE(table.item(8, 0)->text(), QStringLiteral("1409"));
    QCOMPARE(channelValues[4], qint16(-748));
}

void tst_Nordax::badCrc()
{
    // Rows 3 to 15 exist from the MPX_V2 packet; the NORDAX rows 3 to 14 keep them.
    QVector<quint16> v2Words;
    for (int k = 0; k < 16; ++k)
        v2Words << quint16(0x0AEC + 100 + k);
    QVERIFY(decodePacket(mpxV2(v2Words), &table));
    const QStringList before = cellTexts(&table);
    const QVector<qint16> values = channelSnapshot();

    QVERIFY(decodePacket(corrupted(nordax(9, QVector<quint16>(12, 0x0800))), &table));
    QCOMPARE(table.rowCount(), 16);
    QStringList expected = before.mid(0, 16);
    expected[0] = QStringLiteral("NORDAX");
    expected[1] = QStringLiteral("1");
    expected[2] = QStringLiteral("9");
    expected[15] = QStringLiteral("FALSE");
    QCOMPARE(cellTexts(&table), expected);
    QCOMPARE(rowLabels(&table).size(), 16);
    QCOMPARE(rowLabels(&table).last(), QStringLiteral("CRC"));
    QCOMPARE(channelSnapshot(), values);
}

void tst_Nordax::notAcceptedLeavesEverything_data()
{
    QTest::addColumn<QByteArray>("chunk");
    const QByteArray good = nordax(0, QVector<quint16>(12, 0x0800));
    QTest::newRow("version 2") << QByteArray(good).replace(1, 1, "\x02");
    QTest::newRow("28 bytes") << good.left(28);
    QTest::newRow("30 bytes") << (good + '\x00');
    QTest::newRow("A3 alone") << fromHex("A3");
}

void tst_Nordax::notAcceptedLeavesEverything()
{
    QFETCH(QByteArray, chunk);
    QVERIFY(decodePacket(hott(QVector<quint16>{0x2260, 0x2EE0}), &table));
    const QStringList cells = cellTexts(&table);
    const QStringList labels = rowLabels(&table);
    QVERIFY(decodePacket(chunk, &table));
    QCOMPARE(cellTexts(&table), cells);
    QCOMPARE(rowLabels(&table), labels);
}

QTEST_MAIN(tst_Nordax)
#include "tst_nordax.moc"
