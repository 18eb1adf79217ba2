// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/readpacing.h"

#include <QSerialPort>

#include <sys/ioctl.h>
#include <termios.h>

namespace {

// Reads closer together than this mean the line is busy.
constexpr int busyGapMs = 8;
// Longer pauses than this would leave bytes waiting that nobody can see;
// the window takes a line that stayed quiet for a little longer as done.
constexpr int longestPauseMs = 16;
// The terminal keeps about 4 KB; a pause never lets a quarter of it fill.
constexpr int mostBytesPerPause = 1024;

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
    termios settings;
    if (port->isOpen() && tcgetattr(int(port->handle()), &settings) == 0)
        restingMin = settings.c_cc[VMIN];
    else
        pause = 0;
    sinceRead.invalidate();
    sinceRelease.invalidate();
}

void ReadPacer::stop()
{
    release.stop();
    // The terminal keeps its settings after the port is closed; the next
    // program to open it should find them as they were.
    holdBack(false);
    pause = 0;
    pauseEnded = false;
}

bool ReadPacer::readNow()
{
    if (!heldBack)
        return true;
    // VMIN bytes came before the timer did. Linux hands them to a
    // read in pieces of 64 while VMIN is above that, so make them readable
    // as usual and take them all on the next report.
    release.stop();
    holdBack(false);
    sinceRelease.start();
    pauseEnded = true;
    return false;
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

// With VMIN at its largest the port is not reported readable until that
// many bytes wait; as the port was set up, it is at the first byte. Reads
// stay non-blocking either way.
void ReadPacer::holdBack(bool on)
{
    if (on == heldBack || !port->isOpen())
        return;
    const int fd = int(port->handle());
    termios settings;
    bool taken = tcgetattr(fd, &settings) == 0;
    if (taken) {
        settings.c_cc[VMIN] = on ? 255 : cc_t(restingMin);
        settings.c_cc[VTIME] = 0;
        taken = tcsetattr(fd, TCSANOW, &settings) == 0;
    }
    // Not a terminal that takes it: read every byte as it comes.
    if (!taken)
        pause = 0;
    heldBack = on && taken;
}
