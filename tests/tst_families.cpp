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

quint8 crc8(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint8(crc & 0x80 ? (crc << 1) ^ 0xD5 : crc << 1);
    }
    return crc;
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

// The frames an assembler looking for every family finds in bytes.
QVector<AssembledFrame> framesIn(const QByteArray &bytes)
{
    static const FamilySet every(allFamilies());
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

    const QVector<AssembledFrame> found = framesIn(frame);
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
        const QVector<AssembledFrame> found = framesIn(stream);
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
    const QByteArray good = row->encode(request);
    QRandomGenerator random(7);
    for (int i = 0; i < 50; ++i) {
        QByteArray bad = good;
        row->corrupt(bad, random);
        QVERIFY(bad != good);
        const QVector<AssembledFrame> after = framesIn(good + bad);
        QCOMPARE(after.size(), 2);
        QVERIFY(after[0].crcOk);
        QCOMPARE(after[1].bytes, bad);
        QVERIFY2(!after[1].crcOk, qPrintable(bad.toHex()));
        QCOMPARE(after[1].family(), row);
        QVERIFY(framesIn(bad).isEmpty());
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
    QTest::newRow("xbus is none") << "xbus" << "";
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
    QCOMPARE(row->frameLength(frame.constData(), frame.size()), frame.size());

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
    RangeWithoutWire, LinkWithoutPeriod
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
    }
    const QString fault = familyRowFault(row);
    QVERIFY2(fault.contains(told), qPrintable(fault));
}

QTEST_GUILESS_MAIN(tst_Families)
#include "tst_families.moc"
