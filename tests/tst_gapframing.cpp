// SPDX-License-Identifier: GPL-3.0-or-later
// SBUS, DSM and SUMH, which carry no checksum: frames written from the published
// facts read as they should, DSM's form is told by its ids, frames are
// found by the quiet before them or by their period and rules, DSM at the
// offset where its frames start, never across a quiet line, SBUS2's
// telemetry slots are slots, damaged frames and noise are stray bytes, and
// random bytes pass for frames hardly ever.
#include "decode/families/dsm.h"
#include "decode/framing/streamframer.h"

#include <QRandomGenerator>
#include <QtTest>

#include <functional>
#include <memory>

class tst_GapFraming : public QObject
{
    Q_OBJECT

private slots:
    void handWritten_data();
    void handWritten();
    void dsmForm_data();
    void dsmForm();
    void dsmAlignment_data();
    void dsmAlignment();
    void framing_data();
    void framing();
    void quietLine_data();
    void quietLine();
    void sbus2Slots_data();
    void sbus2Slots();
    void damaged_data();
    void damaged();
    void sbusNoise();
    void randomBytes();
    void everyFamilyLookedFor_data();
    void everyFamilyLookedFor();
    void overlapping_data();
    void overlapping();
};

namespace {

// Sixteen 11-bit channels written bit by bit, LSB first.
QByteArray sbus(const QVector<int> &channels, quint8 flags, quint8 end = 0x00)
{
    QByteArray frame(25, 0);
    frame[0] = 0x0F;
    for (int i = 0; i < 16; ++i) {
        for (int b = 0; b < 11; ++b) {
            if (channels.value(i, 1000) >> b & 1)
                frame[1 + (i * 11 + b) / 8] = char(quint8(frame[1 + (i * 11 + b) / 8]) | 1 << ((i * 11 + b) % 8));
        }
    }
    frame[23] = char(flags);
    frame[24] = char(end);
    return frame;
}

QByteArray dsm(quint8 fades, quint8 system, const QVector<int> &words)
{
    QByteArray frame;
    frame.append(char(fades)).append(char(system));
    for (int i = 0; i < 7; ++i) {
        const int word = words.value(i, 0xFFFF);
        frame.append(char(word >> 8)).append(char(word & 0xFF));
    }
    return frame;
}

// 0xA8, two bytes, eight big-endian channels, 0x00 and a byte.
QByteArray sumh(const QVector<int> &channels, quint8 last = 0x00)
{
    QByteArray frame("\xA8\x01\x02", 3);
    for (int i = 0; i < 8; ++i)
        frame += char(channels.value(i, 12000) >> 8) + QByteArray(1, char(channels.value(i, 12000) & 0xFF));
    return frame + '\x00' + char(last);
}

QVector<int> words2048(int firstId, const QVector<int> &positions)
{
    QVector<int> words;
    for (int i = 0; i < positions.size(); ++i)
        words << ((firstId + i) << 11 | positions[i]);
    return words;
}

QVector<int> words1024(const QVector<int> &positions)
{
    QVector<int> words;
    for (int i = 0; i < positions.size(); ++i)
        words << (i << 10 | positions[i]);
    return words;
}

const FamilyDescriptor *sbusRow()
{
    return familyNamed(QStringLiteral("sbus"));
}

const FamilyDescriptor *dsmRow()
{
    return familyNamed(QStringLiteral("dsm"));
}

// The frames of family in reads; quiet[i] is the quiet before read i (-1
// unknown).
QVector<AssembledFrame> framesIn(const FamilyDescriptor *family, const QVector<QByteArray> &reads,
                                 const QVector<double> &quiet = {})
{
    StreamFramer framer({family});
    QVector<AssembledFrame> found;
    for (int i = 0; i < reads.size(); ++i)
        found += framer.feed(reads[i], 0, quiet.value(i, -1));
    found += framer.flush();
    return found;
}

QByteArray noise(QRandomGenerator &random, int size)
{
    QByteArray bytes(size, 0);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

// The stream in reads of 1 to 40 bytes, without times.
QVector<QByteArray> cut(const QByteArray &stream, QRandomGenerator &random)
{
    QVector<QByteArray> reads;
    for (int at = 0; at < stream.size();) {
        const int size = 1 + int(random.bounded(40));
        reads << stream.mid(at, size);
        at += size;
    }
    return reads;
}

// A DSM receiver's frames: header (fades and system byte, or a satellite's
// fades count), then each channel's position from positions(frame,
// channel); more than seven channels go in pairs, the second marked, fewer
// are padded with unused words; xPlus adds an X-Plus word (id 12) to the
// second frame of each pair.
QVector<QByteArray> dsmStream(int form, int channels, quint16 header, int count,
                              const std::function<int(int, int)> &positions, bool xPlus = false)
{
    QVector<QByteArray> frames;
    for (int index = 0; index < count; ++index) {
        const bool second = channels > 7 && index % 2 == 1;
        QVector<int> words;
        for (int id = second ? 7 : 0; id < (second ? channels : qMin(channels, 7)); ++id) {
            const int position = positions(index, id);
            words << (form == 1024 ? id << 10 | position : id << 11 | position);
        }
        if (second && form == 2048)
            words[0] |= 0x8000;
        if (xPlus && (second || channels <= 7) && words.size() < 7)
            words << (12 << 11 | 700);
        frames << dsm(quint8(header >> 8), quint8(header), words);
    }
    return frames;
}

} // namespace

void tst_GapFraming::handWritten_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("format");
    QTest::addColumn<QVector<int>>("us");   // -1 for a channel without value
    QTest::addColumn<QVector<int>>("wire"); // as sent, likewise
    // failsafe, frame lost, ch17, ch18, SBUS2 page (SBUS); fades, system (DSM)
    QTest::addColumn<QVector<int>>("flags");

