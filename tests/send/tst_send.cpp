// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-send run as a user runs it: onto a pseudo-terminal at a rate,
// into a capture on standard output with failsafe and damage, replaying
// files, and with the mistakes people make on the command line. What it sent
// is read back with the project's frame assembler and decoders.
#include "decode/families/familyset.h"
#include "decode/families/familytable.h"
#include "decode/framing/frameassembler.h"
#include "decode/families/framereading.h"
#include "packets.h"
#include "pty.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <asm/termbits.h>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

class tst_Send : public QObject
{
    Q_OBJECT

private slots:
    void pacedOntoAPort_data();
    void pacedOntoAPort();
    void failsafeAndDamage_data();
    void failsafeAndDamage();
    void telemetryRepeatsUnderASeed_data();
    void telemetryRepeatsUnderASeed();
    void sweepMovesEveryChannelInTurn();
    void replayedCaptureIsSentUnchanged();
    void replayedRecordsKeepTheirTimes_data();
    void replayedRecordsKeepTheirTimes();
    void usageErrors_data();
    void usageErrors();
    void stopsPromptly_data();
    void stopsPromptly();
    void skipsFramesMissedInAStall();
    void noRateForFramesNobodyRead();
    void rateMaxSendsAtOnce_data();
    void rateMaxSendsAtOnce();
    void loopTakesAPeriod_data();
    void loopTakesAPeriod();
    void replayedText_data();
    void replayedText();
    void replaysAFileOver2GiB();
    void replaysASlowPipeWhole();
    void replayFindsItsFamily_data();
    void replayFindsItsFamily();

private:
    QTemporaryDir folder;
};

static QByteArray run(const QStringList &arguments, int *status = nullptr, QByteArray *errors = nullptr)
{
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), arguments);
    send.waitForFinished(30000);
    if (status)
        *status = send.exitStatus() == QProcess::NormalExit ? send.exitCode() : -1;
    if (errors)
        *errors = send.readAllStandardError();
    return send.readAllStandardOutput();
}

// The frames in a stream as linkscope-dump finds them; stray bytes counted.
static QVector<FrameReading> framesIn(const QByteArray &stream, QVector<QByteArray> *raw = nullptr,
                                      qint64 *stray = nullptr)
{
    FrameAssembler assembler;
    QVector<FrameReading> readings;
    QVector<AssembledFrame> frames = assembler.feed(stream);
    frames += assembler.flush();
    for (const AssembledFrame &frame : frames) {
        readings.append(FrameReading());
        readFrame(frame.bytes.constData(), frame.bytes.size(), readings.last());
        if (raw)
            raw->append(frame.bytes);
    }
    if (stray)
        *stray = assembler.strayBytes() + assembler.keptBytes();
    return readings;
}

static int summaryCount(const QByteArray &errors, const char *what)
{
    const QRegularExpression pattern(QStringLiteral("%1 (\\d+)").arg(QLatin1String(what)));
    return pattern.match(QString::fromUtf8(errors)).captured(1).toInt();
}

void tst_Send::pacedOntoAPort_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("stopWith"); // a signal sent once a frame is half through, or 0
    QTest::addColumn<int>("frames");   // -1: as many as came before the signal
    QTest::addColumn<double>("seconds"); // first to last frame, or -1
    QTest::addColumn<double>("rate");    // the rate the summary reports, or -1

    QTest::newRow("2 s at 200 Hz") << QStringList{"-f", "hott", "-r", "200", "-d", "2"} << 0 << 400 << 1.995 << 200.0;
    QTest::newRow("count at HOTT's 100 Hz") << QStringList{"-f", "hott", "-n", "30"} << 0 << 30 << 0.29 << 100.0;
    QTest::newRow("3 frames at 4 Hz") << QStringList{"-f", "mpx", "-r", "4", "-n", "3"} << 0 << 3 << 0.5 << 4.0;
    // The silence after failsafe is no slowness of the sender.
    QTest::newRow("silent after failsafe") << QStringList{"-f", "mpx", "-r", "100", "--failsafe-after", "0.3", "-d", "1"}
                                           << 0 << 30 << 0.29 << 100.0;
    const QStringList slowChunks{"-f", "mpx", "-r", "2", "--chunk", "4", "--chunk-gap", "60"};
    QTest::newRow("SIGTERM in a frame") << slowChunks << int(SIGTERM) << -1 << -1.0 << -1.0;
    QTest::newRow("SIGINT in a frame") << slowChunks << int(SIGINT) << -1 << -1.0 << -1.0;
}

