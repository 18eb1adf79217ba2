// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump run as a user runs it: on a capture file, on a live port
// while recording, and with the mistakes people make on the command line.
#include "decode/families/familytable.h"
#include "decode/families/packing.h"
#include "packets.h"
#include "pty.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace packets;

class tst_Dump : public QObject
{
    Q_OBJECT

private slots:
    void captureFileGivesOneRecordPerFrame();
    void csvExportKeepsByteTimes();
    void twoAnalysersInOneExport_data();
    void twoAnalysersInOneExport();
    void liveRunRecordsWhatArrived();
    void twoPortsInOneTimeline();
    void portOpenedOnlyToRead();
    void slowReaderCostsNoByte();
    void bytesBeforeSetUpAreDropped();
    void channelsPickColumns_data();
    void channelsPickColumns();
    void capturesKeepEveryFrame_data();
    void capturesKeepEveryFrame();
    void rawPipeDecodedAsItComes();
    void summaryOutlivesClosedOutput();
    void stopsQuietly_data();
    void stopsQuietly();
    void stopsWhileOutputIsBlocked();
    void errorExits_data();
    void errorExits();
    void familyFields_data();
    void familyFields();
    void recordsSayWhatFramesLack_data();
    void recordsSayWhatFramesLack();
    void autoOnCapture_data();
    void autoOnCapture();
    void pollsAndReplies_data();
    void pollsAndReplies();
    void cleanupTestCase();

private:
    QTemporaryDir folder;
    QByteArray latin1Name;
    std::unique_ptr<PseudoTerminal> terminal; // a standard output that is a terminal
    PseudoTerminal port; // a port for the families to disagree on
};

// shellTail: words a shell adds after the arguments, such as redirections.
static QByteArray run(const QStringList &arguments, int *status = nullptr, QByteArray *errors = nullptr,
                      const QString &shellTail = QString())
{
    QProcess dump;
    if (shellTail.isEmpty())
        dump.start(QStringLiteral(LINKSCOPE_DUMP), arguments);
    else
        dump.start(QStringLiteral("/bin/sh"), QStringList{"-c", "exec \"$0\" \"$@\" " + shellTail,
                                                          QStringLiteral(LINKSCOPE_DUMP)} + arguments);
    dump.waitForFinished(30000);
    if (status)
        *status = dump.exitStatus() == QProcess::NormalExit ? dump.exitCode() : -1;
    if (errors)
        *errors = dump.readAllStandardError();
    return dump.readAllStandardOutput();
}

static QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void tst_Dump::captureFileGivesOneRecordPerFrame()
{
    QVector<quint16> mpxWords(12, 0x0800);
    mpxWords[11] = 0;
    const QByteArray mpxFrame = mpx(mpxWords);
    const QByteArray failsafe = withCrc(fromHex("A8 81 02 2E E0 22 60"));
    // Channel 2 twice (the later stands), a word with bit 15 set, channel 16,
    // a zero word that must not take channel 1's value.
    const QVector<quint16> spektrumWords{spektrumWord(0, 1024), spektrumWord(1, 2047), spektrumWord(1, 1),
                                         0x8005, spektrumWord(15, 0), 0x0000, spektrumWord(3, 200)};
    const QByteArray spektrumFrame = spektrum(spektrumWords, 0x02);
    // Damaged, and in failsafe by its mode byte: no sign of a receiver in failsafe.
    const QByteArray damagedFailsafe = corrupted(spektrum(spektrumWords, 0x00));
    const QByteArray nordaxFrame = nordax(7, QVector<quint16>(12, 3000));
    const QByteArray noise = fromHex("00 13 A8 01 FF 55");
    const QByteArray stream = noise + mpxFrame + failsafe + noise + spektrumFrame + damagedFailsafe + nordaxFrame;
    const QString capture = writeFile(folder.filePath("capture.bin"), stream);
    QVERIFY(!capture.isEmpty());

    int status = -1;
    QByteArray errors;
    const QList<QByteArray> lines = run({"--format", "jsonl", capture}, &status, &errors).split('\n');
    QCOMPARE(status, 0);
    const QString spektrumUs = "[1500,917,null,1030,null,null,null,null,null,null,null,null,null,null,null,916]";
    const QString spektrumWire = "[1024,1,null,200,null,null,null,null,null,null,null,null,null,null,null,0]";
    const auto record = [&](const QByteArray &frame, const char *family, const char *crc, const char *fs,
                            const QString &us, const QString &wire) {
        return QStringLiteral("{\"t\":null,\"offset\":%1,\"family\":\"%2\",\"crc_ok\":%3,\"failsafe\":%4,"
                              "\"us\":%5,\"wire\":%6,\"raw\":\"%7\"}")
            .arg(stream.indexOf(frame)).arg(family, crc, fs, us, wire, QString::fromLatin1(frame.toHex()));
    };
    const QStringList expected{
        record(mpxFrame, "MPX", "true", "null", "[1500,1500,1500,1500,1500,1500,1500,1500,1500,1500,1500,null]",
               "[2048,2048,2048,2048,2048,2048,2048,2048,2048,2048,2048,null]"),
        record(failsafe, "HOTT", "true", "true", "[1500,1100]", "[12000,8800]"),
        record(spektrumFrame, "SPEKTRUM", "true", "false", spektrumUs, spektrumWire),
        record(damagedFailsafe, "SPEKTRUM", "false", "true", spektrumUs, spektrumWire),
        record(nordaxFrame, "NORDAX", "true", "null", "[null" + QString(",null").repeated(11) + "]",
               "[3000" + QString(",3000").repeated(11) + "]"),
        QString()};
    QStringList got;
    for (const QByteArray &line : lines)
        got << QString::fromUtf8(line);
    QCOMPARE(got, expected);
    QVERIFY2(errors.contains("stray bytes: 12"), errors.constData());
    QVERIFY2(errors.contains("failsafe frames: 1"), errors.constData());
}

// HOTT frames of 21 bytes, one each 10 ms at 115200 baud, as a Saleae CSV
// export in either header form.
static QByteArray csvOf(int frames, bool nameType, int firstBackwards = -1)
{
    QByteArray csv = nameType ? "name,type,start_time,duration,data\n" : "Time [s],Value,Parity Error,Framing Error\n";
    for (int f = 0; f < frames; ++f) {
        const QByteArray frame = hott(QVector<quint16>(8, quint16(11000 + f)));
        for (int k = 0; k < frame.size(); ++k) {
            const double t = 0.001 + (f == firstBackwards ? -0.005 : f * 0.010) + k * 10 / 115200.0;
            const QByteArray byte = "0x" + QByteArray::number(quint8(frame.at(k)), 16);
            csv += nameType ? "\"Async Serial\",\"data\"," + QByteArray::number(t, 'f', 9) + ",8.68e-05," + byte + '\n'
                            : QByteArray::number(t, 'f', 9) + ',' + byte + ",,\n";
        }
    }
    return csv;
}

// Whatever the blocks a capture is read in, and however slowly a pipe
// brings it, the capture's own times alone settle a partial frame.
void tst_Dump::capturesKeepEveryFrame_data()
{
    QTest::addColumn<QByteArray>("capture");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("piece"); // bytes a pipe brings each 60 ms; 0 for a file
    QTest::newRow("CSV over many read blocks") << csvOf(2000, false) << 2000 << 0;
    QTest::newRow("name,type CSV over many read blocks") << csvOf(2000, true) << 2000 << 0;
    QTest::newRow("CSV piped slowly") << csvOf(12, false) << 12 << 300;
    QByteArray frames;
    for (int f = 0; f < 150; ++f)
        frames += hott(QVector<quint16>(8, quint16(11000 + f)));
    QByteArray hex = frames.toHex();
    for (int at = 60; at < hex.size(); at += 61)
        hex.insert(at, '\n');
    QTest::newRow("hex dump piped slowly") << hex << 150 << 300;
}