    const int none = FrameReading::noValue;
    QTest::newRow("SBUS 200, 1000, 1800") << "sbus" << sbus({200, 1000, 1800}, 0x00) << 0
                                          << QVector<int>{1000, 1500, 2000, 1500} << QVector<int>{200, 1000, 1800, 1000}
                                          << QVector<int>{0, 0, 0, 0, -1};
    QTest::newRow("SBUS 0 and 2047, ch17") << "sbus" << sbus({0, 2047}, 0x01) << 0 << QVector<int>{875, 2154}
                                           << QVector<int>{0, 2047} << QVector<int>{0, 0, 1, 0, -1};
    QTest::newRow("SBUS failsafe and frame lost") << "sbus" << sbus({}, 0x0C) << 0 << QVector<int>{1500}
                                                  << QVector<int>{1000} << QVector<int>{1, 1, 0, 0, -1};
    QTest::newRow("SBUS2 end byte 0x24, ch18, frame lost") << "sbus" << sbus({}, 0x06, 0x24) << 0
                                                           << QVector<int>{1500} << QVector<int>{1000}
                                                           << QVector<int>{0, 1, 0, 1, 2};
    QTest::newRow("SBUS2 end byte 0x34") << "sbus" << sbus({}, 0x00, 0x34) << 0 << QVector<int>{1500}
                                         << QVector<int>{1000} << QVector<int>{0, 0, 0, 0, 3};
    // (1874 - 1024)·1000/1700 = 500; (174 - 1024)·1000/1700 = -500;
    // 0 and 2047 truncate toward zero, -602.35 and 601.76, and so does 1023: -0.59.
    QTest::newRow("DSM 2048, internal DSMX 11 ms")
        << "dsm" << dsm(3, 0xB2, words2048(0, {1024, 1874, 174, 0, 2047, 1025, 1023})) << 2048
        << QVector<int>{1500, 2000, 1000, 898, 2101, 1500, 1500, -1}
        << QVector<int>{1024, 1874, 174, 0, 2047, 1025, 1023, -1} << QVector<int>{3, 0xB2};
    // 1024 carries every second position: 937 is 1874 in 2048's steps.
    QTest::newRow("DSM 1024, satellite fades 0x0103")
        << "dsm" << dsm(1, 3, words1024({512, 937, 87, 0, 1023, 512, 512})) << 1024
        << QVector<int>{1500, 2000, 1000, 898, 2101, 1500, 1500} << QVector<int>{512, 937, 87, 0, 1023, 512, 512}
        << QVector<int>{0x0103, none};
    QTest::newRow("DSM 1024, internal DSM2 22 ms, system 0x02")
        << "dsm" << dsm(4, 0x02, words1024({512, 937, 87, 0, 1023, 512, 512})) << 1024
        << QVector<int>{1500, 2000, 1000, 898, 2101, 1500, 1500} << QVector<int>{512, 937, 87, 0, 1023, 512, 512}
        << QVector<int>{4, 0x02};
    // An X-Plus word (id 12) keeps the frame and names no channel.
    QTest::newRow("DSM 2048, an X-Plus word")
        << "dsm" << dsm(0, 0xB2, words2048(0, {1024, 1874, 174, 0, 2047, 1025}) << (12 << 11 | 300)) << 2048
        << QVector<int>{1500, 2000, 1000, 898, 2101, 1500, -1, -1, -1, -1, -1, -1}
        << QVector<int>{1024, 1874, 174, 0, 2047, 1025, -1, -1, -1, -1, -1, -1} << QVector<int>{0, 0xB2};
    // (v·5) / 32 − 375: 8800 → 1000, 12000 → 1500, 15200 → 2000, 2400 → 0,
    // 2399 → −1 (11995 / 32 = 374), 65535 → 9864 (327675 / 32 = 10239).
    QTest::newRow("SUMH") << "sumh" << sumh({8800, 12000, 15200, 2400, 2399, 65535}, 0x5A) << 0
                          << QVector<int>{1000, 1500, 2000, 0, -1, 9864, 1500, 1500}
                          << QVector<int>{8800, 12000, 15200, 2400, 2399, 65535, 12000, 12000}
                          << QVector<int>{-1, -1, -1, -1, -1};
}

