// SPDX-License-Identifier: GPL-3.0-or-later
// Fewer wake-ups for a reader on a busy line.
#ifndef LINKSCOPE_READPACING_H
#define LINKSCOPE_READPACING_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QSerialPort;
class QSocketNotifier;

// A busy line delivers a frame, or a piece of one, every millisecond or two,
// and each wakes the reader, which costs more than the bytes do. Once reads
// follow each other closely, the pacer stops the port from watching its
// device for a short while: everything that came meanwhile is then read at
// once. (Asking the terminal to report the port readable only once many
// bytes wait is not enough: the kernel still wakes the reader for every
// piece that arrives, only to find too few.) A quiet line wakes the reader
// at its first byte, as before. Where the port's watch cannot be found,
// reading goes on as before.
class ReadPacer : public QObject
{
public:
    explicit ReadPacer(QSerialPort *port, QObject *parent = nullptr);

    // Call once the port is open and set up, and before it is closed.
    void start(qint32 baudRate);
    void stop();
    // Call when the port reports bytes, before reading them. Tells whether
    // they were gathered during a pause: where one read ends then says
    // nothing about where a packet ends.
    bool readStarts();
    // Whether the bytes now readable came while earlier ones were handled or
    // during a pause, rather than after the line was quiet.
    bool lineBusy() const { return busy || pauseEnded; }
    // Call after each time the port was drained.
    void drained();

private:
    void holdBack(bool on);

    QSerialPort *port;
    QPointer<QSocketNotifier> watch;
    QTimer release;
    QElapsedTimer sinceDrained;
    QElapsedTimer sinceRelease;
    int pause = 0;
    bool heldBack = false;
    bool pauseEnded = false;
    bool busy = false;
};

#endif
