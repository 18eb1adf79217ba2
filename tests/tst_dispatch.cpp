// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table's tests by type byte and length, and a frame whose
// family was found before decoded as the same chunk is.
#include "decode/families/familytable.h"
#include "display/decodedview/decoderstate.h"
#include "display/decodedtable.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

using namespace packets;

class tst_Dispatch : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void lastPacketTypeFollowsEveryChunk();
    void foundFrame_data();
    void foundFrame();

private:
    QTableWidget table;
};

void tst_Dispatch::outcomes_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<bool>("recognised");
    QTest::addColumn<bool>("tableChanges");

    const QByteArray mpxPacket = mpx(QVector<quint16>(12, 0x0900));
    const QByteArray v2Packet = mpxV2(QVector<quint16>(16, 0x0900));
    const QByteArray nordaxPacket = nordax(7, QVector<quint16>(12, 0x0900));
    const QByteArray hottPacket = fromHex("A8 01 02 2E E0 22 60 6E 86");
    QVector<quint16> ids;
    for (int id = 0; id < 7; ++id)
        ids << spektrumWord(id, 1500);
    const QByteArray spektrumPacket = spektrum(ids);
    const QByteArray wrongSpektrum = spektrum(ids, 0, 0xA2);

    QTest::newRow("A1, 27 bytes") << mpxPacket << true << true;
    QTest::newRow("A1, 27 bytes, bad CRC") << corrupted(mpxPacket) << true << true;
    QTest::newRow("A1, 26 bytes") << mpxPacket.left(26) << false << false;
    QTest::newRow("A1, 28 bytes") << (mpxPacket + '\0') << false << false;
    QTest::newRow("two A1 packets in one chunk") << (mpxPacket + mpxPacket) << false << false;
    QTest::newRow("A2, 35 bytes") << v2Packet << true << true;
    QTest::newRow("A2, 18 bytes") << wrongSpektrum << true << true;
    QTest::newRow("A2, 27 bytes") << QByteArray(mpxPacket).replace(0, 1, "\xA2") << false << false;
    QTest::newRow("A3, 29 bytes, version 1") << nordaxPacket << true << true;
    QTest::newRow("A3, 29 bytes, version 2") << QByteArray(nordaxPacket).replace(1, 1, "\x02") << true << false;
    QTest::newRow("A3, 28 bytes") << nordaxPacket.left(28) << true << false;
    QTest::newRow("A3, 30 bytes") << (nordaxPacket + '\0') << true << false;
    QTest::newRow("A3, 5 bytes") << nordaxPacket.left(5) << true << false;
    QTest::newRow("A3 alone") << fromHex("A3") << true << false;
    QTest::newRow("A5, 18 bytes") << spektrumPacket << true << true;
    QTest::newRow("A5, 18 bytes, bad CRC") << corrupted(spektrumPacket) << true << false;
    QTest::newRow("A5, 17 bytes") << spektrumPacket.left(17) << false << false;
    QTest::newRow("A5, 19 bytes") << (spektrumPacket + '\0') << false << false;
    QTest::newRow("A8, 9 bytes, two channels") << hottPacket << true << true;
    QTest::newRow("A8, bad CRC") << corrupted(hottPacket) << true << true;
    QTest::newRow("A8, version 0x81") << QByteArray(hottPacket).replace(1, 1, "\x81") << false << false;
    QTest::newRow("A8, 8 bytes") << hottPacket.left(8) << false << false;
    QTest::newRow("A8, 10 bytes") << (hottPacket + '\0') << false << false;
    QTest::newRow("A8 alone") << fromHex("A8") << false << false;
    QTest::newRow("A8 01 without a count") << fromHex("A8 01") << false << false;
    QTest::newRow("A8, 18 bytes") << QByteArray(spektrumPacket).replace(0, 1, "\xA8") << false << false;
    QTest::newRow("unknown type, 27 bytes") << QByteArray(mpxPacket).replace(0, 1, "\x55") << false << false;
    QTest::newRow("type 0xFF, 18 bytes") << QByteArray(spektrumPacket).replace(0, 1, "\xFF") << false << false;
    QTest::newRow("A0 alone") << fromHex("A0") << false << false;
}

