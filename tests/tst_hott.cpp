// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/decoderstate.h"
#include "display/decodedtable.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

using namespace packets;

class tst_Hott : public QObject
{
    Q_OBJECT

private slots:
    void workedPackets_data();
    void workedPackets();
    void conversion_data();
    void conversion();
    void zeroWordKeepsTheEntry();
    void badCrc();
    void refused_data();
    void refused();
    void seventeenChannelsFillEveryEntry();
    void moreChannelsThanAreKept();
    void countOf127AndMore_data();
    void countOf127AndMore();

private:
    QTableWidget table;
};

static QStringList hottLabels(int channels)
{
    return QStringList{"ID", "Version", "ChCnt"} + channelLabels(channels) + QStringList{"CRC"};
}

void tst_Hott::workedPackets_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("two channels") << fromHex("A8 01 02 2E E0 22 60 6E 86")
                                  << QStringList{"HOTT", "1", "2", "0", "-1568", "OK"};
    QTest::newRow("no channels") << fromHex("A8 01 00 27 0C") << QStringList{"HOTT", "1", "0", "OK"};
}

void tst_Hott::workedPackets()
{
    QFETCH(QByteArray, packet);
    QFETCH(QStringList, cells);
    QVERIFY(decodePacket(packet, &table));
    QCOMPARE(table.columnCount(), 1);
    QCOMPARE(cellTexts(&table), cells);
    QCOMPARE(rowLabels(&table), hottLabels(cells.size() - 4));
}

void tst_Hott::conversion_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("shown");
    QTest::newRow("1") << 1 << "-5880";
    QTest::newRow("8800") << 8800 << "-1568";
    QTest::newRow("11998") << 11998 << "-1";
    QTest::newRow("11999 rounds to centre") << 11999 << "0";
    QTest::newRow("12000, centre") << 12000 << "0";
    QTest::newRow("15200") << 15200 << "1568";
    QTest::newRow("0xFFFF") << 0xFFFF << "26232";
}

void tst_Hott::conversion()
{
    QFETCH(int, word);
    QFETCH(QString, shown);
    QVector<quint16> words(8, 12000);
    words[7] = quint16(word);
    QVERIFY(decodePacket(hott(words), &table));
    QCOMPARE(table.item(10, 0)->text(), shown);
    QCOMPARE(QString::number(channelValues[7]), shown);
}

void tst_Hott::zeroWordKeepsTheEntry()
{
    QVERIFY(decodePacket(nordax(0, QVector<quint16>(12, 0x0BB8)), &table));
    QVERIFY(decodePacket(hott(QVector<quint16>{0, 15200}), &table));
    QCOMPARE(cellTexts(&table), (QStringList{"HOTT", "1", "2", "1409", "1568", "OK"}));
}

void tst_Hott::badCrc()
{
    QVERIFY(decodePacket(hott(QVector<quint16>{100, 200, 300, 400}), &table));
    const QStringList before = cellTexts(&table);
    const QVector<qint16> values = channelSnapshot();

    QVERIFY(decodePacket(corrupted(fromHex("A8 01 02 2E E0 22 60 6E 86")), &table));
    // Rows 3 and 4 keep the four-channel packet's values.
    QCOMPARE(cellTexts(&table), (QStringList{"HOTT", "1", "2", before.at(3), before.at(4), "FALSE"}));
    QCOMPARE(rowLabels(&table), hottLabels(2));
    QCOMPARE(channelSnapshot(), values);

    // Rows that existed keep their items, even the old verdict in row 5;
    // rows that the row count adds stay empty.
    QVERIFY(decodePacket(corrupted(hott(QVector<quint16>(6, 9000))), &table));
    QCOMPARE(cellTexts(&table), (QStringList{"HOTT", "1", "6", before.at(3), before.at(4), "FALSE",
                                             "<none>", "<none>", "<none>", "FALSE"}));
}

void tst_Hott::refused_data()
{
    QTest::addColumn<QByteArray>("chunk");
    const QByteArray good = fromHex("A8 01 02 2E E0 22 60 6E 86");
    QTest::newRow("version 0x81") << QByteArray(good).replace(1, 1, "\x81");
    QTest::newRow("cut to 8 bytes") << good.left(8);
    QTest::newRow("lengthened to 10 bytes") << (good + '\x00');
    QTest::newRow("count says 3") << QByteArray(good).replace(2, 1, "\x03");
    QTest::newRow("A8 01") << fromHex("A8 01");
}