void tst_Send::pacedOntoAPort()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, stopWith);
    QFETCH(int, frames);
    QFETCH(double, seconds);
    QFETCH(double, rate);

    PseudoTerminal pty;
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), arguments << pty.slavePath());
    QVERIFY(send.waitForStarted());
    QByteArray got, bytes;
    QElapsedTimer clock, deadline; // the clock runs from the first byte
    qint64 lastMs = 0;
    deadline.start();
    do {
        send.waitForFinished(0);
        bytes = pty.read(20);
        if (!bytes.isEmpty())
            lastMs = clock.isValid() ? clock.elapsed() : (clock.start(), 0);
        got += bytes;
        // Mid-frame: part of the second frame has come.
        if (stopWith && got.size() > 27 && got.size() % 27 != 0)
            ::kill(pid_t(send.processId()), std::exchange(stopWith, 0));
    } while ((send.state() != QProcess::NotRunning || !bytes.isEmpty()) && deadline.elapsed() < 20000);
    QCOMPARE(send.exitStatus(), QProcess::NormalExit);
    QCOMPARE(send.exitCode(), 0);

    qint64 stray = -1;
    const QVector<FrameReading> readings = framesIn(got, nullptr, &stray);
    QCOMPARE(stray, 0);
    for (const FrameReading &reading : readings)
        QVERIFY(reading.crcOk);
    const QByteArray summary = send.readAllStandardError();
    // A busy machine may hold the sender up: frames missed then are skipped.
    QCOMPARE(readings.size() + (frames >= 0 ? summaryCount(summary, "frames skipped:") : 0),
             frames >= 0 ? frames : summaryCount(summary, "frames sent:"));
    if (seconds >= 0)
        QVERIFY2(qAbs(lastMs / 1000.0 - seconds) < 0.25, qPrintable(QString::number(lastMs)));
    if (rate >= 0 && !summary.contains("frames skipped:")) {
        const QRegularExpression achieved(QStringLiteral("rate while sending: ([0-9.]+) frames/s"));
        const double reported = achieved.match(QString::fromUtf8(summary)).captured(1).toDouble();
        QVERIFY2(qAbs(reported / rate - 1) < 0.05, summary.constData());
    }
}

void tst_Send::telemetryRepeatsUnderASeed_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("kinds"); // of frames, sent in turn, 60 frames holding each
    QTest::newRow("CRSF") << "crsf" << 6;
    QTest::newRow("GHST") << "ghst" << 4;
    // FrSky's GPS sensor gives latitude and longitude in turn.
    QTest::newRow("SMARTPORT") << "smartport" << 15;
    QTest::newRow("IBUS_SENSOR") << "ibus-sensor" << 28; // type replies, then measurements
    QTest::newRow("FPORT") << "fport" << 15;
}

// --telemetry sends the other side's frames, each kind in turn, every one
// good; the same seed sends the same values, another seed others.
void tst_Send::telemetryRepeatsUnderASeed()
{
    QFETCH(QString, family);
    QFETCH(int, kinds);
    const QStringList arguments{"-f", family, "--telemetry", "-n", "60", "-r", "max", "-"};
    const QByteArray stream = run(QStringList{"--seed", "5"} + arguments);
    QCOMPARE(run(QStringList{"--seed", "5"} + arguments), stream);
    QVERIFY(run(QStringList{"--seed", "6"} + arguments) != stream);
    const FamilyDescriptor *row = familyNamed(family);
    const FamilySet set({row});
    FrameAssembler assembler(set);
    QVector<AssembledFrame> frames = assembler.feed(stream);
    frames += assembler.flush();
    QCOMPARE(frames.size(), 60);
    // A kind: its type, the names of its values and the sensors they name.
    QSet<QByteArray> seen;
    TelemetryMemory memory;
    FrameReading reading;
    reading.memory = &memory;
    for (const AssembledFrame &frame : frames) {
        row->read(frame.bytes.constData(), frame.bytes.size(), reading);
        QVERIFY2(reading.crcOk, frame.bytes.toHex().constData());
        QVERIFY(reading.telemetry.role != Telemetry::Poll);
        QByteArray kind = reading.type;
        for (int i = 0; i < reading.telemetry.size(); ++i) {
            const TelemetryValue &value = reading.telemetry.at(i);
            kind += QByteArray(" ") + value.name;
            if (value.kind == TelemetryValue::Code)
                kind += QByteArray::number(value.scaled);
        }
        seen.insert(kind);
    }
    QCOMPARE(seen.size(), kinds);
}

void tst_Send::failsafeAndDamage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("live");
    QTest::addColumn<int>("failsafe");
    QTest::addColumn<double>("damagedShare");

    const QStringList halfInFailsafe{"-r", "100", "-d", "1", "--failsafe-after", "0.5"};
    QTest::newRow("HOTT failsafe") << (QStringList{"-f", "hott"} + halfInFailsafe) << 50 << 50 << 0.0;
    QTest::newRow("SPEKTRUM failsafe") << (QStringList{"-f", "spektrum"} + halfInFailsafe) << 50 << 50 << 0.0;
    QTest::newRow("MPX falls silent") << (QStringList{"-f", "mpx"} + halfInFailsafe) << 50 << 0 << 0.0;
    QTest::newRow("HOTT with dropouts") << QStringList{"-f", "hott", "-r", "100", "-d", "3", "--dropout-every", "1",
                                                       "--dropout-for", "200"} << 260 << 0 << 0.0;
    const QStringList quarterDamaged{"-r", "2000", "-n", "800", "--corrupt", "0.25", "--seed", "11"};
    QTest::newRow("MPX_V2 damaged") << (QStringList{"-f", "mpx2"} + quarterDamaged) << -1 << 0 << 0.25;
    QTest::newRow("HOTT damaged") << (QStringList{"-f", "hott", "-c", "16"} + quarterDamaged) << -1 << 0 << 0.25;
}

