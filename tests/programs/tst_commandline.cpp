// SPDX-License-Identifier: GPL-3.0-or-later
// The four programs' command lines as people meet them: one meaning for each
// option letter and name in all of them, an option given twice, the window's
// --help and --version, names that are no valid text, and ports named by a
// path relative to the folder one is in.
#include "decode/families/mpx.h"
#include "decode/families/familytable.h"
#include "pty.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class tst_CommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void lettersMeanOneThing();
    void optionUse_data();
    void optionUse();
    void helpAndVersionOnAFullDisk_data();
    void helpAndVersionOnAFullDisk();
    void windowCommandLine_data();
    void windowCommandLine();
    void helpToAFullDisk_data();
    void helpToAFullDisk();
    void namesAreTheBytesGiven_data();
    void namesAreTheBytesGiven();
    void portNamedByARelativePath_data();
    void portNamedByARelativePath();
    void cleanupTestCase();

private:
    QString path(const QString &name) const { return folder.filePath(name); }
    QTemporaryDir folder;
};

namespace {

struct Result
{
    int status = -1;
    QByteArray out, errors;
};

Result run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment =
                                                                        QProcessEnvironment::systemEnvironment(),
           const QString &folder = QString())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    Result result;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.errors = process.readAllStandardError();
    return result;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray crsfFrames(int count)
{
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    return familyNamed(QStringLiteral("crsf"))->encode(request).repeated(count);
}

QByteArray mpxFrames(int count)
{
    return mpxFrame(QVector<quint16>(12, mpxWord(1500))).repeated(count);
}

} // namespace

void tst_CommandLine::initTestCase()
{
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(path("crsf.bin"), crsfFrames(3)));
    QVERIFY(writeFile(path("mpx.bin"), mpxFrames(3)));
}

// Every "-x, --name" of the four programs' --help: a letter names one
// option wherever it is taken, and --channels takes a list in each.
void tst_CommandLine::lettersMeanOneThing()
{
    const QRegularExpression entry(QStringLiteral("^\\s+-(\\S), --([\\w-]+)(?: <(\\w+)>)?"),
                                   QRegularExpression::MultilineOption);
    QMap<QString, QString> meaning; // letter: "--name in program"
    QStringList clashes, channels;
    for (const char *program : {LINKSCOPE_WINDOW, LINKSCOPE_DUMP, LINKSCOPE_SEND, LINKSCOPE_PLOT}) {
        const Result help = run(QString::fromLatin1(program), {"--help"});
        QCOMPARE(help.status, 0);
        const QString name = QFileInfo(QString::fromLatin1(program)).fileName();
        QRegularExpressionMatchIterator matches = entry.globalMatch(QString::fromUtf8(help.out));
        QVERIFY2(matches.hasNext(), help.out.constData());
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            const QString letter = match.captured(1), longName = match.captured(2);
            if (longName == QLatin1String("channels"))
                channels << name + QLatin1Char(' ') + match.captured(3);
            const QString seen = meaning.value(letter);
            if (!seen.isEmpty() && !seen.startsWith(QStringLiteral("--") + longName + QLatin1Char(' ')))
                clashes << QStringLiteral("-%1: %2, --%3 in %4").arg(letter, seen, longName, name);
            meaning.insert(letter, QStringLiteral("--%1 in %2").arg(longName, name));
        }
    }
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join(QStringLiteral("; "))));
    QCOMPARE(channels, QStringList({"linkscope-dump list", "linkscope-send list", "linkscope-plot list"}));
}