// Each frame, repeated as a receiver sends it, is found without times and
// read as the facts say.
void tst_GapFraming::handWritten()
{
    QFETCH(QString, family);
    QFETCH(QByteArray, frame);
    QFETCH(int, format);
    QFETCH(QVector<int>, us);
    QFETCH(QVector<int>, wire);
    QFETCH(QVector<int>, flags);

    const FamilyDescriptor *row = familyNamed(family);
    const QVector<AssembledFrame> found = framesIn(row, {frame.repeated(6)});
    QCOMPARE(found.size(), 6);
    for (const AssembledFrame &assembled : found) {
        QCOMPARE(assembled.bytes, frame);
        FrameReading reading;
        readAssembled(assembled, reading);
        QCOMPARE(QString::fromLatin1(reading.family), family.toUpper());
        QCOMPARE(reading.format, format);
        const auto values = [&](const int *list, int count) {
            QVector<int> got;
            for (int k = 0; k < count; ++k)
                got << (k < reading.channels && list[k] != FrameReading::noValue ? list[k] : -1);
            return got;
        };
        QCOMPARE(values(reading.us, us.size()), us);
        QCOMPARE(values(reading.wire, wire.size()), wire);
        if (format == 0)
            QCOMPARE((QVector<int>{reading.failsafe, reading.frameLost, reading.ch17, reading.ch18, reading.sbus2Page}),
                     flags);
        else
            QCOMPARE((QVector<int>{reading.fades, reading.system}), flags);
    }
}

void tst_GapFraming::dsmForm_data()
{
    QTest::addColumn<QVector<QByteArray>>("frames"); // sent in turn, over and over
    QTest::addColumn<int>("format");                 // 0: no frame may be taken
    QTest::addColumn<int>("channels");               // carried, over all frames

    const QVector<int> seven{100, 300, 500, 700, 900, 1100, 1300};
    QTest::newRow("2048, seven channels") << QVector<QByteArray>{dsm(0, 0xB2, words2048(0, seven))} << 2048 << 7;
    // The second frame of a pair marks its first word with bit 15.
    QVector<int> second = words2048(7, {200, 400, 600, 800, 1000});
    second[0] |= 0x8000;
    QTest::newRow("2048, twelve channels in pairs")
        << QVector<QByteArray>{dsm(0, 0xA2, words2048(0, seven)), dsm(0, 0xA2, second)} << 2048 << 12;
    // Read as 2048, these ids are 0, 0, 1, 1, 2, 2, 3: a set, but named twice.
    QTest::newRow("1024, seven channels") << QVector<QByteArray>{dsm(0, 0x01, words1024({50, 150, 250, 350, 450, 550, 650}))}
                                          << 1024 << 7;
    // Read as 1024, the ids are 0, 3, 4, 7, 8, 11: each once, but no set.
    QTest::newRow("2048, six channels, whose ids read as 1024 are no set")
        << QVector<QByteArray>{dsm(0, 0x12, words2048(0, {100, 1100, 100, 1100, 100, 1100}))} << 2048 << 6;
    QTest::newRow("four ids are too few") << QVector<QByteArray>{dsm(0, 0xB2, words2048(0, {1, 2, 3, 4}))} << 0 << 0;
    QTest::newRow("an id beyond eleven") << QVector<QByteArray>{dsm(0, 0xB2, words2048(6, {1, 2, 3, 4, 5, 6, 7}))}
                                         << 0 << 0;
    QTest::newRow("ids that leave a hole") << QVector<QByteArray>{dsm(0, 0xB2, {0 << 11, 1 << 11, 2 << 11, 3 << 11, 4 << 11, 6 << 11})}
                                           << 0 << 0;
}

// The form is the one whose ids make a set, each named once, over frames.
void tst_GapFraming::dsmForm()
{
    QFETCH(QVector<QByteArray>, frames);
    QFETCH(int, format);
    QFETCH(int, channels);

    QByteArray stream;
    for (int i = 0; i < 8; ++i)
        stream += frames[i % frames.size()];
    const QVector<AssembledFrame> found = framesIn(dsmRow(), {stream});
    QCOMPARE(found.size(), format ? 8 : 0);
    QSet<int> carried;
    for (const AssembledFrame &frame : found) {
        FrameReading reading;
        readAssembled(frame, reading);
        QCOMPARE(reading.format, format);
        for (int k = 0; k < reading.channels; ++k) {
            if (reading.us[k] != FrameReading::noValue)
                carried << k;
        }
    }
    QCOMPARE(carried.size(), channels);
}

