// SPDX-License-Identifier: GPL-3.0-or-later
// The line settings a port gets, read back from the pseudo-terminal's
// slave: the speed (any rate, 420000 too) and the stop bits; a pty keeps
// no parity, which is warned of, not refused. Both through the serial
// layer and as linkscope-dump and linkscope-send set them.
#include "pty.h"
#include "serial/linesettings.h"

#include <QProcess>
#include <QSerialPort>
#include <QtTest>

#include <asm/termbits.h>
#include <sys/ioctl.h>

class tst_LineSettings : public QObject
{
    Q_OBJECT

private slots:
    void serialLayer_data();
    void serialLayer();
    void programs_data();
    void programs();
};

namespace {

// Speed and stop bits as the terminal holds them; speed 0 where unread.
struct Held
{
    int speed = 0;
    int stopBits = 0;
    int dataBits = 0;
};

Held held(int fd)
{
    struct termios2 settings;
    if (::ioctl(fd, TCGETS2, &settings) != 0)
        return {};
    const int sizes[] = {5, 6, 7, 8};
    return {int(settings.c_ospeed), settings.c_cflag & CSTOPB ? 2 : 1, sizes[(settings.c_cflag & CSIZE) >> 4]};
}

} // namespace

void tst_LineSettings::serialLayer_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<int>("dataBits"); // as the pty holds them
    QTest::newRow("CRSF 420000 8N1") << "8N1" << 420000 << false << 8;
    QTest::newRow("TBS 416666 8N1") << "8N1" << 416666 << false << 8;
    QTest::newRow("100000 8E2") << "8E2" << 100000 << true << 8;
    QTest::newRow("115200 7O1") << "7O1" << 115200 << true << 8;
}

void tst_LineSettings::serialLayer()
{
    QFETCH(QString, line);
    QFETCH(int, baud);
    QFETCH(bool, warned);
    QFETCH(int, dataBits);
    PseudoTerminal pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    LineSettings settings;
    QVERIFY(parseLineFrame(line, settings));
    settings.baud = baud;
    QString warning;
    QCOMPARE(applyLineSettings(port, settings, &warning), QString());
    QCOMPARE(!warning.isEmpty(), warned);
    const Held now = held(pty.slaveFd());
    QCOMPARE(now.speed, baud);
    QCOMPARE(now.stopBits, settings.stopBits);
    QCOMPARE(now.dataBits, dataBits);
}

void tst_LineSettings::programs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<bool>("warned");
    const QString dump = QStringLiteral(LINKSCOPE_DUMP), send = QStringLiteral(LINKSCOPE_SEND);
    QTest::newRow("dump, default five") << dump << QStringList{} << 115200 << 1 << false;
    QTest::newRow("dump --family crsf") << dump << QStringList{"--family", "crsf"} << 420000 << 1 << false;
    QTest::newRow("dump --family crsf,ghst") << dump << QStringList{"--family", "crsf,ghst"} << 420000 << 1 << false;
    QTest::newRow("dump --baud 416666") << dump << QStringList{"--family", "crsf", "--baud", "416666"} << 416666 << 1
                                        << false;
    QTest::newRow("dump --line 8E2 --baud 100000") << dump << QStringList{"--line", "8E2", "--baud", "100000"}
                                                   << 100000 << 2 << true;
    QTest::newRow("dump --family sbus") << dump << QStringList{"--family", "sbus"} << 100000 << 2 << true;
    QTest::newRow("dump --family dsm") << dump << QStringList{"--family", "dsm"} << 115200 << 1 << false;
    QTest::newRow("send --family sbus") << send << QStringList{"--family", "sbus", "-d", "2"} << 100000 << 2 << true;
    QTest::newRow("send --family ghst") << send << QStringList{"--family", "ghst", "-d", "2"} << 420000 << 1 << false;
    QTest::newRow("send --family ibus --line 8N2") << send << QStringList{"--family", "ibus", "--line", "8N2", "-d", "2"}
                                                   << 115200 << 2 << false;
    QTest::newRow("send --family fport2 --line 8O1") << send
                                                     << QStringList{"--family", "fport2", "--line", "8O1", "-d", "2"}
                                                     << 115200 << 1 << true;
}

void tst_LineSettings::programs()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, speed);
    QFETCH(int, stopBits);
    QFETCH(bool, warned);
    PseudoTerminal pty;
    QProcess process;
    process.start(program, arguments << pty.slavePath());
    QVERIFY(process.waitForStarted());
    // Draining what linkscope-send writes, so that it never waits on the line.
    QTRY_VERIFY_WITH_TIMEOUT((pty.read(), held(pty.slaveFd()).speed == speed), 10000);
    QCOMPARE(held(pty.slaveFd()).stopBits, stopBits);
    process.terminate();
    while (!process.waitForFinished(50))
        pty.read();
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardError().contains("keeps no parity"), warned);
}

QTEST_GUILESS_MAIN(tst_LineSettings)
#include "tst_linesettings.moc"