void tst_Dump::capturesKeepEveryFrame()
{
    QFETCH(QByteArray, capture);
    QFETCH(int, frames);
    QFETCH(int, piece);
    QProcess dump;
    if (piece == 0) {
        dump.start(QStringLiteral(LINKSCOPE_DUMP), {writeFile(folder.filePath("many.csv"), capture)});
        dump.closeWriteChannel();
    } else {
        dump.start(QStringLiteral(LINKSCOPE_DUMP), {"-"});
        QVERIFY(dump.waitForStarted());
        for (int at = 0; at < capture.size(); at += piece) {
            dump.write(capture.mid(at, piece));
            QVERIFY(dump.waitForBytesWritten());
            QTest::qWait(60); // the pace of the pipe, not a wait for a result
        }
        dump.closeWriteChannel();
    }
    QVERIFY(dump.waitForFinished(60000));
    QCOMPARE(dump.exitCode(), 0);
    const QByteArray errors = dump.readAllStandardError();
    QVERIFY2(errors.contains(QStringLiteral("frames: %1 (HOTT %1)\n").arg(frames).toLatin1())
                 && errors.contains("stray bytes: 0\n"),
             errors.constData());
    if (piece == 0)
        QVERIFY2(errors.contains("max 10.0 ms"), errors.constData());
}

// Raw frames from a pipe are decoded as they come, each with its own time.
void tst_Dump::rawPipeDecodedAsItComes()
{
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {"-", "--format", "csv"});
    QVERIFY(dump.waitForStarted());
    QByteArray out;
    for (int i = 0; i < 2; ++i) {
        dump.write(hott(QVector<quint16>(8, quint16(12000 + i))));
        QTRY_VERIFY_WITH_TIMEOUT((out += dump.readAllStandardOutput()).count('\n') == 2 + i, 10000);
        QTest::qWait(100); // the frames' pace
    }
    dump.closeWriteChannel();
    QVERIFY(dump.waitForFinished());
    const QList<QByteArray> lines = out.split('\n');
    QVERIFY2(lines.at(2).split(',').at(0).toDouble() - lines.at(1).split(',').at(0).toDouble() > 0.05, out.constData());
}

void tst_Dump::summaryOutlivesClosedOutput()
{
    QByteArray frames;
    for (int f = 0; f < 3000; ++f)
        frames += hott(QVector<quint16>(8, quint16(11000 + f)));
    int status = -1;
    QByteArray errors;
    run({writeFile(folder.filePath("head.bin"), frames)}, &status, &errors, QStringLiteral("| head -1 >/dev/null"));
    QCOMPARE(status, 0);
    QVERIFY2(errors.contains("frames: ") && errors.contains("stray bytes: 0"), errors.constData());
}

// A stop signal while a FIFO waits for its writer, or while a frame is
// half there, is a stop like any other: no error, and no stray bytes.
void tst_Dump::stopsQuietly_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("said");
    // A capture, so that no pause of the pipe's settles the partial frame.
    const QByteArray csv = csvOf(2, false);
    int cut = int(csv.size());
    for (int row = 0; row < 11; ++row)
        cut = int(csv.lastIndexOf('\n', cut - 2)) + 1;
    QTest::newRow("FIFO without a writer") << QByteArray() << QByteArray();
    QTest::newRow("partial frame") << csv.left(cut) << QByteArray("stray bytes: 0\nunfinished at the stop: 10 bytes\n");
}

void tst_Dump::stopsQuietly()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, said);
    const QString fifo = folder.filePath(QStringLiteral("stop-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {fifo, "--format", "jsonl"});
    QVERIFY(dump.waitForStarted());
    // Blocked in opening the FIFO: the stop signals are caught by then.
    const QString wchan = QStringLiteral("/proc/%1/wchan").arg(dump.processId());
    const auto waitsForWriter = [&] {
        QFile file(wchan);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("partner");
    };
    QTRY_VERIFY_WITH_TIMEOUT(waitsForWriter(), 10000);
    int writer = -1;
    if (!sent.isEmpty()) {
        writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY);
        QVERIFY(writer >= 0 && ::write(writer, sent.constData(), size_t(sent.size())) == sent.size());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += dump.readAllStandardOutput()).count('\n') == 1, 10000);
    }
    dump.terminate();
    QVERIFY(dump.waitForFinished(10000));
    if (writer >= 0)
        ::close(writer);
    QCOMPARE(dump.exitStatus(), QProcess::NormalExit);
    QCOMPARE(dump.exitCode(), 0);
    const QByteArray errors = dump.readAllStandardError();
    QVERIFY2(said.isEmpty() ? errors.isEmpty() : errors.contains(said), errors.constData());
}

// A reader that never takes another byte leaves the run blocked in a write;
// a stop signal must still end it within the moment records are given.
void tst_Dump::stopsWhileOutputIsBlocked()
{
    QByteArray capture;
    for (int f = 0; f < 20000; ++f)
        capture += hott(QVector<quint16>(8, quint16(11000 + f % 1000)));
    const QString fifo = folder.filePath(QStringLiteral("never-read"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    QProcess dump;
    dump.setStandardOutputFile(fifo);
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {writeFile(folder.filePath("big.bin"), capture), "--format", "jsonl"});
    QVERIFY(dump.waitForStarted());
    const QString wchan = QStringLiteral("/proc/%1/wchan").arg(dump.processId());
    const auto blockedInWrite = [&] {
        QFile file(wchan);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains("pipe_write");
    };
    QTRY_VERIFY_WITH_TIMEOUT(blockedInWrite(), 10000);
    QElapsedTimer stopping;
    stopping.start();
    dump.terminate();
    QVERIFY(dump.waitForFinished(10000));
    const qint64 tookMs = stopping.elapsed();
    ::close(reader);
    QCOMPARE(dump.exitStatus(), QProcess::NormalExit);
    QVERIFY2(tookMs < 3000, qPrintable(QString::number(tookMs)));
    const QByteArray errors = dump.readAllStandardError();
    QVERIFY2(errors.contains("cut off by the stop"), errors.constData());
}

void tst_Dump::csvExportKeepsByteTimes()
{
    // A logic analyser's export: the second frame came in two parts 20 ms
    // apart, as a UART may deliver it; the third byte row has a framing error.
    const QByteArray first = hott(QVector<quint16>(2, 12000)), second = hott(QVector<quint16>(2, 12800));
    QByteArray csv = "name,type,start_time,duration,data,error\r\n";
    double t = 0.004525880;
    const auto row = [&](quint8 byte, const char *error) {
        csv += QStringLiteral("\"Async Serial\",\"data\",%1,8.68e-05,0x%2,%3\r\n")
                   .arg(t, 0, 'f', 9).arg(byte, 2, 16, QLatin1Char('0')).arg(QLatin1String(error)).toLatin1();
        t += 10 / 115200.0;
    };
    for (char byte : first)
        row(quint8(byte), "");
    row(0x55, "framing");
    for (int i = 0; i < second.size(); ++i) {
        if (i == 5)
            t += 0.020;
        row(quint8(second.at(i)), "");
    }
    const QString capture = writeFile(folder.filePath("export.csv"), csv);
    int status = -1;
    QByteArray errors;
    const QList<QByteArray> lines = run({"--format", "jsonl", capture}, &status, &errors).split('\n');
    QCOMPARE(status, 0);
    // Each frame's time is its last byte's, counted from the file's first.
    const double byteTime = 10 / 115200.0;
    const QStringList expected{
        QStringLiteral("{\"t\":%1,\"t_from\":\"capture\",\"offset\":0,").arg(8 * byteTime, 0, 'f', 6),
        QStringLiteral("{\"t\":%1,\"t_from\":\"capture\",\"offset\":9,").arg(18 * byteTime + 0.020, 0, 'f', 6),
        QString()};
    QStringList got;
    for (const QByteArray &line : lines)
        got << QString::fromLatin1(line.left(line.indexOf("\"family\"")));
    QCOMPARE(got, expected);
    QVERIFY2(errors.contains("read as: Saleae CSV") && errors.contains("left out for line errors: 1 byte\n"),
             errors.constData());
}

// Starts linkscope-dump on the pty and waits until it holds the port (and
// also's, where arguments name a second), so that it reads every byte
// written from then on.
static bool startOnPort(QProcess &dump, const PseudoTerminal &pty, const QStringList &arguments,
                        const PseudoTerminal *also = nullptr)
{
    dump.start(QStringLiteral(LINKSCOPE_DUMP), QStringList{pty.slavePath()} + arguments);
    if (!dump.waitForStarted())
        return false;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(dump.processId()));
    const auto holdsPort = [&] {
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        const auto holds = [&](const PseudoTerminal &port) {
            return std::any_of(entries.cbegin(), entries.cend(), [&](const QString &fd) {
                return QFile::symLinkTarget(fds.filePath(fd)) == port.slavePath();
            });
        };
        return holds(pty) && (!also || holds(*also));
    };
    QElapsedTimer waited;
    waited.start();
    while (!holdsPort() && waited.elapsed() < 10000)
        QTest::qWait(20);
    return holdsPort();
}

