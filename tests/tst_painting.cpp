// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing keeps up with the display, not with the line: a burst of packets is
// painted a few times, and the last packet is always on screen soon after.
#include "linkscopeprobe.h"
#include "packets.h"
#include "display/paintpacer.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QtTest>

using namespace packets;

class tst_Painting : public QObject
{
    Q_OBJECT

private slots:
    void burstIsPaintedAtDisplayRate();
};

// Counts the paints of a widget and remembers when the last one came.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            clock.start();
        }
        return false;
    }
    int paints = 0;
    QElapsedTimer clock; // since the last paint
};

static QImage onScreen(QWidget *window)
{
    return QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

void tst_Painting::burstIsPaintedAtDisplayRate()
{
    LinkScope window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    PaintCounter counter(ui.twSrxlInput->viewport());

    // Each packet in a read of its own, a millisecond or so apart, with the
    // event loop running between them, as a busy line delivers them.
    int packets = 0;
    QElapsedTimer burst;
    QElapsedTimer sinceLastPacket;
    burst.start();
    while (burst.elapsed() < 400) {
        QVector<quint16> words;
        for (int id = 0; id < 7; ++id)
            words << spektrumWord(id, 100 + 3 * packets + id);
        window.receiveChunk(spektrum(words));
        sinceLastPacket.start();
        ++packets;
        QTest::qWait(1);
    }
    const qint64 burstMs = burst.elapsed();
    const int paintsDuringBurst = counter.paints;
    // While packets keep coming, the window paints at the slower rate.
    QVERIFY2(paintsDuringBurst <= burstMs / PaintPacer::streamIntervalMs + 2,
             qPrintable(QStringLiteral("%1 paints in %2 ms").arg(paintsDuringBurst).arg(burstMs)));
    QVERIFY(paintsDuringBurst < packets / 4);

    // The last packet is painted without anything else happening, perhaps
    // already while the burst's last wait ran.
    QTRY_VERIFY(counter.clock.isValid() && counter.clock.nsecsElapsed() < sinceLastPacket.nsecsElapsed());
    // What the screen shows is what a fresh drawing of the window shows. (The
    // minimal platform of the sanitized runs keeps no screen to grab.)
    if (!onScreen(&window).isNull())
        QTRY_COMPARE(onScreen(&window), window.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

QTEST_MAIN(tst_Painting)
#include "tst_painting.moc"
