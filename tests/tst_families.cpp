// SPDX-License-Identifier: GPL-3.0-or-later
// The family table, row by row: frames written by hand from the published
// facts read as they should, every row's frames go through encode, find and
// read unchanged, damaged ones fail their check where they are, and noise
// makes no frame that fails its check silently. Every row says all it
// needs, a row lacking something is told, and a read opens alike for all.
#include "decode/families/crc16.h"
#include "decode/families/familyset.h"
#include "decode/framing/frameassembler.h"

#include <QRandomGenerator>
#include <QtTest>

class tst_Families : public QObject
{
    Q_OBJECT

private slots:
    void handWritten_data();
    void handWritten();
    void roundTrip_data();
    void roundTrip();
    void damaged_data();
    void damaged();
    void noFrame_data();
    void noFrame();
    void randomBytes();
    void lineFrame_data();
    void lineFrame();
    void namesPeopleUse_data();
    void namesPeopleUse();
    void everyRow_data();
    void everyRow();
    void rowLacking_data();
    void rowLacking();
    void carried_data();
    void carried();
    void telemetryRoundTrip_data();
    void telemetryRoundTrip();
    void smartportNoise();
};

namespace {

// Written bit by bit, apart from the units' own packing and checks.
QByteArray packed(const QVector<int> &values, int bits)
{
    QByteArray out((values.size() * bits + 7) / 8, 0);
    for (int i = 0; i < values.size(); ++i) {
        for (int b = 0; b < bits; ++b) {
            if (values[i] >> b & 1)
                out[(i * bits + b) / 8] = char(quint8(out[(i * bits + b) / 8]) | 1 << ((i * bits + b) % 8));
        }
    }
    return out;
}

quint8 crc8(const QByteArray &bytes, quint8 poly = 0xD5)
{
    quint8 crc = 0;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint8(crc & 0x80 ? (crc << 1) ^ poly : crc << 1);
    }
    return crc;
}

// The reflected forms, bit by bit: CRC-8/MAXIM (0x31) and CRC-16/KERMIT (0x1021).
quint8 crc8Maxim(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint8(crc & 1 ? (crc >> 1) ^ 0x8C : crc >> 1);
    }
    return crc;
}

QByteArray withKermit(const QByteArray &body)
{
    quint16 crc = 0;
    for (char byte : body) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint16(crc & 1 ? (crc >> 1) ^ 0x8408 : crc >> 1);
    }
    return body + char(crc & 0xFF) + char(crc >> 8);
}

// 55 55, LEN (type, data and CRC), type, data, CRC-8 poly 0x07 from LEN on.
QByteArray st24(quint8 type, const QByteArray &data)
{
    const QByteArray body = char(data.size() + 2) + QByteArray(1, char(type)) + data;
    return QByteArray("\x55\x55", 2) + body + char(crc8(body, 0x07));
}

// Time 0x1234, then RSSI, packet count and the 12-bit values, two in three
// bytes, high nibble first.
QByteArray st24Channels(quint8 type, quint8 rssi, quint8 count, const QVector<int> &values)
{
    QByteArray data = QByteArray("\x34\x12", 2) + char(rssi) + char(count);
    for (int i = 0; i + 1 < values.size(); i += 2)
        data += char(values[i] >> 4) + QByteArray(1, char((values[i] & 0x0F) << 4 | values[i + 1] >> 8))
            + char(values[i + 1] & 0xFF);
    return st24(type, data);
}

QByteArray words16(quint8 start, const QVector<int> &words)
{
    QByteArray frame(1, char(start));
    for (int w : words)
        frame += char(w >> 8) + QByteArray(1, char(w & 0xFF));
    return withFrameCrc(frame);
}

// SYNC REQ LEN PKT_ID DATA_ID SUBLEN DATA, CRC-16/KERMIT low byte first.
QByteArray exbus(quint8 sync, quint8 request, quint8 packetId, quint8 dataId, const QByteArray &data)
{
    return withKermit(QByteArray(1, char(sync)) + char(request) + char(data.size() + 8) + char(packetId)
                      + char(dataId) + char(data.size()) + data);
}

QByteArray littleEndian(const QVector<int> &words)
{
    QByteArray bytes;
    for (int w : words)
        bytes += char(w & 0xFF) + QByteArray(1, char(w >> 8));
    return bytes;
}

// 0x9F, kind and length (what follows it), serial 0x0002A411, a reserved
// byte, items, CRC-8 poly 0x07 from the kind byte on.
QByteArray exPacket(quint8 kind, const QByteArray &items)
{
    const QByteArray body = char(kind << 6 | (items.size() + 6)) + QByteArray("\x11\xA4\x02\x00\x00", 5) + items;
    return QByteArray("\x9F") + body + char(crc8(body, 0x07));
}

quint8 frskySum(const QByteArray &bytes)
{
    int sum = 0;
    for (char byte : bytes) {
        sum += quint8(byte);
        sum = (sum & 0xFF) + (sum >> 8);
    }
    return quint8(0xFF - sum);
}

QByteArray crsf(quint8 type, const QByteArray &payload)
{
    const QByteArray body = char(type) + payload;
    return QByteArray(1, char(0xC8)) + char(body.size() + 1) + body + char(crc8(body));
}

QByteArray ghst(quint8 type, const QVector<int> &primaries, const QByteArray &aux)
{
    const QByteArray body = char(type) + packed(primaries, 12) + aux;
    return QByteArray("\x82\x0C", 2) + body + char(crc8(body));
}