void tst_Send::failsafeAndDamage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, live);
    QFETCH(int, failsafe);
    QFETCH(double, damagedShare);

    int status = -1;
    QByteArray errors;
    QElapsedTimer clock;
    clock.start();
    const QByteArray stream = run(arguments << "-", &status, &errors);
    QCOMPARE(status, 0);
    // A receiver fallen silent is still silent when the run ends.
    QVERIFY(clock.elapsed() >= 1000 || !arguments.contains("-d"));

    QVector<QByteArray> raw;
    qint64 stray = 0;
    const QVector<FrameReading> readings = framesIn(stream, &raw, &stray);
    int gotLive = 0, gotFailsafe = 0, gotDamaged = 0;
    // Damaged frames may come first: they are found too, so the intact
    // frame to compare with is the first whose CRC matches.
    int intact = 0;
    while (intact < readings.size() - 1 && !readings[intact].crcOk)
        ++intact;
    for (int i = 0; i < readings.size(); ++i) {
        if (!readings[i].crcOk) {
            ++gotDamaged;
            // One bit flipped, after the type byte, against an intact frame.
            int bits = 0;
            for (int k = 0; k < raw[i].size(); ++k)
                bits += qPopulationCount(quint8(raw[i][k] ^ raw[intact][k]));
            QCOMPARE(bits, 1);
            QCOMPARE(raw[i][0], raw[intact][0]);
        } else if (readings[i].failsafe == 1) {
            ++gotFailsafe;
        } else {
            // Failsafe lasts until the end.
            QCOMPARE(gotFailsafe, 0);
            ++gotLive;
        }
    }
    // Frames missed while the machine held the sender up are skipped.
    const int skipped = summaryCount(errors, "frames skipped:");
    if (live >= 0) {
        QVERIFY(gotLive <= live && gotFailsafe <= failsafe);
        QCOMPARE(gotLive + gotFailsafe + skipped, live + failsafe);
    }
    // Only a damaged first frame cannot be told from noise: it is stray.
    const int undetected = int(stray / raw.first().size());
    QCOMPARE(stray % raw.first().size(), 0);
    QVERIFY(undetected <= 1);
    QCOMPARE(gotDamaged + undetected, summaryCount(errors, "damaged"));
    const double share = double(gotDamaged + undetected) / (readings.size() + undetected);
    QVERIFY2(qAbs(share - damagedShare) < 0.05, qPrintable(QString::number(share)));
}

void tst_Send::sweepMovesEveryChannelInTurn()
{
    // HOTT's 100 Hz, unpaced: no frame skipped on a busy machine.
    const QVector<FrameReading> readings = framesIn(run({"-f", "hott", "-c", "3", "--sweep=1", "-r", "max", "-n", "100",
                                                         "-q", "-"}));
    QCOMPARE(readings.size(), 100);
    QVector<int> peakAt(3, 0);
    for (int channel = 0; channel < 3; ++channel) {
        int lowest = 2000;
        for (int i = 1; i < readings.size(); ++i) {
            const int us = readings[i].us[channel];
            lowest = qMin(lowest, us);
            peakAt[channel] = us > readings[peakAt[channel]].us[channel] ? i : peakAt[channel];
            // 1000 µs each half second is 20 µs a frame.
            QVERIFY(us >= 1000 && us <= 2000 && qAbs(us - readings[i - 1].us[channel]) <= 21);
        }
        QVERIFY(lowest <= 1020 && readings[peakAt[channel]].us[channel] >= 1980);
    }
    // Each channel a 16th of the second behind the one before.
    QVERIFY(qAbs(peakAt[1] - peakAt[0] - 6) <= 1 && qAbs(peakAt[2] - peakAt[1] - 6) <= 1);
}

void tst_Send::replayedCaptureIsSentUnchanged()
{
    QFile capture(folder.filePath("capture.bin"));
    const QByteArray noise = packets::fromHex("00 13 A8 01 FF 55");
    const QByteArray hott = packets::hott({12000, 8800});
    // A damaged frame counts where it follows a frame straight on.
    // Spektrum tells failsafe by a clear bit 1 of its mode byte.
    const QByteArray spektrumFailsafe = packets::spektrum(QVector<quint16>(7, packets::spektrumWord(0, 1024)), 0x00);
    const QByteArray stream = noise + hott + packets::corrupted(hott) + "zz" + hott + spektrumFailsafe + noise;
    QVERIFY(capture.open(QIODevice::WriteOnly) && capture.write(stream) == stream.size());
    capture.close();

    int status = -1;
    QByteArray errors;
    QCOMPARE(run({"--replay", capture.fileName(), "-r", "1000", "-"}, &status, &errors), stream);
    QCOMPARE(status, 0);
    QVERIFY2(errors.contains("frames sent: 4 (live 2, failsafe 1, damaged 1)"), errors.constData());
    // Looped and counted by the piece: each frame with the stray bytes
    // before it, and the bytes after the last frame.
    QCOMPARE(run({"--replay", capture.fileName(), "-r", "1000", "--loop", "-n", "6", "-q", "-"}),
             stream + stream.left(noise.size() + hott.size()));
}

void tst_Send::replayedRecordsKeepTheirTimes_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QVector<qint64>>("expected"); // ms after the first
    const QByteArray frame = packets::hott({12000});
    // At 0.5, 0.9 and 1.7 s, then one without a time, sent at --rate.
    QByteArray jsonl;
    for (const char *t : {"0.5", "0.9", "1.7", "null"})
        jsonl += "{\"t\":" + QByteArray(t) + ",\"raw\":\"" + frame.toHex() + "\"}\n";
    QTest::newRow("jsonl") << jsonl << QVector<qint64>{0, 200, 600, 800};
    // A record without a time keeps the timed ones after it at their times.
    QByteArray mixed;
    for (const char *t : {"0.5", "null", "1.7", "1.9"})
        mixed += "{\"t\":" + QByteArray(t) + ",\"raw\":\"" + frame.toHex() + "\"}\n";
    QTest::newRow("jsonl, a record without a time among them") << mixed << QVector<qint64>{0, 200, 600, 700};
    // A recording of two sources: one wire's frames, the first source's.
    QByteArray two;
    for (const char *t : {"0.5", "0.6", "0.9", "1.0", "1.7", "1.9"}) {
        const bool first = QByteArray(t) != "0.6" && QByteArray(t) != "1.0";
        two += "{\"src\":\"" + QByteArray(first ? "rx" : "fc") + "\",\"t\":" + QByteArray(t) + ",\"raw\":\""
               + (first ? frame : packets::hott({13000})).toHex() + "\"}\n";
    }
    QTest::newRow("jsonl of two sources") << two << QVector<qint64>{0, 200, 600, 700};
    // A logic analyser's export has every byte's time: the last at 2.1 s.
    QByteArray csv = "Time [s],Value,Parity Error,Framing Error\r\n";
    for (double t : {0.5, 0.9, 1.7, 2.1}) {
        for (int i = 0; i < frame.size(); ++i)
            csv += QByteArray::number(t + i * 10 / 115200.0, 'f', 9) + ",0x" + frame.mid(i, 1).toHex() + ",,\r\n";
    }
    QTest::newRow("Saleae CSV") << csv << QVector<qint64>{0, 200, 600, 800};
}

