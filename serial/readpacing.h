// SPDX-License-Identifier: GPL-3.0-or-later
// Fewer wake-ups for a reader on a busy line.
#ifndef LINKSCOPE_READPACING_H
#define LINKSCOPE_READPACING_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QSerialPort;

// A busy line delivers a frame, or a piece of one, every millisecond or two,
// and each wakes the reader, which costs more than the bytes do. Once reads
// follow each other closely, the pacer asks the terminal not to report the
// port readable (VMIN at its largest) and lets a short timer restore the
// setting: everything that came meanwhile is then read at once. A quiet line
// wakes the reader at its first byte, as before. Where the terminal does not
// take the setting, reading goes on as before.
class ReadPacer : public QObject
{
public:
    explicit ReadPacer(QSerialPort *port, QObject *parent = nullptr);

    // Call once the port is open and set up, and before it is closed.
    void start(qint32 baudRate);
    void stop();
    // Call when the port reports bytes. False: more are readable at once,
    // so leave these and read them all together on the next report.
    bool readNow();
    // Whether the bytes now readable were gathered during a pause. Where
    // one read ends then says nothing about where a packet ends.
    bool gathered() const { return pauseEnded; }
    // Call after each time the port was drained.
    void drained();

private:
    void holdBack(bool on);

    QSerialPort *port;
    QTimer release;
    QElapsedTimer sinceRead;
    QElapsedTimer sinceRelease;
    int pause = 0;
    int restingMin = 0;
    bool heldBack = false;
    bool pauseEnded = false;
};

#endif