QByteArray fportControl(const QVector<int> &channels, quint8 flags, quint8 rssi)
{
    QByteArray content = QByteArray("\x19\x00", 2) + packed(channels, 11) + char(flags) + char(rssi);
    content += char(frskySum(content));
    QByteArray frame("\x7E");
    for (char byte : content)
        frame += quint8(byte) == 0x7E || quint8(byte) == 0x7D ? QByteArray(1, 0x7D) + char(byte ^ 0x20) : QByteArray(1, byte);
    return frame + '\x7E';
}

QByteArray ibus(const QVector<int> &words)
{
    QByteArray frame("\x20\x40");
    for (int w : words)
        frame += char(w & 0xFF) + QByteArray(1, char(w >> 8));
    int sum = 0;
    for (char byte : frame)
        sum += quint8(byte);
    const int check = 0xFFFF - sum;
    return frame + char(check & 0xFF) + char(check >> 8);
}

QByteArray srxl2Control(quint8 command, quint32 mask, const QVector<int> &words)
{
    QByteArray packet("\xA6\xCD");
    packet += char(12 + 2 * words.size() + 2);
    packet += char(command) + QByteArray(1, 0) + char(-60) + QByteArray("\x03\x00", 2);
    for (int shift = 0; shift < 32; shift += 8)
        packet += char(mask >> shift & 0xFF);
    for (int w : words)
        packet += char(w & 0xFF) + QByteArray(1, char(w >> 8));
    return withFrameCrc(packet);
}

QVector<int> sixteen(int a, int b, int c)
{
    QVector<int> values(16, 992);
    values[0] = a;
    values[1] = b;
    values[2] = c;
    return values;
}

// The frames an assembler looking for every family finds in bytes, but
// those that read the same bytes as row.
QVector<AssembledFrame> framesIn(const QByteArray &bytes, const FamilyDescriptor *row = nullptr)
{
    const FamilySet every(familiesBeside(row));
    FrameAssembler assembler(every);
    QVector<AssembledFrame> found = assembler.feed(bytes);
    found += assembler.flush();
    return found;
}

} // namespace