void tst_Hott::refused()
{
    QFETCH(QByteArray, chunk);
    QVERIFY(decodePacket(mpx(QVector<quint16>(12, 0x0900)), &table));
    const QStringList cells = cellTexts(&table);
    const QStringList labels = rowLabels(&table);
    const QVector<qint16> values = channelSnapshot();
    QVERIFY(!decodePacket(chunk, &table));
    QCOMPARE(cellTexts(&table), cells);
    QCOMPARE(rowLabels(&table), labels);
    QCOMPARE(channelSnapshot(), values);
}

void tst_Hott::seventeenChannelsFillEveryEntry()
{
    QVector<quint16> words;
    for (int k = 0; k < 17; ++k)
        words << quint16(12000 + 100 * k);
    const QByteArray packet = hott(words);
    QCOMPARE(packet.size(), 39);
    QVERIFY(decodePacket(packet, &table));
    QCOMPARE(table.rowCount(), 21);
    for (int k = 0; k < 17; ++k) {
        const int expected = (100 * k * 490 + 500) / 1000;
        QCOMPARE(int(channelValues[k]), expected);
        QCOMPARE(table.item(3 + k, 0)->text(), QString::number(expected));
    }
}

void tst_Hott::moreChannelsThanAreKept()
{
    QVERIFY(decodePacket(hott(QVector<quint16>(17, 15200)), &table));
    QVector<quint16> words(20, 8800);
    words[16] = 0;    // channel 17: kept entry, shows its stored value
    words[17] = 1;    // channel 18: this packet's own value
    words[18] = 0;    // channel 19: a zero word shows 0
    words[19] = 0xFFFF;
    QVERIFY(decodePacket(hott(words), &table));
    QCOMPARE(table.rowCount(), 24);
    QCOMPARE(rowLabels(&table), hottLabels(20));
    QCOMPARE(table.item(19, 0)->text(), QStringLiteral("1568"));
    QCOMPARE(table.item(20, 0)->text(), QStringLiteral("-5880"));
    QCOMPARE(table.item(21, 0)->text(), QStringLiteral("0"));
    QCOMPARE(table.item(22, 0)->text(), QStringLiteral("26232"));
    QCOMPARE(table.item(23, 0)->text(), QStringLiteral("OK"));
    for (int k = 0; k < 16; ++k)
        QCOMPARE(channelValues[k], qint16(-1568));
    QCOMPARE(channelValues[16], qint16(1568));
}

void tst_Hott::countOf127AndMore_data()
{
    QTest::addColumn<int>("channels");
    QTest::newRow("126, the largest 8-bit length") << 126;
    QTest::newRow("127") << 127;
    QTest::newRow("200") << 200;
    QTest::newRow("255") << 255;
}

void tst_Hott::countOf127AndMore()
{
    QFETCH(int, channels);
    QVector<quint16> words;
    for (int k = 0; k < channels; ++k)
        words << quint16(12000 + k);
    const QByteArray packet = hott(words);
    QCOMPARE(packet.size(), 2 * channels + 5);
    QVERIFY(decodePacket(packet, &table));
    QCOMPARE(table.rowCount(), channels + 4);
    QCOMPARE(table.item(2, 0)->text(), QString::number(channels));
    QCOMPARE(table.item(channels + 3, 0)->text(), QStringLiteral("OK"));
    QCOMPARE(table.item(channels + 2, 0)->text(), QString::number(((12000 + channels - 1) * 490 + 500) / 1000 - 5880));
    QCOMPARE(rowLabels(&table), hottLabels(channels));

    const QStringList cells = cellTexts(&table);
    QVERIFY(!decodePacket(packet.left(packet.size() - 1), &table));
    QVERIFY(!decodePacket(packet + '\x00', &table));
    // Where 2c + 3 overflows a byte, a chunk of the wrapped length is no packet.
    if (channels >= 127)
        QVERIFY(!decodePacket(packet.left(((2 * channels + 3) & 0xFF) + 2), &table));
    QCOMPARE(cellTexts(&table), cells);
}

QTEST_MAIN(tst_Hott)
#include "tst_hott.moc"
