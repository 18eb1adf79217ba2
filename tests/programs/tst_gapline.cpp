// SPDX-License-Identifier: GPL-3.0-or-later
// SBUS, DSM and SUMH on real pseudo-terminals: linkscope-send into one and
// linkscope-dump from another bring back the µs sent, and --family auto
// finds every family on a line that carries frames only at the family's
// own settings, as a receiver at the wrong baud gives noise, and keeps what
// it read before it found it. Through a pipe, without byte times, every good
// frame is found amid damaged ones; SBUS2 captures, raw or with times, give
// every frame and their slots.
#include "relay.h"

#include "decode/families/familytable.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <asm/termbits.h>
#include <atomic>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

class tst_GapLine : public QObject
{
    Q_OBJECT

private slots:
    void sendToDump_data();
    void sendToDump();
    void pipe_data();
    void pipe();
    void sbus2Capture_data();
    void sbus2Capture();
    void autoFamily_data();
    void autoFamily();
    void autoKeepsWhatDecided();
};

namespace {

bool holds(const QProcess &process, const QString &path)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&](const QString &fd) { return QFile::symLinkTarget(fds.filePath(fd)) == path; });
}

int waiting(int fd)
{
    int bytes = 0;
    return ::ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

// A receiver of family on the master side: from startAfterMs on, its frames
// while the slave's speed and stop bits are the family's, else what a UART
// makes of them at another speed: noise, at the line's pace or at noiseRate
// bytes a second. nullptr: noise at every setting.
class LineAwareReceiver : public QThread
{
public:
    // baud: the receiver's, where it is not the family's own.
    LineAwareReceiver(PseudoTerminal &pty, const FamilyDescriptor *family, int startAfterMs, int noiseRate = 0,
                      int baud = 0)
        : pty(pty), family(family), startAfterMs(startAfterMs), noiseRate(noiseRate),
          baud(baud > 0 || !family ? baud : family->line.baud)
    {
        ::fcntl(pty.masterDescriptor(), F_SETFL, ::fcntl(pty.masterDescriptor(), F_GETFL) | O_NONBLOCK);
    }
    ~LineAwareReceiver() override { stop(); }
    void stop()
    {
        stopping = true;
        wait();
    }
    // Every byte the line took, and the frames sent since the settings
    // last turned to the family's.
    QByteArray written() const
    {
        QMutexLocker lock(&mutex);
        return all;
    }
    int framesAtMatch() const { return sinceMatch; }
    // Since the clock started, when the first frame went; -1 before.
    qint64 firstFrameAt() const { return firstFrame; }
    QElapsedTimer clock;

protected:
    void run() override
    {
        QRandomGenerator random(34);
        qint64 index = 0;
        while (!stopping) {
            struct termios2 settings;
            if (::ioctl(pty.slaveFd(), TCGETS2, &settings) != 0)
                return;
            const int stopBits = settings.c_cflag & CSTOPB ? 2 : 1;
            const bool matches = family && int(settings.c_ospeed) == baud
                && stopBits == family->line.stopBits;
            QByteArray bytes;
            int sleepMs = 5;
            if (clock.elapsed() < startAfterMs) {
                // Not powered yet: a quiet line.
            } else if (matches) {
                FrameRequest request;
                request.index = index++;
                for (int k = 0; k < family->defaultChannels; ++k)
                    request.wire << (family->hasMicroseconds() ? family->wireFor(k, 1500) : 2432);
                bytes = family->encode(request);
                sleepMs = int(family->periodMs);
                if (firstFrame < 0)
                    firstFrame = clock.elapsed();
            } else {
                bytes.resize(int((noiseRate > 0 ? noiseRate : settings.c_ospeed / 10) * sleepMs / 1000));
                for (char &byte : bytes)
                    byte = char(random.bounded(256));
                sinceMatch = 0;
            }
            const ssize_t n = ::write(pty.masterDescriptor(), bytes.constData(), size_t(bytes.size()));
            if (n > 0) {
                QMutexLocker lock(&mutex);
                all.append(bytes.constData(), int(n));
            }
            if (matches && n == bytes.size())
                ++sinceMatch;
            QThread::msleep(qMax(1, sleepMs));
        }
    }

private:
    PseudoTerminal &pty;
    const FamilyDescriptor *family;
    const int startAfterMs;
    const int noiseRate;
    const int baud;
    mutable QMutex mutex;
    QByteArray all;
    std::atomic<int> sinceMatch{0};
    std::atomic<bool> stopping{false};
    std::atomic<qint64> firstFrame{-1};
};

} // namespace

