// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-send and the window agree: frames of every family, written in
// 8-byte pieces into one pseudo-terminal and passed to the window's, all show.
#include "display/rawview.h"
#include "linkscopeprobe.h"
#include "packets.h"
#include "relay.h"
#include "window.h"

#include <QProcess>
#include <QtTest>

class tst_SendToWindow : public QObject
{
    Q_OBJECT

private slots:
    void everyFrameShows_data();
    void everyFrameShows();
};

void tst_SendToWindow::everyFrameShows_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("MPX") << QStringList{"-f", "mpx", "--us", "900,2100"};
    QTest::newRow("MPX_V2") << QStringList{"-f", "mpx2", "--sweep"};
    QTest::newRow("NORDAX") << QStringList{"-f", "nordax", "--wire", "1000,4000"};
    QTest::newRow("HOTT, 16 channels") << QStringList{"-f", "hott", "-c", "16", "--sweep=1"};
    QTest::newRow("SPEKTRUM, 12 channels") << QStringList{"-f", "spektrum", "-c", "12", "--sweep=1"};
}

void tst_SendToWindow::everyFrameShows()
{
    QFETCH(QStringList, arguments);
    constexpr int frames = 25;

    PseudoTerminal sendSide, windowSide;
    PtyRelay relay(sendSide, windowSide);
    LinkScope window;
    window.show();
    QVERIFY(connectToPty(window, windowSide));
    QProcess send;
    send.start(QStringLiteral(LINKSCOPE_SEND), arguments << "--chunk" << "8" << "-n" << QString::number(frames)
                                                         << sendSide.slavePath());
    const LinkHealth &health = LinkScopeProbe::health(window);
    QTRY_COMPARE_WITH_TIMEOUT(health.framesOk(), qint64(frames), 20000);
    QTRY_COMPARE(send.state(), QProcess::NotRunning);
    QCOMPARE(send.exitCode(), 0);
    QCOMPARE(health.framesFalse(), qint64(0));
    // The last frame sent is the one listed.
    const QByteArray stream = relay.passed();
    QStringList last;
    for (char c : stream.right(stream.size() / frames))
        last << hexByteText(quint8(c));
    QCOMPARE(cellTexts(LinkScopeProbe::ui(window).twDataInput), last);
}

QTEST_MAIN(tst_SendToWindow)
#include "tst_sendtowindow.moc"