void tst_Dispatch::outcomes()
{
    QFETCH(QByteArray, chunk);
    QFETCH(bool, recognised);
    QFETCH(bool, tableChanges);

    // Start every row from a valid MPX packet with values no row repeats.
    QVERIFY(decodePacket(mpx(QVector<quint16>(12, 0x0A00)), &table));
    const TableSnapshot before = snapshot(&table);
    const QVector<qint16> valuesBefore = channelSnapshot();

    QCOMPARE(decodePacket(chunk, &table), recognised);
    QCOMPARE(lastPacketType, quint8(chunk.at(0)));
    QCOMPARE(!(snapshot(&table) == before), tableChanges);
    if (!tableChanges)
        QCOMPARE(channelSnapshot(), valuesBefore);
}

void tst_Dispatch::lastPacketTypeFollowsEveryChunk()
{
    for (int type = 0; type < 256; ++type) {
        const QByteArray chunk = QByteArray(1, char(type)) + QByteArray(20, '\x01');
        decodePacket(chunk, &table);
        QCOMPARE(int(lastPacketType), type);
    }
}

void tst_Dispatch::foundFrame_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("family"); // as the read policy found it

    const QByteArray mpxPacket = mpx(QVector<quint16>(12, 0x0900));
    const QByteArray hottPacket = fromHex("A8 01 02 2E E0 22 60 6E 86");
    QVector<quint16> ids;
    for (int id = 0; id < 7; ++id)
        ids << spektrumWord(id, 1500);
    const QByteArray spektrumPacket = spektrum(ids);
    QTest::newRow("MPX") << mpxPacket << "mpx";
    QTest::newRow("MPX, bad CRC") << corrupted(mpxPacket) << "mpx";
    QTest::newRow("MPX_V2") << mpxV2(QVector<quint16>(16, 0x0900)) << "mpx2";
    QTest::newRow("NORDAX") << nordax(7, QVector<quint16>(12, 0x0900)) << "nordax";
    QTest::newRow("HOTT") << hottPacket << "hott";
    QTest::newRow("HOTT, bad CRC") << corrupted(hottPacket) << "hott";
    QTest::newRow("SPEKTRUM") << spektrumPacket << "spektrum";
    QTest::newRow("SPEKTRUM, bad CRC") << corrupted(spektrumPacket) << "spektrum";
    QTest::newRow("SPEKTRUM at 0xA2") << spektrum(ids, 0, 0xA2) << "spektrum";
    QTest::newRow("SPEKTRUM at 0xA2, bad CRC") << corrupted(spektrum(ids, 0, 0xA2)) << "spektrum";
    // A family the table has no rows for: the chunk is tested as any other.
    QTest::newRow("MPX said to be CRSF") << mpxPacket << "crsf";
}

void tst_Dispatch::foundFrame()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, family);
    const FamilyDescriptor *found = familyNamed(family);
    QVERIFY(found);
    const bool crcOk = found->check(chunk.constData(), chunk.size());

    const QByteArray start = mpx(QVector<quint16>(12, 0x0A00));
    QVERIFY(decodePacket(start, &table));
    const bool tested = decodePacket(chunk, &table);
    const TableSnapshot asTested = snapshot(&table);
    const QVector<qint16> valuesTested = channelSnapshot();

    QVERIFY(decodePacket(start, &table));
    QCOMPARE(decodeFrame(chunk, *found, crcOk, &table), tested);
    QCOMPARE(lastPacketType, quint8(chunk.at(0)));
    QCOMPARE(snapshot(&table).cells, asTested.cells);
    QCOMPARE(snapshot(&table).labels, asTested.labels);
    QCOMPARE(channelSnapshot(), valuesTested);
}

QTEST_MAIN(tst_Dispatch)
#include "tst_dispatch.moc"
