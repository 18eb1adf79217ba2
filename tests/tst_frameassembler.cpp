// SPDX-License-Identifier: GPL-3.0-or-later
// The frame assembler on streams where damaged, cut-off and noise bytes meet
// good frames: the good frames all come out, whatever the read sizes.
#include "decode/families/familyset.h"
#include "decode/framing/frameassembler.h"
#include "packets.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace packets;

class tst_FrameAssembler : public QObject
{
    Q_OBJECT

private slots:
    void damagedFramesHideNoGoodOnes_data();
    void damagedFramesHideNoGoodOnes();
    void noisyStreamLosesNoGoodFrame();
    void randomBytesMakeFewFrames();
    void falseFrameCostsNoRealOne_data();
    void falseFrameCostsNoRealOne();
    void noisyStreamOfEveryFamilyLosesNoGoodFrame();
};

// "offset OK" or "offset FALSE" for each frame, in order.
static QStringList assemble(const QByteArray &stream, int readSize, qint64 *stray = nullptr)
{
    FrameAssembler assembler;
    QVector<AssembledFrame> frames;
    for (int at = 0; at < stream.size(); at += readSize)
        frames += assembler.feed(stream.mid(at, readSize));
    frames += assembler.flush();
    QStringList seen;
    for (const AssembledFrame &frame : qAsConst(frames))
        seen << QStringLiteral("%1 %2").arg(frame.offset).arg(frame.crcOk ? "OK" : "FALSE");
    if (stray)
        *stray = assembler.strayBytes();
    return seen;
}

// The same with the families that have a checksum, as linkscope-dump looks for them all.
static QStringList assembleEvery(const QByteArray &stream, int readSize, qint64 *stray = nullptr)
{
    static const FamilySet every = [] {
        QVector<const FamilyDescriptor *> checked;
        for (const FamilyDescriptor *family : allFamilies()) {
            if (family->framing == FamilyDescriptor::ByChecksum)
                checked << family;
        }
        return FamilySet(checked);
    }();
    FrameAssembler assembler(every);
    QVector<AssembledFrame> frames;
    for (int at = 0; at < stream.size(); at += readSize)
        frames += assembler.feed(stream.mid(at, readSize));
    frames += assembler.flush();
    QStringList seen;
    for (const AssembledFrame &frame : qAsConst(frames))
        seen << QStringLiteral("%1 %2 %3").arg(frame.offset).arg(frame.family()->name, frame.crcOk ? "OK" : "FALSE");
    if (stray)
        *stray = assembler.strayBytes();
    return seen;
}

static quint8 crc8(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint8(crc & 0x80 ? (crc << 1) ^ 0xD5 : crc << 1);
    }
    return crc;
}

// A frame of family made from values, as receivers send it.
static QByteArray frameOf(const char *family, int value, qint64 index = 0)
{
    const FamilyDescriptor *row = familyNamed(QLatin1String(family));
    FrameRequest request;
    request.index = index;
    for (int k = 0; k < row->defaultChannels; ++k)
        request.wire << (value + 37 * k) % (row->wireLimit(k) + 1);
    return row->encode(request);
}

// The lead bytes of a CRSF frame of frameBytes that passes its CRC by
// chance, starting at address lead bytes before next and ending inside it:
// noise that reads as a frame over a real one.
static QByteArray falseCrsfBefore(quint8 address, int frameBytes, int lead, const QByteArray &next)
{
    QByteArray frame = QByteArray(1, char(address)) + char(frameBytes - 2) + QByteArray(lead - 2, char(0x55))
        + next.left(frameBytes - lead);
    for (int free = 0; free < 256; ++free) {
        frame[2] = char(free);
        if (crc8(frame.mid(2, frameBytes - 3)) == quint8(frame.at(frameBytes - 1)))
            return frame.left(lead);
    }
    return QByteArray();
}

static QByteArray mpxOf(int value)
{
    return mpx(QVector<quint16>(12, quint16(0x0800 + value)));
}

