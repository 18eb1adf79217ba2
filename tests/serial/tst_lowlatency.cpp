// SPDX-License-Identifier: GPL-3.0-or-later
// Low-latency mode and the port's driver: the driver and the FTDI latency
// timer read from a sysfs tree laid out as the kernel lays it, the lines
// said for each driver, and the mode asked of a real pseudo-terminal.
#include "pty.h"

#include "serial/lowlatency.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <termios.h>
#include <unistd.h>

class tst_LowLatency : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void readsTheDriverFromSysfs_data();
    void readsTheDriverFromSysfs();
    void saysWhatBecameOfTheMode_data();
    void saysWhatBecameOfTheMode();
    void namesTheRemedyForTheDriver_data();
    void namesTheRemedyForTheDriver();
    void pseudoTerminalIsLeftAsItWas();

private:
    QTemporaryDir sysfs;
};

namespace {

// class/tty/NAME/device as the kernel has it: links to the driver and the
// bus, and an FTDI chip's latency timer.
bool addTty(const QString &root, const QString &name, const QString &driver, const QString &bus, int timerMs = -1)
{
    const QString device = root + "/class/tty/" + name + "/device";
    if (!QDir().mkpath(device))
        return false;
    if (!QFile::link("../../../../bus/" + bus + "/drivers/" + driver, device + "/driver")
        || !QFile::link("../../../../bus/" + bus, device + "/subsystem"))
        return false;
    if (timerMs < 0)
        return true;
    QFile timer(device + "/latency_timer");
    return timer.open(QIODevice::WriteOnly) && timer.write(QByteArray::number(timerMs) + "\n") > 0;
}

} // namespace

void tst_LowLatency::initTestCase()
{
    QVERIFY(sysfs.isValid());
    QVERIFY(addTty(sysfs.path(), "ttyUSB0", "ftdi_sio", "usb-serial", 16));
    QVERIFY(addTty(sysfs.path(), "ttyUSB1", "cp210x", "usb-serial"));
    QVERIFY(addTty(sysfs.path(), "ttyUSB2", "ch341-uart", "usb-serial"));
    QVERIFY(addTty(sysfs.path(), "ttyACM0", "cdc_acm", "usb"));
    QVERIFY(addTty(sysfs.path(), "ttyS0", "serial8250", "platform"));
    qputenv("LINKSCOPE_SYSFS_ROOT", QFile::encodeName(sysfs.path()));
}

void tst_LowLatency::readsTheDriverFromSysfs_data()
{
    QTest::addColumn<QString>("tty");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<int>("timerMs");
    QTest::newRow("FTDI with its timer") << "ttyUSB0" << "ftdi_sio" << true << 16;
    QTest::newRow("FTDI by its device path") << "/dev/ttyUSB0" << "ftdi_sio" << true << 16;
    QTest::newRow("CP210x") << "ttyUSB1" << "cp210x" << true << -1;
    QTest::newRow("CH34x") << "ttyUSB2" << "ch341-uart" << true << -1;
    QTest::newRow("CDC ACM, one folder up") << "ttyACM0" << "cdc_acm" << true << -1;
    QTest::newRow("a UART on the board") << "ttyS0" << "serial8250" << false << -1;
    QTest::newRow("a port sysfs does not know") << "/dev/pts/7" << "" << false << -1;
}

void tst_LowLatency::readsTheDriverFromSysfs()
{
    QFETCH(QString, tty);
    QFETCH(QString, driver);
    QFETCH(bool, usb);
    QFETCH(int, timerMs);
    const PortDriver found = portDriver(tty);
    QCOMPARE(found.name, driver);
    QCOMPARE(found.usb, usb);
    QCOMPARE(found.latencyTimerMs, timerMs);
}