void tst_Dump::twoAnalysersInOneExport_data()
{
    // The receiver's HoTT on one analyser, MPX on the other, their rows interleaved by time.
    QByteArray txBytes;
    // lead: frames of the receiver alone, before both start.
    const auto exportOf = [&](const QByteArray &rxName, const QByteArray &txName, const QString &name, int lead = 0) {
        QMap<double, QByteArray> rows;
        txBytes.clear();
        for (int k = -lead; k < 5; ++k) {
            const QByteArray rx = hott(QVector<quint16>(2, quint16(12000 + k))), tx = mpx(QVector<quint16>(12, 0x0800));
            if (k >= 0)
                txBytes += tx;
            for (int i = 0; i < rx.size(); ++i)
                rows.insert(0.01 * k + i * 1e-4, "\"" + rxName + "\",\"data\"," + QByteArray::number(0.01 * k + i * 1e-4, 'f', 6)
                                                     + ",1e-5," + QByteArray::number(quint8(rx.at(i))) + '\n');
            for (int i = 0; i < tx.size() && k >= 0; ++i)
                rows.insert(0.01 * k + 0.005 + i * 1e-4, "\"" + txName + "\",\"data\","
                                                             + QByteArray::number(0.01 * k + 0.005 + i * 1e-4, 'f', 6)
                                                             + ",1e-5," + QByteArray::number(quint8(tx.at(i))) + '\n');
        }
        QByteArray csv = "name,type,start_time,duration,data\n";
        for (const QByteArray &row : qAsConst(rows))
            csv += row;
        return writeFile(folder.filePath(name), csv);
    };
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("shellTail");
    QTest::addColumn<QStringList>("sources"); // of the records, in order
    QTest::addColumn<QString>("said");
    // Names that are no UTF-8 stay two sources, each with its rows.
    const QString odd = exportOf("R\xfe", "R\xff", "odd names.csv");
    const QString oddRx = odd + ":R\\xFE", oddTx = odd + ":R\\xFF";
    const QString capture = exportOf("RX", "TX", "analysers.csv");
    const QString rx = capture + ":RX", tx = capture + ":TX";
    QTest::newRow("the file alone") << QStringList{capture} << QString() << QStringList{rx, tx, rx, tx, rx, tx, rx, tx, rx, tx}
                                    << "one for each analyser: RX and TX";
    // A stream cannot be read twice: the first analyser's, the rest said.
    QTest::newRow("standard input") << QStringList{"-"} << "< " + capture << QStringList{QString(), QString(), QString(), QString(), QString()}
                                    << QStringLiteral("left out: %1 rows of other analysers (TX)").arg(txBytes.size());
    QTest::newRow("names in no UTF-8") << QStringList{odd} << QString()
                                       << QStringList{oddRx, oddTx, oddRx, oddTx, oddRx, oddTx, oddRx, oddTx, oddRx, oddTx}
                                       << "one for each analyser: R\\xFE and R\\xFF";
    // A flight controller that starts talking more than 1 MB into the export.
    const QString late = exportOf("RX", "TX", "late.csv", 4000);
    QVERIFY(QFileInfo(late).size() > (1 << 20));
    const QString lateRx = late + ":RX", lateTx = late + ":TX";
    QStringList lateSources;
    for (int k = 0; k < 4000; ++k)
        lateSources << lateRx;
    QTest::newRow("the second analyser late")
        << QStringList{late} << QString()
        << lateSources + QStringList{lateRx, lateTx, lateRx, lateTx, lateRx, lateTx, lateRx, lateTx, lateRx, lateTx}
        << "one for each analyser: RX and TX";
    // Each finds its own family, and says which is whose.
    QTest::newRow("each its own family") << QStringList{"-f", "auto", capture} << QString()
                                         << QStringList{rx, tx, rx, tx, rx, tx, rx, tx, rx, tx}
                                         << "found MPX in " + tx + " at";
}

// A logic analyser's export of both wires: one source per analyser.
void tst_Dump::twoAnalysersInOneExport()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, shellTail);
    QFETCH(QStringList, sources);
    QFETCH(QString, said);
    int status = -1;
    QByteArray errors;
    const QList<QByteArray> lines = run(QStringList{"--format", "jsonl"} + arguments, &status, &errors, shellTail)
                                        .trimmed()
                                        .split('\n');
    QCOMPARE(status, 0);
    QStringList got;
    for (const QByteArray &line : lines)
        got << QJsonDocument::fromJson(line).object().value("src").toString();
    QCOMPARE(got, sources);
    QVERIFY2(errors.contains(said.toUtf8()), errors.constData());
}

void tst_Dump::liveRunRecordsWhatArrived()
{
    PseudoTerminal pty;
    const QString recording = folder.filePath("live.bin");
    QProcess dump;
    QVERIFY(startOnPort(dump, pty, {"--write", recording, "--format", "csv"}));

    QByteArray sent;
    for (int i = 0; i < 20; ++i) {
        const QByteArray frame = hott(QVector<quint16>(8, quint16(11000 + 8 * i)));
        // Every other frame in two writes, as a driver may deliver it.
        QVERIFY(pty.write(frame.left(i % 2 ? 7 : frame.size())));
        QVERIFY(pty.write(frame.mid(i % 2 ? 7 : frame.size())));
        sent += frame;
    }
    QByteArray out;
    QTRY_VERIFY((out += dump.readAllStandardOutput()).count('\n') == 21);
    // Frames that come in one read arrived one line time apart: 21 bytes of
    // ten bits. After the line was quiet for a while, as between a
    // receiver's bursts, ten frames come at once; however the reader cuts
    // them, some share a read. No time ever runs backwards.
    QTest::qWait(30);
    QByteArray burst;
    for (int i = 0; i < 10; ++i)
        burst += hott(QVector<quint16>(8, quint16(12000 + 8 * i)));
    QVERIFY(pty.write(burst));
    sent += burst;
    QTRY_VERIFY((out += dump.readAllStandardOutput()).count('\n') == 31);
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);
    QFile file(recording);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), sent);
    const QList<QByteArray> lines = out.split('\n');
    QVERIFY2(lines.at(20).contains(",HOTT,true,false,1394,"), out.constData());
    int lineTimeApart = 0;
    for (int i = 22; i <= 30; ++i) {
        const double gap = lines.at(i).split(',').at(0).toDouble() - lines.at(i - 1).split(',').at(0).toDouble();
        QVERIFY2(gap >= 0, out.constData());
        lineTimeApart += qAbs(gap - 21 * 10 / 115200.0) < 2e-6;
    }
    QVERIFY2(lineTimeApart > 0, out.constData());
}