void tst_GapFraming::dsmAlignment_data()
{
    QTest::addColumn<QVector<QByteArray>>("frames");
    QTest::addColumn<int>("skip"); // the capture starts this far into the first frame
    QTest::addColumn<int>("format");

    // Centred sticks that jitter between 1023 and 1024 read as a set of ids
    // 2 bytes off too, the header taken for channel 1.
    const auto jitter = [](int form, quint32 seed) {
        auto random = std::make_shared<QRandomGenerator>(seed);
        return [random, form](int, int) { return (form == 1024 ? 511 : 1023) + int(random->bounded(2)); };
    };
    const auto steady = [](int form) { return [form](int, int) { return form == 1024 ? 512 : 1024; }; };
    const auto moving = [](int frame, int channel) { return (300 + 37 * frame + 150 * channel) % 2048; };
    for (int skip : {0, 1, 2, 14}) {
        QTest::newRow(qPrintable(QStringLiteral("DSMX 2048, 6 channels, 1023/1024, padding, %1 bytes in").arg(skip)))
            << dsmStream(2048, 6, 0x00B2, 40, jitter(2048, 40 + skip)) << skip << 2048;
    }
    QTest::newRow("DSMX 2048, 5 channels, 1023/1024, padding")
        << dsmStream(2048, 5, 0x00A2, 40, jitter(2048, 45)) << 0 << 2048;
    QTest::newRow("satellite 2048, 7 channels, 1023/1024, 2 bytes in")
        << dsmStream(2048, 7, 0x0000, 40, jitter(2048, 46)) << 2 << 2048;
    QTest::newRow("satellite 2048, 7 channels, steady, 2 bytes in")
        << dsmStream(2048, 7, 0x0000, 40, steady(2048)) << 2 << 2048;
    QTest::newRow("satellite 1024, 7 channels, steady, 2 bytes in")
        << dsmStream(1024, 7, 0x0000, 40, steady(1024)) << 2 << 1024;
    QTest::newRow("DSM2 1024 (system 0x02), 6 channels, 511/512, 1 byte in")
        << dsmStream(1024, 6, 0x0002, 40, jitter(1024, 47)) << 1 << 1024;
    QTest::newRow("DSMX 2048, 12 channels in pairs, moving, 9 bytes in")
        << dsmStream(2048, 12, 0x03B2, 40, moving) << 9 << 2048;
    // X-Plus words (id 12) in the second frame of each pair keep it.
    QTest::newRow("DSMX 2048, 10 channels, X-Plus") << dsmStream(2048, 10, 0x00B2, 40, moving, true) << 0 << 2048;
    QTest::newRow("DSMX 2048, 10 channels, X-Plus, 5 bytes in")
        << dsmStream(2048, 10, 0x00B2, 40, moving, true) << 5 << 2048;
}

// A capture that starts anywhere in a frame loses that frame only; every
// other frame is found where it starts, in its form, in reads of any size.
void tst_GapFraming::dsmAlignment()
{
    QFETCH(QVector<QByteArray>, frames);
    QFETCH(int, skip);
    QFETCH(int, format);

    QByteArray stream;
    for (const QByteArray &frame : qAsConst(frames))
        stream += frame;
    stream.remove(0, skip);
    QRandomGenerator random(37);
    const QVector<AssembledFrame> found = framesIn(dsmRow(), cut(stream, random));
    QVector<qint64> expected, offsets;
    for (int i = skip ? 1 : 0; i < frames.size(); ++i)
        expected << qint64(16 * i - skip);
    for (const AssembledFrame &frame : found) {
        offsets << frame.offset;
        FrameReading reading;
        readAssembled(frame, reading);
        QCOMPARE(reading.format, format);
    }
    QCOMPARE(offsets, expected);
}

void tst_GapFraming::framing_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("timed");   // each frame its own read, after a quiet line
    QTest::addColumn<bool>("between"); // bytes between the frames
    QTest::addColumn<int>("expected"); // of 40 frames

    for (const char *family : {"sbus", "dsm", "sumh"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1 back to back, no times").arg(family))) << family << false << false << 40;
        QTest::newRow(qPrintable(QStringLiteral("%1 back to back, timed").arg(family))) << family << true << false << 40;
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes between, timed").arg(family))) << family << true << true << 40;
        // Without times, an SBUS frame is known by one that follows a few
        // bytes later, all but the last; nothing says where DSM frames
        // start between the bytes.
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes between, no times").arg(family)))
            << family << false << true << (family == QLatin1String("dsm") ? 0 : 39);
    }
}