void tst_FrameAssembler::damagedFramesHideNoGoodOnes_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("stray");

    const QByteArray a = mpxOf(1), b = mpxOf(2), c = mpxOf(3);
    QTest::newRow("frame cut short before good ones")
        << a + b.left(10) + b + c << QStringList{"0 OK", "37 OK", "64 OK"} << 10;
    QTest::newRow("damaged frame between good ones")
        << a + corrupted(b) + c << QStringList{"0 OK", "27 FALSE", "54 OK"} << 0;
    QTest::newRow("damaged frame last") << a + corrupted(b) << QStringList{"0 OK", "27 FALSE"} << 0;
    // Damaged, it says nothing of failsafe, but it is a frame.
    const QByteArray failsafe = withCrc(fromHex("A8 81 02 2E E0 22 60"));
    QTest::newRow("damaged failsafe frame")
        << a + corrupted(failsafe) + b << QStringList{"0 OK", "27 FALSE", "36 OK"} << 0;

    // A8 01 FF announces a 515-byte HoTT frame; no receiver sends one.
    const QByteArray h = hott(QVector<quint16>(8, 12000));
    QByteArray behind;
    QStringList found{"0 OK"};
    const int start = h.size() + 3;
    for (int i = 0; i < 20; ++i) {
        found << QStringLiteral("%1 OK").arg(start + behind.size());
        behind += i < 2 ? hott(QVector<quint16>(8, quint16(12001 + i))) : mpxOf(i);
    }
    QTest::newRow("noise announcing a long frame after a good one")
        << h + fromHex("A8 01 FF") + behind << found << 3;

    // Bytes in the damaged frame that look like the start of a frame make
    // the verdict wait for what follows, not swallow it.
    QByteArray lookalike = mpxOf(4);
    lookalike.replace(20, 3, fromHex("A8 01 10"));
    QTest::newRow("damaged frame holding the start of another")
        << a + lookalike + b << QStringList{"0 OK", "27 FALSE", "54 OK"} << 0;
    // A stream that starts damaged: a chain of framesToSync frames, each
    // where the one before ended, is frames before any CRC has matched.
    const QByteArray sp = corrupted(spektrum(QVector<quint16>(7, spektrumWord(0, 1024)), 0, 0xA2));
    QTest::newRow("damaged from the start, spektrum")
        << sp.repeated(5) << QStringList{"0 FALSE", "18 FALSE", "36 FALSE", "54 FALSE", "72 FALSE"} << 0;
    QTest::newRow("damaged from the start, then good")
        << corrupted(a).repeated(4) + b << QStringList{"0 FALSE", "27 FALSE", "54 FALSE", "81 FALSE", "108 OK"} << 0;
    QTest::newRow("noise, then damaged frames") << fromHex("00 13 A8") + corrupted(c).repeated(4)
        << QStringList{"3 FALSE", "30 FALSE", "57 FALSE", "84 FALSE"} << 3;
    QTest::newRow("too short a chain is noise") << corrupted(a).repeated(FrameAssembler::framesToSync - 1)
        << QStringList() << 27 * (FrameAssembler::framesToSync - 1);
    QTest::newRow("33-channel frame with a failed CRC")
        << a + corrupted(hott(QVector<quint16>(33, 12000))) + b << QStringList{"0 OK", "98 OK"} << 71;
}

void tst_FrameAssembler::damagedFramesHideNoGoodOnes()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, frames);
    QFETCH(int, stray);
    // One read, as a file; every byte alone; and the pieces a USB adapter gives.
    for (int readSize : {int(stream.size()), 1, 8, 13}) {
        qint64 strayBytes = -1;
        QCOMPARE(assemble(stream, readSize, &strayBytes), frames);
        QCOMPARE(strayBytes, qint64(stray));
    }
}

void tst_FrameAssembler::noisyStreamLosesNoGoodFrame()
{
    // Good frames of every family, one in twenty followed by noise or by
    // the start of a frame that never finished.
    QRandomGenerator random(23);
    QByteArray stream;
    QStringList planted;
    for (int i = 0; i < 20000; ++i) {
        QByteArray frame;
        switch (random.bounded(4)) {
        case 0: frame = mpxOf(int(random.bounded(0x700))); break;
        case 1: frame = hott(QVector<quint16>(1 + int(random.bounded(32)), quint16(8000 + random.bounded(8000)))); break;
        case 2: frame = nordax(quint8(random.bounded(256)), QVector<quint16>(12, quint16(random.bounded(65536)))); break;
        default:
            frame = spektrum(QVector<quint16>(7, spektrumWord(int(random.bounded(12)), int(random.bounded(2048)))));
            break;
        }
        planted << QStringLiteral("%1 OK").arg(stream.size());
        stream += frame;
        if (random.bounded(20) == 0 && random.bounded(2) == 0) {
            stream += mpxOf(9).left(1 + int(random.bounded(26)));
        } else if (random.bounded(20) == 0) {
            for (int n = 1 + int(random.bounded(6)); n > 0; --n)
                stream += char(random.bounded(256));
        }
    }
    QStringList good = assemble(stream, 1 + int(random.bounded(64)));
    good.erase(std::remove_if(good.begin(), good.end(), [](const QString &f) { return f.endsWith("FALSE"); }),
               good.end());
    QCOMPARE(good, planted);
}

