// SPDX-License-Identifier: GPL-3.0-or-later
// A device that goes away while connected: the window must notice, say so,
// and be ready to connect again, without spinning on the dead line.
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "window.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

class tst_PortLoss : public QObject
{
    Q_OBJECT

private slots:
    void hangUpDisconnects_data();
    void hangUpDisconnects();
    void connectAgainWhenTheDeviceIsBack();
    void lossAfterFailsafeIsToldWhole_data();
    void lossAfterFailsafeIsToldWhole();
};

static double processSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

void tst_PortLoss::hangUpDisconnects_data()
{
    QTest::addColumn<bool>("midStream");
    QTest::addColumn<bool>("busyLine");
    QTest::newRow("idle line") << false << false;
    QTest::newRow("in the middle of a stream") << true << false;
    // Read in batches, with less than a batch waiting.
    QTest::newRow("busy line") << true << true;
}

void tst_PortLoss::hangUpDisconnects()
{
    QFETCH(bool, midStream);
    QFETCH(bool, busyLine);
    PseudoTerminal pty;
    LinkScope window;
    window.show();
    connectTo(window, pty.slavePath());
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    QCOMPARE(ui.btConnect->text(), QStringLiteral("Disconnect"));
    QSerialPort *port = LinkScopeProbe::port(window);

    if (midStream) {
        const QByteArray packet = packets::mpx(QVector<quint16>(12, 0x0800));
        QVERIFY(pty.write(packet));
        QTRY_COMPARE(ui.twDataInput->rowCount(), 27);
        QElapsedTimer busy;
        busy.start();
        while (busyLine && busy.elapsed() < 200) {
            QVERIFY(pty.write(packet));
            QTest::qWait(2);
        }
        QVERIFY(pty.write(packet.left(13)));
    }

    QSignalSpy errors(port, &QSerialPort::errorOccurred);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = processSeconds();
    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(ui.btConnect->text(), QStringLiteral("Connect"), 1000);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!port->isOpen());
    QCOMPARE(LinkScopeProbe::readyReadReceivers(window), 0);
    const QString message = ui.statusBar->currentMessage();
    QCOMPARE(message, QStringLiteral("Lost the connection to %1: the device hung up or went away").arg(pty.slavePath()));
    QVERIFY2(errors.count() <= 5, qPrintable(QString::number(errors.count())));

    // Nothing keeps running once the port is closed.
    const int errorsAtClose = errors.count();
    const double cpuAtClose = processSeconds();
    QTest::qWait(300);
    QCOMPARE(errors.count(), errorsAtClose);
    QVERIFY2(processSeconds() - cpuAtClose < 0.1, "the process kept busy after the port was closed");
    QVERIFY2(processSeconds() - cpuBefore < 0.5, "noticing the hang-up took a busy loop");
}

void tst_PortLoss::connectAgainWhenTheDeviceIsBack()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    {
        PseudoTerminal first;
        connectTo(window, first.slavePath());
        QCOMPARE(ui.btConnect->text(), QStringLiteral("Disconnect"));
        first.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(ui.btConnect->text(), QStringLiteral("Connect"), 1000);
    }
    PseudoTerminal again;
    connectTo(window, again.slavePath());
    QCOMPARE(ui.btConnect->text(), QStringLiteral("Disconnect"));
    QCOMPARE(ui.statusBar->currentMessage(), QString());
    QVERIFY(again.write(packets::hott(QVector<quint16>{15200, 8800})));
    QTRY_COMPARE(ui.twDataInput->rowCount(), 0);
    QTRY_COMPARE(ui.twSrxlInput->rowCount(), 6);
    QCOMPARE(ui.twSrxlInput->item(4, 0)->text(), QStringLiteral("-1568"));
}

void tst_PortLoss::lossAfterFailsafeIsToldWhole_data()
{
    QTest::addColumn<QString>("linkName");
    QTest::newRow("the device's own name") << QString();
    QTest::newRow("a long name by id") << QStringLiteral("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
}

void tst_PortLoss::lossAfterFailsafeIsToldWhole()
{
    QFETCH(QString, linkName);
    PseudoTerminal pty;
    QTemporaryDir folder;
    QString name = pty.slavePath();
    if (!linkName.isEmpty()) {
        name = folder.filePath(linkName);
        QVERIFY(QDir().mkpath(QFileInfo(name).path()));
        QVERIFY(QFile::link(pty.slavePath(), name));
    }
    LinkScope window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.width(), 600);
    QVERIFY(connectTo(window, name));
    const QByteArray failsafe = packets::withCrc(packets::fromHex("A8 81 02 2E E0 22 60"));
    QVERIFY(deliver(window, pty, packets::hott(QVector<quint16>{12000, 12000})));
    QVERIFY(deliver(window, pty, failsafe));
    QVERIFY(deliver(window, pty, failsafe));
    QLabel *health = LinkScopeProbe::healthLabel(window);
    QTRY_VERIFY(health->text().startsWith(QStringLiteral("RECEIVER IN FAILSAFE")));
    // The alert is drawn on the highlight colour.
    const QImage line = health->grab().toImage();
    QCOMPARE(line.pixelColor(1, line.height() / 2), health->palette().color(QPalette::Highlight));

    pty.closeMaster();
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    QTRY_COMPARE(ui.btConnect->text(), QStringLiteral("Connect"));
    const QString reason = QStringLiteral(": the device hung up or went away");
    QCOMPARE(ui.statusBar->currentMessage(), QStringLiteral("Lost the connection to ") + name + reason);
    QVERIFY(!health->isVisible());
    // The counts stand; the receiver's failsafe is no longer known.
    QVERIFY2(health->text().startsWith(QStringLiteral("OK 1 · FALSE 0 · "))
                 && health->text().endsWith(QStringLiteral(" · stray 0 B · failsafe 2")),
             qPrintable(health->text()));

    // Every line of the message fits the bar, which fits the window.
    QLabel *message = LinkScopeProbe::portMessage(window);
    QTRY_VERIFY(message->isVisible());
    QTRY_VERIFY(message->height() >= message->heightForWidth(message->width()));
    const QString shown = message->text();
    QVERIFY2(shown.startsWith(QStringLiteral("Lost the connection to /")) && shown.endsWith(reason), qPrintable(shown));
    if (linkName.isEmpty())
        QCOMPARE(shown, ui.statusBar->currentMessage());
    else
        QVERIFY2(shown.contains(QStringLiteral("…")) && shown.contains(QStringLiteral("port0:")), qPrintable(shown));
    const int flags = message->wordWrap() ? Qt::TextWordWrap : Qt::TextSingleLine;
    const QRect needed = message->fontMetrics().boundingRect(message->contentsRect(), flags, shown);
    QVERIFY2(message->contentsRect().contains(needed), qPrintable(shown));
    QVERIFY(ui.statusBar->rect().contains(message->geometry()));
    QCOMPARE(ui.statusBar->width(), 600);
}

QTEST_MAIN(tst_PortLoss)
#include "tst_portloss.moc"