void tst_GapLine::sendToDump_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("us");
    QTest::addColumn<int>("format");
    const QStringList twelve{"898", "2101", "1000", "1500", "2000", "1200", "1300", "1400", "1600", "1700", "1800", "1900"};
    QTest::newRow("SBUS, failsafe, damaged")
        << "sbus" << QStringList{"--failsafe-after", "0.4", "--corrupt", "0.2"}
        << QStringList{"875", "2154", "1000", "1500", "2000"} << 0;
    QTest::newRow("DSM 2048, twelve channels in pairs, damaged")
        << "dsm" << QStringList{"--corrupt", "0.1"} << twelve << 2048;
    QTest::newRow("DSM 1024, seven channels") << "dsm" << QStringList{"--dsm", "1024"}
                                              << QStringList{"898", "2101", "1000", "1500", "2000", "1200", "1300"} << 1024;
    QTest::newRow("SUMH, damaged") << "sumh" << QStringList{"--corrupt", "0.2", "--failsafe-after", "0.5"}
                                   << QStringList{"0", "9864", "1000", "1500", "2000", "1234"} << 0;
}

// The family's own line settings on both sides, 100000 8E2 (a pty keeps no
// parity) or 115200 8N1; every frame taken carries the µs sent, damaged
// frames are stray bytes, and SBUS flags its failsafe (DSM and SUMH fall
// silent).
void tst_GapLine::sendToDump()
{
    QFETCH(QString, family);
    QFETCH(QStringList, options);
    QFETCH(QStringList, us);
    QFETCH(int, format);

    PseudoTerminal sendSide, dumpSide;
    PtyRelay relay(sendSide, dumpSide);
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {dumpSide.slavePath(), "--family", family, "--format", "jsonl"});
    QVERIFY(dump.waitForStarted());
    QTRY_VERIFY(holds(dump, dumpSide.slavePath()));
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), QStringList{"--family", family, "--us", us.join(','), "-d", "0.8",
                                                            "--seed", "3"}
                                                   << options << sendSide.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT(send.state() == QProcess::NotRunning, 20000);
    QCOMPARE(send.exitCode(), 0);
    QTRY_VERIFY(waiting(sendSide.masterDescriptor()) == 0 && waiting(dumpSide.slaveFd()) == 0);
    // Both ends at the family's speed and stop bits.
    struct termios2 settings;
    QCOMPARE(::ioctl(dumpSide.slaveFd(), TCGETS2, &settings), 0);
    const FamilyDescriptor *row = familyNamed(family);
    QCOMPARE(int(settings.c_ospeed), row->line.baud);
    QCOMPARE(settings.c_cflag & CSTOPB ? 2 : 1, row->line.stopBits);
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);

    const QString summary = QString::fromLocal8Bit(send.readAllStandardError());
    const auto sent = [&](const char *kind) {
        return QRegularExpression(QStringLiteral("%1 (\\d+)").arg(QLatin1String(kind))).match(summary).captured(1).toInt();
    };
    int records = 0, inFailsafe = 0;
    QSet<int> seen;
    for (const QByteArray &line : dump.readAllStandardOutput().split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        ++records;
        QCOMPARE(record.value("family").toString(), family.toUpper());
        QCOMPARE(record.value("format").toInt(), format);
        inFailsafe += record.value("failsafe").toBool(false);
        const QJsonArray got = record.value("us").toArray();
        for (int channel = 0; channel < qMin(us.size(), got.size()); ++channel) {
            if (got[channel].isNull())
                continue;
            if (got[channel].toInt() != us[channel].toInt())
                QFAIL(qPrintable(QStringLiteral("channel %1: %2 sent, %3 read").arg(channel + 1).arg(us[channel])
                                     .arg(got[channel].toInt())));
            seen.insert(channel);
        }
    }
    QCOMPARE(seen.size(), us.size());
    // SBUS goes on in failsafe; DSM falls silent.
    // No damaged frame is taken; on a busy machine, where read times say
    // little, a DSM frame right after a damaged one may go with it.
    QVERIFY(records <= sent("frames sent:") - sent("damaged"));
    QVERIFY(records >= sent("frames sent:") - 2 * sent("damaged"));
    if (family == QLatin1String("sbus"))
        QCOMPARE(records, sent("frames sent:") - sent("damaged"));
    QCOMPARE(inFailsafe > 0, family == QLatin1String("sbus"));
}