// Frames back to back are found by their period in reads of any size;
// DSM frames with bytes between them only where the quiet before each is
// known.
void tst_GapFraming::framing()
{
    QFETCH(QString, family);
    QFETCH(bool, timed);
    QFETCH(bool, between);
    QFETCH(int, expected);

    const FamilyDescriptor *row = familyNamed(family);
    QRandomGenerator random(34);
    QVector<QByteArray> frames;
    QByteArray stream;
    QVector<QByteArray> reads;
    QVector<double> quiet;
    for (int i = 0; i < 40; ++i) {
        FrameRequest request;
        request.index = i;
        for (int k = 0; k < 12; ++k)
            request.wire << int(random.bounded(2048));
        frames << row->encode(request);
        // Bytes no frame starts with, that keep no frame's rules.
        QByteArray after = between ? QByteArray(3 + i % 5, char(0xFD)) : QByteArray();
        reads << frames.last() + after;
        quiet << (timed ? row->gapMs : -1.0);
        stream += reads.last();
    }
    if (!timed) {
        // Reads of any size, without times.
        reads.clear();
        for (int at = 0; at < stream.size();) {
            const int size = 1 + int(random.bounded(40));
            reads << stream.mid(at, size);
            at += size;
        }
    }
    const QVector<AssembledFrame> found = framesIn(row, reads, quiet);
    QCOMPARE(found.size(), expected);
    for (const AssembledFrame &frame : found) {
        QVERIFY(frames.contains(frame.bytes));
        QCOMPARE(stream.mid(int(frame.offset), frame.bytes.size()), frame.bytes);
    }
}

void tst_GapFraming::quietLine_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QByteArray>("noise"); // after every third frame
    QTest::addColumn<double>("quietMs");   // before the noise; the next frame comes 8.6 ms after it

    QTest::newRow("DSM, 04 94 0.8 ms after a frame") << "dsm" << QByteArray("\x04\x94", 2) << 0.8;
    QTest::newRow("DSM, 00 B2 2 ms after a frame") << "dsm" << QByteArray("\x00\xB2", 2) << 2.0;
    QTest::newRow("DSM, 15 bytes 2 ms after a frame") << "dsm" << QByteArray(15, '\x0B') << 2.0;
    QTest::newRow("SBUS, 0F 00 0.5 ms after a frame") << "sbus" << QByteArray("\x0F\x00", 2) << 0.5;
    QTest::newRow("SUMH, A8 00 4 ms after a frame") << "sumh" << QByteArray("\xA8\x00", 2) << 4.0;
}

// Where byte times are known, a frame never spans a quiet line of the
// family's gap: noise before the quiet is stray bytes, and every frame
// after a quiet is found whole.
void tst_GapFraming::quietLine()
{
    QFETCH(QString, family);
    QFETCH(QByteArray, noise);
    QFETCH(double, quietMs);

    const FamilyDescriptor *row = familyNamed(family);
    QVector<QByteArray> reads;
    QVector<double> quiet;
    QByteArray stream;
    QVector<qint64> offsets;
    for (int i = 0; i < 30; ++i) {
        FrameRequest request;
        request.index = i;
        // Twelve channels: DSM's second frame of a pair names no id 0,
        // which its header read as a word would name twice.
        request.wire = QVector<int>(12, 300 + 50 * i);
        offsets << stream.size();
        reads << row->encode(request);
        quiet << (i % 3 == 1 ? 8.6 : row->periodMs);
        stream += reads.last();
        if (i % 3 == 0) {
            reads << noise;
            quiet << quietMs;
            stream += noise;
        }
    }
    StreamFramer framer({row});
    QVector<AssembledFrame> found;
    for (int i = 0; i < reads.size(); ++i)
        found += framer.feed(reads[i], 0, quiet[i]);
    found += framer.flush();
    QVector<qint64> got;
    for (const AssembledFrame &frame : qAsConst(found))
        got << frame.offset;
    QCOMPARE(got, offsets);
    QCOMPARE(framer.strayBytes(), qint64(10 * noise.size()));
}

void tst_GapFraming::sbus2Slots_data()
{
    QTest::addColumn<bool>("timed");      // each read with the quiet before it
    QTest::addColumn<int>("slotsAfter"); // each frame, 0 to 8; -1 some of them
    QTest::addColumn<bool>("sbus2");      // end bytes 0x04, 0x14, 0x24, 0x34 in turn; else 0x00

    QTest::newRow("SBUS2, one slot, no times") << false << 1 << true;
    QTest::newRow("SBUS2, eight slots, no times") << false << 8 << true;
    QTest::newRow("SBUS2, some slots, no times") << false << -1 << true;
    QTest::newRow("SBUS2, eight slots, timed") << true << 8 << true;
    QTest::newRow("SBUS2, some slots, timed") << true << -1 << true;
    // After an SBUS frame, bytes that would be slots after an SBUS2 one
    // are stray.
    QTest::newRow("SBUS, slot bytes, no times") << false << 2 << false;
}