void tst_LowLatency::saysWhatBecameOfTheMode_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("tty");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("said");
    // The timer as the driver set it: 1 ms once the flag is on.
    QTest::newRow("FTDI on") << int(LowLatencyMode::On) << "ttyUSB0" << ""
                             << "low-latency mode: on (ftdi_sio, latency timer 16 ms)";
    QTest::newRow("FTDI refused") << int(LowLatencyMode::Refused) << "ttyUSB0" << "Operation not permitted"
                                  << "low-latency mode: refused by ftdi_sio (Operation not permitted); reads may come "
                                     "in bunches";
    QTest::newRow("CP210x takes the flag and ignores it")
        << int(LowLatencyMode::On) << "ttyUSB1" << "" << "cp210x ignores low-latency mode; reads may come in bunches";
    QTest::newRow("CH34x of an older kernel refuses it")
        << int(LowLatencyMode::Refused) << "ttyUSB2" << "Inappropriate ioctl for device"
        << "ch341-uart ignores low-latency mode; reads may come in bunches";
    QTest::newRow("a UART on the board") << int(LowLatencyMode::On) << "ttyS0" << ""
                                         << "low-latency mode: on (serial8250)";
}

void tst_LowLatency::saysWhatBecameOfTheMode()
{
    QFETCH(int, outcome);
    QFETCH(QString, tty);
    QFETCH(QString, reason);
    QFETCH(QString, said);
    QCOMPARE(LowLatencyMode::text(LowLatencyMode::Outcome(outcome), portDriver(tty), reason), said);
}

void tst_LowLatency::namesTheRemedyForTheDriver_data()
{
    QTest::addColumn<QString>("tty");
    QTest::addColumn<QString>("remedy");
    const QString rule = "the udev rule ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
                         "ATTR{latency_timer}=\"1\"";
    QTest::newRow("FTDI left as it was") << "/dev/ttyUSB0"
                                         << "leave out --no-low-latency, or set the latency timer to 1 ms with " + rule;
    QTest::newRow("CP210x") << "/dev/ttyUSB1"
                            << "cp210x has no latency setting; an FTDI adapter in low-latency mode delivers each "
                               "frame as it comes";
    QTest::newRow("no driver known") << "/dev/pts/7"
                                     << "on an FTDI adapter, low-latency mode (set unless --no-low-latency) or " + rule;
}

void tst_LowLatency::namesTheRemedyForTheDriver()
{
    QFETCH(QString, tty);
    QFETCH(QString, remedy);
    // As a run with --no-low-latency learns the driver.
    LowLatencyMode mode;
    mode.leave(tty, false);
    QCOMPARE(mode.remedy(), remedy);
    QCOMPARE(mode.said(), QString());
}

// A pseudo-terminal has no serial settings: the mode is asked, refused,
// said as such, and the terminal's settings stay as they were.
void tst_LowLatency::pseudoTerminalIsLeftAsItWas()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    termios before, after;
    std::memset(&before, 0, sizeof before);
    std::memset(&after, 0, sizeof after);
    QCOMPARE(::tcgetattr(pty.slaveFd(), &before), 0);
    {
        LowLatencyMode mode;
        mode.set(pty.slaveFd(), pty.slavePath(), true);
        QCOMPARE(mode.outcome(), LowLatencyMode::NoneOnPty);
        QCOMPARE(mode.said(), QStringLiteral("low-latency mode: none on a pseudo-terminal, which holds no bytes back"));
        mode.restore();
        mode.restore();
    }
    QCOMPARE(::tcgetattr(pty.slaveFd(), &after), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&after), sizeof after),
             QByteArray(reinterpret_cast<const char *>(&before), sizeof before));
    // The line still carries bytes.
    QVERIFY(pty.write("ok"));
    char got[2] = {};
    QCOMPARE(::read(pty.slaveFd(), got, 2), ssize_t(2));
    QCOMPARE(QByteArray(got, 2), QByteArray("ok"));
}

QTEST_GUILESS_MAIN(tst_LowLatency)
#include "tst_lowlatency.moc"
