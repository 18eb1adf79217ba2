// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "serial/linesettings.h"
#include "window.h"

#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void connectAppliesLineSettings();
    void secondPressDisconnects();
    void reconnectDeliversEachChunkOnce();
    void emptySelectorOpensNothing();
    void noPortSaysWhatToDo();
    void unopenablePortStaysClosed();
    void permissionDeniedNamesTheGroup();
    void portInUseNamesTheHolder_data();
    void portInUseNamesTheHolder();
    void successClearsTheMessage();
    void failingSettingIsReported();
    void destroyingTheWindowClosesThePort();

private:
    static void press(LinkScope &window) { pressConnect(window); }
    static QString caption(LinkScope &window) { return LinkScopeProbe::ui(window).btConnect->text(); }
    // As after a failed or undone connect: the caption, a closed port, no receiver.
    static bool isClosed(LinkScope &window)
    {
        return caption(window) == QLatin1String("Connect") && !LinkScopeProbe::port(window)->isOpen()
            && LinkScopeProbe::readyReadReceivers(window) == 0;
    }
    static QString message(LinkScope &window) { return LinkScopeProbe::ui(window).statusBar->currentMessage(); }
};

void tst_Connection::connectAppliesLineSettings()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    LinkScope window;
    selectPort(window, pty.slavePath());
    press(window);
    QCOMPARE(caption(window), QStringLiteral("Disconnect"));
    QVERIFY(LinkScopeProbe::port(window)->isOpen());
    QCOMPARE(LinkScopeProbe::port(window)->openMode(), QIODevice::ReadWrite);
    QCOMPARE(LinkScopeProbe::readyReadReceivers(window), 1);

    termios tio;
    QCOMPARE(::tcgetattr(pty.slaveFd(), &tio), 0);
    QCOMPARE(::cfgetispeed(&tio), speed_t(B115200));
    QCOMPARE(::cfgetospeed(&tio), speed_t(B115200));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0));
}

void tst_Connection::secondPressDisconnects()
{
    PseudoTerminal pty;
    LinkScope window;
    QVERIFY(connectToPty(window, pty));
    press(window);
    QVERIFY(isClosed(window));
}

void tst_Connection::reconnectDeliversEachChunkOnce()
{
    PseudoTerminal pty;
    LinkScope window;
    selectPort(window, pty.slavePath());
    press(window);
    press(window);
    press(window);
    QCOMPARE(caption(window), QStringLiteral("Disconnect"));
    QCOMPARE(LinkScopeProbe::readyReadReceivers(window), 1);

    QSignalSpy readyRead(LinkScopeProbe::port(window), &QSerialPort::readyRead);
    const QByteArray packet = packets::mpx(QVector<quint16>(12, 0x0800));
    QVERIFY(pty.write(packet));
    QTableWidget *raw = LinkScopeProbe::ui(window).twDataInput;
    QTRY_COMPARE(raw->rowCount(), 27);
    QCOMPARE(readyRead.count(), 1);
    QCOMPARE(LinkScopeProbe::ui(window).twSrxlInput->item(0, 0)->text(), QStringLiteral("MPX"));
}

void tst_Connection::emptySelectorOpensNothing()
{
    LinkScope window;
    LinkScopeProbe::ui(window).cbPortSelect->clear();
    press(window);
    QVERIFY(isClosed(window));
}

void tst_Connection::noPortSaysWhatToDo()
{
    LinkScope window;
    QComboBox *selector = LinkScopeProbe::ui(window).cbPortSelect;
    selector->clear();
    press(window);
    QVERIFY(isClosed(window));
    QCOMPARE(message(window),
             QStringLiteral("No serial port was found: plug the receiver in and start LinkScope again"));
    // Ports are looked for once, at start, not at each press.
    QCOMPARE(selector->count(), 0);
}

void tst_Connection::unopenablePortStaysClosed()
{
    LinkScope window;
    selectPort(window, QStringLiteral("/dev/linkscope-no-such-port"));
    press(window);
    QVERIFY(isClosed(window));
    // The selector lists the ports, so the window's message points nowhere else.
    QCOMPARE(message(window),
             QStringLiteral("Could not open /dev/linkscope-no-such-port: No such file or directory"));
}

void tst_Connection::permissionDeniedNamesTheGroup()
{
    PseudoTerminal pty;
    LinkScope window;
    selectPort(window, pty.slavePath());
    // Root may open anything, so open as "nobody" for a moment.
    const bool asRoot = ::geteuid() == 0;
    const passwd *nobody = ::getpwnam("nobody");
    if (asRoot) {
        QVERIFY(nobody);
        QCOMPARE(::seteuid(nobody->pw_uid), 0);
    } else {
        QCOMPARE(::chmod(qPrintable(pty.slavePath()), 0), 0);
    }
    press(window);
    if (asRoot)
        QCOMPARE(::seteuid(0), 0);
    QCOMPARE(caption(window), QStringLiteral("Connect"));
    QVERIFY(!LinkScopeProbe::port(window)->isOpen());
    QVERIFY2(message(window).contains(pty.slavePath()), qPrintable(message(window)));
    QVERIFY2(message(window).contains(QStringLiteral("ermission")), qPrintable(message(window)));
    QVERIFY2(message(window).contains(QStringLiteral("dialout")), qPrintable(message(window)));
}

void tst_Connection::portInUseNamesTheHolder_data()
{
    QTest::addColumn<bool>("bySymlink");
    QTest::newRow("the same name") << false;
    QTest::newRow("a symlink to it") << true;
}

void tst_Connection::portInUseNamesTheHolder()
{
    QFETCH(bool, bySymlink);
    PseudoTerminal pty;
    QTemporaryDir folder;
    const QString link = folder.filePath(QStringLiteral("receiver"));
    QVERIFY(QFile::link(pty.slavePath(), link));
    LinkScope first, second;
    selectPort(first, pty.slavePath());
    press(first);
    QCOMPARE(caption(first), QStringLiteral("Disconnect"));

    const QString name = bySymlink ? link : pty.slavePath();
    selectPort(second, name);
    press(second);
    QCOMPARE(caption(second), QStringLiteral("Connect"));
    QVERIFY(!LinkScopeProbe::port(second)->isOpen());
    const QString holder = QStringLiteral("(pid %1)").arg(QCoreApplication::applicationPid());
    QCOMPARE(message(second), QStringLiteral("Could not open %1: the port is in use by %2 %3")
                                  .arg(name, QStringLiteral("tst_connection"), holder));
}

void tst_Connection::successClearsTheMessage()
{
    PseudoTerminal pty;
    LinkScope window;
    selectPort(window, QStringLiteral("/dev/linkscope-no-such-port"));
    press(window);
    QVERIFY(!message(window).isEmpty());
    selectPort(window, pty.slavePath());
    press(window);
    QCOMPARE(caption(window), QStringLiteral("Disconnect"));
    QCOMPARE(message(window), QString());
}

void tst_Connection::failingSettingIsReported()
{
    // A line whose device has hung up takes no more settings.
    PseudoTerminal pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(applyLineSettings(port), QString());
    pty.closeMaster();
    QCOMPARE(applyLineSettings(port), QStringLiteral("baud rate"));
    QCOMPARE(port.error(), QSerialPort::ResourceError);
}

void tst_Connection::destroyingTheWindowClosesThePort()
{
    PseudoTerminal pty;
    {
        LinkScope window;
        QVERIFY(connectToPty(window, pty));
    }
    // With the window gone the device may be opened again at once.
    QSerialPort again(pty.slavePath());
    QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