void tst_GapLine::pipe_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("DSM 2048") << QStringList{"--family", "dsm"};
    QTest::newRow("DSM 2048, twelve channels") << QStringList{"--family", "dsm", "--channels", "12"};
    QTest::newRow("DSM 1024") << QStringList{"--family", "dsm", "--dsm", "1024"};
    QTest::newRow("SBUS") << QStringList{"--family", "sbus"};
}

// linkscope-send --corrupt 0.3 --rate max into linkscope-dump through a
// pipe: every live frame is found, none damaged, as a pty gives.
void tst_GapLine::pipe()
{
    QFETCH(QStringList, options);
    QProcess send, dump;
    send.setStandardOutputProcess(&dump);
    dump.start(QStringLiteral(LINKSCOPE_DUMP), QStringList{options.mid(0, 2)} << "--format" << "jsonl" << "-");
    send.start(QStringLiteral(LINKSCOPE_SEND),
               options + QStringList{"--count", "300", "--corrupt", "0.3", "--rate", "max", "--seed", "37", "-"});
    QVERIFY(send.waitForFinished(20000));
    QCOMPARE(send.exitCode(), 0);
    QVERIFY(dump.waitForFinished(20000));
    QCOMPARE(dump.exitCode(), 0);
    const QString summary = QString::fromLocal8Bit(send.readAllStandardError());
    const int live = QRegularExpression(QStringLiteral("live (\\d+)")).match(summary).captured(1).toInt();
    QVERIFY2(live > 150 && live < 250, qPrintable(summary));
    const QByteArray records = dump.readAllStandardOutput();
    QCOMPARE(records.count('\n'), live);
    QVERIFY(QString::fromLocal8Bit(dump.readAllStandardError()).contains(QStringLiteral("stray bytes: %1\n")
        .arg((300 - live) * (options.contains("sbus") ? 25 : 16))));
}

void tst_GapLine::sbus2Capture_data()
{
    QTest::addColumn<bool>("saleae"); // a Saleae CSV export with byte times, else raw bytes
    QTest::newRow("raw") << false;
    QTest::newRow("Saleae CSV") << true;
}