void tst_Send::replayedRecordsKeepTheirTimes()
{
    QFETCH(QByteArray, contents);
    QFETCH(QVector<qint64>, expected);
    QFile records(folder.filePath("session"));
    QVERIFY(records.open(QIODevice::WriteOnly) && records.write(contents) == contents.size());
    records.close();
    const QByteArray frame = packets::hott({12000});

    PseudoTerminal pty;
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), {"--replay", records.fileName(), "--speed", "2", "-r", "5",
                                                pty.slavePath()});
    QVERIFY(send.waitForStarted());
    QElapsedTimer clock;
    QVector<qint64> arrivals;
    QByteArray got;
    while (arrivals.size() < 4 && (!clock.isValid() || clock.elapsed() < 10000)) {
        const QByteArray bytes = pty.read(5000);
        QVERIFY(!bytes.isEmpty());
        if (!clock.isValid())
            clock.start();
        for (int i = 0; i < bytes.size(); i += frame.size())
            arrivals << clock.elapsed();
        got += bytes;
    }
    QVERIFY(send.waitForFinished());
    QCOMPARE(got, frame.repeated(4));
    for (int i = 0; i < 4; ++i)
        QVERIFY2(qAbs(arrivals[i] - expected[i]) < 80, qPrintable(QString::number(arrivals[i])));
}

