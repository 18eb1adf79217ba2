// SPDX-License-Identifier: GPL-3.0-or-later
// Seconds of garbage over a real line, then one good packet of each family:
// the window stays responsive and shows the good packets exactly.
#include "display/rawview.h"
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "streams.h"
#include "window.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

#include <sys/ioctl.h>

#include <atomic>
#include <thread>

using namespace packets;

class tst_HostileLine : public QObject
{
    Q_OBJECT

private slots:
    void survivesGarbageThenDecodes();
};

static qint64 unreadBytes(const PseudoTerminal &pty)
{
    int waiting = 0;
    return ioctl(pty.slaveFd(), FIONREAD, &waiting) == 0 ? waiting : -1;
}

void tst_HostileLine::survivesGarbageThenDecodes()
{
    PseudoTerminal pty;
    LinkScope window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    QVERIFY(connectToPty(window, pty));

    // The device side writes from its own thread while the window runs.
    std::atomic<bool> writing{true};
    std::atomic<qint64> written{0};
    std::thread device([&] {
        MixedStream stream(99);
        QRandomGenerator random(7);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 3000) {
            QByteArray burst;
            if (random.bounded(3) == 0) {
                burst = QByteArray(1 + int(random.bounded(300)), '\0');
                for (char &c : burst)
                    c = char(random.bounded(256));
            } else {
                burst = stream.next();
            }
            if (!pty.write(burst))
                break;
            written += burst.size();
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(2000)));
        }
        writing = false;
    });

    // Responsive: a timer keeps firing on time while the garbage arrives.
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, sinceTick.restart());
    });
    ticker.start(20);
    while (writing)
        QTest::qWait(50);
    device.join();
    ticker.stop();
    QVERIFY2(longestGap < 500, qPrintable(QStringLiteral("event loop stalled for %1 ms").arg(longestGap)));
    QVERIFY(written > 10000);
    // The flood is over once the window has read all of it, also what the
    // terminal still holds; a slow build takes a while for that.
    QTRY_COMPARE_WITH_TIMEOUT(unreadBytes(pty) + LinkScopeProbe::port(window)->bytesAvailable(), qint64(0), 30000);
    QTest::qWait(100);
    QCOMPARE(ui.btConnect->text(), QStringLiteral("Disconnect"));

    struct Good { QByteArray packet; QStringList cells; };
    QVector<quint16> ids;
    for (int id = 0; id < 7; ++id)
        ids << spektrumWord(id, 2047);
    QStringList spektrumCells{"SPEKTRUM", "5"};
    for (int m = 1; m <= 7; ++m)
        spektrumCells << "2353";
    const QList<Good> good = {
        {spektrum(ids, 5), spektrumCells},
        {mpx(QVector<quint16>(12, 0x0800)), QStringList{"MPX"} + QStringList(QVector<QString>(12, "-748").toList()) + QStringList{"OK"}},
        {mpxV2(QVector<quint16>(16, 0x0AED)), QStringList{"MPX_V2"} + QStringList(QVector<QString>(16, "1").toList()) + QStringList{"OK"}},
        {nordax(9, QVector<quint16>(12, 0x0BB8)), QStringList{"NORDAX", "1", "9"} + QStringList(QVector<QString>(12, "1409").toList()) + QStringList{"OK"}},
        {hott(QVector<quint16>(5, 15200)), QStringList{"HOTT", "1", "5"} + QStringList(QVector<QString>(5, "1568").toList()) + QStringList{"OK"}},
    };
    for (const Good &g : good) {
        QSignalSpy readyRead(LinkScopeProbe::port(window), &QSerialPort::readyRead);
        QVERIFY(pty.write(g.packet));
        QVERIFY(readyRead.wait(3000));
        QCoreApplication::processEvents();
        const QStringList cells = cellTexts(ui.twSrxlInput);
        QCOMPARE(cells.mid(0, g.cells.size()), g.cells);
        QCOMPARE(cells.last(), QStringLiteral("OK"));
        QCOMPARE(ui.twDataInput->rowCount(), g.packet.size());
        for (int i = 0; i < g.packet.size(); ++i)
            QCOMPARE(ui.twDataInput->item(i, 0)->text(), hexByteText(quint8(g.packet.at(i))));
    }
}

QTEST_MAIN(tst_HostileLine)
#include "tst_hostileline.moc"