void tst_CommandLine::optionUse_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("said"); // in standard output and error together
    const QString dump = QStringLiteral(LINKSCOPE_DUMP), send = QStringLiteral(LINKSCOPE_SEND),
                  plot = QStringLiteral(LINKSCOPE_PLOT);
    const QString crsf = path("crsf.bin");
    QTest::newRow("dump: -f is the family, --format the format")
        << dump << QStringList{"-f", "crsf", "--format", "jsonl", crsf} << 0 << QByteArray("\"family\":\"CRSF\"");
    QTest::newRow("dump: -f with a format names --format")
        << dump << QStringList{"-f", "csv", crsf} << 2 << QByteArray("give --format csv");
    QTest::newRow("dump: a family given twice, two ways")
        << dump << QStringList{"--family", "crsf", "-f", "sbus", crsf} << 2
        << QByteArray("--family is given more than once, as 'crsf' and 'sbus'");
    QTest::newRow("dump: a family given twice alike") << dump << QStringList{"--family", "crsf", "-f", "crsf", crsf}
                                                     << 0 << QByteArray("frames: 3 (CRSF 3)");
    QTest::newRow("dump: a format given twice") << dump << QStringList{"--format", "csv", "--format", "jsonl", crsf}
                                               << 2 << QByteArray("--format is given more than once");
    QTest::newRow("dump: -c picks channels") << dump << QStringList{"-f", "crsf", "-c", "2", "--format", "csv", crsf}
                                            << 0 << QByteArray("us2,wire2,");
    // A frame carries its channels from 1 on: the highest listed is the count.
    QTest::newRow("send: --channels 1-16") << send << QStringList{"-f", "hott", "--channels", "1-16", "-n", "1", "-"}
                                          << 0 << QByteArray("\xa8\x01\x10", 3);
    QTest::newRow("send: --channels 16, as before") << send << QStringList{"-f", "hott", "-c", "16", "-n", "1", "-"}
                                                   << 0 << QByteArray("\xa8\x01\x10", 3);
    // DSM 1024's positions are 10-bit in both programs: 1023, 0 and 512 go as the words 0x03FF, 0x0400, 0x0A00.
    QTest::newRow("send: DSM 1024 --wire as dump shows it")
        << send << QStringList{"-f", "dsm", "--dsm", "1024", "--wire", "1023,0,512", "-n", "1", "-"} << 0
        << QByteArray("\x03\xff\x04\x00\x0a\x00", 6);
    QTest::newRow("send: DSM 1024 --wire past 10 bits")
        << send << QStringList{"-f", "dsm", "--dsm", "1024", "--wire", "1024", "-"} << 2
        << QByteArray("channel 1: 1024 lies outside DSM's range, 0 to 1023");
    QTest::newRow("send: a rate given twice") << send << QStringList{"-f", "hott", "-r", "50", "--rate", "100", "-"}
                                             << 2 << QByteArray("--rate is given more than once");
    QTest::newRow("plot: -f is the family") << plot << QStringList{"-f", "crsf", crsf, "-o", path("crsf.png")} << 0
                                           << QByteArray("crsf.png: 3 frames");
    QTest::newRow("dump: --help-all, the usage first") << dump << QStringList{"--help-all"} << 0 << QByteArray("Usage: ");
    QTest::newRow("plot: --help-all, the usage first") << plot << QStringList{"--help-all"} << 0 << QByteArray("Usage: ");
    QTest::newRow("dump: --help-all, as its help says") << dump << QStringList{"--help-all"} << 0
                                                       << QByteArray("--qmljsdebugger");
    QTest::newRow("plot: --help-all, as its help says") << plot << QStringList{"--help-all"} << 0
                                                       << QByteArray("--qmljsdebugger");
    QTest::newRow("plot: channels given twice") << plot << QStringList{"-c", "1", "--channels", "2", crsf} << 2
                                               << QByteArray("--channels is given more than once");
}

void tst_CommandLine::optionUse()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, said);
    const Result result = run(program, arguments);
    QVERIFY2(result.status == status, result.errors.constData());
    QVERIFY2((result.out + result.errors).contains(said), (result.out + result.errors).constData());
}

// What --help and --version print is output like any other: a disk that
// takes none of it is a failure, said.
void tst_CommandLine::helpAndVersionOnAFullDisk_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    for (const char *program : {LINKSCOPE_DUMP, LINKSCOPE_SEND, LINKSCOPE_PLOT}) {
        for (const char *option : {"--help", "--version"}) {
            const QString name = QFileInfo(QString::fromLatin1(program)).fileName();
            QTest::newRow(qPrintable(name + QLatin1Char(' ') + QLatin1String(option)))
                << QString::fromLatin1(program) << QString::fromLatin1(option);
        }
    }
}

