// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/paintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

PaintPacer::PaintPacer(QWidget *window)
    : QObject(window), window(window)
{
    heldBack.setSingleShot(true);
    heldBack.setTimerType(Qt::PreciseTimer);
    connect(&heldBack, &QTimer::timeout, this, &PaintPacer::paintHeldBack);
    window->installEventFilter(this);
}

// The window paints everything that has changed when it gets an update
// request; until it does, the changes only gather.
bool PaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window || event->type() != QEvent::UpdateRequest || releasing)
        return false;
    if (!sinceLastPaint.isValid() || sinceLastPaint.elapsed() >= intervalMs) {
        sinceLastPaint.start();
        return false;
    }
    if (!heldBack.isActive())
        heldBack.start(int(qMax<qint64>(0, intervalMs - sinceLastPaint.elapsed())));
    return true;
}

void PaintPacer::paintHeldBack()
{
    sinceLastPaint.start();
    releasing = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    releasing = false;
}
