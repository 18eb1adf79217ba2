// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump run as a user runs it: on a capture file, on a live port
// while recording, and with the mistakes people make on the command line.
#include "packets.h"
#include "pty.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace packets;

class tst_Dump : public QObject
{
    Q_OBJECT

private slots:
    void captureFileGivesOneRecordPerFrame();
    void liveRunRecordsWhatArrived();
    void errorExits_data();
    void errorExits();

private:
    QTemporaryDir folder;
};

static QByteArray run(const QStringList &arguments, int *status = nullptr, QByteArray *errors = nullptr)
{
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), arguments);
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
    // Channel 2 twice (the later stands), a word with bit 15 set, channel 16.
    const QByteArray spektrumFrame = spektrum({spektrumWord(0, 1024), spektrumWord(1, 2047), spektrumWord(1, 1),
                                               0x8005, spektrumWord(15, 0), spektrumWord(3, 100),
                                               spektrumWord(3, 200)},
                                              0x02);
    const QByteArray nordaxFrame = nordax(7, QVector<quint16>(12, 3000));
    const QByteArray noise = fromHex("00 13 A8 01 FF 55");
    const QByteArray stream = noise + mpxFrame + failsafe + noise + spektrumFrame + corrupted(spektrumFrame)
        + nordaxFrame;
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
        record(corrupted(spektrumFrame), "SPEKTRUM", "false", "false", spektrumUs, spektrumWire),
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

void tst_Dump::liveRunRecordsWhatArrived()
{
    PseudoTerminal pty;
    const QString recording = folder.filePath("live.bin");
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {pty.slavePath(), "--write", recording, "--format", "csv"});
    QVERIFY(dump.waitForStarted());
    // Write once the program holds the port, so that it reads every byte.
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(dump.processId()));
    const auto holdsPort = [&] {
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return std::any_of(entries.cbegin(), entries.cend(), [&](const QString &fd) {
            return QFile::symLinkTarget(fds.filePath(fd)) == pty.slavePath();
        });
    };
    QTRY_VERIFY(holdsPort());

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
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);
    QFile file(recording);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), sent);
    QVERIFY2(out.split('\n').at(20).contains(",HOTT,true,false,1394,"), out.constData());
}

void tst_Dump::errorExits_data()
{
    const QString capture = writeFile(folder.filePath("small.bin"), mpx(QVector<quint16>(12, 0x0800)));
    const QString existing = writeFile(folder.filePath("existing.bin"), "keep me");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::newRow("no source") << QStringList{} << 2 << "no source";
    QTest::newRow("two sources") << QStringList{capture, capture} << 2 << "exactly one source";
    QTest::newRow("unknown format") << QStringList{"-f", "xml", capture} << 2 << "xml";
    QTest::newRow("unknown option") << QStringList{"--colour", capture} << 2 << "colour";
    QTest::newRow("missing port") << QStringList{"/dev/linkscope-no-such-port"} << 1
                                  << "cannot open /dev/linkscope-no-such-port: No such file";
    QTest::newRow("recording over a file") << QStringList{capture, "--write", existing} << 1 << "--force";
}

void tst_Dump::errorExits()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, said);
    int got = -1;
    QByteArray errors;
    run(arguments, &got, &errors);
    QCOMPARE(got, status);
    QVERIFY2(QString::fromLocal8Bit(errors).contains(said), errors.constData());
    QFile existing(folder.filePath("existing.bin"));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me"));
}

QTEST_GUILESS_MAIN(tst_Dump)
#include "tst_dump.moc"