void tst_Families::handWritten_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QVector<int>>("us"); // the first channels; -1 for a channel without value
    QTest::addColumn<int>("failsafe");
    QTest::addColumn<int>("frameLost");
    QTest::addColumn<int>("lq");

    QTest::newRow("CRSF channels 172, 992, 1811") << crsf(0x16, packed(sixteen(172, 992, 1811), 11)) << "CRSF"
                                                  << "RC_CHANNELS" << QVector<int>{987, 1500, 2011} << -1 << -1 << -1;
    // Config 0x22: first channel 2, 11 bits, so half a µs a step.
    QTest::newRow("CRSF subset from channel 3")
        << crsf(0x17, char(0x22) + packed({0, 1024, 2047}, 11)) << "CRSF" << "SUBSET_RC_CHANNELS"
        << QVector<int>{-1, -1, 988, 1500, 2011} << -1 << -1 << -1;
    QTest::newRow("CRSF link statistics") << crsf(0x14, QByteArray("\x2D\x2F\x64\xF7\x01\x04\x07\x32\x63\x08", 10))
                                          << "CRSF" << "LINK_STATISTICS" << QVector<int>{} << 0 << -1 << 100;
    // A receiver in failsafe sends these alone, with LQ 0.
    QTest::newRow("CRSF link statistics, LQ 0") << crsf(0x14, QByteArray("\x2D\x2F\x00\xF7\x01\x04\x07\x32\x63\x08", 10))
                                                << "CRSF" << "LINK_STATISTICS" << QVector<int>{} << 1 << -1 << 0;
    QTest::newRow("GHST 0x30") << ghst(0x30, {0, 2048, 4095, 2048}, QByteArray("\x00\x80\xFF\x80", 4)) << "GHST"
                               << "RC_5TO8" << QVector<int>{988, 1500, 2011, 1500, 988, 1500, 2008, 1500} << -1 << -1 << -1;
    QTest::newRow("GHST 0x11 older scaling, aux 9-12")
        << ghst(0x11, {2000, 2000, 2000, 2000}, QByteArray("\x64\x64\x64\x64", 4)) << "GHST" << "RC_9TO12_OLD"
        << QVector<int>{1505, 1505, 1505, 1505, -1, -1, -1, -1, 1380} << -1 << -1 << -1;
    QTest::newRow("GHST 0x33 link") << ghst(0x33, {2048, 2048, 2048, 2048}, QByteArray("\x5A\x30\x02\x03", 4)) << "GHST"
                                    << "RC_RSSI" << QVector<int>{1500} << 0 << -1 << 90;
    QTest::newRow("GHST 0x13 link, LQ 0") << ghst(0x13, {2000, 2000, 2000, 2000}, QByteArray("\x00\x70\x02\x03", 4))
                                          << "GHST" << "RC_RSSI_OLD" << QVector<int>{1505} << 1 << -1 << 0;
    QTest::newRow("IBUS 14 channels") << ibus({1000, 1500, 2000, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500,
                                               1500, 1500})
                                      << "IBUS" << "" << QVector<int>{1000, 1500, 2000} << -1 << -1 << -1;
    // Channel 15 is 0x5DC = 1500: nibbles C, D, 5 in words 0, 1, 2.
    QTest::newRow("IBUS channel 15 in high nibbles")
        << ibus({0xC000 | 1000, 0xD000 | 1100, 0x5000 | 1200, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500,
                 1500, 1500})
        << "IBUS" << "" << QVector<int>{1000, 1100, 1200, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500, 1500,
                                        1500, 1500, -1} << -1 << -1 << -1;
    QVector<int> sbus(16, 1000);
    sbus[0] = 200;
    sbus[1] = 1800;
    QTest::newRow("FPORT 200, 1800, failsafe") << fportControl(sbus, 0x08, 0x7E) << "FPORT" << "CONTROL"
                                               << QVector<int>{1000, 2000, 1500} << 1 << 0 << -1;
    QTest::newRow("FPORT frame lost") << fportControl(sbus, 0x04, 50) << "FPORT" << "CONTROL"
                                      << QVector<int>{1000, 2000, 1500} << 0 << 1 << -1;
    QByteArray telemetry = QByteArray("\x08\x01", 2) + QByteArray(7, 0);
    telemetry = "\x7E" + telemetry + char(frskySum(telemetry)) + "\x7E";
    QTest::newRow("FPORT telemetry request") << telemetry << "FPORT" << "TELEMETRY_REQUEST" << QVector<int>{} << -1
                                             << -1 << -1;
    QByteArray fport2 = QByteArray("\xFF", 1) + packed({200, 1000, 1800, 1000, 1000, 1000, 1000, 1000}, 11) + '\x00'
        + '\x64';
    fport2 = char(0x0D) + fport2 + char(frskySum(fport2));
    QTest::newRow("FPORT2 8 channels") << fport2 << "FPORT2" << "CONTROL" << QVector<int>{1000, 1500, 2000} << 0 << 0
                                       << -1;
    QTest::newRow("SRXL2 channels 1 and 3") << srxl2Control(0, 0x5, {0x8000, 0xFFE0}) << "SRXL2" << "CONTROL"
                                            << QVector<int>{1500, -1, 2096} << 0 << 0 << -1;
    QTest::newRow("SRXL2 failsafe") << srxl2Control(1, 0x1, {0}) << "SRXL2" << "CONTROL" << QVector<int>{903} << 1
                                    << 0 << -1;
    QTest::newRow("SRXL2 mask 0 is a lost frame") << srxl2Control(0, 0, {}) << "SRXL2" << "CONTROL" << QVector<int>{}
                                                  << 0 << 1 << -1;
    QTest::newRow("SRXL2 handshake") << withFrameCrc(QByteArray("\xA6\x21\x0E\x10\x21\x0A\x00\x01\x02\x03\x04\x05", 12))
                                     << "SRXL2" << "HANDSHAKE" << QVector<int>{} << -1 << -1 << -1;
    // (v·1000 + 2048) / 4096 + 999: 0 and 1 give 999, 2048 gives 1499
    // (500.5), 2054 gives 1500 (501.96), 4095 gives 1999 (1000.26).
    QVector<int> st24Values{0, 4095, 2054, 1, 2048, 2054, 2054, 2054, 2054, 2054, 2054, 2054};
    QTest::newRow("ST24 12 channels") << st24Channels(0, 87, 42, st24Values) << "ST24" << "CHANNELS_12"
                                      << QVector<int>{999, 1999, 1500, 999, 1499, 1500} << -1 << -1 << -1;
    st24Values = QVector<int>(23, 2054) << 4095;
    QTest::newRow("ST24 24 channels") << st24Channels(1, 87, 42, st24Values) << "ST24" << "CHANNELS_24"
                                      << (QVector<int>(23, 1500) << 1999) << -1 << -1 << -1;
    QTest::newRow("ST24 transmitter GPS, LEN 9") << st24(2, QByteArray(7, 'x')) << "ST24" << "TRANSMITTER_GPS"
                                                 << QVector<int>{} << -1 << -1 << -1;
    QTest::newRow("ST24 type 5, LEN 66") << st24(5, QByteArray(64, 0x55)) << "ST24" << "0x05" << QVector<int>{} << -1
                                         << -1 << -1;
    // 800 + ((v·1400) >> 12): 0 → 800, 3 → 801 (4200 >> 12 = 1), 2048 → 1500,
    // 4095 → 2199 (5733000 >> 12 = 1399); 0x1000 (16 channels) → 2200.
    QTest::newRow("XBUS 0xA1") << words16(0xA1, {0, 3, 2048, 4095, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048})
                               << "XBUS" << "" << QVector<int>{800, 801, 1500, 2199, 1500} << -1 << -1 << -1;
    QTest::newRow("XBUS 0xA2") << words16(0xA2, QVector<int>(15, 2048) << 0x1000) << "XBUS" << ""
                               << (QVector<int>(15, 1500) << 2200) << -1 << -1 << -1;
    const QByteArray rj01 = QByteArray("\xA1\x1E\x07", 3)
        + words16(0xA1, {0, 3, 2048, 4095, 2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048}) + QByteArray("\x12\x34", 2);
    QTest::newRow("RJ01") << rj01 + char(crc8Maxim(rj01)) << "RJ01" << "" << QVector<int>{800, 801, 1500, 2199, 1500}
                          << -1 << -1 << -1;
    // Eighths of a µs: 8000 → 1000, 12000 → 1500, 16007 → 2000, 7 → 0.
    QTest::newRow("EXBUS channels") << exbus(0x3E, 0x03, 0x55, 0x31, littleEndian({8000, 12000, 16007, 7})) << "EXBUS"
                                    << "CHANNELS" << QVector<int>{1000, 1500, 2000, 0} << -1 << -1 << -1;
    QTest::newRow("EXBUS channels, reply allowed") << exbus(0x3E, 0x01, 0x56, 0x31, littleEndian({12000})) << "EXBUS"
                                                   << "CHANNELS" << QVector<int>{1500} << -1 << -1 << -1;
    QTest::newRow("EXBUS telemetry request") << exbus(0x3D, 0x01, 0x57, 0x3A, QByteArray()) << "EXBUS"
                                             << "TELEMETRY_REQUEST" << QVector<int>{} << -1 << -1 << -1;
    QTest::newRow("EXBUS JetiBox request") << exbus(0x3D, 0x01, 0x58, 0x3B, QByteArray()) << "EXBUS"
                                           << "JETIBOX_REQUEST" << QVector<int>{} << -1 << -1 << -1;
    QTest::newRow("EXBUS telemetry answer") << exbus(0x3B, 0x01, 0x57, 0x3A, exPacket(1, QByteArray("\x11\x7E\x20", 3)))
                                            << "EXBUS" << "TELEMETRY" << QVector<int>{} << -1 << -1 << -1;
}

