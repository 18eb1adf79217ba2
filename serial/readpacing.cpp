// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/readpacing.h"

#include <QSerialPort>
#include <QSocketNotifier>

#include <sys/ioctl.h>

namespace {

// Reads closer together than this mean the line is busy.
constexpr int busyGapMs = 8;
// Longer pauses than this would leave bytes waiting that nobody can see;
// the window takes a line that stayed quiet for a little longer as done.
constexpr int longestPauseMs = 16;
// The terminal keeps about 4 KB; a pause never lets a quarter of it fill.
constexpr int mostBytesPerPause = 1024;

// The notifier through which the port learns that its device has bytes: its
// own child that watches the port's descriptor for reading. One that an
// earlier opening left to be deleted no longer watches.
QSocketNotifier *readWatch(QSerialPort *port)
{
    QSocketNotifier *found = nullptr;
    for (QSocketNotifier *notifier : port->findChildren<QSocketNotifier *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (notifier->type() != QSocketNotifier::Read || !notifier->isEnabled()
            || notifier->socket() != port->handle())
            continue;
        if (found)
            return nullptr;
        found = notifier;
    }
    return found;
}

} // namespace

ReadPacer::ReadPacer(QSerialPort *port, QObject *parent)
    : QObject(parent), port(port)
{
    release.setSingleShot(true);
    release.setTimerType(Qt::PreciseTimer);
    connect(&release, &QTimer::timeout, this, [this] {
        sinceRelease.start();
        // A pause that gathered nothing leaves the next read to a quiet line.
        int waiting = 0;
        pauseEnded = heldBack && ioctl(int(this->port->handle()), FIONREAD, &waiting) == 0 && waiting > 0;
        holdBack(false);
    });
}

void ReadPacer::start(qint32 baudRate)
{
    // Ten bits a byte on an 8N1 line.
    const double bytesPerMs = baudRate / 10.0 / 1000.0;
    pause = bytesPerMs > 0 ? qBound(1, int(mostBytesPerPause / bytesPerMs), longestPauseMs) : 0;
    heldBack = false;
    pauseEnded = false;
    watch = port->isOpen() ? readWatch(port) : nullptr;
    if (!watch)
        pause = 0;
    sinceRead.invalidate();
    sinceRelease.invalidate();
}

void ReadPacer::stop()
{
    release.stop();
    holdBack(false);
    pause = 0;
    pauseEnded = false;
    watch = nullptr;
}

void ReadPacer::drained()
{
    pauseEnded = false;
    if (pause <= 0)
        return;
    // Bytes that a pause gathered show the line is still busy.
    const auto recent = [](const QElapsedTimer &t) { return t.isValid() && t.elapsed() < busyGapMs; };
    const bool busy = recent(sinceRead) || recent(sinceRelease);
    sinceRelease.invalidate();
    sinceRead.start();
    if (!busy)
        return;
    holdBack(true);
    if (heldBack)
        release.start(pause);
}

void ReadPacer::holdBack(bool on)
{
    if (on == heldBack)
        return;
    // The port switches its watch off by itself only when its read buffer
    // is full, which this window never limits.
    if (watch)
        watch->setEnabled(!on);
    heldBack = on && watch;
}