// An SBUS2 line as a receiver with telemetry sends it: after each frame,
// 2 ms on, a slot every 660 µs, up to eight of the page the end byte asks
// for. Every frame is found with its page, and the slots are counted as
// slots, not stray bytes, and shown as records of their own.
void tst_GapLine::sbus2Capture()
{
    QFETCH(bool, saleae);
    const FamilyDescriptor *sbus = familyNamed(QStringLiteral("sbus"));
    QRandomGenerator random(37);
    QByteArray raw;
    QByteArray csv("Time [s],Value,Parity Error,Framing Error\n");
    const double byteSeconds = 12 / 100000.0; // 8E2
    int slotCount = 0;
    const auto write = [&](const QByteArray &bytes, double at) {
        raw += bytes;
        for (int i = 0; i < bytes.size(); ++i)
            csv += QByteArray::number(at + i * byteSeconds, 'f', 9) + ",0x"
                + QByteArray::number(quint8(bytes[i]), 16).rightJustified(2, '0').toUpper() + ",,\n";
    };
    for (int i = 0; i < 400; ++i) {
        FrameRequest request;
        for (int k = 0; k < 16; ++k)
            request.wire << int(random.bounded(2048));
        QByteArray frame = sbus->encode(request);
        const int page = i % 4;
        frame[24] = char(0x04 | page << 4);
        const double at = i * 0.014;
        write(frame, at);
        // Slot 0, the receiver's own voltage, and some sensors after it.
        for (int slot = 0; slot < 8; ++slot) {
            if (slot > 0 && random.bounded(2))
                continue;
            quint8 number = 0;
            for (int bit = 0; bit < 5; ++bit)
                number |= ((page * 8 + slot) >> bit & 1) << (7 - bit);
            write(QByteArray(1, char(number | 0x03)) + QByteArray("\xC0\x2E", 2), at + 25 * byteSeconds + 0.002 + slot * 0.00066);
            ++slotCount;
        }
    }
    QTemporaryDir folder;
    const QString path = folder.filePath(saleae ? "sbus2.csv" : "sbus2.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(saleae ? csv : raw);
    file.close();
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {"--family", "sbus", "--format", "jsonl", path});
    QVERIFY(dump.waitForFinished(20000));
    QCOMPARE(dump.exitCode(), 0);
    int records = 0, slotRecords = 0;
    for (const QByteArray &line : dump.readAllStandardOutput().split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        // Each slot a record of its own, after its frame: the page's slot.
        if (record.value("type").toString() == QLatin1String("SLOT")
            || record.value("type").toString() == QLatin1String("RX_VOLTAGE")) {
            const QJsonObject slot = record.value("telemetry").toObject();
            QCOMPARE(slot.value("slot").toInt(-1) / 8, (records - 1) % 4);
            QCOMPARE(slot.value("data").toString(), QStringLiteral("c02e"));
            QCOMPARE(record.value("type").toString() == QLatin1String("RX_VOLTAGE"), slot.value("slot").toInt() == 0);
            ++slotRecords;
            continue;
        }
        QCOMPARE(record.value("sbus2_page").toInt(-1), records % 4);
        ++records;
    }
    QCOMPARE(records, 400);
    QCOMPARE(slotRecords, slotCount);
    const QString summary = QString::fromLocal8Bit(dump.readAllStandardError());
    QVERIFY2(summary.contains(QStringLiteral("SBUS2 telemetry slots: %1 (%2 bytes").arg(slotCount).arg(3 * slotCount)),
             qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral("stray bytes: 0\n")), qPrintable(summary));
}

void tst_GapLine::autoFamily_data()
{
    QTest::addColumn<QString>("family"); // empty: noise only
    QTest::addColumn<int>("baud");       // 0: the family's own
    QTest::addColumn<int>("noiseRate");  // bytes a second; 0: the line's pace
    for (const char *name : {"crsf", "ghst", "ibus", "fport", "fport2", "srxl2", "sbus", "dsm", "hott", "st24", "exbus",
                             "rj01"})
        QTest::newRow(name) << name << 0 << 0;
    QTest::newRow("FastSBUS") << "sbus" << 200000 << 0;
    QTest::newRow("noise at every setting") << "" << 0 << 0;
    // Faster than any line: checksums pass by chance, frames in a row never.
    QTest::newRow("noise at 2 MB/s") << "" << 0 << 2000000;
}