void tst_Families::handWritten()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, family);
    QFETCH(QString, type);
    QFETCH(QVector<int>, us);
    QFETCH(int, failsafe);
    QFETCH(int, frameLost);
    QFETCH(int, lq);

    const QVector<AssembledFrame> found = framesIn(frame, familyNamed(family));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].bytes, frame);
    QVERIFY(found[0].crcOk);
    FrameReading reading;
    found[0].family()->read(frame.constData(), frame.size(), reading);
    QCOMPARE(QString::fromLatin1(reading.family), family);
    QVERIFY(reading.crcOk);
    QCOMPARE(QString::fromLatin1(reading.type ? reading.type : ""), type);
    QVector<int> got;
    for (int k = 0; k < qMin(reading.channels, us.size()); ++k)
        got << (reading.us[k] == FrameReading::noValue ? -1 : reading.us[k]);
    QCOMPARE(got, us);
    QCOMPARE(reading.failsafe, failsafe);
    QCOMPARE(reading.frameLost, frameLost);
    QCOMPARE(reading.hasLink ? reading.link.lq : -1, lq);
    if (type == QLatin1String("LINK_STATISTICS")) {
        QCOMPARE(reading.link.rssi1Dbm, -45);
        QCOMPARE(reading.link.snr, -9);
        QCOMPARE(reading.link.txPowerMw, 250);
        QCOMPARE(reading.link.downLq, 99);
    }
}

void tst_Families::roundTrip_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("failsafe");
    for (const FamilyDescriptor *family : allFamilies()) {
        // Found without a checksum: tst_gapframing has them.
        if (family->framing == FamilyDescriptor::ByGap)
            continue;
        QTest::newRow(family->name) << family->name << false;
        if (family->failsafe == FamilyDescriptor::FlagsIt)
            QTest::newRow(qPrintable(QStringLiteral("%1 failsafe").arg(family->name))) << family->name << true;
    }
}

// Every channel at its lowest, highest and a middle µs (NORDAX: words) goes
// through encode, an assembler looking for every family, and read.
void tst_Families::roundTrip()
{
    QFETCH(QString, family);
    QFETCH(bool, failsafe);
    const FamilyDescriptor *row = familyNamed(family);
    QVERIFY(row);
    const int channels = row->fixedChannels ? row->fixedChannels : row->maxChannels;
    for (int pass = 0; pass < 3; ++pass) {
        FrameRequest request;
        request.failsafe = failsafe;
        QVector<int> asked;
        for (int k = 0; k < channels; ++k) {
            const MicrosecondRange range = row->hasMicroseconds() ? row->usRange(k) : MicrosecondRange{1, 0xFFFF};
            // GHST's aux channels step by 4 µs, as 1500 + 4k does.
            const int value = pass == 0 ? range.lowest : pass == 1 ? range.highest : 1500 + 4 * k;
            asked << value;
            request.wire << (row->hasMicroseconds() ? row->wireFor(k, value) : value);
        }
        // Two frames in a row, so that the second also starts in step.
        QByteArray stream = row->encode(request);
        request.index = 1;
        stream += row->encode(request);
        const QVector<AssembledFrame> found = framesIn(stream, row);
        QVERIFY2(!found.isEmpty(), qPrintable(stream.toHex()));
        QSet<int> seen;
        for (const AssembledFrame &frame : found) {
            QVERIFY(frame.crcOk);
            QCOMPARE(frame.family(), row);
            FrameReading reading;
            row->read(frame.bytes.constData(), frame.bytes.size(), reading);
            QCOMPARE(QString::fromLatin1(reading.family), QString::fromLatin1(row->recordName));
            QCOMPARE(reading.failsafe, row->failsafe == FamilyDescriptor::FlagsIt ? int(failsafe) : -1);
            for (int k = 0; k < qMin(reading.channels, channels); ++k) {
                const int *values = row->hasMicroseconds() ? reading.us : reading.wire;
                if (values[k] == FrameReading::noValue)
                    continue;
                if (values[k] != asked[k])
                    QFAIL(qPrintable(QStringLiteral("channel %1: %2 comes back as %3").arg(k + 1).arg(asked[k]).arg(values[k])));
                seen << k;
            }
        }
        // Frames that take turns carry every channel between them.
        if (!failsafe || row->name != QLatin1String("spektrum"))
            QCOMPARE(seen.size(), qMin(channels, row->name == QLatin1String("ghst") ? 12 : channels));
    }
}