void tst_Send::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");

    const QStringList mpx{"-f", "mpx", "-"};
    QTest::newRow("no target") << QStringList{"-f", "mpx"} << 2 << "no target";
    QTest::newRow("empty target") << QStringList{"-f", "mpx", ""} << 2 << "the target is empty";
    QTest::newRow("no family") << QStringList{"-"} << 2 << "give --family";
    QTest::newRow("unknown family") << QStringList{"-f", "xbux", "-"} << 2 << "unknown family 'xbux'";
    QTest::newRow("ST24 us above its range") << QStringList{"-f", "st24", "--us", "1500,2000", "-"} << 2
                                             << "channel 2: 2000 µs lies outside ST24's range, 999 to 1999 µs";
    QTest::newRow("answer with values") << QStringList{"--answer", "-f", "exbus", "--us", "1500", "-"} << 2
                                        << "--us shapes what a receiver sends; --answer only answers its polls";
    QTest::newRow("answer onto standard output") << QStringList{"--answer", "-f", "exbus", "-"} << 2
                                                 << "--answer listens on a serial port and answers there";
    QTest::newRow("answer a family without polls") << QStringList{"--answer", "-f", "crsf", "/dev/null"} << 2
                                                   << "CRSF has no polls to answer; --answer answers fport, exbus, smartport, ibus-sensor";
    QTest::newRow("answer without a family") << QStringList{"--answer", "/dev/null"} << 2
                                             << "--answer needs --family";
    QTest::newRow("CRSF us below its range") << QStringList{"-f", "crsf", "--us", "879", "-"} << 2
                                             << "channel 1: 879 µs lies outside CRSF's range, 880 to 2159 µs";
    QTest::newRow("GHST aux above its range") << QStringList{"-f", "ghst", "--us", "1500,1500,1500,1500,2011", "-"}
                                              << 2 << "channel 5: 2011 µs lies outside GHST's range, 988 to 2008 µs";
    QTest::newRow("GHST aux wire above 8 bits") << QStringList{"-f", "ghst", "--wire", "4095,1,1,1,256", "-"} << 2
                                                << "channel 5: 256 lies outside GHST's range, 0 to 255";
    QTest::newRow("IBUS 19 channels") << QStringList{"-f", "ibus", "-c", "19", "-"} << 2 << "lies outside 1 to 18";
    QTest::newRow("FPORT's channels are fixed") << QStringList{"-f", "fport", "-c", "8", "-"} << 2
                                                << "FPORT always carries 16 channels";
    QTest::newRow("bad line settings") << QStringList{"-f", "crsf", "--line", "8N", "-"} << 2
                                       << "--line takes data bits 5-8";
    QTest::newRow("us out of range") << (mpx + QStringList{"--us", "1500,2200"}) << 2
                                     << "channel 2: 2200 µs lies outside MPX's range, 800 to 2199 µs";
    QTest::newRow("SPEKTRUM channel 1 at 916")
        << QStringList{"-f", "SPEKTRUM", "--us", "916", "-"} << 2
        << "channel 1: 916 µs lies outside SPEKTRUM's range, 917";
    QTest::newRow("us with NORDAX") << QStringList{"-f", "nordax", "--us", "1500", "-"} << 2
                                    << "give its words with --wire";
    QTest::newRow("too many values") << (mpx + QStringList{"--us", QString("1500,").repeated(12) + "1500"}) << 2
                                     << "MPX carries 12 channels; 13 values given";
    QTest::newRow("not a number") << (mpx + QStringList{"--us", "15OO"}) << 2 << "channel 1: '15OO' is no whole number";
    QTest::newRow("channels of MPX") << (mpx + QStringList{"-c", "8"}) << 2 << "MPX always carries 12 channels";
    QTest::newRow("channels of SmartPort") << QStringList{"-f", "smartport", "-c", "3", "-"} << 2
                                           << "SMARTPORT carries no channels";
    QTest::newRow("us of the iBUS sensor bus") << QStringList{"-f", "ibus-sensor", "--us", "1500", "-"} << 2
                                               << "IBUS_SENSOR carries no channels";
    QTest::newRow("rate inf") << (mpx + QStringList{"-r", "inf"}) << 2 << "--rate takes a number";
    QTest::newRow("rate 0") << (mpx + QStringList{"-r", "0"}) << 2 << "--rate 0 lies outside 0.001 to 1,000,000";
    QTest::newRow("negative duration") << (mpx + QStringList{"-d", "-1"}) << 2 << "--duration -1 must be more than 0";
    QTest::newRow("duration past a timer") << (mpx + QStringList{"-d", "1e300"}) << 2 << "at most 10,000,000 seconds";
    QTest::newRow("duration in words") << (mpx + QStringList{"-d", "soon"}) << 2
                                       << "--duration takes a number of seconds, not 'soon'";
    QTest::newRow("dropout past a timer") << (mpx + QStringList{"--dropout-every", "1", "--dropout-for", "1e11"}) << 2
                                          << "at most 10,000,000,000 ms";
    QTest::newRow("sweep no one could mean") << (mpx + QStringList{"--sweep=1e-300"}) << 2
                                             << "--sweep 1e-300 lies outside 0.01 to 10,000,000 seconds";
    QTest::newRow("pieces of one byte") << QStringList{"-f", "hott", "-n", "1", "--chunk", "1", "--chunk-gap", "20", "-"}
                                        << 0 << "pieces of 1 byte 20 ms apart";
    QTest::newRow("help-all") << QStringList{"--help-all"} << 0 << "--replay <file>";
    QTest::newRow("count 0") << (mpx + QStringList{"-n", "0"}) << 2 << "--count 0 lies outside 1";
    QTest::newRow("share above 1") << (mpx + QStringList{"--corrupt", "1.5"}) << 2 << "0 to 1";
    QTest::newRow("gap without chunks") << (mpx + QStringList{"--chunk-gap", "5"}) << 2 << "--chunk-gap needs --chunk";
    QTest::newRow("dropout as long as the cycle")
        << (mpx + QStringList{"--dropout-every", "1", "--dropout-for", "1000"}) << 2 << "leaves no time to send";
    QTest::newRow("sweep with values") << (mpx + QStringList{"--sweep", "--us", "1500"}) << 2 << "--sweep sets every";
    QTest::newRow("sweep of 0 s") << (mpx + QStringList{"--sweep=0"}) << 2 << "--sweep 0 lies outside 0.01";
    QTest::newRow("replay in an unknown form") << QStringList{"--replay", "x", "--input", "pcap", "-"} << 2
                                               << "unknown input form 'pcap'";
    QTest::newRow("replay without a name") << QStringList{"--replay", "", "-"} << 2 << "--replay needs a file name";
    // --family names what a replayed capture holds.
    QTest::newRow("replay with an unknown family") << QStringList{"--replay", "x", "-f", "sbux", "-"} << 2
                                                   << "unknown family 'sbux'";
    QTest::newRow("replay with families that read the same bytes")
        << QStringList{"--replay", "x", "-f", "xbus,mpx", "-"} << 2
        << "xbus and mpx cannot be looked for together: their frames are the same bytes";
    QTest::newRow("replay with families at two lines") << QStringList{"--replay", "x", "-f", "crsf,ibus", "-"} << 2
                                                       << "run at different line settings";
    QTest::newRow("missing port") << QStringList{"-f", "mpx", "/dev/linkscope-no-such-port"} << 1
                                  << "cannot open /dev/linkscope-no-such-port: No such file or directory "
                                     "(linkscope-dump --list-ports lists the ports present)";
    QTest::newRow("missing port by its bare name") << QStringList{"-f", "mpx", "ttylinkscope-no-such-port"} << 1
                                                   << "cannot open ttylinkscope-no-such-port: No such file or directory "
                                                      "(linkscope-dump --list-ports lists the ports present)";
    QTest::newRow("missing file by its bare name") << QStringList{"-f", "mpx", "nonexist.bin"} << 1
                                                   << "cannot open nonexist.bin: No such file or directory\n";
    QTest::newRow("a file for a port") << QStringList{"-f", "mpx", QStringLiteral(LINKSCOPE_SEND)} << 1
                                       << "it is a file, not a serial port";
    QTest::newRow("missing replay") << QStringList{"--replay", "/nonexistent.bin", "-"} << 1
                                    << "cannot read /nonexistent.bin";
}

void tst_Send::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    int got = -1;
    QByteArray errors;
    const QByteArray out = run(arguments, &got, &errors);
    QVERIFY(out.isEmpty() || status == 0);
    QCOMPARE(got, status);
    QVERIFY2(QString::fromUtf8(out + errors).contains(said), errors.constData());
}