// HoTT on one port, CRSF on another read for its own family: one stream of
// records in time order, each naming its port, the two interleaved.
void tst_Dump::twoPortsInOneTimeline()
{
    PseudoTerminal hottPort, crsfPort;
    QProcess dump;
    QVERIFY(startOnPort(dump, hottPort, {crsfPort.slavePath() + "@crsf", "--format", "jsonl"}, &crsfPort));
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    const QByteArray crsf = familyNamed(QStringLiteral("crsf"))->encode(request);
    for (int i = 0; i < 10; ++i) {
        QVERIFY(hottPort.write(hott(QVector<quint16>(8, 12000))));
        QTest::qWait(15);
        QVERIFY(crsfPort.write(crsf));
        QTest::qWait(15);
    }
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += dump.readAllStandardOutput()).count('\n') == 20, 10000);
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);
    double last = -1;
    QMap<QString, int> perSource;
    int lastHott = -1, firstCrsf = -1;
    const QList<QByteArray> lines = out.trimmed().split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QJsonObject record = QJsonDocument::fromJson(lines.at(i)).object();
        QVERIFY2(record.value("t").toDouble() >= last, out.constData());
        last = record.value("t").toDouble();
        const QString src = record.value("src").toString();
        ++perSource[src];
        QCOMPARE(record.value("family").toString(), src == hottPort.slavePath() ? "HOTT" : "CRSF");
        if (src == hottPort.slavePath())
            lastHott = i;
        else if (firstCrsf < 0)
            firstCrsf = i;
    }
    QCOMPARE(perSource, (QMap<QString, int>{{hottPort.slavePath(), 10}, {crsfPort.slavePath(), 10}}));
    QVERIFY2(firstCrsf < lastHott, out.constData());
}

// Opening a serial port toggles its modem lines, which resets some boards:
// the port is opened to drop what waited in it and to read it, never only
// to look at what it is.
void tst_Dump::portOpenedOnlyToRead()
{
    PseudoTerminal line;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    // Opens and closes in turn, so that no two opens merge into one event.
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(line.slavePath()).constData(), IN_OPEN | IN_CLOSE) >= 0);
    int status = -1;
    run({line.slavePath(), "-d", "0.2"}, &status);
    QCOMPARE(status, 0);
    int opens = 0;
    char events[4096];
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            opens += (event->mask & IN_OPEN) != 0;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    QCOMPARE(opens, 2);
}

// A pseudo-terminal in canonical mode, as openpty() leaves one, took bytes
// written before linkscope-dump set it up as typed text: 0x03 in the third
// of five HoTT frames dropped the frames before it, and the two after came
// out as records before the frames sent later (once in about 60 runs, where
// the writer beat the set-up). Those bytes are dropped, and said so.
void tst_Dump::bytesBeforeSetUpAreDropped()
{
    PseudoTerminal pty;
    termios tio;
    QCOMPARE(::tcgetattr(pty.slaveFd(), &tio), 0);
    tio.c_lflag |= ICANON | ISIG | IEXTEN;
    tio.c_iflag |= ICRNL;
    QCOMPARE(::tcsetattr(pty.slaveFd(), TCSANOW, &tio), 0);
    QByteArray early;
    for (int i = 0; i < 5; ++i)
        early += hott(QVector<quint16>{12000, quint16(i == 2 ? 0x1403 : 12000)});
    QVERIFY(early.contains('\x03'));
    QVERIFY(pty.write(early));

    QProcess dump;
    QVERIFY(startOnPort(dump, pty, {"--format", "jsonl", "--count", "5"}));
    // Set up: the terminal takes its bytes raw.
    QTRY_VERIFY_WITH_TIMEOUT(::tcgetattr(pty.slaveFd(), &tio) == 0 && !(tio.c_lflag & ICANON), 10000);
    QStringList sent;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(pty.write(hott(QVector<quint16>{quint16(11000 + 8 * i), 12000})));
        sent << QStringLiteral("[%1,12000]").arg(11000 + 8 * i);
    }
    QVERIFY(dump.waitForFinished(10000));
    QStringList wire;
    for (const QByteArray &line : dump.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            wire << QString::fromLatin1(line.mid(line.indexOf("\"wire\":") + 7).split(']').first() + ']');
    }
    QCOMPARE(wire, sent);
    const QByteArray errors = dump.readAllStandardError();
    QVERIFY2(errors.contains("dropped ") && errors.contains(" before it was opened"), errors.constData());
    // Its settings are given back.
    QVERIFY(::tcgetattr(pty.slaveFd(), &tio) == 0 && (tio.c_lflag & ICANON));
}

void tst_Dump::slowReaderCostsNoByte()
{
    // Standard output is a FIFO that nobody reads once it is open.
    const QString fifo = folder.filePath("slow-reader");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    PseudoTerminal pty;
    const QString recording = folder.filePath("slow.bin");
    QProcess dump;
    dump.setStandardOutputFile(fifo);
    QVERIFY(startOnPort(dump, pty, {"--write", recording}));

    // Far more records than the pipe and the program hold together.
    QByteArray sent;
    for (int i = 0; i < 6000; ++i) {
        const QByteArray frame = hott(QVector<quint16>(16, quint16(8000 + i)));
        QVERIFY2(pty.write(frame, 10000), "the port was not read");
        sent += frame;
    }
    QFile file(recording);
    QTRY_COMPARE(QFileInfo(recording).size(), qint64(sent.size()));
    dump.terminate();
    QVERIFY(dump.waitForFinished(5000));
    ::close(reader);
    QCOMPARE(dump.exitCode(), 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), sent);
    const QByteArray errors = dump.readAllStandardError();
    QVERIFY2(errors.contains("frames: 6000") && errors.contains("records dropped: output too slow"),
             errors.constData());
}

void tst_Dump::channelsPickColumns_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("records");
    // Channel 4 is chosen but the frame has three: it shows without a value.
    QTest::newRow("text") << "text"
                          << QStringList{"         t     offset  family            crc      failsafe  us (µs) / wire (as "
                                         "sent) / raw frame; channels 1,3-4",
                                         "         -          0  HOTT              OK       no        us  1500  1875     - "
                                         "/ wire 12000 15000     - / a801032ee022603a9889e5"};
    QTest::newRow("csv") << "csv"
                         << QStringList{"t,offset,family,crc_ok,failsafe,us1,us3,us4,wire1,wire3,wire4,raw",
                                        ",0,HOTT,true,false,1500,1875,,12000,15000,,a801032ee022603a9889e5"};
    QTest::newRow("jsonl") << "jsonl"
                           << QStringList{"{\"t\":null,\"offset\":0,\"family\":\"HOTT\",\"crc_ok\":true,\"failsafe\":"
                                          "false,\"channels\":[1,3,4],\"us\":[1500,1875,null],\"wire\":[12000,15000,"
                                          "null],\"raw\":\"a801032ee022603a9889e5\"}"};
}

void tst_Dump::channelsPickColumns()
{
    QFETCH(QString, format);
    QFETCH(QStringList, records);
    const QString capture = writeFile(folder.filePath("three.bin"), hott({12000, 8800, 15000}));
    int status = -1;
    const QString out = QString::fromUtf8(run({"--format", format, "--channels", "4,1,3", capture}, &status));
    QCOMPARE(status, 0);
    QCOMPARE(out.split('\n', Qt::SkipEmptyParts), records);
}

