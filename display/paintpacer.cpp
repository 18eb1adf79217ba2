// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace {

// Long enough ago to allow a paint at once.
constexpr qint64 never = -1000000;

} // namespace

PaintPacer::PaintPacer(QWidget *window)
    : QObject(window), window(window), lastPaintAt(never), lastContentAt(never)
{
    clock.start();
    heldBack.setSingleShot(true);
    heldBack.setTimerType(Qt::PreciseTimer);
    connect(&heldBack, &QTimer::timeout, this, &PaintPacer::paintHeldBack);
    window->installEventFilter(this);
}

void PaintPacer::contentChanged()
{
    lastContentAt = clock.elapsed();
    if (heldBack.isActive())
        holdBack(lastContentAt);
}

// The earliest time the next paint may come: one interval after the last,
// and while content keeps coming, when it stops or the longer interval is
// over, whichever comes first.
qint64 PaintPacer::paintDueAt() const
{
    const qint64 settled = lastContentAt + quietMs;
    return qMax(lastPaintAt + intervalMs, qMin(lastPaintAt + streamIntervalMs, settled));
}

// The window paints everything that has changed when it gets an update
// request; until it does, the changes only gather.
bool PaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window || event->type() != QEvent::UpdateRequest || releasing)
        return false;
    const qint64 now = clock.elapsed();
    const qint64 due = paintDueAt();
    if (now >= due) {
        lastPaintAt = now;
        return false;
    }
    if (!heldBack.isActive())
        holdBack(now);
    return true;
}

// A paint held back waits for the content to settle. While content keeps
// coming, it comes with the content once the longer interval is over: right
// after what is being handled now, in the same wake-up, since waking the
// window for it alone costs more than the wait is worth.
void PaintPacer::holdBack(qint64 now)
{
    const qint64 at = now >= paintDueAt() ? now : qMax(lastPaintAt + intervalMs, lastContentAt + quietMs);
    const int wait = int(at - now);
    if (wait != heldBack.remainingTime() || !heldBack.isActive())
        heldBack.start(wait);
}

void PaintPacer::paintHeldBack()
{
    // Content that came meanwhile may have moved the time on.
    const qint64 now = clock.elapsed();
    if (now < paintDueAt()) {
        holdBack(now);
        return;
    }
    lastPaintAt = now;
    releasing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    releasing = false;
}