// linkscope-send started with its output and standard error where asked,
// killed when the test leaves it behind.
class Spawned
{
public:
    Spawned(const QStringList &arguments, int out, int errors)
    {
        QVector<QByteArray> words{LINKSCOPE_SEND};
        for (const QString &argument : arguments)
            words << argument.toLocal8Bit();
        QVector<char *> argv;
        for (QByteArray &word : words)
            argv << word.data();
        argv << nullptr;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errors, STDERR_FILENO);
        if (posix_spawn(&pid, LINKSCOPE_SEND, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Spawned()
    {
        if (pid > 0 && !ended()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    }
    bool ended()
    {
        return done || (done = ::waitpid(pid, &status, WNOHANG) == pid);
    }
    // Once its stop signals are caught, as /proc tells.
    bool catchesStopSignals() const
    {
        QFile file(QStringLiteral("/proc/%1/status").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QRegularExpression caught(QStringLiteral("SigCgt:\\s*([0-9a-f]+)"));
        const quint64 mask = caught.match(QString::fromLatin1(file.readAll())).captured(1).toULongLong(nullptr, 16);
        return mask & (quint64(1) << (SIGTERM - 1));
    }

    pid_t pid = -1;
    int status = 0;
    bool done = false;
};

void tst_Send::stopsPromptly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("unreadPipe"); // else /dev/null, which takes all at once
    QTest::addColumn<bool>("readerCloses"); // the pipe's reader goes away, where no signal comes

    QFile capture(folder.filePath("stop.bin"));
    QVERIFY(capture.open(QIODevice::WriteOnly));
    capture.write(packets::hott({12000}).repeated(50));
    capture.close();
    const QStringList behind{"-r", "1000000", "-"};
    QTest::newRow("behind schedule") << (QStringList{"-f", "hott"} + behind) << false << false;
    QTest::newRow("looping replay behind schedule") << (QStringList{"--replay", capture.fileName(), "--loop"} + behind)
                                                    << false << false;
    QTest::newRow("into a pipe nobody reads") << (QStringList{"-f", "hott"} + behind) << true << false;
    QTest::newRow("into a pipe its reader closes") << (QStringList{"-f", "hott"} + behind) << true << true;
}

void tst_Send::stopsPromptly()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, unreadPipe);
    QFETCH(bool, readerCloses);

    int ends[2] = {-1, -1};
    if (unreadPipe)
        QVERIFY(::pipe2(ends, O_CLOEXEC) == 0); // the child holds no read end of its own
    else
        ends[1] = ::open("/dev/null", O_WRONLY);
    QTemporaryFile errors;
    QVERIFY(errors.open());
    Spawned send(arguments, ends[1], int(errors.handle()));
    ::close(ends[1]);
    QVERIFY(send.pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(send.catchesStopSignals(), 10000);
    int waiting = 0;
    // Behind its schedule from the first frame on; or blocked on a full pipe.
    QTRY_VERIFY_WITH_TIMEOUT(!unreadPipe || (::ioctl(ends[0], FIONREAD, &waiting) == 0 && waiting >= 60000), 10000);

    QElapsedTimer sinceStop;
    sinceStop.start();
    if (readerCloses)
        ::close(ends[0]);
    else
        ::kill(send.pid, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(send.ended(), 10000);
    // 100 ms is the aim; a busy machine gets a generous margin.
    QVERIFY2(sinceStop.elapsed() < 2000, qPrintable(QString::number(sinceStop.elapsed())));
    if (unreadPipe && !readerCloses)
        ::close(ends[0]);
    QVERIFY(WIFEXITED(send.status));
    QCOMPARE(WEXITSTATUS(send.status), 0);
    // The child moved the offset both share.
    QVERIFY(errors.seek(0));
    const QByteArray summary = errors.readAll();
    QVERIFY2(summary.contains("frames sent: "), summary.constData());
}

void tst_Send::skipsFramesMissedInAStall()
{
    const int out = ::open("/dev/null", O_WRONLY);
    QTemporaryFile errors;
    QVERIFY(errors.open());
    Spawned send({"-f", "hott", "-r", "100", "-d", "3", "-"}, out, int(errors.handle()));
    ::close(out);
    QTRY_VERIFY_WITH_TIMEOUT(send.catchesStopSignals(), 10000);
    ::kill(send.pid, SIGSTOP);
    QTest::qWait(1000); // the stall itself
    ::kill(send.pid, SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(send.ended(), 20000);
    QVERIFY(WIFEXITED(send.status) && WEXITSTATUS(send.status) == 0);
    // The child moved the offset both share.
    QVERIFY(errors.seek(0));
    const QByteArray summary = errors.readAll();
    const int sent = summaryCount(summary, "frames sent:");
    const int skipped = summaryCount(summary, "frames skipped:");
    // A second's frames fell due in the stall: skipped, not sent in a burst.
    QVERIFY2(skipped >= 60 && sent <= 240, summary.constData());
    QCOMPARE(sent + skipped, 300);
}

// Into a pseudo-terminal nobody reads, the frames go into its buffer until
// it is full: no rate is told for them, only that they may not have been read.
void tst_Send::noRateForFramesNobodyRead()
{
    PseudoTerminal pty;
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), {"-f", "crsf", "--rate", "max", pty.slavePath()});
    QVERIFY(send.waitForStarted());
    // Full once the sender, which at --rate max sleeps only while the line
    // takes nothing, sleeps and has written nothing more over several looks:
    // a pseudo-terminal holds up a writer for a moment now and then.
    const auto proc = [&](const char *file) {
        QFile entry(QStringLiteral("/proc/%1/%2").arg(send.processId()).arg(QLatin1String(file)));
        return entry.open(QIODevice::ReadOnly) ? entry.readAll() : QByteArray();
    };
    QByteArray before;
    int still = 0;
    const auto full = [&] {
        const QByteArray stat = proc("stat");
        const bool sleeping = stat.mid(stat.lastIndexOf(')') + 2, 1) == "S";
        const QByteArray io = proc("io");
        const QByteArray written = io.mid(io.indexOf("wchar:")).split('\n').first();
        still = sleeping && !written.isEmpty() && written == before ? still + 1 : 0;
        before = written;
        return still >= 6;
    };
    QTRY_VERIFY_WITH_TIMEOUT(full(), 10000);
    ::kill(pid_t(send.processId()), SIGTERM);
    QVERIFY(send.waitForFinished(10000));
    QCOMPARE(send.exitCode(), 0);
    const QByteArray summary = send.readAllStandardError();
    QVERIFY2(summary.contains("rate while sending: not known: the line took nothing for the last")
                 && summary.contains("may not have been read"),
             summary.constData());
    QVERIFY2(!summary.contains("frames/s"), summary.constData());
}

void tst_Send::rateMaxSendsAtOnce_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray frames = packets::hott({12000}).repeated(1000);
    QFile capture(folder.filePath("thousand.bin"));
    QVERIFY(capture.open(QIODevice::WriteOnly) && capture.write(frames) == frames.size());
    capture.close();
    QTest::newRow("generated") << QStringList{"-f", "hott", "-c", "1", "--us", "1500", "-n", "1000"} << frames;
    QTest::newRow("replayed") << QStringList{"--replay", capture.fileName()} << frames;
}

void tst_Send::rateMaxSendsAtOnce()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);
    QElapsedTimer clock;
    clock.start();
    int status = -1;
    QCOMPARE(run(arguments << "--rate" << "max" << "-q" << "-", &status), expected);
    QCOMPARE(status, 0);
    // Paced, these are 10 s.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