void tst_Dump::errorExits_data()
{
    const QString capture = writeFile(folder.filePath("small.bin"), mpx(QVector<quint16>(12, 0x0800)));
    const QString existing = writeFile(folder.filePath("existing.bin"), "keep me");
    // A name that is no valid UTF-8, as older systems and cameras make them.
    latin1Name = QFile::encodeName(folder.path()) + "/caf\xe9.bin";
    const QByteArray frame = mpx(QVector<quint16>(12, 0x0800));
    const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(fd >= 0 && ::write(fd, frame.constData(), size_t(frame.size())) == frame.size() && ::close(fd) == 0);
    // Two captures whose names, no UTF-8, read alike in the locale.
    const QByteArray threeCsv = csvOf(3, false);
    for (const char *odd : {"/t\xfe.csv", "/t\xff.csv"}) {
        const int out = ::open((QFile::encodeName(folder.path()) + odd).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        QVERIFY(out >= 0 && ::write(out, threeCsv.constData(), size_t(threeCsv.size())) == threeCsv.size() && ::close(out) == 0);
    }
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("shellTail");
    QTest::newRow("no source") << QStringList{} << 2 << "no source" << QString();
    QTest::newRow("one source twice") << QStringList{capture, capture} << 2
                                      << QString("%1 is given twice; give two different sources").arg(capture)
                                      << QString();
    QTest::newRow("one file under two names") << QStringList{capture, folder.path() + "/./small.bin"} << 2
                                              << QString("%1 and %2 are the same file").arg(capture, folder.path() + "/./small.bin")
                                              << QString();
    QTest::newRow("standard input and the file it is") << QStringList{"-", capture} << 2
                                                       << "standard input and " + capture + " are the same file"
                                                       << "<" + capture;
    QTest::newRow("three sources") << QStringList{capture, existing, "-"} << 2 << "give one source, or two" << QString();
    QTest::newRow("unknown family of a source") << QStringList{capture, "ttyUSB9@crfs"} << 2
                                                << "unknown family 'crfs'" << QString();
    QTest::newRow("two sources into one recording")
        << QStringList{capture, existing, "--write", folder.filePath("both.bin")} << 2
        << "--write records the bytes of one source" << QString();
    QTest::newRow("a capture beside a live source") << QStringList{capture, "/dev/ptmx"} << 2
                                                    << "cannot put " + capture + " and /dev/ptmx in one timeline"
                                                    << QString();
    QTest::newRow("captures without times") << QStringList{capture, existing} << 2
                                            << capture + " holds no times" << QString();
    QTest::newRow("unknown format") << QStringList{"--format", "xml", capture} << 2 << "unknown format 'xml'"
                                    << QString();
    QTest::newRow("unknown option") << QStringList{"--colour", capture} << 2 << "colour" << QString();
    QTest::newRow("families that read the same bytes") << QStringList{"--family", "mpx2,xbus", capture} << 2
                                                       << "mpx2 and xbus cannot be looked for together: their frames "
                                                          "are the same bytes; give one of them" << QString();
    QTest::newRow("SUMH beside HOTT") << QStringList{"--family", "sumh,crsf,sumd", capture} << 2
                                      << "sumh and hott cannot be looked for together: their frames start with the "
                                         "same byte, and one has no check to tell them apart" << QString();
    QTest::newRow("missing port") << QStringList{"/dev/linkscope-no-such-port"} << 1
                                  << "cannot open /dev/linkscope-no-such-port: No such file or directory (linkscope-dump "
                                     "--list-ports lists the ports present)" << QString();
    QTest::newRow("missing port by its bare name")
        << QStringList{"ttylinkscope-no-such-port"} << 1
        << "cannot open ttylinkscope-no-such-port: No such file or directory (linkscope-dump --list-ports lists the "
           "ports present)" << QString();
    // A name that looks like no port gets no word on the list of ports.
    QTest::newRow("missing file by its bare name") << QStringList{"nonexist.bin"} << 1
                                                   << "cannot open nonexist.bin: No such file or directory\n"
                                                   << QString();
    QTest::newRow("recording over a file") << QStringList{capture, "--write", existing} << 1 << "--force" << QString();
    QTest::newRow("endless duration") << QStringList{capture, "--duration", "inf"} << 2 << "bad duration" << QString();
    QTest::newRow("duration beyond send's limit") << QStringList{capture, "-d", "2e7"} << 2
                                                  << "more than 0 and at most 10000000" << QString();
    QTest::newRow("ports listed with a source") << QStringList{"--list-ports", capture} << 2 << "takes no source"
                                                << QString();
    QTest::newRow("text in no capture form") << QStringList{writeFile(folder.filePath("notes.txt"), "\nmy notes\n")}
                                             << 1 << "notes.txt: line 2: \"my notes\" is text, but neither" << QString();
    const QString threeFrames = writeFile(folder.filePath("three.csv"), csvOf(3, false));
    QTest::newRow("rate over 20 ms") << QStringList{threeFrames} << 0 << "frame rate: 100.0/s over 0.020 s" << QString();
    QTest::newRow("an empty capture beside one with times")
        << QStringList{writeFile(folder.filePath("empty.csv"), QByteArray()), threeFrames} << 0 << "frames: 3" << QString();
    QTest::newRow("duration in a capture's times") << QStringList{writeFile(folder.filePath("ten.csv"), csvOf(10, true)),
                                                                  "-d", "0.035"}
                                                   << 0 << "frames: 4 (HOTT 4)" << QString();
    QTest::newRow("times running backwards") << QStringList{writeFile(folder.filePath("back.csv"), csvOf(3, false, 1))}
                                             << 0 << "back.csv: line 23: time -0.004000000 s is before the row before it (0.002736111 s)"
                                             << QString();
    QTest::newRow("duration not a number") << QStringList{capture, "-d", "nan"} << 2 << "bad duration" << QString();
    QTest::newRow("recording without a name") << QStringList{capture, "--write", ""} << 2 << "needs a file name" << QString();
    QTest::newRow("recording over its own source") << QStringList{existing, "--write", existing, "--force"} << 2
                                                   << "is the source" << QString();
    QTest::newRow("directory as source") << QStringList{folder.path()} << 1 << "is a directory" << QString();
    QTest::newRow("directory as recording") << QStringList{capture, "--write", folder.path()} << 1
                                            << "is a directory" << QString();
    QTest::newRow("name too long") << QStringList{QString(10000, 'x')} << 1 << "File name too long" << QString();
    QTest::newRow("standard input with its own families") << QStringList{"-@mpx"} << 0 << "frames: 1 (MPX 1)"
                                                         << "<" + capture;
    QTest::newRow("families without a source") << QStringList{capture, "@crsf"} << 2
                                               << "@crsf names no source before its families" << QString();
    QTest::newRow("standard input closed") << QStringList{"-"} << 1 << "standard input is closed" << "<&-";
    QTest::newRow("standard output full") << QStringList{capture} << 1
                                          << "standard output: No space left on device" << ">/dev/full";
    QTest::newRow("standard output closed") << QStringList{capture} << 1 << "standard output is closed" << ">&-";
    QTest::newRow("unknown input form") << QStringList{capture, "--input", "pcap"} << 2 << "unknown input form"
                                        << QString();
    QTest::newRow("broken CSV export")
        << QStringList{writeFile(folder.filePath("broken.csv"), "Time [s],Value,Parity Error,Framing Error\n"
                                                                 "0.1,0xA8,,\n0.2,0x1FF,,\n")}
        << 1 << "broken.csv: line 3:" << QString();
    terminal = std::make_unique<PseudoTerminal>();
    const QString toTerminal = " >" + terminal->slavePath();
    QTest::newRow("watching a capture file") << QStringList{"--watch", capture} << 2 << "is a capture file" << toTerminal;
    QTest::newRow("watching standard input from a file") << QStringList{"--watch", "-"} << 2
                                                         << "standard input is a capture file" << "<" + capture + toTerminal;
    QTest::newRow("watching without a terminal") << QStringList{"--watch", "-"} << 2 << "standard output is not one"
                                                 << QString();
    QTest::newRow("unknown family") << QStringList{"--family", "crsf,sbux", capture} << 2
                                    << "unknown family 'sbux' (mpx, mpx2, nordax, hott, spektrum, crsf" << QString();
    QTest::newRow("empty family name") << QStringList{"--family", "crsf,", capture} << 2 << "an empty family name"
                                       << QString();
    QTest::newRow("bad line settings") << QStringList{"--line", "8Y1", capture} << 2 << "bad line settings '8Y1'"
                                       << QString();
    QTest::newRow("families at two bauds on a port") << QStringList{"--family", "crsf,ibus", "-d", "1",
                                                                    port.slavePath()}
                                                     << 2 << "CRSF runs at 420000 baud and IBUS at 115200; give --baud"
                                                     << QString();
    // The same families in a file: no line to agree on.
    QTest::newRow("families at two bauds in a file") << QStringList{"--family", "crsf,ibus", capture} << 1
                                                     << "no frames of CRSF or IBUS in 27 bytes; --family auto finds "
                                                        "which family they are" << QString();
    QTest::newRow("two names that read alike") << QStringList{} << 0 << folder.path() + "/t\\xFF.csv:\n  frames: 3"
                                               << QStringLiteral("\"$(printf '%1/t\\376.csv')\" \"$(printf '%1/t\\377.csv')\"")
                                                      .arg(folder.path());
    QTest::newRow("name that is no UTF-8") << QStringList{} << 0 << "frames: 1"
                                           << QStringLiteral("\"$(printf '%1/caf\\351.bin')\"").arg(folder.path());
}

void tst_Dump::errorExits()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(QString, shellTail);
    int got = -1;
    QByteArray errors;
    run(arguments, &got, &errors, shellTail);
    QCOMPARE(got, status);
    QVERIFY2(QString::fromLocal8Bit(errors).contains(said), errors.constData());
    QFile existing(folder.filePath("existing.bin"));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me"));
}