void tst_Families::damaged_data()
{
    QTest::addColumn<QString>("family");
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->framing == FamilyDescriptor::ByChecksum)
            QTest::newRow(family->name) << family->name;
    }
}

// A damaged frame right after a good one is FALSE, of its family; alone, in
// step with nothing, it is stray bytes.
void tst_Families::damaged()
{
    QFETCH(QString, family);
    const FamilyDescriptor *row = familyNamed(family);
    FrameRequest request;
    for (int k = 0; k < row->defaultChannels; ++k)
        request.wire << (row->hasMicroseconds() ? row->wireFor(k, 1500) : 2432);
    // Without channels, a family sends polls, and SmartPort's carry no
    // check: a sensor's reply is what a damage shows in.
    const QByteArray good = row->maxChannels == 0 ? row->telemetryFrame(row->telemetryFrom, 0) : row->encode(request);
    QRandomGenerator random(7);
    for (int i = 0; i < 50; ++i) {
        QByteArray bad = good;
        row->corrupt(bad, random);
        QVERIFY(bad != good);
        const QVector<AssembledFrame> after = framesIn(good + bad, row);
        QCOMPARE(after.size(), 2);
        QVERIFY(after[0].crcOk);
        QCOMPARE(after[1].bytes, bad);
        QVERIFY2(!after[1].crcOk, qPrintable(bad.toHex()));
        QCOMPARE(after[1].family(), row);
        QVERIFY(framesIn(bad, row).isEmpty());
    }
}

void tst_Families::noFrame_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray longCrsf = crsf(0x16, packed(sixteen(992, 992, 992), 11));
    longCrsf[1] = char(63);
    QTest::newRow("CRSF length 63") << longCrsf + longCrsf;
    QByteArray shortCrsf("\xC8\x01\x16\x00", 4);
    QTest::newRow("CRSF length 1") << shortCrsf + shortCrsf;
    QByteArray fport = fportControl(QVector<int>(16, 1000), 0, 100);
    QTest::newRow("FPORT with a stray 0x7D at its end") << fport.left(fport.size() - 1) + "\x7D\x7E";
    QByteArray ibusFrame = ibus(QVector<int>(14, 1500));
    ibusFrame[0] = char(0x1F);
    QTest::newRow("IBUS length byte 0x1F") << ibusFrame;
    const QByteArray srxl2 = srxl2Control(0, 0xFF, QVector<int>(8, 0x8000));
    QTest::newRow("SRXL2 cut short") << srxl2.left(srxl2.size() - 3);
    QByteArray fport2 = QByteArray(1, char(0x0E)) + QByteArray(16, char(0xFF));
    QTest::newRow("FPORT2 length 0x0E") << fport2;
    // Each passes its check, but breaks its family's rules.
    QTest::newRow("ST24 LEN 8") << st24(0, QByteArray(6, 0x55)).repeated(2);
    QTest::newRow("ST24 LEN 67") << st24(0, QByteArray(65, 0x55)).repeated(2);
    QByteArray longExbus = exbus(0x3E, 0x03, 1, 0x31, littleEndian({12000, 12000}));
    longExbus[2] = char(longExbus[2] + 2);
    QTest::newRow("EXBUS LEN past its data") << withKermit(longExbus.left(longExbus.size() - 2) + "\x00\x00").repeated(2);
    QTest::newRow("EXBUS channels, odd SUBLEN") << exbus(0x3E, 0x03, 1, 0x31, QByteArray(3, 0x10)).repeated(2);
    QTest::newRow("EXBUS channels, 25 of them") << exbus(0x3E, 0x03, 1, 0x31, littleEndian(QVector<int>(25, 12000))).repeated(2);
    QTest::newRow("EXBUS request byte 0x02") << exbus(0x3D, 0x02, 1, 0x3A, QByteArray()).repeated(2);
    QTest::newRow("EXBUS channels under data id 0x3A") << exbus(0x3E, 0x03, 1, 0x3A, littleEndian({12000})).repeated(2);
}

void tst_Families::noFrame()
{
    QFETCH(QByteArray, bytes);
    QCOMPARE(framesIn(bytes).size(), 0);
}

// Noise at any family's start bytes: every frame taken on its check passes
// it, and CRSF's CRC-8 lets through no more than its own rate, about 20 a MB.
void tst_Families::randomBytes()
{
    QRandomGenerator random(33);
    QByteArray noise(1 << 20, 0);
    for (char &byte : noise)
        byte = char(random.bounded(256));
    int crsfFrames = 0;
    for (const AssembledFrame &frame : framesIn(noise)) {
        QVERIFY(frame.family());
        QCOMPARE(frame.crcOk, frame.family()->check(frame.bytes.constData(), frame.bytes.size()));
        crsfFrames += frame.crcOk && frame.family()->name == QLatin1String("crsf");
        FrameReading reading;
        frame.family()->read(frame.bytes.constData(), frame.bytes.size(), reading);
        QVERIFY(reading.channels <= FrameReading::maxChannels);
    }
    QVERIFY2(crsfFrames < 40, qPrintable(QString::number(crsfFrames)));
}