// Damaged frames taken out of step must not let noise pass for frames: in
// seeded random bytes, frames with a failed CRC stay under one per MB
// (with chains of 4, about 0.2 per MB were measured).
void tst_FrameAssembler::randomBytesMakeFewFrames()
{
    constexpr int megabytes = 8;
    QRandomGenerator random(31);
    QByteArray noise(megabytes << 20, '\0');
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const QStringList frames = assemble(noise, 4096);
    const int damaged = int(std::count_if(frames.cbegin(), frames.cend(), [](const QString &f) {
        return f.endsWith(QLatin1String("FALSE"));
    }));
    QVERIFY2(damaged < megabytes, qPrintable(QStringLiteral("%1 damaged frames in %2 MB of noise").arg(damaged).arg(megabytes)));
}

void tst_FrameAssembler::falseFrameCostsNoRealOne_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("stray");

    const QByteArray c0 = frameOf("crsf", 100), c1 = frameOf("crsf", 900), c2 = frameOf("crsf", 1700);
    const QByteArray ee = falseCrsfBefore(0xEE, 13, 7, c1);
    QTest::newRow("false CRSF at 0xEE over the next, followed")
        << c0 + ee + c1 + c2 << QStringList{"0 crsf OK", "33 crsf OK", "59 crsf OK"} << 7;
    QTest::newRow("false CRSF at 0xEE over the last") << c0 + ee + c1 << QStringList{"0 crsf OK", "33 crsf OK"} << 7;
    QTest::newRow("false CRSF at 0xEE over one that noise follows")
        << c0 + ee + c1 + fromHex("55 55") + c2 << QStringList{"0 crsf OK", "33 crsf OK", "61 crsf OK"} << 9;
    const QByteArray c8 = falseCrsfBefore(0xC8, 20, 4, c1);
    QTest::newRow("false CRSF at 0xC8 over the next, followed")
        << c0 + c8 + c1 + c2 << QStringList{"0 crsf OK", "30 crsf OK", "56 crsf OK"} << 4;

    QByteArray ghosts;
    for (int i = 0; i < 5; ++i)
        ghosts += frameOf("ghst", 300 * i + 50, i);
    // From its start byte 0x00, four bytes before the first GHST frame,
    // over three of them and into the fourth.
    const QByteArray zero = falseCrsfBefore(0x00, 4 + 3 * 14 - 5, 4, ghosts);
    QStringList ghostsFound;
    for (int i = 0; i < 5; ++i)
        ghostsFound << QStringLiteral("%1 ghst OK").arg(4 + 14 * i);
    QTest::newRow("false CRSF over three GHST frames") << zero + ghosts << ghostsFound << 4;

    // The frame after the second is damaged, and 00 32 in the second starts
    // a CRSF frame that passes its CRC and ends where the sixth starts.
    // (Whole GHST frames inside it add nothing to its CRC: the search
    // varies a byte before it and the damage.)
    QVector<QByteArray> g;
    for (int i = 0; i < 6; ++i)
        g << frameOf("ghst", 200 * i + 70, i);
    const quint8 crc2 = quint8(g[2].at(13));
    g[1][4] = 0x00;
    g[1][5] = 50;
    for (int tries = 0; tries < 256 * 255; ++tries) {
        g[1][3] = char(tries & 0xFF);
        g[1][13] = char(crc8(g[1].mid(2, 11)));
        g[2][13] = char(crc2 ^ (1 + tries / 256));
        const QByteArray crsf = (g[1] + g[2] + g[3] + g[4]).mid(4, 52);
        if (crc8(crsf.mid(2, 49)) == quint8(crsf.at(51)))
            break;
    }
    QTest::newRow("false CRSF in a GHST frame that a damaged one follows")
        << g[0] + g[1] + g[2] + g[3] + g[4] + g[5]
        << QStringList{"0 ghst OK", "14 ghst OK", "28 ghst FALSE", "42 ghst OK", "56 ghst OK", "70 ghst OK"} << 0;

    // 00 02 00 00 passes as a CRSF frame (its CRC of 0x00 is 0x00) inside a
    // damaged frame that the stream's next frame follows.
    QByteArray holding = c1;
    holding.replace(8, 4, fromHex("00 02 00 00"));
    holding[holding.size() - 1] = char(crc8(holding.mid(2, holding.size() - 3)));
    holding[holding.size() - 1] = char(quint8(holding.at(holding.size() - 1)) ^ 0x01);
    QTest::newRow("CRSF that passes inside a damaged frame")
        << c0 + holding + c2 << QStringList{"0 crsf OK", "26 crsf FALSE", "52 crsf OK"} << 0;
}

