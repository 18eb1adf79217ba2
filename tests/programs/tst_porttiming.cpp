// SPDX-License-Identifier: GPL-3.0-or-later
// Frame times on a port, end to end: linkscope-dump, linkscope-plot and
// linkscope-send on a pseudo-terminal whose other side plays a receiver
// behind an adapter, with frames held for a 16 ms latency timer or written
// each when due; low-latency mode asked of the port and said; and jsonl
// records that say where each time came from.
#include "pty.h"
#include "timedwriter.h"

#include "decode/families/familytable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <termios.h>

class tst_PortTiming : public QObject
{
    Q_OBJECT

private slots:
    void dumpTellsBunchedReads_data();
    void dumpTellsBunchedReads();
    void captureWithoutTimesTellsNone();
    void plotNotesBunchedReads();
    void plotReadsBunchingFromRecords();
    void lowLatencyIsAskedAndSaid_data();
    void lowLatencyIsAskedAndSaid();

private:
    QString path(const QString &name) const { return folder.filePath(name); }
    QTemporaryDir folder;
};

namespace {

// The bunching note's start, which a picture shows however narrow the
// platform's font metrics leave the line.
const QString bunchedStart = QStringLiteral("frame times are bunched by the adapter");

// A CRSF channels frame: 26 bytes, 0.62 ms on the line at 420000 baud, so
// that even 1000 frames/s fit on it.
QByteArray crsfFrame()
{
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    return familyNamed(QStringLiteral("crsf"))->encode(request);
}

QByteArray hottFrame()
{
    FrameRequest request;
    request.wire = QVector<int>(8, 12000);
    return familyNamed(QStringLiteral("hott"))->encode(request);
}

// Starts program on the pty and waits until it holds the port, so that it
// reads every byte written from then on. It inherits the test's own
// descriptor of the port, so the port is its own at the second.
bool startOnPort(QProcess &process, const QString &program, const PseudoTerminal &pty, const QStringList &arguments)
{
    process.start(program, arguments);
    if (!process.waitForStarted())
        return false;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const auto holdsPort = [&] {
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return std::count_if(entries.cbegin(), entries.cend(), [&](const QString &fd) {
                   return QFile::symLinkTarget(fds.filePath(fd)) == pty.slavePath();
               }) >= 2;
    };
    QElapsedTimer waited;
    waited.start();
    while (!holdsPort() && waited.elapsed() < 10000)
        QTest::qWait(20);
    return holdsPort();
}

QStringList svgTexts(const QString &file)
{
    QFile svg(file);
    QStringList texts;
    if (!svg.open(QIODevice::ReadOnly))
        return texts;
    QXmlStreamReader xml(&svg);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
            texts << xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
    }
    return texts;
}

bool anyStartsWith(const QStringList &texts, const QString &start)
{
    return std::any_of(texts.cbegin(), texts.cend(), [&](const QString &text) { return text.startsWith(start); });
}

} // namespace

void tst_PortTiming::dumpTellsBunchedReads_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QStringList>("family");
    QTest::addColumn<double>("periodMs"); // frames fall due this often
    QTest::addColumn<double>("tickMs");   // and are written at the adapter's ticks; 0: each when due
    const QStringList hott{"--family", "hott"}, crsf{"--family", "crsf"};
    QTest::newRow("9 ms frames held for a 16 ms timer") << hottFrame() << hott << 9.0 << 16.0;
    QTest::newRow("7 ms frames held for a 16 ms timer") << hottFrame() << hott << 7.0 << 16.0;
    QTest::newRow("22 ms frames held for a 16 ms timer") << hottFrame() << hott << 22.0 << 16.0;
    QTest::newRow("1000 frames/s, each when due") << crsfFrame() << crsf << 1.0 << 0.0;
    QTest::newRow("250 frames/s, each when due") << crsfFrame() << crsf << 4.0 << 0.0;
    QTest::newRow("111 frames/s, each when due") << hottFrame() << hott << 9.0 << 0.0;
    QTest::newRow("100 frames/s, each when due") << crsfFrame() << crsf << 10.0 << 0.0;
}