void tst_Dump::familyFields_data()
{
    const FamilyDescriptor *crsf = familyNamed("crsf");
    const FamilyDescriptor *fport = familyNamed("fport");
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    const QByteArray channels = crsf->encode(request);
    const QByteArray link = crsf->linkFrame(false);
    request.wire = QVector<int>(16, 1000);
    request.failsafe = true;
    const QByteArray failsafe = fport->encode(request);
    // 16.8 V, 12.3 A, 1234 mAh, 67 %; and a flight mode with a comma, which
    // a CSV cell quotes.
    const QByteArray battery = crsf->telemetryFrame(2, 0);
    QByteArray mode("\xC8\x09\x21" "AC,RO*", 10);
    quint8 crc = 0;
    for (char byte : mode.mid(2)) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint8(crc & 0x80 ? (crc << 1) ^ 0xD5 : crc << 1);
    }
    mode += char(crc);
    const QString capture = writeFile(folder.filePath("families.bin"), channels + link + failsafe + battery + mode);
    const QString channelsHex = QString::fromLatin1(channels.toHex()), linkHex = QString::fromLatin1(link.toHex()),
                  failsafeHex = QString::fromLatin1(failsafe.toHex()), batteryHex = QString::fromLatin1(battery.toHex()),
                  modeHex = QString::fromLatin1(mode.toHex());
    const QString batteryAt = QString::number(40 + failsafe.size()),
                  modeAt = QString::number(40 + failsafe.size() + battery.size());
    const QString centre = QStringLiteral("1500,").repeated(15) + "1500";
    QString columns;
    for (const char *kind : {"us", "wire"}) {
        for (int i = 1; i <= 16; ++i)
            columns += QStringLiteral(",%1%2").arg(QLatin1String(kind)).arg(i);
    }

    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("capture");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("jsonl") << "jsonl" << capture << QStringList{
        "{\"t\":null,\"offset\":0,\"family\":\"CRSF\",\"crc_ok\":true,\"failsafe\":null,\"type\":\"RC_CHANNELS\","
        "\"us\":[" + centre + "],\"wire\":[" + QStringLiteral("992,").repeated(15) + "992],\"raw\":\"" + channelsHex + "\"}",
        "{\"t\":null,\"offset\":26,\"family\":\"CRSF\",\"crc_ok\":true,\"failsafe\":false,\"type\":\"LINK_STATISTICS\","
        "\"link\":{\"rssi1_dbm\":-45,\"rssi2_dbm\":-47,\"lq\":100,\"snr\":9,\"antenna\":0,\"rf_mode\":4,"
        "\"tx_power_mw\":250,\"tx_power\":7,\"down_rssi_dbm\":-50,\"down_lq\":100,\"down_snr\":8},\"us\":[],\"wire\":[],"
        "\"raw\":\"" + linkHex + "\"}",
        "{\"t\":null,\"offset\":40,\"family\":\"FPORT\",\"crc_ok\":true,\"failsafe\":true,\"type\":\"CONTROL\","
        "\"frame_lost\":false,\"rssi\":100,\"us\":[" + centre + "],\"wire\":[" + QStringLiteral("1000,").repeated(15)
            + "1000],\"raw\":\"" + failsafeHex + "\"}",
        "{\"t\":null,\"offset\":" + batteryAt + ",\"family\":\"CRSF\",\"crc_ok\":true,\"failsafe\":null,\"type\":\"BATTERY\","
        "\"telemetry\":{\"voltage_v\":16.8,\"current_a\":12.3,\"capacity_mah\":1234,\"remaining_pct\":67},"
        "\"us\":[],\"wire\":[],\"raw\":\"" + batteryHex + "\"}",
        "{\"t\":null,\"offset\":" + modeAt + ",\"family\":\"CRSF\",\"crc_ok\":true,\"failsafe\":null,\"type\":\"FLIGHT_MODE\","
        "\"telemetry\":{\"flight_mode\":\"AC,RO*\"},\"us\":[],\"wire\":[],\"raw\":\"" + modeHex + "\"}"};
    const QString linkCells = "false,LINK_STATISTICS,,,,,-45,-47,100,9,0,4,250,7,-50,100,8";
    // FPORT's replies are paired with its telemetry requests: its columns
    // carry the pairing's cells.
    QTest::newRow("csv") << "csv" << capture << QStringList{
        "t,offset,family,crc_ok,failsafe,type,frame_lost,rssi,frame_losses,channels_dropped,rssi1_dbm,rssi2_dbm,lq,snr,antenna,"
        "rf_mode,tx_power_mw,tx_power,down_rssi_dbm,down_lq,down_snr,telemetry,packet_count,delay_ms,paired" + columns + ",raw",
        ",0,CRSF,true,,RC_CHANNELS" + QString(",").repeated(19) + "," + centre + "," + QStringLiteral("992,").repeated(15)
            + "992," + channelsHex,
        ",26,CRSF,true," + linkCells + "," + QString(",").repeated(35) + "," + linkHex,
        ",40,FPORT,true,true,CONTROL,false,100" + QString(",").repeated(17) + "," + centre + ","
            + QStringLiteral("1000,").repeated(15) + "1000," + failsafeHex,
        "," + batteryAt + ",CRSF,true,,BATTERY" + QString(",").repeated(15)
            + ",voltage_v=16.8 current_a=12.3 capacity_mah=1234 remaining_pct=67" + QString(",").repeated(35) + "," + batteryHex,
        "," + modeAt + ",CRSF,true,,FLIGHT_MODE" + QString(",").repeated(15) + ",\"flight_mode=\"\"AC,RO*\"\"\""
            + QString(",").repeated(35) + "," + modeHex};
    QTest::newRow("text") << "text" << capture << QStringList{};
}

