// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/readpacing.h"

#include "serial/portaccess.h"

#include <QSerialPort>
#include <QSocketNotifier>

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
        pauseEnded = heldBack && bytesUnread(*this->port);
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
    sinceDrained.invalidate();
    sinceRelease.invalidate();
    busy = false;
}

void ReadPacer::stop()
{
    release.stop();
    holdBack(false);
    pause = 0;
    pauseEnded = false;
    watch = nullptr;
}

bool ReadPacer::readStarts()
{
    // Bytes that came soon after the last ones were handled, however long
    // that took, or that a pause gathered, show the line is busy.
    const auto recent = [](const QElapsedTimer &t) { return t.isValid() && t.elapsed() < busyGapMs; };
    busy = recent(sinceDrained) || recent(sinceRelease);
    return pauseEnded;
}

void ReadPacer::drained()
{
    pauseEnded = false;
    sinceRelease.invalidate();
    sinceDrained.start();
    // Bytes that came while these were handled show it too.
    if (pause <= 0 || !(busy || bytesUnread(*port)))
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