void tst_Families::lineFrame_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read"); // empty: refused
    QTest::newRow("8N1") << "8N1" << "8N1";
    QTest::newRow("8e2 in lower case") << "8e2" << "8E2";
    QTest::newRow("7O1") << "7O1" << "7O1";
    QTest::newRow("nine data bits") << "9N1" << "";
    QTest::newRow("parity X") << "8X1" << "";
    QTest::newRow("three stop bits") << "8N3" << "";
    QTest::newRow("baud in it") << "115200 8N1" << "";
}

void tst_Families::lineFrame()
{
    QFETCH(QString, text);
    QFETCH(QString, read);
    LineSettings line;
    line.baud = 420000;
    const bool ok = parseLineFrame(text, line);
    QCOMPARE(ok, !read.isEmpty());
    if (ok)
        QCOMPARE(line.text(), QStringLiteral("420000 ") + read);
}

void tst_Families::namesPeopleUse_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("family"); // the record name; empty: none
    QTest::newRow("hott") << "hott" << "HOTT";
    QTest::newRow("record name MPX_V2") << "MPX_V2" << "MPX_V2";
    QTest::newRow("sumd is HOTT") << "sumd" << "HOTT";
    QTest::newRow("ELRS is CRSF") << " ELRS " << "CRSF";
    QTest::newRow("srxl is SPEKTRUM") << "srxl" << "SPEKTRUM";
    QTest::newRow("srxl2 stays SRXL2") << "srxl2" << "SRXL2";
    QTest::newRow("xbus is XBUS") << "xbus" << "XBUS";
    QTest::newRow("xbus2 is none") << "xbus2" << "";
}

void tst_Families::namesPeopleUse()
{
    QFETCH(QString, name);
    QFETCH(QString, family);
    const FamilyDescriptor *found = familyNamed(name);
    QCOMPARE(found ? QString::fromLatin1(found->recordName) : QString(), family);
}

void tst_Families::everyRow_data()
{
    QTest::addColumn<QString>("family");
    for (const FamilyDescriptor *family : allFamilies())
        QTest::newRow(family->name) << family->name;
}

// Each row is complete, and its read opens alike whatever the reading held
// before: the record name, the verdict, whether the family has a check, and
// none of what another frame left.
void tst_Families::everyRow()
{
    QFETCH(QString, family);
    const FamilyDescriptor *row = familyNamed(family);
    QVERIFY(row);
    QCOMPARE(familyRowFault(*row), QString());

    FrameRequest request;
    for (int k = 0; k < row->defaultChannels; ++k)
        request.wire << (row->hasMicroseconds() ? row->wireFor(k, row->usRange(k).lowest) : 1000);
    const QByteArray frame = row->encode(request);
    // Followed by the next, as a SmartPort poll must be to be told.
    const QByteArray twice = frame + frame;
    QCOMPARE(row->frameLength(twice.constData(), twice.size()), frame.size());

    static const char junk[] = "left over";
    FrameReading reading;
    reading.family = junk;
    reading.crcOk = false;
    reading.hasCheck = row->framing != FamilyDescriptor::ByChecksum;
    reading.failsafe = 7;
    reading.droppedChannels = 7;
    reading.type = junk;
    reading.frameLost = reading.rssi = reading.frameLosses = 7;
    reading.hasLink = reading.hasVtx = true;
    reading.ch17 = reading.ch18 = reading.sbus2Page = 7;
    reading.format = 7;
    row->read(frame.constData(), frame.size(), reading);
    QCOMPARE(QString::fromLatin1(reading.family), QString::fromLatin1(row->recordName));
    QCOMPARE(reading.crcOk, true);
    QCOMPARE(reading.hasCheck, row->framing == FamilyDescriptor::ByChecksum);
    QStringList stale;
    const auto staleIf = [&stale](bool left, const char *what) {
        if (left)
            stale << QLatin1String(what);
    };
    staleIf(reading.failsafe == 7, "failsafe");
    staleIf(reading.droppedChannels == 7, "droppedChannels");
    staleIf(reading.type == junk, "type");
    staleIf(reading.frameLost == 7 || reading.rssi == 7 || reading.frameLosses == 7, "frame losses or RSSI");
    staleIf(reading.hasLink, "link");
    staleIf(reading.hasVtx, "VTX");
    staleIf(reading.ch17 == 7 || reading.ch18 == 7 || reading.sbus2Page == 7, "SBUS extras");
    staleIf(reading.format == 7, "format");
    QCOMPARE(stale, QStringList());
}

namespace {

enum Lack {
    NoName, NoCheck, StrangeUsualStart, GapInChecksumRow, LengthInGapRow, AgreeWithoutFrames, SlotsWithoutSize,
    NoReader, FailsafeApartUnsaid, NoEncoder, NoCorrupt, DefaultAboveMost, MostAboveReading, FixedNotMost,
    RangeWithoutWire, LinkWithoutPeriod, PollWithoutPeriod, TelemetryWithoutKinds, ChannelsWithoutDefault
};

int lengthOne(const char *, int)
{
    return 1;
}

} // namespace

