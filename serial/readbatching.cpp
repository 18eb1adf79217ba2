// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/readbatching.h"

#include <QSerialPort>

#include <termios.h>

namespace {

// The load is judged over this long, so that one burst does not start
// batching and one gap does not end it.
constexpr int windowMs = 40;
// Linux hands a terminal's bytes to read() in pieces of 64, and stops
// after the first piece when VMIN asks for more than that: a larger batch
// would be read 64 bytes at a time and fall behind the line.
constexpr int maxBatch = 64;

} // namespace

ReadBatcher::ReadBatcher(QSerialPort *port, QObject *parent)
    : QObject(parent), port(port)
{
    tail.setSingleShot(true);
    tail.setInterval(tailMs);
    // The bytes short of a batch become readable, and the read that follows
    // decides whether to batch again.
    connect(&tail, &QTimer::timeout, this, [this] { wakeAt(0); });
}

void ReadBatcher::start(qint32 baudRate)
{
    // Ten bits a byte on an 8N1 line.
    bytesPerMs = baudRate / 10.0 / 1000.0;
    batch = qBound(1, int(bytesPerMs * batchMs), maxBatch);
    threshold = 0;
    busy = false;
    heldOff.invalidate();
    bytesInWindow = 0;
    window.start();
}

void ReadBatcher::holdOff()
{
    heldOff.start();
    tail.stop();
    wakeAt(0);
}

void ReadBatcher::stop()
{
    tail.stop();
    // The terminal keeps its settings after the port is closed; the next
    // program to open it should find them as they were.
    wakeAt(0);
    batch = 0;
}

void ReadBatcher::bytesRead(qint64 count)
{
    if (batch <= 1)
        return;
    bytesInWindow += count;
    const qint64 elapsed = window.elapsed();
    if (elapsed >= windowMs) {
        busy = bytesInWindow >= bytesPerMs * elapsed / 2;
        bytesInWindow = 0;
        window.start();
    }
    if (!busy || (heldOff.isValid() && heldOff.elapsed() < holdOffMs)) {
        wakeAt(0);
        return;
    }
    wakeAt(batch);
    tail.start();
}

// VMIN bytes must be waiting before poll() reports the terminal readable;
// 0 and 1 both mean any byte. Reads stay non-blocking either way.
void ReadBatcher::wakeAt(int bytes)
{
    if (bytes == threshold || !port->isOpen())
        return;
    const int fd = int(port->handle());
    termios settings;
    bool taken = tcgetattr(fd, &settings) == 0;
    if (taken) {
        settings.c_cc[VMIN] = cc_t(bytes);
        settings.c_cc[VTIME] = 0;
        taken = tcsetattr(fd, TCSANOW, &settings) == 0;
    }
    if (!taken) {
        // Not a terminal that takes it: read as before.
        batch = 0;
        return;
    }
    threshold = bytes;
}