void tst_PortTiming::dumpTellsBunchedReads()
{
    QFETCH(QByteArray, frame);
    QFETCH(QStringList, family);
    QFETCH(double, periodMs);
    QFETCH(double, tickMs);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QProcess dump;
    QVERIFY(startOnPort(dump, QStringLiteral(LINKSCOPE_DUMP), pty, QStringList{pty.slavePath(), "--format", "jsonl"} + family));
    // Four seconds of frames. The warning comes within two seconds of
    // bunched reads (tst_readbunching times that on made-up reads); here a
    // machine busy enough to take reads late at random gets two more.
    {
        TimedWriter writer(pty.masterDescriptor(), frame, periodMs, tickMs, 4.0);
        QByteArray records;
        QTRY_VERIFY_WITH_TIMEOUT((records += dump.readAllStandardOutput(), writer.done()), 30000);
        QTRY_COMPARE_WITH_TIMEOUT((records += dump.readAllStandardOutput()).count('\n'), int(writer.framesWritten()),
                                  30000);
        dump.terminate();
        QVERIFY(dump.waitForFinished(30000));
        records += dump.readAllStandardOutput();
        const QByteArray errors = dump.readAllStandardError();
        QCOMPARE(dump.exitCode(), 0);
        // The reads' period as the note tells it: 16 ms, give or take the
        // machine's own delays.
        static const QRegularExpression note(QStringLiteral(
            "frame times are bunched by the adapter \\(reads about every (\\d+) ms\\): the frame rate is right, "
            "single intervals are not"));
        const QRegularExpressionMatch said = note.match(QString::fromUtf8(errors));
        // A machine that could not even write at steady ticks played no adapter.
        if (tickMs > 0 && !said.hasMatch() && writer.lateShare() > 0.2)
            QSKIP(qPrintable(QStringLiteral("the machine was too busy to play a 16 ms timer: %1 % of the ticks were "
                                            "written more than 3 ms late")
                                 .arg(writer.lateShare() * 100, 0, 'f', 0)));
        QVERIFY2(said.hasMatch() == (tickMs > 0),
                 qPrintable(QStringLiteral("%1 (%2 % of the ticks written more than 3 ms late)")
                                .arg(QString::fromUtf8(errors))
                                .arg(writer.lateShare() * 100, 0, 'f', 0)));
        if (tickMs > 0)
            QVERIFY2(qAbs(said.captured(1).toInt() - 16) <= 1, qPrintable(said.captured(0)));
        // The remedy follows, for an adapter the driver of a pty leaves unknown.
        if (tickMs > 0)
            QVERIFY2(errors.contains("remedy: on an FTDI adapter, low-latency mode"), errors.constData());
        // Every record says where its time came from: the first frame of a
        // read from the read, the frames after it from the wire; bunched
        // reads hold several.
        int fromRead = 0, fromWire = 0;
        for (const QByteArray &line : records.split('\n')) {
            if (line.isEmpty())
                continue;
            const QString from = QJsonDocument::fromJson(line).object().value("t_from").toString();
            QVERIFY2(from == "read" || from == "wire", line.constData());
            (from == "read" ? fromRead : fromWire) += 1;
        }
        QVERIFY(fromRead > 0);
        if (tickMs > 0 && periodMs < tickMs)
            QVERIFY2(fromWire > fromRead / 3, qPrintable(QStringLiteral("%1 read, %2 wire").arg(fromRead).arg(fromWire)));
    }
}

// A capture holds no times: nothing to say of reads, and no t_from; a
// logic analyser's export has the times of its bytes.
void tst_PortTiming::captureWithoutTimesTellsNone()
{
    QFile capture(path("bunched.bin"));
    QVERIFY(capture.open(QIODevice::WriteOnly));
    capture.write(hottFrame().repeated(400));
    capture.close();
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {capture.fileName(), "--format", "jsonl"});
    QVERIFY(dump.waitForFinished(30000));
    const QByteArray records = dump.readAllStandardOutput(), errors = dump.readAllStandardError();
    QCOMPARE(dump.exitCode(), 0);
    QCOMPARE(records.count('\n'), 400);
    QVERIFY(!records.contains("t_from"));
    QVERIFY2(!errors.contains("bunched"), errors.constData());

    QByteArray csv = "Time [s],Value,Parity Error,Framing Error\n";
    const QByteArray frame = hottFrame();
    for (int i = 0; i < 3 * frame.size(); ++i)
        csv += QByteArray::number(0.01 * (i / frame.size()) + i * 0.0001, 'f', 7) + ",0x"
               + QByteArray::number(quint8(frame.at(i % frame.size())), 16) + ",,\n";
    QFile exported(path("export.csv"));
    QVERIFY(exported.open(QIODevice::WriteOnly));
    exported.write(csv);
    exported.close();
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {exported.fileName(), "--format", "jsonl"});
    QVERIFY(dump.waitForFinished(30000));
    const QByteArray timed = dump.readAllStandardOutput();
    QCOMPARE(timed.count("\"t_from\":\"capture\""), 3);
}

// A port drawn while frames come in bunches: the interval lane says so.
void tst_PortTiming::plotNotesBunchedReads()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QProcess plot;
    double lateShare = 0;
    QVERIFY(startOnPort(plot, QStringLiteral(LINKSCOPE_PLOT), pty,
                        {pty.slavePath(), "-o", path("port.svg"), "--family", "hott"}));
    {
        TimedWriter writer(pty.masterDescriptor(), hottFrame(), 9, 16, 6.0);
        QTRY_VERIFY_WITH_TIMEOUT(writer.done(), 30000);
        lateShare = writer.lateShare();
    }
    plot.terminate();
    QVERIFY(plot.waitForFinished(30000));
    const QByteArray errors = plot.readAllStandardError();
    QCOMPARE(plot.exitCode(), 0);
    QVERIFY2(errors.contains("low-latency mode: none on a pseudo-terminal"), errors.constData());
    const QStringList texts = svgTexts(path("port.svg"));
    if (!anyStartsWith(texts, bunchedStart) && lateShare > 0.2)
        QSKIP(qPrintable(QStringLiteral("the machine was too busy to play a 16 ms timer: %1 % of the ticks were "
                                        "written more than 3 ms late")
                             .arg(lateShare * 100, 0, 'f', 0)));
    QVERIFY2(anyStartsWith(texts, bunchedStart), qPrintable(texts.join('\n')));
    QVERIFY(anyStartsWith(texts, QStringLiteral("remedy: on an FTDI adapter")));
}