void tst_Send::loopTakesAPeriod_data()
{
    QTest::addColumn<int>("records"); // all at one t
    QTest::newRow("one record") << 1;
    QTest::newRow("frames read in one go") << 3;
}

void tst_Send::loopTakesAPeriod()
{
    QFETCH(int, records);
    const QByteArray frame = packets::hott({12000});
    QFile file(folder.filePath("same-t.jsonl"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < records; ++i)
        file.write("{\"t\":1.5,\"raw\":\"" + frame.toHex() + "\"}\n");
    file.close();
    int status = -1;
    const QByteArray stream = run({"--replay", file.fileName(), "--loop", "-r", "100", "-d", "0.5", "-q", "-"}, &status);
    QCOMPARE(status, 0);
    // Back to back within a pass, a period from one pass to the next.
    const int passes = stream.size() / frame.size() / records;
    QVERIFY2(passes >= 1 && passes <= 51, qPrintable(QString::number(passes)));
}

void tst_Send::replayedText_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("piped"); // through standard input, as --replay -
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("said");
    const QByteArray frame = packets::hott({12000});
    const QByteArray record = "{\"t\":0.1,\"raw\":\"" + frame.toHex() + "\"}\n";
    QTest::newRow("jsonl after a blank line") << "\n" + record << false << 0 << frame << "frames sent: 1";
    QTest::newRow("jsonl broken on line 3") << "\n" + record + "{\"t\":0.2,\"raw\":\"a8\n" << false << 1 << QByteArray()
                                            << "line 3: ";
    QTest::newRow("text in no form") << QByteArray("hello\nworld\n") << false << 1 << QByteArray()
                                     << "line 1: \"hello\" is text, but neither";
    QTest::newRow("empty file") << QByteArray() << false << 1 << QByteArray() << "holds nothing to send";
    QTest::newRow("empty pipe") << QByteArray() << true << 1 << QByteArray()
                                << "standard input holds nothing to send";
    QTest::newRow("jsonl piped") << record << true << 0 << frame << "frames sent: 1";
    const QByteArray backwards("Time [s],Value,Parity Error,Framing Error\n0.1,0x01,,\n0.05,0x02,,\n0.2,0x03,,\n");
    const QString warned = "line 3: time 0.050000000 s is before the row before it (0.100000000 s)";
    QTest::newRow("CSV times backwards") << backwards << false << 0 << QByteArray("\x01\x02\x03")
                                         << "text: " + warned;
    QTest::newRow("CSV times backwards piped") << backwards << true << 0 << QByteArray("\x01\x02\x03")
                                               << "standard input: " + warned;
}