// Of frames whose checks pass over the same bytes, the one another frame
// follows is taken, and for CRSF the one addressed 0xC8, however it is read.
void tst_FrameAssembler::falseFrameCostsNoRealOne()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, frames);
    QFETCH(int, stray);
    for (int readSize : {int(stream.size()), 1, 8, 13}) {
        qint64 strayBytes = -1;
        QCOMPARE(assembleEvery(stream, readSize, &strayBytes), frames);
        QCOMPARE(strayBytes, qint64(stray));
    }
}

// Frames of the families receivers send today, with noise between one in
// four, a third of it a false CRSF frame that reaches into the next frame:
// the good frames found are the good frames written.
void tst_FrameAssembler::noisyStreamOfEveryFamilyLosesNoGoodFrame()
{
    QRandomGenerator random(41);
    const char *const names[] = {"crsf", "crsf", "ghst", "srxl2", "ibus", "fport", "fport2"};
    QVector<QByteArray> frames;
    for (int i = 0; i < 20000; ++i) {
        const char *name = names[random.bounded(int(sizeof names / sizeof *names))];
        frames << frameOf(name, int(random.bounded(4096)), i);
        // CRSF's link statistics, sent beside the channels.
        if (i % 10 == 0)
            frames.last() = familyNamed(QStringLiteral("crsf"))->linkFrame(false);
    }
    QVector<bool> noiseBefore(frames.size() + 1);
    for (bool &noise : noiseBefore)
        noise = random.bounded(4) == 0;
    QByteArray stream;
    QStringList written;
    for (int i = 0; i < frames.size(); ++i) {
        if (noiseBefore[i] && random.bounded(3) == 0 && frames[i].size() > 6) {
            // 0xC8 as receivers send it only where a frame follows the one
            // it reaches into: against one that noise follows, nothing tells.
            const quint8 addresses[] = {0xC8, 0xEE, 0xEA, 0xEC, 0x00};
            const quint8 address = addresses[random.bounded(noiseBefore[i + 1] ? 1 : 0, 5)];
            const int lead = 3 + int(random.bounded(8));
            // bounded(int): Qt 6's qsizetype would pick bounded(qint64), which
            // draws otherwise and makes another stream than Qt 5 does.
            const QByteArray lie =
                falseCrsfBefore(address, lead + 3 + random.bounded(int(frames[i].size()) - 3), lead, frames[i]);
            QVERIFY(!lie.isEmpty());
            stream += lie;
        } else if (noiseBefore[i]) {
            for (int n = 1 + int(random.bounded(8)); n > 0; --n)
                stream += char(random.bounded(256));
        }
        written << QStringLiteral("%1 OK").arg(stream.size());
        stream += frames[i];
    }
    QStringList good = assembleEvery(stream, 1 + int(random.bounded(64)));
    good.erase(std::remove_if(good.begin(), good.end(), [](const QString &f) { return !f.endsWith(" OK"); }),
               good.end());
    for (QString &frame : good)
        frame = frame.section(' ', 0, 0) + " OK";
    QCOMPARE(good, written);
}

QTEST_APPLESS_MAIN(tst_FrameAssembler)
#include "tst_frameassembler.moc"