void tst_CommandLine::helpAndVersionOnAFullDisk()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(program, {option});
    QVERIFY(process.waitForFinished(30000));
    const QByteArray errors = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(errors.endsWith(": cannot write to standard output: No space left on device\n"), errors.constData());
}

void tst_CommandLine::windowCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display"); // false: none to connect to
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("errors");
    QTest::newRow("help") << QStringList{"--help"} << true << 0 << QByteArray("Usage: ") << QByteArray();
    QTest::newRow("help without a display") << QStringList{"-h"} << false << 0 << QByteArray("-v, --version")
                                            << QByteArray();
    QTest::newRow("version") << QStringList{"--version"} << true << 0 << QByteArray("linkscope 1.0") << QByteArray();
    QTest::newRow("version after a Qt option") << QStringList{"-style", "fusion", "-v"} << false << 0
                                               << QByteArray("linkscope 1.0") << QByteArray();
    QTest::newRow("unknown option") << QStringList{"--bogus"} << true << 2 << QByteArray()
                                    << QByteArray("linkscope: Unknown option 'bogus'.\nTry 'linkscope --help'.");
    QTest::newRow("an argument") << QStringList{"ttyUSB0"} << true << 2 << QByteArray()
                                 << QByteArray("no arguments are taken, 'ttyUSB0' given");
}

void tst_CommandLine::windowCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, errors);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!display) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    // The window that opened instead is ended by the wait's end.
    const Result result = run(QStringLiteral(LINKSCOPE_WINDOW), arguments, environment);
    QCOMPARE(result.status, status);
    QVERIFY2(result.out.contains(out), result.out.constData());
    QVERIFY2(result.errors.contains(errors), result.errors.constData());
}

void tst_CommandLine::helpToAFullDisk_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::newRow("dump --help") << QStringLiteral(LINKSCOPE_DUMP) << "--help";
    QTest::newRow("send --help") << QStringLiteral(LINKSCOPE_SEND) << "--help";
    QTest::newRow("send --version") << QStringLiteral(LINKSCOPE_SEND) << "--version";
    QTest::newRow("plot --help-all") << QStringLiteral(LINKSCOPE_PLOT) << "--help-all";
    QTest::newRow("window --version") << QStringLiteral(LINKSCOPE_WINDOW) << "--version";
}

// Help and the version are output as records are: a write error is said
// and fails, never a silent success.
void tst_CommandLine::helpToAFullDisk()
{
    QFETCH(QString, program);
    QFETCH(QString, option);
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(program, {option});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    const QByteArray errors = process.readAllStandardError();
    QVERIFY2(errors.contains("cannot write to standard output: No space left on device"), errors.constData());
}

// Names that are no valid UTF-8, as older systems and cameras make them, are
// used as the bytes given, in the locale most people run.
void tst_CommandLine::namesAreTheBytesGiven_data()
{
    QTest::addColumn<QString>("command"); // for sh; $0 the program, bytes written by printf
    QTest::addColumn<QByteArray>("made"); // a file it makes, by its bytes
    QTest::addColumn<QByteArray>("out");  // what standard output holds
    const QByteArray capture = mpxFrames(3);
    QTest::newRow("plot reads a capture, draws beside it")
        << QStringLiteral("exec \"$0\" \"$(printf 'caf\\351-\\377.bin')\"") << QByteArray("caf\xe9-\xff.png")
        << QByteArray();
    QTest::newRow("plot draws into -o")
        << QStringLiteral("exec \"$0\" mpx.bin -o \"$(printf 'out\\377.png')\"") << QByteArray("out\xff.png")
        << QByteArray();
    QTest::newRow("send replays it")
        << QStringLiteral("exec \"$0\" --replay \"$(printf 'caf\\351-\\377.bin')\" --rate max -") << QByteArray()
        << capture;
}