// Records of the families that carry more than channels hold it in every
// format: type, frame_lost, rssi, the link figures and telemetry values, in
// CSV as one cell under one header.
void tst_Dump::familyFields()
{
    QFETCH(QString, format);
    QFETCH(QString, capture);
    QFETCH(QStringList, expected);
    int status = -1;
    QByteArray errors;
    const QString out = QString::fromUtf8(run({"--family", "crsf,fport", "--format", format, capture}, &status, &errors));
    QCOMPARE(status, 0);
    QVERIFY2(errors.contains("frame types: CRSF BATTERY 1, CRSF FLIGHT_MODE 1, CRSF LINK_STATISTICS 1, "
                             "CRSF RC_CHANNELS 1, FPORT CONTROL 1"),
             errors.constData());
    if (format == QLatin1String("text")) {
        QVERIFY2(out.contains("type=LINK_STATISTICS rssi1_dbm=-45 rssi2_dbm=-47 lq=100 snr=9"), qPrintable(out));
        QVERIFY2(out.contains("FAILSAFE  type=CONTROL frame_lost=false rssi=100 us  1500"), qPrintable(out));
        QVERIFY2(out.contains("type=BATTERY voltage_v=16.8 current_a=12.3 capacity_mah=1234 remaining_pct=67 us / wire / "),
                 qPrintable(out));
        QVERIFY2(out.contains("type=FLIGHT_MODE flight_mode=\"AC,RO*\" us / wire / "), qPrintable(out));
        return;
    }
    QStringList lines = out.split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines, expected);
}

void tst_Dump::recordsSayWhatFramesLack_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("capture");
    QTest::addColumn<QString>("record"); // found in the first record
    QTest::addColumn<QString>("summary");

    FrameRequest request;
    request.wire = QVector<int>(16, 1000);
    const QByteArray sbus = familyNamed("sbus")->encode(request).repeated(3);
    QByteArray dsm;
    request.wire = QVector<int>(7, 1024);
    for (int i = 0; i < 6; ++i)
        dsm += familyNamed("dsm")->encode(request);
    // SBUS and DSM carry no check: none passed, none failed.
    const QString sbusSummary = "CRC failures: 0 (3 frames without a check: SBUS, DSM and SUMH carry none)";
    QTest::newRow("SBUS jsonl") << "sbus" << "jsonl" << sbus << "\"family\":\"SBUS\",\"crc_ok\":null,\"failsafe\":false,"
                                << sbusSummary;
    QTest::newRow("SBUS csv") << "sbus" << "csv" << sbus << ",0,SBUS,,false," << sbusSummary;
    QTest::newRow("SBUS text") << "sbus" << "text" << sbus << "SBUS              no check no        " << sbusSummary;
    QTest::newRow("SBUS, one frame") << "sbus" << "jsonl" << sbus.left(25) << "\"family\":\"SBUS\",\"crc_ok\":null,"
                                     << "(1 frame without a check: SBUS, DSM and SUMH carry none)\nfailsafe frames: 0\n"
                                        "frames flagged lost: 0\nstray bytes: 0\nframed without byte times: 1 frame, by";
    QTest::newRow("DSM jsonl") << "dsm" << "jsonl" << dsm << "\"family\":\"DSM\",\"crc_ok\":null,"
                               << "CRC failures: 0 (6 frames without a check: SBUS, DSM and SUMH carry none)";
    // A subset of channels from channel 32 on, at 13 bits: 35 values, none
    // for a channel CRSF has.
    QByteArray subset("\xC8\x3D\x17\xFF");
    subset += QByteArray(58, '\x55');
    subset += char(crc8DvbS2(subset.constData() + 2, subset.size() - 2));
    QTest::newRow("CRSF subset past channel 24") << "crsf" << "jsonl" << subset
                                                 << "\"type\":\"SUBSET_RC_CHANNELS\",\"channels_dropped\":35,\"us\":[],"
                                                 << "CRC failures: 0\n";
    // From channel 21 on, at 10 bits: 8 values, of which 4 for channels CRSF has.
    QByteArray partly("\xC8\x0D\x17\x14");
    partly += QByteArray(10, '\x00');
    partly += char(crc8DvbS2(partly.constData() + 2, partly.size() - 2));
    QTest::newRow("CRSF subset from channel 21")
        << "crsf" << "jsonl" << partly
        << "\"channels_dropped\":4,\"us\":[" + QStringLiteral("null,").repeated(20) + "988,988,988,988],"
        << "CRC failures: 0\n";
}

// What a record cannot say, it says so: no check for SBUS and DSM, the
// values of channels a frame carries beyond those its family has.
void tst_Dump::recordsSayWhatFramesLack()
{
    QFETCH(QString, family);
    QFETCH(QString, format);
    QFETCH(QByteArray, capture);
    QFETCH(QString, record);
    QFETCH(QString, summary);
    int status = -1;
    QByteArray errors;
    const QString file = writeFile(folder.filePath("lack.bin"), capture);
    const QStringList lines = QString::fromUtf8(run({"--family", family, "--format", format, file}, &status, &errors))
                                  .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(status, 0);
    // Text and CSV begin with a header.
    const int first = format == QLatin1String("jsonl") ? 0 : 1;
    QVERIFY2(lines.size() > first && lines.at(first).contains(record), qPrintable(lines.join('\n')));
    QVERIFY2(errors.contains(summary.toUtf8()), errors.constData());
}

