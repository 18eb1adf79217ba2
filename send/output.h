// SPDX-License-Identifier: GPL-3.0-or-later
// Where the frames go: a serial port opened write-only at the chosen baud
// rate, 8N1, or standard output. Writes go whole or say why they did not.
#ifndef LINKSCOPE_SEND_OUTPUT_H
#define LINKSCOPE_SEND_OUTPUT_H

#include "decode/families/linesettings.h"
#include "serial/lowlatency.h"

#include <QSerialPort>
#include <QString>

#include <functional>

// Called first thing, before any file is opened: a closed standard output
// is remembered, and its number kept from whatever opens next.
void guardStandardOutput();

class Output
{
public:
    enum Result {
        Written,
        Closed,    // the reader of standard output went away: end quietly
        Failed,    // said in failure()
        GaveUp,    // a stop was asked for and the line did not take the rest in 100 ms: said
    };

    // Opens the target ("-" or a port); false with the reason in failure().
    // A port gets low-latency mode where lowLatency says so, and what came
    // of it is said on standard error where say does; it is read from too
    // where readToo says so.
    bool open(const QString &target, const LineSettings &line, bool lowLatency = true, bool say = true,
              bool readToo = false);
    bool isPort() const { return port.isOpen(); }
    int descriptor() const { return fd; }

    // Writes all of size bytes, waiting as long as the line takes them.
    // Once stopping() says yes, what the line has not taken 100 ms later is
    // given up; written tells how far it got.
    Result write(const char *data, int size, const std::function<bool()> &stopping, int &written);
    // The device went away or standard output was closed, as poll() told
    // by revents; Closed or Failed.
    Result lost(short revents);
    struct Drained
    {
        bool waited = false; // bytes were still queued, and the port was waited for
        int left = 0;        // bytes the port had not sent when the wait ended
    };
    // Waits, a little longer than the baud rate needs, until what was
    // written has left the port, so that closing it loses nothing. A
    // pseudo-terminal on a recent kernel tells no queue: nothing is waited for.
    Drained drain();
    void close();

    QString failure() const { return why; }

private:
    Result fail(int error);

    QString target;
    QSerialPort port;
    // Put back before the port closes: declared after it, it goes first.
    LowLatencyMode latency;
    int fd = -1;
    QString why;
};

#endif
