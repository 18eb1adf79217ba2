// SPDX-License-Identifier: GPL-3.0-or-later
// Fewer wake-ups for a reader on a busy line.
#ifndef LINKSCOPE_READBATCHING_H
#define LINKSCOPE_READBATCHING_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSerialPort;

// A line kept busy delivers a frame, or a piece of one, every millisecond or
// two, and each wakes the reader, which costs more than the bytes do. While
// the line carries at least half of what its baud rate allows, the batcher
// asks the terminal to report the port readable only once a batch of bytes
// (up to 8 ms of traffic, and no more than 64 bytes) is waiting. Whatever
// is left when the batch does not fill up in time is fetched by a short
// timer, and a quiet line wakes the reader at its first byte again. Where
// the terminal ignores the request, reading goes on as before.
class ReadBatcher : public QObject
{
public:
    static constexpr int batchMs = 8;
    static constexpr int tailMs = 10;
    static constexpr int holdOffMs = 1000;

    explicit ReadBatcher(QSerialPort *port, QObject *parent = nullptr);

    // Call once the port is open and set up, and when it is closed.
    void start(qint32 baudRate);
    void stop();
    // Call after each time the port was drained, with the bytes it gave.
    void bytesRead(qint64 count);
    // Reads every byte at once again for a while: for when reads that hold
    // several frames cost the reader more than the wake-ups they save.
    void holdOff();

    int batchBytes() const { return batch; }

private:
    void wakeAt(int bytes);

    QSerialPort *port;
    QTimer tail;
    QElapsedTimer window;
    QElapsedTimer heldOff;
    qint64 bytesInWindow = 0;
    double bytesPerMs = 0;
    int batch = 0;
    int threshold = 0;
    bool busy = false;
};

#endif
