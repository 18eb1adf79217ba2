// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-send and linkscope-dump agree: every family sent into one
// pseudo-terminal and read from another comes back, frame by frame, with the
// µs, failsafe flag and CRC verdict it was sent with.
#include "packets.h"
#include "relay.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <sys/ioctl.h>

class tst_SendToDump : public QObject
{
    Q_OBJECT

private slots:
    void everyFrameComesBackAsSent_data();
    void everyFrameComesBackAsSent();
};

static bool holds(const QProcess &process, const QString &path)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process.processId()));
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&](const QString &fd) { return QFile::symLinkTarget(fds.filePath(fd)) == path; });
}

static int waiting(int fd)
{
    int bytes = 0;
    return ::ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : -1;
}

void tst_SendToDump::everyFrameComesBackAsSent_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("key");      // "us", or "wire" where the family has no µs
    QTest::addColumn<QVariantList>("values"); // per channel; null where none is carried
    QTest::addColumn<int>("failsafeFrom");  // first frame in failsafe, or -1 for a family without the flag
    constexpr int never = 1 << 30;
    QTest::addColumn<bool>("damaged");

    const auto list = [](std::initializer_list<int> given, int channels, int rest) {
        QVariantList values;
        for (int value : given)
            values << value;
        while (values.size() < channels)
            values << rest;
        return values;
    };
    QTest::newRow("MPX") << QStringList{"-f", "mpx", "--us", "800,2199,1000,1234,1999", "-n", "40"} << "us"
                         << list({800, 2199, 1000, 1234, 1999}, 12, 1500) << -1 << false;
    QTest::newRow("MPX_V2") << QStringList{"-f", "MPX_V2", "--us", "801,2198,1100,1900", "-r", "100", "-n", "40"}
                            << "us" << list({801, 2198, 1100, 1900}, 16, 1500) << -1 << false;
    QTest::newRow("NORDAX") << QStringList{"-f", "nordax", "--wire", "1,65535,3000", "-n", "40"} << "wire"
                            << list({1, 65535, 3000}, 12, 2432) << -1 << false;
    QTest::newRow("HOTT into failsafe")
        << QStringList{"-f", "hott", "--us", "0,1,8191,1100,1900", "-c", "12", "-n", "60", "--failsafe-after", "0.3"}
        << "us" << list({0, 1, 8191, 1100, 1900}, 12, 1500) << 30 << false;
    QVariantList spektrum = list({917, 916, 2083, 1000, 1100, 1200, 1300, 1400, 1600, 1700, 1800, 2000}, 12, 0);
    while (spektrum.size() < 16)
        spektrum << QVariant();
    QTest::newRow("SPEKTRUM into failsafe")
        << QStringList{"-f", "spektrum", "--us", "917,916,2083,1000,1100,1200,1300,1400,1600,1700,1800,2000", "-r",
                       "100", "-n", "60", "--failsafe-after", "0.3"}
        << "us" << spektrum << 30 << false;
    QTest::newRow("HOTT damaged") << QStringList{"-f", "hott", "--us", "1100,1900", "-r", "200", "-n", "100",
                                                 "--corrupt", "0.3", "--seed", "5"}
                                  << "us" << list({1100, 1900}, 2, 0) << never << true;
}

void tst_SendToDump::everyFrameComesBackAsSent()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, key);
    QFETCH(QVariantList, values);
    QFETCH(int, failsafeFrom);
    QFETCH(bool, damaged);

    PseudoTerminal sendSide, dumpSide;
    PtyRelay relay(sendSide, dumpSide);
    QProcess dump;
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {dumpSide.slavePath(), "--format", "jsonl"});
    QVERIFY(dump.waitForStarted());
    QTRY_VERIFY(holds(dump, dumpSide.slavePath()));
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), arguments << sendSide.slavePath());
    QTRY_VERIFY_WITH_TIMEOUT(send.state() == QProcess::NotRunning, 20000);
    QCOMPARE(send.exitCode(), 0);
    // Every byte passed on and read by linkscope-dump, then it is stopped.
    QTRY_VERIFY(waiting(sendSide.masterDescriptor()) == 0 && waiting(dumpSide.slaveFd()) == 0);
    dump.terminate();
    QVERIFY(dump.waitForFinished());
    QCOMPARE(dump.exitCode(), 0);

    QMap<int, QJsonObject> records;
    for (const QByteArray &line : dump.readAllStandardOutput().split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (!record.isEmpty())
            records.insert(record.value("offset").toInt(), record);
    }
    const QByteArray stream = relay.passed();
    const int frames = QRegularExpression("frames sent: (\\d+)").match(send.readAllStandardError()).captured(1).toInt();
    QVERIFY(frames > 0);
    QCOMPARE(stream.size() % frames, 0);
    const int length = stream.size() / frames;

    int damagedSeen = 0;
    QVector<int> carriedAt(values.size(), 0); // the last frame that carried each channel
    for (int k = 0; k < frames; ++k) {
        const QByteArray frame = stream.mid(k * length, length);
        const bool crcOk = packets::withCrc(frame.left(length - 2)) == frame;
        const QJsonObject record = records.take(k * length);
        if (record.isEmpty()) {
            // A damaged frame counts only where it follows a frame straight on.
            QVERIFY2(!crcOk, qPrintable(QStringLiteral("frame %1 did not come back").arg(k)));
            continue;
        }
        QCOMPARE(record.value("crc_ok").toBool(), crcOk);
        damagedSeen += !crcOk;
        const QJsonValue failsafe = record.value("failsafe");
        QCOMPARE(failsafe.isNull() ? -1 : int(failsafe.toBool()), failsafeFrom < 0 ? -1 : int(k >= failsafeFrom));
        if (!crcOk)
            continue;
        const QJsonArray got = record.value(key).toArray();
        QCOMPARE(got.size(), values.size());
        for (int channel = 0; channel < values.size(); ++channel) {
            // Spektrum frames carry some of the channels each, every channel
            // at least every second frame.
            if (!got[channel].isNull() || !arguments.contains("spektrum"))
                QCOMPARE(got[channel].toInt(-1), values[channel].isValid() ? values[channel].toInt() : -1);
            carriedAt[channel] = got[channel].isNull() ? carriedAt[channel] : k;
            QVERIFY(!values[channel].isValid() || k - carriedAt[channel] <= 1);
        }
    }
    QVERIFY(records.isEmpty());
    QCOMPARE(damagedSeen > 0, damaged);
}

QTEST_GUILESS_MAIN(tst_SendToDump)
#include "tst_sendtodump.moc"