void tst_Dump::autoOnCapture_data()
{
    QTest::addColumn<QByteArray>("capture");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("firstOffset");
    QRandomGenerator random(37);
    // Noise without a byte a CRSF frame may start with, so that CRSF read
    // alone from the start finds nothing in it.
    QByteArray noise;
    while (noise.size() < 2000) {
        const char byte = char(random.bounded(256));
        if (!QByteArray("\xC8\xEE\xEA\xEC\x00", 5).contains(byte))
            noise += byte;
    }
    const FamilyDescriptor *crsf = familyNamed("crsf");
    QByteArray frames;
    for (int f = 0; f < 20; ++f) {
        FrameRequest request;
        request.wire = QVector<int>(16, 172 + 50 * f);
        frames += f % 10 == 9 ? crsf->linkFrame(false) : crsf->encode(request);
    }
    QTest::newRow("CRSF after noise") << noise + frames << 0 << QStringList{"found CRSF at offset 2000\n"} << 20 << 2000;
    const QByteArray mpxFrame = mpx(QVector<quint16>(12, 0x0800)), hottFrame = hott({12000, 8800});
    QTest::newRow("the window's five as one")
        << mpxFrame.repeated(3) + hottFrame.repeated(3) << 0
        << QStringList{"found MPX, HOTT at offset 0; reading the window's five families"} << 6 << 0;
    // The time of the first frame's last byte, from the first byte on.
    QTest::newRow("a capture with times")
        << csvOf(10, false) << 0 << QStringList{"found HOTT at 0.001736 s; reading the window's five families"} << 10
        << 0;
    QByteArray bytes(1 << 20, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    QTest::newRow("random bytes") << bytes << 1
                                  << QStringList{"frames: 0\n", "\nfailsafe frames: 0\n", "stray bytes: 1048576\n",
                                                 "no family found in 1048576 bytes"}
                                  << 0 << -1;
}

// --family auto reads a capture until one family's frames come in a row,
// then that family alone from the start; random bytes find none.
void tst_Dump::autoOnCapture()
{
    QFETCH(QByteArray, capture);
    QFETCH(int, status);
    QFETCH(QStringList, said);
    QFETCH(int, records);
    QFETCH(int, firstOffset);
    int got = -1;
    QByteArray errors;
    const QList<QByteArray> lines = run({"--family", "auto", "--format", "jsonl",
                                         writeFile(folder.filePath("auto.bin"), capture)},
                                        &got, &errors)
                                        .split('\n');
    QCOMPARE(got, status);
    for (const QString &part : said)
        QVERIFY2(QString::fromUtf8(errors).contains(part), errors.constData());
    QCOMPARE(lines.size() - 1, records);
    if (firstOffset >= 0)
        QCOMPARE(QJsonDocument::fromJson(lines.first()).object().value("offset").toInt(), firstOffset);
}

void tst_Dump::pollsAndReplies_data()
{
    // EX Bus at 125000 8N1, 80 µs a byte, as a logic analyser gives it:
    // requests 10 ms apart; the first answered 1 ms after its last byte
    // ended, the second 3 ms after (late), the third not at all, the fourth
    // by an answer with another packet id.
    const FamilyDescriptor *exbus = familyNamed("exbus");
    QByteArray csv("Time [s],Value,Parity Error,Framing Error\n");
    QByteArray *into = &csv;
    double byteSeconds = 0.00008;
    const auto write = [&](const QByteArray &bytes, double at) {
        for (int i = 0; i < bytes.size(); ++i)
            *into += QByteArray::number(at + i * byteSeconds, 'f', 9) + ",0x"
                + QByteArray::number(quint8(bytes[i]), 16).rightJustified(2, '0') + ",,\n";
    };
    for (int k = 0; k < 4; ++k) {
        const QByteArray request = exbus->pollFrame(k + 1);
        const double at = 0.001 + k * 0.010;
        write(request, at);
        const double answerAt = at + request.size() * 0.00008 + (k == 1 ? 0.003 : 0.001);
        const QByteArray answer = exbus->answer(request.constData(), request.size(), 0);
        if (k == 3)
            write(exbus->answer(exbus->pollFrame(9).constData(), request.size(), 0), answerAt);
        else if (k != 2)
            write(answer, answerAt);
    }
    const QString capture = writeFile(folder.filePath("exbus.csv"), csv);

    // SmartPort at 57600 8N1, 1/5760 s a byte: a reply with no poll before
    // it; 0x1B polled and answered 1 ms after the poll's last byte, polled
    // again and answered 3 ms after (late); 0x00 polled and not answered;
    // 0x1B polled once more and not answered. A poll carries no check: the
    // last, with no byte after it to confirm it, is stray bytes.
    QByteArray smartport("Time [s],Value,Parity Error,Framing Error\n");
    into = &smartport;
    byteSeconds = 1 / 5760.0;
    const QByteArray data = familyNamed("smartport")->telemetryFrame(1, 0); // 8 bytes
    const QByteArray poll1B("\x7E\x1B", 2), poll00("\x7E\x00", 2);
    write(data, 0.001);
    write(poll1B, 0.010);
    write(data, 0.010 + 2 * byteSeconds + 0.001);
    write(poll1B, 0.022);
    write(data, 0.022 + 2 * byteSeconds + 0.003);
    write(poll00, 0.034);
    write(poll1B, 0.046);
    write(poll00, 0.058);
    const QString smartportCapture = writeFile(folder.filePath("smartport.csv"), smartport);

    // The iBUS sensor bus at 115200 8N1, 1/11520 s a byte: address 1
    // discovered and echoed 0.5 ms after, address 2 discovered and not
    // answered, address 1 asked for a measurement and answered 2.6 ms after
    // (late).
    QByteArray ibus("Time [s],Value,Parity Error,Framing Error\n");
    into = &ibus;
    byteSeconds = 1 / 11520.0;
    const FamilyDescriptor *sensor = familyNamed("ibus-sensor");
    const QByteArray discover1("\x04\x81\x7A\xFF", 4), discover2("\x04\x82\x79\xFF", 4);
    const QByteArray measure1("\x04\xA1\x5A\xFF", 4);
    write(discover1, 0.001);
    write(discover1, 0.001 + 4 * byteSeconds + 0.0005);
    write(discover2, 0.008);
    write(measure1, 0.015);
    write(sensor->answer(measure1.constData(), 4, 0), 0.015 + 4 * byteSeconds + 0.0026);
    const QString ibusCapture = writeFile(folder.filePath("ibus.csv"), ibus);

    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("capture");
    QTest::addColumn<QStringList>("expected"); // in the records, in order
    QTest::addColumn<QStringList>("summary");  // lines of it
    // Serial 0x0001A400, then items 1 to 5 as the answer's first values.
    const QString values = "serial=107520 item1=12.6 item2=3.50 item3=0 item4=0 item5=-1234.56";
    QString json = "\"telemetry\":{" + values + "}";
    json.replace(QLatin1Char(' '), QLatin1Char(',')).replace(QRegularExpression("(\\w+)="), "\"\\1\":");
    const QStringList exbusSummary{"polls: 4, replies: 2 (late 1, more than 2.5 ms after the poll), missing replies: 2, "
                                   "replies without a poll: 1\n"};
    QTest::newRow("jsonl") << "exbus" << "jsonl" << capture
                           << QStringList{json + ",\"delay_ms\":1.000,\"paired\":true",
                                          json + ",\"delay_ms\":3.000,\"paired\":true",
                                          json + ",\"delay_ms\":null,\"paired\":false"} << exbusSummary;
    QTest::newRow("csv") << "exbus" << "csv" << capture
                         << QStringList{",telemetry,packet_count,delay_ms,paired,", "," + values + ",,1.000,true,",
                                        "," + values + ",,3.000,true,", "," + values + ",,,false,"} << exbusSummary;
    QTest::newRow("text") << "exbus" << "text" << capture
                          << QStringList{values + " delay_ms=1.000 paired=true", values + " delay_ms=3.000 paired=true",
                                         values + " delay_ms=- paired=false"} << exbusSummary;
    QTest::newRow("SMARTPORT text") << "smartport" << "text" << smartportCapture
                                    << QStringList{"delay_ms=- paired=false", "type=POLL", "delay_ms=1.000 paired=true",
                                                   "type=POLL", "delay_ms=3.000 paired=true"}
                                    << QStringList{"polls: 4, replies: 2 (late 1, more than 2.5 ms after the poll), "
                                                   "missing replies: 2, replies without a poll: 1\n",
                                                   "  sensor 0x1B: polls: 3, replies: 2 (late 1), missing replies: 1, "
                                                   "replies without a poll: 0\n",
                                                   "  polled, never answered: 1 (0x00)\n"};
    QTest::newRow("IBUS_SENSOR jsonl") << "ibus-sensor" << "jsonl" << ibusCapture
                                       << QStringList{"\"raw\":\"04817aff\"", "\"delay_ms\":0.500,\"paired\":true",
                                                      "MEASURE_REQUEST", "\"delay_ms\":2.600,\"paired\":true"}
                                       << QStringList{"polls: 3, replies: 2 (late 1, more than 2.5 ms after the poll), "
                                                      "missing replies: 1, replies without a poll: 0\n",
                                                      "  sensor 0x01: polls: 2, replies: 2 (late 1), missing replies: 0",
                                                      "  polled, never answered: 1 (0x02)\n"};
}

// Each answer is paired with the request before it by packet id and timed
// from its last byte; the summary counts requests, answers, late and
// missing ones, and answers to no request.
void tst_Dump::pollsAndReplies()
{
    QFETCH(QString, family);
    QFETCH(QString, format);
    QFETCH(QString, capture);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, summary);
    int status = -1;
    QByteArray errors;
    const QString out = QString::fromUtf8(run({"--family", family, "--format", format, capture}, &status, &errors));
    QCOMPARE(status, 0);
    int at = 0;
    for (const QString &part : expected) {
        at = out.indexOf(part, at);
        QVERIFY2(at >= 0, qPrintable(part + "\n" + out));
        at += part.size();
    }
    if (family == QLatin1String("exbus"))
        QCOMPARE(out.count(QLatin1String("TELEMETRY_REQUEST")), 4);
    for (const QString &line : summary)
        QVERIFY2(errors.contains(line.toUtf8()), errors.constData());
}

void tst_Dump::cleanupTestCase()
{
    // The folder cannot name it to remove it.
    ::unlink(latin1Name.constData());
    for (const char *odd : {"/t\xfe.csv", "/t\xff.csv"})
        ::unlink((QFile::encodeName(folder.path()) + odd).constData());
}

QTEST_GUILESS_MAIN(tst_Dump)
#include "tst_dump.moc"