// SBUS2 frames are found with or without times; the telemetry slots after
// each, of the page its end byte asks for, count as slots, never as stray
// bytes, never break the framing, and come as frames of their own that
// read as their number and data bytes.
void tst_GapFraming::sbus2Slots()
{
    QFETCH(bool, timed);
    QFETCH(int, slotsAfter);
    QFETCH(bool, sbus2);

    QRandomGenerator random(38);
    QVector<QByteArray> reads;
    QVector<double> quiet;
    QVector<qint64> offsets;
    QStringList slotsSent; // "number data" of each slot an SBUS2 frame asked for
    QByteArray stream;
    int slotCount = 0;
    for (int i = 0; i < 40; ++i) {
        const int page = i % 4;
        QVector<int> channels;
        for (int k = 0; k < 16; ++k)
            channels << int(random.bounded(2048));
        offsets << stream.size();
        reads << sbus(channels, 0x00, quint8(sbus2 ? 0x04 | page << 4 : 0x00));
        quiet << (i == 0 ? 20.0 : 3.7);
        stream += reads.last();
        // The slot's number, bits reversed, over 0x03; then two data bytes.
        // Without slots of its own, the last frame ends the data.
        for (int slot = 0; slot < 8 && (sbus2 || i < 39); ++slot) {
            if (slotsAfter >= 0 ? slot >= slotsAfter : random.bounded(2) == 0)
                continue;
            quint8 number = 0;
            for (int bit = 0; bit < 5; ++bit)
                number |= ((page * 8 + slot) >> bit & 1) << (7 - bit);
            reads << (QByteArray(1, char(number | 0x03)) + noise(random, 2));
            if (sbus2)
                slotsSent << QStringLiteral("%1 %2").arg(page * 8 + slot).arg(QString::fromLatin1(reads.last().mid(1).toHex()));
            quiet << (slot == 0 ? 2.0 : 0.3);
            stream += reads.last();
            ++slotCount;
        }
    }
    if (!timed) {
        reads = cut(stream, random);
        quiet.clear();
    }
    StreamFramer framer({sbusRow()});
    QVector<AssembledFrame> found;
    for (int i = 0; i < reads.size(); ++i)
        found += framer.feed(reads[i], 0, quiet.value(i, -1));
    found += framer.flush();
    QVector<qint64> got;
    QStringList slotsRead;
    qint64 framed = 0;
    for (const AssembledFrame &frame : qAsConst(found)) {
        framed += frame.bytes.size();
        FrameReading reading;
        readAssembled(frame, reading);
        QVERIFY(reading.crcOk);
        if (frame.bytes.size() == 3) {
            const Telemetry &slot = reading.telemetry;
            QCOMPARE(QString::fromLatin1(reading.type), QLatin1String(slot.at(0).scaled == 0 ? "RX_VOLTAGE" : "SLOT"));
            slotsRead << QStringLiteral("%1 %2").arg(slot.find("slot")->scaled)
                             .arg(QString::fromLatin1(QByteArray(slot.data(*slot.find("data")), 2).toHex()));
            continue;
        }
        got << frame.offset;
        QCOMPARE(reading.sbus2Page, sbus2 ? int(got.size() - 1) % 4 : -1);
    }
    QCOMPARE(got, offsets);
    QCOMPARE(slotsRead, slotsSent);
    QCOMPARE(framer.telemetrySlots(), qint64(sbus2 ? slotCount : 0));
    QCOMPARE(framer.strayBytes(), qint64(sbus2 ? 0 : 3 * slotCount));
    QCOMPARE(framer.strayBytes() + framed, qint64(stream.size()));
}

void tst_GapFraming::damaged_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("variant");
    QTest::addColumn<QVector<int>>("bad"); // of 12 frames
    QTest::newRow("sbus") << "sbus" << 0 << QVector<int>{6};
    QTest::newRow("dsm 2048") << "dsm" << 2048 << QVector<int>{6};
    QTest::newRow("dsm 1024") << "dsm" << 1024 << QVector<int>{6};
    // Through a pipe a DSM stream is in step again at the next good frame.
    QTest::newRow("dsm 2048, two in a row") << "dsm" << 2048 << QVector<int>{5, 6};
    QTest::newRow("dsm 2048, three in a row, then one") << "dsm" << 2048 << QVector<int>{4, 5, 6, 8};
    QTest::newRow("dsm 1024, two in a row") << "dsm" << 1024 << QVector<int>{6, 7};
    // Frames before four good ones in a row are found once those are.
    QTest::newRow("dsm 2048, every other at the start") << "dsm" << 2048 << QVector<int>{1, 3, 5};
    QTest::newRow("dsm 2048, the first") << "dsm" << 2048 << QVector<int>{0};
    QTest::newRow("sbus, two in a row") << "sbus" << 0 << QVector<int>{5, 6};
    QTest::newRow("sumh") << "sumh" << 0 << QVector<int>{6};
    QTest::newRow("sumh, two in a row, and the first") << "sumh" << 0 << QVector<int>{0, 5, 6};
}