// Frames start 0.7 s into the rounds; the family is named with its
// settings within a round (under 2 s) of them, and records follow. A busy
// machine may start linkscope-dump late or stall a read past its setting's
// turn: a second round is allowed for, never a third. Noise alone is never
// taken for a family.
void tst_GapLine::autoFamily()
{
    QFETCH(QString, family);
    QFETCH(int, baud);
    QFETCH(int, noiseRate);
    const FamilyDescriptor *row = family.isEmpty() ? nullptr : familyNamed(family);
    LineSettings line = row ? row->line : LineSettings();
    if (baud > 0)
        line.baud = baud;
    PseudoTerminal pty;
    LineAwareReceiver receiver(pty, row, 700, noiseRate, baud);
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {pty.slavePath(), "--family", "auto", "--format", "jsonl"});
    QVERIFY(dump.waitForStarted());
    receiver.clock.start();
    receiver.start();
    QByteArray errors;
    QElapsedTimer sinceFrames;
    if (!row) {
        // Two full rounds and more.
        QTest::qWait(3500);
        errors = dump.readAllStandardError();
        QVERIFY2(!errors.contains("linkscope-dump: found "), errors.constData());
        QCOMPARE(errors.count("no family found at 420000 8N1, 416666 8N1, 250000 8N1, 200000 8E2, 125000 8N1, 115200 8N1, "
                              "100000 8E2 or 57600 8N1; trying again"),
                 1);
        QVERIFY(dump.readAllStandardOutput().isEmpty());
        dump.terminate();
        QVERIFY(dump.waitForFinished());
        return;
    }
    const QByteArray expected = QStringLiteral("found %1 at %2").arg(QLatin1String(row->recordName), line.text()).toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT((errors += dump.readAllStandardError()).contains(expected), 15000);
    const qint64 foundAt = receiver.clock.elapsed();
    const qint64 latency = foundAt - 700;
    qInfo("%s found %lld ms after its frames started", row->recordName, latency);
    QVERIFY2(latency < 2 * 2000, qPrintable(QString::number(latency)));
    QByteArray records;
    QTRY_VERIFY_WITH_TIMEOUT((records += dump.readAllStandardOutput()).count('\n') >= 3, 10000);
    for (const QByteArray &line : records.split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (!record.isEmpty())
            QCOMPARE(record.value("family").toString(), QString::fromLatin1(row->recordName));
    }
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);
}

// FPort found at 115200 after noise at the other settings: the recording
// holds every byte the line brought, and the records every frame read at
// the setting that found it, the five that decided among them.
void tst_GapLine::autoKeepsWhatDecided()
{
    const QTemporaryDir folder;
    const QString recording = folder.filePath(QStringLiteral("auto.bin"));
    PseudoTerminal pty;
    LineAwareReceiver receiver(pty, familyNamed("fport"), 0);
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP),
               {pty.slavePath(), "--family", "auto", "--format", "jsonl", "--write", recording});
    QVERIFY(dump.waitForStarted());
    QTRY_VERIFY(holds(dump, pty.slavePath()));
    receiver.clock.start();
    receiver.start();
    QByteArray errors, records;
    QTRY_VERIFY_WITH_TIMEOUT((errors += dump.readAllStandardError()).contains("found FPORT at 115200 8N1"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT((records += dump.readAllStandardOutput()).count('\n') >= 20, 10000);
    receiver.stop();
    QTRY_VERIFY_WITH_TIMEOUT(waiting(pty.slaveFd()) == 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(int((records += dump.readAllStandardOutput()).count('\n')), receiver.framesAtMatch(), 10000);
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);
    QFile recorded(recording);
    QVERIFY(recorded.open(QIODevice::ReadOnly));
    const QByteArray written = receiver.written();
    QCOMPARE(recorded.size(), qint64(written.size()));
    QVERIFY(recorded.readAll() == written);
    // Offsets count from the recording's first byte.
    const QJsonObject first = QJsonDocument::fromJson(records.left(records.indexOf('\n'))).object();
    const QByteArray raw = QByteArray::fromHex(first.value("raw").toString().toLatin1());
    QCOMPARE(written.mid(first.value("offset").toInt(), raw.size()), raw);
}

QTEST_GUILESS_MAIN(tst_GapLine)
#include "tst_gapline.moc"