void tst_Families::rowLacking_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("lack");
    QTest::addColumn<QString>("told"); // part of what familyRowFault says

    QTest::newRow("no name") << "sbus" << int(NoName) << "a name and a record name";
    QTest::newRow("checksum framing without a check") << "crsf" << int(NoCheck) << "start bytes, a length and a check";
    QTest::newRow("usual start byte it never starts with")
        << "crsf" << int(StrangeUsualStart) << "usual start bytes among its start bytes";
    QTest::newRow("checksum framing with a gap") << "ghst" << int(GapInChecksumRow) << "nothing of the framing by gap";
    QTest::newRow("gap framing with a length reader")
        << "sbus" << int(LengthInGapRow) << "nothing of the framing by checksum";
    QTest::newRow("agree without frames to agree on")
        << "dsm" << int(AgreeWithoutFrames) << "frames to agree on with agree, or neither";
    QTest::newRow("telemetry slots of no size")
        << "sbus" << int(SlotsWithoutSize) << "the size of telemetry slots with slotAt, or neither";
    QTest::newRow("no reader") << "mpx" << int(NoReader) << "a reader";
    QTest::newRow("failsafe frames apart, no sign of one")
        << "hott" << int(FailsafeApartUnsaid) << "a failsafe sign where failsafe frames stand apart";
    QTest::newRow("no encoder") << "ibus" << int(NoEncoder) << "an encoder and a way to damage a frame";
    QTest::newRow("no way to damage a frame") << "nordax" << int(NoCorrupt) << "an encoder and a way to damage a frame";
    QTest::newRow("default above the most") << "ghst" << int(DefaultAboveMost) << "channel counts from 1";
    QTest::newRow("more channels than a reading holds") << "hott" << int(MostAboveReading) << "channel counts from 1";
    QTest::newRow("fixed count not the most") << "mpx2" << int(FixedNotMost) << "a fixed channel count";
    QTest::newRow("µs range without a wire value")
        << "spektrum" << int(RangeWithoutWire) << "a µs range with a wire value for it, or neither";
    QTest::newRow("link frame without a period")
        << "crsf" << int(LinkWithoutPeriod) << "a link frame with its period, or neither";
    QTest::newRow("poll frame without a period")
        << "exbus" << int(PollWithoutPeriod) << "a poll frame with its period, or neither";
    QTest::newRow("telemetry frames without kinds")
        << "ghst" << int(TelemetryWithoutKinds) << "telemetry frames with their kinds, or neither";
    // A family without channels has none by default either.
    QTest::newRow("channels by default, none at most")
        << "smartport" << int(ChannelsWithoutDefault) << "channel counts from 1";
}

// A real row with one thing taken away or put where it does not belong.
void tst_Families::rowLacking()
{
    QFETCH(QString, family);
    QFETCH(int, lack);
    QFETCH(QString, told);
    const FamilyDescriptor *whole = familyNamed(family);
    QVERIFY(whole);
    FamilyDescriptor row = *whole;
    switch (Lack(lack)) {
    case NoName: row.name = ""; break;
    case NoCheck: row.checksumPasses = nullptr; break;
    case StrangeUsualStart: row.usualStartBytes = QByteArray(1, char(0x01)); break;
    case GapInChecksumRow: row.gapMs = 2; break;
    case LengthInGapRow: row.lengthAt = lengthOne; break;
    case AgreeWithoutFrames: row.agreeFrames = 0; break;
    case SlotsWithoutSize: row.slotBytes = 0; break;
    case NoReader: row.reader = nullptr; break;
    case FailsafeApartUnsaid: row.saysFailsafe = nullptr; break;
    case NoEncoder: row.encode = nullptr; break;
    case NoCorrupt: row.corrupt = nullptr; break;
    case DefaultAboveMost: row.defaultChannels = row.maxChannels + 1; break;
    case MostAboveReading: row.maxChannels = FrameReading::maxChannels + 1; break;
    case FixedNotMost: row.fixedChannels = row.maxChannels - 1; break;
    case RangeWithoutWire: row.wireFor = nullptr; break;
    case LinkWithoutPeriod: row.linkPeriodMs = 0; break;
    case PollWithoutPeriod: row.pollPeriodMs = 0; break;
    case TelemetryWithoutKinds: row.telemetryKinds = 0; break;
    case ChannelsWithoutDefault: row.defaultChannels = 1; break;
    }
    const QString fault = familyRowFault(row);
    QVERIFY2(fault.contains(told), qPrintable(fault));
}

void tst_Families::carried_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("crcOk");
    QTest::addColumn<QString>("carried"); // rssi, packet count, telemetry, as name=value

    QTest::newRow("ST24 RSSI and packet count") << st24Channels(0, 87, 42, QVector<int>(12, 2054)) << true
                                                << "rssi=87 packet_count=42";
    // Each item: (id << 4) | type, then a little-endian value whose top byte
    // holds the sign (bit 7) and the decimals (bits 6-5).
    QByteArray items;
    items += QByteArray("\x11\x7E\x20", 3);         // 2 bytes: 126 (0x7E), 1 decimal: 12.6
    items += QByteArray("\x20\x85", 2);              // 1 byte: sign, 5: -5
    items += QByteArray("\x34\x40\xE2\x41", 4);     // 3 bytes: 123456 (0x1E240), 2 decimals: 1234.56
    items += QByteArray("\x48\x40\x42\x0F\xA0", 5); // 4 bytes: sign, 1000000 (0xF4240), 1 decimal
    items += QByteArray("\x55\x01\x02\x03", 4);     // date and time, as sent: 0x030201
    items += QByteArray("\x69\x10\x20\x30\x40", 5); // GPS, as sent: 0x40302010
    const QString values = "serial=173073 item1=12.6 item2=-5 item3=1234.56 item4=-100000.0 datetime5=197121 "
                           "gps6=1076895760";
    QTest::newRow("EXBUS telemetry") << exbus(0x3B, 0x01, 9, 0x3A, exPacket(1, items)) << true << values;
    QByteArray badCrc8 = exPacket(1, items);
    badCrc8[badCrc8.size() - 1] = char(badCrc8[badCrc8.size() - 1] ^ 0x40);
    QTest::newRow("EXBUS telemetry, EX packet's CRC-8 wrong") << exbus(0x3B, 0x01, 9, 0x3A, badCrc8) << false << "";
    QByteArray shortLength = exPacket(1, items);
    shortLength[1] = char(shortLength[1] - 1);
    QTest::newRow("EXBUS telemetry, EX length short of SUBLEN") << exbus(0x3B, 0x01, 9, 0x3A, shortLength) << false
                                                                << "";
    // An item of type 2, whose size nobody knows, ends them.
    QTest::newRow("EXBUS telemetry, an unknown item type") << exbus(0x3B, 0x01, 9, 0x3A, exPacket(1, items.left(3) + "\x22\x01" + items.mid(3)))
                                                           << true << "serial=173073 item1=12.6";
    QTest::newRow("EXBUS text packet") << exbus(0x3B, 0x01, 9, 0x3A, exPacket(0, "\x10\x21Volt")) << true << "";
}

