// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/decoderstate.h"
#include "display/decodedtable.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

using namespace packets;

class tst_Mpx : public QObject
{
    Q_OBJECT

private slots:
    void workedPackets_data();
    void workedPackets();
    void conversion_data();
    void conversion();
    void zeroWordKeepsTheEntry();
    void badCrcWritesOnlyIdAndVerdict();
    void shrinkingFromV2();
    void leavesHigherEntriesAlone();

private:
    QTableWidget table;
};

static QStringList labelsFor(int channels)
{
    return QStringList{"ID"} + channelLabels(channels) + QStringList{"CRC"};
}

void tst_Mpx::workedPackets_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("channels");
    QTest::newRow("MPX") << (fromHex("A1") + QByteArray::fromHex(QByteArray("0800").repeated(12)) + fromHex("A2AF"))
                         << "MPX" << 12;
    QTest::newRow("MPX_V2") << (fromHex("A2") + QByteArray::fromHex(QByteArray("0800").repeated(16)) + fromHex("DF1E"))
                            << "MPX_V2" << 16;
}

void tst_Mpx::workedPackets()
{
    QFETCH(QByteArray, packet);
    QFETCH(QString, label);
    QFETCH(int, channels);
    QVERIFY(decodePacket(packet, &table));
    QCOMPARE(table.rowCount(), channels + 2);
    QCOMPARE(table.columnCount(), 1);
    QStringList expected{label};
    for (int k = 0; k < channels; ++k)
        expected << QStringLiteral("-748");
    expected << QStringLiteral("OK");
    QCOMPARE(cellTexts(&table), expected);
    QCOMPARE(rowLabels(&table), labelsFor(channels));
    for (int k = 0; k < channels; ++k)
        QCOMPARE(channelValues[k], qint16(-748));
}

void tst_Mpx::conversion_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0x0001") << 0x0001 << "-2795";
    QTest::newRow("0x0800") << 0x0800 << "-748";
    QTest::newRow("0x0AEC, centre") << 0x0AEC << "0";
    QTest::newRow("0x0AED") << 0x0AED << "1";
    QTest::newRow("0x0FFF") << 0x0FFF << "1299";
    QTest::newRow("0x8AEB") << 0x8AEB << "32767";
    QTest::newRow("0x8AEC wraps") << 0x8AEC << "-32768";
    QTest::newRow("0xFFFF") << 0xFFFF << "-2797";
}

void tst_Mpx::conversion()
{
    QFETCH(int, word);
    QFETCH(QString, shown);
    for (bool v2 : {false, true}) {
        QVector<quint16> words(v2 ? 16 : 12, 0x0AEC);
        const int channel = v2 ? 15 : 5;
        words[channel] = quint16(word);
        QVERIFY(decodePacket(v2 ? mpxV2(words) : mpx(words), &table));
        QCOMPARE(table.item(channel + 1, 0)->text(), shown);
        QCOMPARE(QString::number(channelValues[channel]), shown);
    }
}

void tst_Mpx::zeroWordKeepsTheEntry()
{
    QVector<quint16> words(12, 0x0FFF);
    QVERIFY(decodePacket(mpx(words), &table));
    words[3] = 0;
    words[4] = 0x0001;
    QVERIFY(decodePacket(mpx(words), &table));
    QCOMPARE(table.item(4, 0)->text(), QStringLiteral("1299"));
    QCOMPARE(table.item(5, 0)->text(), QStringLiteral("-2795"));
    QCOMPARE(channelValues[3], qint16(1299));
}

void tst_Mpx::badCrcWritesOnlyIdAndVerdict()
{
    const QByteArray good = mpx(QVector<quint16>(12, 0x0800));
    for (int index = 1; index < good.size(); ++index) {
        QVERIFY(decodePacket(mpx(QVector<quint16>(12, 0x0B00)), &table));
        const QStringList before = cellTexts(&table);
        const QVector<qint16> values = channelSnapshot();

        QByteArray bad = good;
        bad[index] = char(bad.at(index) ^ 0x01);
        QVERIFY(decodePacket(bad, &table));
        QStringList expected = before;
        expected[13] = QStringLiteral("FALSE");
        QCOMPARE(cellTexts(&table), expected);
        QCOMPARE(rowLabels(&table), labelsFor(12));
        QCOMPARE(channelSnapshot(), values);
    }
}

void tst_Mpx::shrinkingFromV2()
{
    QVector<quint16> words;
    for (int k = 0; k < 16; ++k)
        words << quint16(0x0AEC + k);
    QVERIFY(decodePacket(mpxV2(words), &table));
    QCOMPARE(table.rowCount(), 18);

    QVERIFY(decodePacket(corrupted(mpx(QVector<quint16>(12, 0x0800))), &table));
    QCOMPARE(table.rowCount(), 14);
    QStringList expected{QStringLiteral("MPX")};
    for (int k = 0; k < 12; ++k)
        expected << QString::number(k);
    expected << QStringLiteral("FALSE");
    QCOMPARE(cellTexts(&table), expected);
    QCOMPARE(rowLabels(&table), labelsFor(12));

    QVERIFY(decodePacket(mpx(QVector<quint16>(12, 0x0800)), &table));
    QCOMPARE(table.item(13, 0)->text(), QStringLiteral("OK"));
}

void tst_Mpx::leavesHigherEntriesAlone()
{
    QVERIFY(decodePacket(hott(QVector<quint16>(17, 0x3B60)), &table));
    QCOMPARE(channelValues[16], qint16(1568));
    QVERIFY(decodePacket(mpxV2(QVector<quint16>(16, 0x0AF0)), &table));
    QVERIFY(decodePacket(mpx(QVector<quint16>(12, 0x0800)), &table));
    for (int k = 12; k < 16; ++k)
        QCOMPARE(channelValues[k], qint16(4));
    QVERIFY(decodePacket(mpxV2(QVector<quint16>(16, 0x0800)), &table));
    QCOMPARE(channelValues[16], qint16(1568));
}

QTEST_MAIN(tst_Mpx)
#include "tst_mpx.moc"