void tst_Send::replayedText()
{
    QFETCH(QByteArray, contents);
    QFETCH(bool, piped);
    QFETCH(int, status);
    QFETCH(QByteArray, sent);
    QFETCH(QString, said);
    QFile file(folder.filePath("text"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();
    QProcess send;
    if (piped)
        send.setStandardInputFile(file.fileName());
    send.start(QStringLiteral(LINKSCOPE_SEND), {"--replay", piped ? "-" : file.fileName(), "-"});
    QVERIFY(send.waitForFinished(30000));
    QCOMPARE(send.readAllStandardOutput(), sent);
    QCOMPARE(send.exitCode(), status);
    const QByteArray errors = send.readAllStandardError();
    QVERIFY2(QString::fromUtf8(errors).contains(said), errors.constData());
    // Once, though a file is read through before it is sent.
    QCOMPARE(QString::fromUtf8(errors).count(said), 1);
}

void tst_Send::replaysAFileOver2GiB()
{
    // Sparse: no disk and no time to make.
    QFile big(folder.filePath("big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    if (::ftruncate(big.handle(), (qint64(1) << 31) + 100) != 0)
        QSKIP("no sparse file of 2 GiB here");
    big.close();
    int status = -1;
    QByteArray errors;
    const QByteArray stream = run({"--replay", big.fileName(), "-r", "1000000", "-n", "3", "-"}, &status, &errors);
    QCOMPARE(status, 0);
    // Bytes no frame can use go in bounded pieces, the first at once.
    QCOMPARE(stream, QByteArray(3 << 16, '\0'));
    QVERIFY2(errors.contains("pieces sent: 3,"), errors.constData());
}

void tst_Send::replaysASlowPipeWhole()
{
    const int records = 2000;
    QFile file(folder.filePath("slow.jsonl"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < records; ++i)
        file.write("{\"t\":" + QByteArray::number(i * 0.0005) + ",\"raw\":\"" + packets::hott({12000}).toHex() + "\"}\n");
    file.close();
    // A slow writer: the last quarter comes after its records fell due.
    QProcess writer, send;
    writer.setStandardOutputProcess(&send);
    writer.start(QStringLiteral("sh"), {"-c", "head -n 1500 \"$0\"; sleep 1; tail -n +1501 \"$0\"", file.fileName()});
    send.start(QStringLiteral(LINKSCOPE_SEND), {"--replay", "-", "-"});
    QVERIFY(send.waitForFinished(30000));
    QCOMPARE(send.exitCode(), 0);
    const QByteArray errors = send.readAllStandardError();
    QCOMPARE(framesIn(send.readAllStandardOutput()).size(), records);
    QVERIFY2(!errors.contains("late"), errors.constData());
    QVERIFY(writer.waitForFinished(10000));
}

void tst_Send::replayFindsItsFamily_data()
{
    QTest::addColumn<QByteArray>("capture");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("target"); // "-", "pipe" (- fed from the file), or "port"
    QTest::addColumn<QStringList>("said");
    const FamilyDescriptor *crsf = familyNamed("crsf");
    QByteArray frames;
    for (int f = 0; f < 20; ++f) {
        FrameRequest request;
        request.wire = QVector<int>(16, 172 + 50 * f);
        frames += f % 10 == 9 ? crsf->linkFrame(false) : crsf->encode(request);
    }
    const QStringList sentAsFrames{"frames sent: 20 (live 20", "pieces sent: 20, stray bytes among them: 0"};
    QTest::newRow("CRSF") << frames << QStringList{} << "-"
                          << QStringList{"found CRSF at offset 0 of " + folder.filePath("replayed")} + sentAsFrames;
    QTest::newRow("CRSF piped") << frames << QStringList{"-f", "auto"} << "pipe"
                                << QStringList{"found CRSF at offset 0 of standard input"} + sentAsFrames;
    // Slow enough to see the line's settings while it sends.
    QTest::newRow("CRSF onto a port at its line") << frames << QStringList{"-r", "50"} << "port"
                                                  << QStringList{"; sending at 420000 8N1"} + sentAsFrames;
    // Named wrong: one piece, no frames, and the way out.
    QTest::newRow("CRSF named HOTT") << frames << QStringList{"-f", "hott"} << "-"
                                     << QStringList{"frames sent: 0 (", "pieces sent: 1,",
                                                    "no frames of HOTT in " + QString::number(frames.size())
                                                        + " bytes of " + folder.filePath("replayed")
                                                        + "; --family auto finds which family they are"};
    QRandomGenerator random(15);
    QByteArray noise(1 << 16, Qt::Uninitialized);
    for (char &byte : noise)
        byte = char(random.bounded(256));
    QTest::newRow("random bytes") << noise << QStringList{} << "-"
                                  << QStringList{"no family found in 65536 bytes of " + folder.filePath("replayed"),
                                                 "frames sent: 0 ("};
}

// A raw capture replayed without a family goes frame by frame as the
// family linkscope-dump --family auto finds, at its line settings, and the
// summary counts what went as frames.
void tst_Send::replayFindsItsFamily()
{
    QFETCH(QByteArray, capture);
    QFETCH(QStringList, arguments);
    QFETCH(QString, target);
    QFETCH(QStringList, said);
    QFile file(folder.filePath("replayed"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(capture) == capture.size());
    file.close();
    PseudoTerminal pty;
    QProcess send;
    if (target == QLatin1String("pipe"))
        send.setStandardInputFile(file.fileName());
    if (!arguments.contains("-r"))
        arguments << "-r" << "1000";
    send.start(QStringLiteral(LINKSCOPE_SEND),
               arguments << "--replay" << (target == QLatin1String("pipe") ? "-" : file.fileName())
                         << (target == QLatin1String("port") ? pty.slavePath() : "-"));
    QByteArray sent;
    // The port's settings are put back as it closes.
    int fastest = 0;
    const auto sending = [&] {
        struct termios2 settings;
        if (::ioctl(pty.slaveFd(), TCGETS2, &settings) == 0)
            fastest = qMax(fastest, int(settings.c_ospeed));
        sent += target == QLatin1String("port") ? pty.read() : send.readAllStandardOutput();
        return send.state() == QProcess::NotRunning;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sending(), 20000);
    sent += target == QLatin1String("port") ? pty.read() : send.readAllStandardOutput();
    QCOMPARE(send.exitCode(), 0);
    QCOMPARE(sent, capture);
    const QString errors = QString::fromUtf8(send.readAllStandardError());
    for (const QString &part : said)
        QVERIFY2(errors.contains(part), qPrintable(errors));
    if (target == QLatin1String("port"))
        QCOMPARE(fastest, 420000);
}

QTEST_GUILESS_MAIN(tst_Send)
#include "tst_send.moc"
