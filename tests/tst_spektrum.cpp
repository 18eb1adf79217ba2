// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/decoderstate.h"
#include "display/decodedtable.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

using namespace packets;

class tst_Spektrum : public QObject
{
    Q_OBJECT

private slots:
    void workedFrame();
    void conversion_data();
    void conversion();
    void bit15IsIgnored();
    void unusedIdsResetTheirEntry();
    void sameIdTwiceLaterWins();
    void badCrcOnA5ChangesNothing();
    void wrongTypeByte_data();
    void wrongTypeByte();
    void twoFramesCoverTwelveChannels();
    void rowsPastTheKeptChannelsAreCleared();

private:
    QTableWidget table;
};

static QVector<quint16> idsFrom(int firstId, int raw)
{
    QVector<quint16> words;
    for (int k = 0; k < 7; ++k)
        words << spektrumWord(firstId + k, raw);
    return words;
}

void tst_Spektrum::workedFrame()
{
    QVERIFY(decodePacket(spektrum(idsFrom(0, 1024), 0x12), &table));
    QCOMPARE(table.rowCount(), 23);
    QCOMPARE(table.columnCount(), 1);
    const QStringList cells = cellTexts(&table);
    QCOMPARE(cells.at(0), QStringLiteral("SPEKTRUM"));
    QCOMPARE(cells.at(1), QStringLiteral("18"));
    for (int row = 2; row <= 8; ++row)
        QCOMPARE(cells.at(row), QStringLiteral("0"));
    QCOMPARE(cells.at(22), QStringLiteral("OK"));
    QCOMPARE(rowLabels(&table), (QStringList{"ID", "Mode"} + channelLabels(20) + QStringList{"CRC"}));
}

void tst_Spektrum::conversion_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("0 means no position") << 0 << "0";
    QTest::newRow("1") << 1 << "-2353";
    QTest::newRow("1023") << 1023 << "-2";
    QTest::newRow("1024, centre") << 1024 << "0";
    QTest::newRow("1025") << 1025 << "3";
    QTest::newRow("2047") << 2047 << "2353";
}

void tst_Spektrum::conversion()
{
    QFETCH(int, raw);
    QFETCH(QString, shown);
    QVector<quint16> words = idsFrom(0, 1500);
    words[6] = spektrumWord(9, raw);
    QVERIFY(decodePacket(spektrum(words), &table));
    QCOMPARE(table.item(11, 0)->text(), shown);
    QCOMPARE(QString::number(channelValues[9]), shown);
}

void tst_Spektrum::bit15IsIgnored()
{
    QVector<quint16> words = idsFrom(0, 1800);
    QVERIFY(decodePacket(spektrum(words), &table));
    const QStringList plain = cellTexts(&table);
    for (quint16 &w : words)
        w |= 0x8000;
    QVERIFY(decodePacket(spektrum(words), &table));
    QCOMPARE(cellTexts(&table), plain);
}

void tst_Spektrum::unusedIdsResetTheirEntry()
{
    QVector<quint16> hottWords(17, 15200);
    QVERIFY(decodePacket(hott(hottWords), &table));
    QVector<quint16> words = idsFrom(0, 1024);
    words[2] = spektrumWord(13, 2047);
    QVERIFY(decodePacket(spektrum(words), &table));
    QCOMPARE(channelValues[13], qint16(0));
    QCOMPARE(table.item(15, 0)->text(), QStringLiteral("0"));   // CH14
    for (int id : {12, 14, 15, 16})
        QCOMPARE(table.item(id + 2, 0)->text(), QStringLiteral("1568"));
}

void tst_Spektrum::sameIdTwiceLaterWins()
{
    QVector<quint16> words = idsFrom(0, 1024);
    words[1] = spektrumWord(4, 2047);
    words[5] = spektrumWord(4, 1);
    QVERIFY(decodePacket(spektrum(words), &table));
    QCOMPARE(table.item(6, 0)->text(), QStringLiteral("-2353"));
}

void tst_Spektrum::badCrcOnA5ChangesNothing()
{
    QVERIFY(decodePacket(nordax(5, QVector<quint16>(12, 3000)), &table));
    const QStringList cells = cellTexts(&table);
    const QStringList labels = rowLabels(&table);
    const QVector<qint16> values = channelSnapshot();
    QVERIFY(decodePacket(corrupted(spektrum(idsFrom(0, 100))), &table));
    QCOMPARE(cellTexts(&table), cells);
    QCOMPARE(rowLabels(&table), labels);
    QCOMPARE(channelSnapshot(), values);
}

void tst_Spektrum::wrongTypeByte_data()
{
    QTest::addColumn<bool>("badCrc");
    QTest::addColumn<QString>("verdict");
    QTest::newRow("correct CRC") << false << "OK";
    QTest::newRow("wrong CRC") << true << "FALSE";
}

void tst_Spektrum::wrongTypeByte()
{
    QFETCH(bool, badCrc);
    QFETCH(QString, verdict);
    const QByteArray frame = spektrum(idsFrom(0, 2047), 3, 0xA2);
    QVERIFY(decodePacket(badCrc ? corrupted(frame) : frame, &table));
    QCOMPARE(table.rowCount(), 23);
    QCOMPARE(table.item(0, 0)->text(), QStringLiteral("SPEKTRUM (WRONG)"));
    QCOMPARE(table.item(1, 0)->text(), QStringLiteral("3"));
    for (int row = 2; row <= 8; ++row)
        QCOMPARE(table.item(row, 0)->text(), QStringLiteral("2353"));
    QCOMPARE(table.item(22, 0)->text(), verdict);
    QCOMPARE(channelValues[6], qint16(2353));
}

void tst_Spektrum::twoFramesCoverTwelveChannels()
{
    QVERIFY(decodePacket(hott(QVector<quint16>(17, 15200)), &table));
    QVERIFY(decodePacket(spektrum(idsFrom(0, 1025)), &table));
    QVector<quint16> second;
    for (int id = 7; id <= 11; ++id)
        second << spektrumWord(id, 1023);
    second << spektrumWord(12, 1500) << spektrumWord(15, 77);
    QVERIFY(decodePacket(spektrum(second), &table));
    for (int m = 1; m <= 7; ++m)
        QCOMPARE(table.item(m + 1, 0)->text(), QStringLiteral("3"));
    for (int m = 8; m <= 12; ++m)
        QCOMPARE(table.item(m + 1, 0)->text(), QStringLiteral("-2"));
    QCOMPARE(table.item(14, 0)->text(), QStringLiteral("0"));     // CH13
    QCOMPARE(table.item(15, 0)->text(), QStringLiteral("1568"));  // CH14
    QCOMPARE(table.item(16, 0)->text(), QStringLiteral("1568"));  // CH15
    QCOMPARE(table.item(17, 0)->text(), QStringLiteral("0"));     // CH16
    QCOMPARE(table.item(18, 0)->text(), QStringLiteral("1568"));  // CH17
}

void tst_Spektrum::rowsPastTheKeptChannelsAreCleared()
{
    QVERIFY(decodePacket(hott(QVector<quint16>(22, 15200)), &table));
    QCOMPARE(table.item(21, 0)->text(), QStringLiteral("1568"));
    QVERIFY(decodePacket(spektrum(idsFrom(0, 1024)), &table));
    for (int row = 19; row <= 21; ++row)
        QCOMPARE(table.item(row, 0) ? table.item(row, 0)->text() : QString(), QString());
    QCOMPARE(table.item(18, 0)->text(), QStringLiteral("1568"));
}

QTEST_MAIN(tst_Spektrum)
#include "tst_spektrum.moc"