// Damaged frames amid good ones are stray bytes; every good frame around
// them is still found, in reads of any size.
void tst_GapFraming::damaged()
{
    QFETCH(QString, family);
    QFETCH(int, variant);
    QFETCH(QVector<int>, bad);
    const FamilyDescriptor *row = familyNamed(family);
    QRandomGenerator random(35);
    for (int i = 0; i < 30; ++i) {
        QByteArray stream;
        QVector<QByteArray> damaged;
        QVector<qint64> good;
        for (int k = 0; k < 12; ++k) {
            FrameRequest request;
            request.variant = variant;
            request.wire = QVector<int>(7, int(random.bounded(2048)));
            QByteArray frame = row->encode(request);
            if (bad.contains(k)) {
                row->corrupt(frame, random);
                QCOMPARE(row->fits(frame.constData()), 0u);
                damaged << frame;
            } else {
                good << stream.size();
            }
            stream += frame;
        }
        StreamFramer framer({row});
        QVector<AssembledFrame> found;
        for (const QByteArray &read : cut(stream, random))
            found += framer.feed(read);
        found += framer.flush();
        QVector<qint64> offsets;
        for (const AssembledFrame &frame : qAsConst(found))
            offsets << frame.offset;
        QCOMPARE(offsets, good);
        QCOMPARE(framer.strayBytes(), qint64(bad.size() * row->frameBytes));
    }
}

// Without times, SBUS frames with noise after some of them are found by
// the frame that follows the noise, and the noise is stray bytes.
void tst_GapFraming::sbusNoise()
{
    QRandomGenerator random(39);
    QByteArray stream;
    QVector<qint64> written;
    for (int i = 0; i < 3000; ++i) {
        QVector<int> channels;
        for (int k = 0; k < 16; ++k)
            channels << int(random.bounded(2048));
        written << stream.size();
        stream += sbus(channels, quint8(random.bounded(4) == 0 ? 0x0C : 0x00));
        if (random.bounded(10) < 3)
            stream += noise(random, 1 + int(random.bounded(8)));
    }
    const QVector<AssembledFrame> found = framesIn(sbusRow(), cut(stream, random));
    int right = 0;
    for (const AssembledFrame &frame : found)
        right += written.contains(frame.offset);
    QCOMPARE(right, found.size());
    QVERIFY2(right >= 2990, qPrintable(QString::number(right)));
}

// Random bytes pass for at most one SBUS, DSM or SUMH frame a MB, however read.
void tst_GapFraming::randomBytes()
{
    QRandomGenerator random(36);
    const int megabytes = 4;
    const QByteArray bytes = noise(random, megabytes << 20);
    int falseFrames = 0;
    for (const FamilyDescriptor *row : {sbusRow(), dsmRow(), familyNamed(QStringLiteral("sumh"))}) {
        const QVector<AssembledFrame> found = framesIn(row, {bytes});
        falseFrames += found.size();
        for (const AssembledFrame &frame : found) {
            FrameReading reading;
            readAssembled(frame, reading);
            QVERIFY(reading.channels <= FrameReading::maxChannels);
        }
    }
    QVERIFY2(falseFrames <= megabytes, qPrintable(QString::number(falseFrames)));
}

void tst_GapFraming::everyFamilyLookedFor_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<bool>("damaged"); // one frame in ten
    QTest::addColumn<int>("read");     // bytes a read, 0: all in one
    for (const char *family : {"sbus", "dsm", "srxl2", "crsf", "ghst", "fport2", "sumh", "st24", "xbus", "rj01", "exbus", "ibus"}) {
        for (bool damaged : {false, true}) {
            const QString name = QStringLiteral("%1%2").arg(family, damaged ? ", damaged" : "");
            QTest::newRow(qPrintable(name + ", one read")) << family << damaged << 0;
            QTest::newRow(qPrintable(name + ", reads of 7")) << family << damaged << 7;
        }
    }
}

