// SPDX-License-Identifier: GPL-3.0-or-later
// One run of the reading library: a port, a capture file or a stream opened,
// read until it ends, a limit is reached or a stop signal comes, its frames
// handed to a sink, and the run summed up. The client adds its own checks
// and output between the steps:
//     open() → the client's refusals → refuse() → read() → finish().
#ifndef LINKSCOPE_READING_RUN_H
#define LINKSCOPE_READING_RUN_H

#include "reading/readoptions.h"
#include "reading/source.h"
#include "reading/sourcereading.h"

#include <QElapsedTimer>

#include <functional>

class QEventLoop;
class QSerialPort;

class ReadingRun
{
public:
    explicit ReadingRun(const ReadOptions &options);

    // Opens the source. -1 where it opened, else the exit status, having
    // said why: 1, or 0 where a stop signal came while it opened.
    int open();
    const Source &source() const { return opened; }
    // As messages name the source: "standard input" for "-".
    QString sourceName() const;
    // The reading's own refusals of the source opened: line settings or
    // --input for a port. -1, or the exit status 2, having said why.
    int refuse() const;
    // What frame times count from, started as reading starts.
    const QElapsedTimer &clock() const { return runClock; }

    // Reads until the source ends, a limit is reached or a signal arrives;
    // frames go to sink (none: counted only), the bytes to bytes. Returns
    // 0, or 1 where the source could not be read, the device went away or
    // the live view could not start.
    int read(FrameSink *sink, ByteSink *bytes);
    // Once the client has handed on its own output: the summary (with the
    // sink's lines), the hint where bytes came but no frame, and why the
    // source failed, said last. status: read()'s; failed: the client's
    // output failed. Returns the run's exit status.
    int finish(int status, bool failed, const QString &sinkLines);

    qint64 frames() const { return reading.frames(); }

private:
    int readFile(int fd);
    int readJson(int fd);
    int readStream(int fd);
    int readPort(const QString &device);
    int findFamily(QSerialPort &port);
    bool runLoop(QEventLoop &loop, const std::function<bool()> &bytesWaiting);
    bool startWatching(QEventLoop &loop);
    void stopWatching();

    const ReadOptions options;
    Source opened;
    QElapsedTimer runClock;
    RunLimits limits;
    SourceReading reading;
    FrameSink *sink = nullptr; // where the frames go, once a live view has started
    bool watching = false;
    QString lost;      // why the port went away
    QString lastError; // why the capture could not be read to its end
};

#endif