// linkscope-dump's records drawn later: t_from tells the reads again. The
// same frames with times of their own draw no note.
void tst_PortTiming::plotReadsBunchingFromRecords()
{
    const QByteArray hex = hottFrame().toHex();
    QByteArray bunched, steady;
    // Frames due every 9 ms, handed over at 16 ms ticks; the later frames
    // of a tick placed back by their time on the line.
    int frame = 0;
    for (int tick = 1; tick <= 300; ++tick) {
        QVector<int> due;
        for (; frame * 9 < tick * 16; ++frame)
            due << frame;
        for (int i = 0; i < due.size(); ++i) {
            const double t = tick * 0.016 - (due.size() - 1 - i) * 21 * 10 / 115200.0;
            bunched += "{\"t\":" + QByteArray::number(t, 'f', 6) + ",\"t_from\":\"" + (i == 0 ? "read" : "wire")
                       + "\",\"family\":\"HOTT\",\"raw\":\"" + hex + "\"}\n";
        }
    }
    for (int i = 0; i < 500; ++i)
        steady += "{\"t\":" + QByteArray::number(i * 0.009, 'f', 6) + ",\"t_from\":\"read\",\"family\":\"HOTT\",\"raw\":\""
                  + hex + "\"}\n";
    for (const auto &records : {qMakePair(QStringLiteral("bunched"), bunched), qMakePair(QStringLiteral("steady"), steady)}) {
        QFile file(path(records.first + ".jsonl"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(records.second);
        file.close();
        QProcess plot;
        plot.start(QStringLiteral(LINKSCOPE_PLOT), {file.fileName(), "-o", path(records.first + ".svg")});
        QVERIFY(plot.waitForFinished(60000));
        QCOMPARE(plot.exitCode(), 0);
        const QStringList texts = svgTexts(path(records.first + ".svg"));
        QCOMPARE(anyStartsWith(texts, bunchedStart), records.first == "bunched");
    }
}

void tst_PortTiming::lowLatencyIsAskedAndSaid_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("said");
    QTest::addColumn<int>("status"); // auto finds no family in one frame, and says so
    const QString dump = QStringLiteral(LINKSCOPE_DUMP), send = QStringLiteral(LINKSCOPE_SEND);
    QTest::newRow("dump") << dump << QStringList() << true << 0;
    QTest::newRow("dump --quiet") << dump << QStringList{"-q"} << false << 0;
    QTest::newRow("dump --no-low-latency") << dump << QStringList{"--no-low-latency"} << false << 0;
    QTest::newRow("dump --family auto") << dump << QStringList{"--family", "auto"} << true << 1;
    QTest::newRow("send") << send << QStringList{"-f", "hott", "-r", "50"} << true << 0;
    QTest::newRow("send --quiet") << send << QStringList{"-f", "hott", "-r", "50", "-q"} << false << 0;
    QTest::newRow("send --no-low-latency") << send << QStringList{"-f", "hott", "-r", "50", "--no-low-latency"} << false << 0;
}

// On a pseudo-terminal, which has no serial settings, the mode is asked,
// refused harmlessly, and said once; the port reads each byte as it comes
// (no VMIN above 1, no VTIME) and its settings are given back at the end.
void tst_PortTiming::lowLatencyIsAskedAndSaid()
{
    QFETCH(QString, program);
    QFETCH(QStringList, options);
    QFETCH(bool, said);
    QFETCH(int, status);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    termios before;
    QCOMPARE(::tcgetattr(pty.slaveFd(), &before), 0);
    QProcess process;
    QVERIFY(startOnPort(process, program, pty, options << pty.slavePath()));
    termios during;
    QCOMPARE(::tcgetattr(pty.slaveFd(), &during), 0);
    if (program == QLatin1String(LINKSCOPE_DUMP)) {
        QVERIFY(during.c_cc[VMIN] <= 1);
        QCOMPARE(int(during.c_cc[VTIME]), 0);
        QVERIFY(pty.write(hottFrame()));
    }
    process.terminate();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), status);
    const QByteArray errors = process.readAllStandardError();
    QCOMPARE(errors.count("low-latency mode: none on a pseudo-terminal, which holds no bytes back\n"), said ? 1 : 0);
    termios after;
    QCOMPARE(::tcgetattr(pty.slaveFd(), &after), 0);
    QCOMPARE(int(after.c_cc[VMIN]), int(before.c_cc[VMIN]));
    QCOMPARE(after.c_lflag, before.c_lflag);
}

QTEST_GUILESS_MAIN(tst_PortTiming)
#include "tst_porttiming.moc"