// A byte belongs to at most one frame: a stream of one family, looked for
// with every family that may be looked for beside it (not HOTT beside
// SUMH, nor MPX beside XBUS), as --family auto does, gives the frames it gives
// looked for alone, whatever frames of other families its bytes also read
// as (SBUS's end byte and the next header pass as a CRSF frame one time in
// 256); other families' frames come only from the bytes of damaged frames,
// and the frames' bytes with the stray ones are the bytes read.
void tst_GapFraming::everyFamilyLookedFor()
{
    QFETCH(QString, family);
    QFETCH(bool, damaged);
    QFETCH(int, read);
    const FamilyDescriptor *row = familyNamed(family);
    QRandomGenerator random(37);
    QByteArray stream;
    QVector<qint64> written;
    QVector<QPair<qint64, qint64>> damage; // from, to
    for (int i = 0; i < 10000; ++i) {
        FrameRequest request;
        request.index = i;
        for (int k = 0; k < row->defaultChannels; ++k) {
            const MicrosecondRange range = row->usRange(k);
            request.wire << row->wireFor(k, range.lowest + int(random.bounded(range.highest - range.lowest + 1)));
        }
        QByteArray frame = row->encode(request);
        if (damaged && i % 10 == 5) {
            row->corrupt(frame, random);
            damage.append({stream.size(), stream.size() + frame.size()});
        } else {
            written << stream.size();
        }
        stream += frame;
    }
    qint64 lag = 0;
    const auto offsets = [&](const QVector<const FamilyDescriptor *> &families, QStringList &others) {
        StreamFramer framer(families);
        QVector<AssembledFrame> found;
        for (int at = 0; at < stream.size(); at += read ? read : int(stream.size())) {
            for (const AssembledFrame &frame : framer.feed(stream.mid(at, read ? read : int(stream.size())))) {
                if (frame.family() == row)
                    lag = qMax(lag, framer.bytesFed() - frame.offset - frame.bytes.size());
                found += frame;
            }
        }
        found += framer.flush();
        QVector<qint64> at;
        qint64 framed = 0;
        for (const AssembledFrame &frame : qAsConst(found)) {
            const qint64 end = frame.offset + frame.bytes.size();
            const bool inDamage = std::any_of(damage.cbegin(), damage.cend(), [&](const QPair<qint64, qint64> &d) {
                return frame.offset < d.second && d.first < end;
            });
            if (frame.family() != row && !inDamage)
                others << QStringLiteral("%1 at %2").arg(QLatin1String(frame.family()->name)).arg(frame.offset);
            else if (frame.family() == row && frame.crcOk)
                at << frame.offset;
            framed += frame.bytes.size();
        }
        return framed + framer.strayBytes() == stream.size() ? at : QVector<qint64>{-1};
    };
    QStringList others;
    const QVector<qint64> alone = offsets({row}, others);
    lag = 0;
    const QVector<qint64> every = offsets(familiesBeside(row), others);
    // Read by read, a frame goes out soon after its bytes: the thousand a
    // DSM framer without times keeps to look back on hold no other's.
    if (read)
        QVERIFY2(lag < 640, qPrintable(QString::number(lag)));
    QCOMPARE(others.mid(0, 5), QStringList());
    QCOMPARE(every, alone);
    if (!damaged)
        QCOMPARE(every, written);
}

void tst_GapFraming::overlapping_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames");

    // An SBUS frame between two damaged ones, and a CRSF frame from its end
    // byte that passes its CRC: neither is in a chain, and CRSF's 8-bit
    // check passes by chance more often than SBUS's rules do.
    const QByteArray s0 = sbus({100}, 0), s2 = sbus({300}, 0), s4 = sbus({500}, 0);
    QByteArray s1 = sbus({200}, 0), s3;
    s1[24] = char(0xFF);
    for (int value = 0; value < 2048; ++value) {
        s3 = sbus({value, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000}, 0, 0xFF);
        const QByteArray crsf = s2.right(1) + s3.left(16);
        if (familyNamed(QStringLiteral("crsf"))->check(crsf.constData(), crsf.size()))
            break;
    }
    QTest::newRow("SBUS between damaged frames")
        << s0 + s1 + s2 + s3 + s4 << QStringList{"0 sbus", "50 sbus", "100 sbus"};
}

// Of overlapping frames of two framers, the one that chains wins, else the
// one that passes by chance more seldom.
void tst_GapFraming::overlapping()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, frames);
    StreamFramer framer(allFamilies());
    QVector<AssembledFrame> found = framer.feed(stream);
    found += framer.flush();
    QStringList seen;
    for (const AssembledFrame &frame : qAsConst(found))
        seen << QStringLiteral("%1 %2").arg(frame.offset).arg(QLatin1String(frame.family()->name));
    QCOMPARE(seen, frames);
}

QTEST_GUILESS_MAIN(tst_GapFraming)
#include "tst_gapframing.moc"