void tst_CommandLine::namesAreTheBytesGiven()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, made);
    QFETCH(QByteArray, out);
    const QByteArray folderBytes = QFile::encodeName(folder.path()) + '/';
    const QByteArray capture = mpxFrames(3);
    const QByteArray name = folderBytes + "caf\xe9-\xff.bin";
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(fd >= 0 && ::write(fd, capture.constData(), size_t(capture.size())) == capture.size() && ::close(fd) == 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    const QString program = command.contains(QLatin1String("--replay")) ? QStringLiteral(LINKSCOPE_SEND)
                                                                         : QStringLiteral(LINKSCOPE_PLOT);
    const Result result = run(QStringLiteral("/bin/sh"), {"-c", command, program}, environment, folder.path());
    QVERIFY2(result.status == 0, result.errors.constData());
    QCOMPARE(result.out, out);
    struct stat info;
    if (!made.isEmpty()) {
        QVERIFY2(::stat((folderBytes + made).constData(), &info) == 0 && info.st_size > 0, result.errors.constData());
        // Not under the name with the bytes replaced.
        QVERIFY(::stat((folderBytes + "out\xef\xbf\xbd.png").constData(), &info) != 0);
    }
}

// A port named with a slash is the path given, relative to the folder one is
// in: ./0 in /dev/pts is /dev/pts/0, not /dev/./0. A pseudo-terminal's
// warning of the parity it cannot keep names the port so too.
void tst_CommandLine::portNamedByARelativePath_data()
{
    QTest::addColumn<bool>("sending"); // linkscope-send writes to it, else linkscope-dump reads
    QTest::newRow("linkscope-dump reads ./N in /dev/pts") << false;
    QTest::newRow("linkscope-send writes to ./N in /dev/pts") << true;
}

void tst_CommandLine::portNamedByARelativePath()
{
    QFETCH(bool, sending);
    PseudoTerminal port;
    QVERIFY(port.isValid());
    const QFileInfo slave(port.slavePath());
    const QString relative = QStringLiteral("./") + slave.fileName();
    QProcess process;
    process.setWorkingDirectory(slave.path());
    if (sending) {
        process.start(QStringLiteral(LINKSCOPE_SEND), {"-f", "sbus", "-n", "3", "--rate", "max", relative});
        QVERIFY(process.waitForFinished(30000));
        const QByteArray errors = process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0, errors.constData());
        QVERIFY2(errors.contains(relative.toUtf8() + " is a pseudo-terminal"), errors.constData());
        QByteArray sent;
        QTRY_COMPARE_WITH_TIMEOUT((sent += port.read(100)).size(), 3 * 25, 10000);
        return;
    }
    process.start(QStringLiteral(LINKSCOPE_DUMP), {relative, "--count", "3", "--format", "csv"});
    QVERIFY(process.waitForStarted());
    // Bytes written once it holds the port are read.
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const auto holdsPort = [&] {
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return std::count_if(entries.cbegin(), entries.cend(), [&](const QString &fd) {
                   return QFile::symLinkTarget(fds.filePath(fd)) == port.slavePath();
               }) >= 2;
    };
    QTRY_VERIFY_WITH_TIMEOUT(holdsPort(), 10000);
    QVERIFY(port.write(mpxFrames(3)));
    QVERIFY(process.waitForFinished(30000));
    const QByteArray errors = process.readAllStandardError();
    QVERIFY2(process.exitCode() == 0, errors.constData());
    QVERIFY2(errors.contains("frames: 3 (MPX 3)"), errors.constData());
}

// The names that are no text, which QTemporaryDir could not remove.
void tst_CommandLine::cleanupTestCase()
{
    for (const char *name : {"caf\xe9-\xff.bin", "caf\xe9-\xff.png", "out\xff.png"})
        ::unlink((QFile::encodeName(folder.path()) + '/' + name).constData());
}

QTEST_GUILESS_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