// What frames carry beside channels, read as the facts give it; an EX
// packet whose own CRC-8 fails makes its answer FALSE.
void tst_Families::carried()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, crcOk);
    QFETCH(QString, carried);
    const FamilyDescriptor *row = familyNamed(quint8(frame[0]) == 0x55 ? "st24" : "exbus");
    FrameReading reading;
    QCOMPARE(row->frameLength(frame.constData(), frame.size()), int(frame.size()));
    QCOMPARE(row->check(frame.constData(), frame.size()), crcOk);
    row->read(frame.constData(), frame.size(), reading);
    QCOMPARE(reading.crcOk, crcOk);
    QStringList got;
    if (reading.rssi != FrameReading::noValue)
        got << QStringLiteral("rssi=%1").arg(reading.rssi);
    if (reading.packetCount != FrameReading::noValue)
        got << QStringLiteral("packet_count=%1").arg(reading.packetCount);
    for (int i = 0; i < reading.telemetry.size(); ++i) {
        const TelemetryValue &value = reading.telemetry.at(i);
        got << QStringLiteral("%1=%2").arg(QLatin1String(value.name), QString::number(value.value(), 'f', value.decimals));
    }
    QCOMPARE(got.join(QLatin1Char(' ')), carried);
}

void tst_Families::telemetryRoundTrip_data()
{
    QTest::addColumn<QString>("family");
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->telemetryKinds > 0)
            QTest::newRow(family->name) << family->name;
    }
}

// Every kind of telemetry frame a family makes, three times over with its
// values moving, is found where it was sent, passes its check and reads as
// a named type with its values, none cut short.
void tst_Families::telemetryRoundTrip()
{
    QFETCH(QString, family);
    const FamilyDescriptor *row = familyNamed(family);
    QByteArrayList sent;
    for (qint64 index = 0; index < 3; ++index) {
        for (int kind = 0; kind < row->telemetryKinds; ++kind)
            sent << row->telemetryFrame(kind, index);
    }
    const QVector<AssembledFrame> found = framesIn(sent.join());
    QCOMPARE(found.size(), sent.size());
    TelemetryMemory memory;
    FrameReading reading;
    reading.memory = &memory;
    for (int i = 0; i < found.size(); ++i) {
        QCOMPARE(found[i].bytes, sent[i]);
        QCOMPARE(found[i].family(), row);
        row->read(sent[i].constData(), sent[i].size(), reading);
        QVERIFY2(reading.crcOk, qPrintable(sent[i].toHex()));
        QVERIFY2(reading.type && !QByteArray(reading.type).startsWith("0x"), qPrintable(sent[i].toHex()));
        QVERIFY(!reading.telemetry.find("too_short"));
        QVERIFY(!reading.telemetry.find("value") || family != QLatin1String("smartport"));
    }
}

// Random bytes at SmartPort's rate: replies pass by their 8-bit sum after a
// 0x10 start byte, about once in 65536 bytes, and polls by their id only
// where a poll or a reply follows them, hardly more often. 16 MB, about 48
// minutes of the line.
void tst_Families::smartportNoise()
{
    const FamilySet set({familyNamed(QStringLiteral("smartport"))});
    FrameAssembler assembler(set);
    QRandomGenerator random(40);
    QByteArray noise(1 << 20, 0);
    int polls = 0, replies = 0;
    for (int megabyte = 0; megabyte < 16; ++megabyte) {
        for (char &byte : noise)
            byte = char(random.bounded(256));
        for (const AssembledFrame &frame : assembler.feed(noise)) {
            if (frame.crcOk)
                (frame.bytes[0] == '\x7E' ? polls : replies) += 1;
        }
    }
    for (const AssembledFrame &frame : assembler.flush()) {
        if (frame.crcOk)
            (frame.bytes[0] == '\x7E' ? polls : replies) += 1;
    }
    qInfo("false SmartPort frames in 16 MB of random bytes: %d polls, %d replies", polls, replies);
    // 16 MB / 65536 = 256 replies expected; polls: 28 ids and 2 next bytes
    // in 65536, after one 0x7E in 256: about 55.
    QVERIFY2(replies < 256 * 1.3, qPrintable(QString::number(replies)));
    QVERIFY2(polls < 55 * 1.6, qPrintable(QString::number(polls)));
}

QTEST_GUILESS_MAIN(tst_Families)
#include "tst_families.moc"
