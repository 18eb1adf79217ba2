// SPDX-License-Identifier: GPL-3.0-or-later
// One run of the reading library: one source or several (ports, capture
// files, streams) opened, read until they end, a limit is reached or a stop
// signal comes, their frames handed to a sink in one timeline, and the run
// summed up. The client adds its own checks and output between the steps:
//     open() → the client's refusals → refuse() → read() → finish().
#ifndef LINKSCOPE_READING_RUN_H
#define LINKSCOPE_READING_RUN_H

#include "reading/readoptions.h"
#include "reading/source.h"
#include "reading/sourcereading.h"

#include <QElapsedTimer>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QEventLoop;
class QSerialPort;
class Timeline;

class ReadingRun
{
public:
    explicit ReadingRun(const ReadOptions &options);
    // Several sources in one timeline, in the order given: the first's
    // options say how long the run goes and what is said (count, duration,
    // live view, summary); each its own families and line settings.
    explicit ReadingRun(const QVector<ReadOptions> &sources);
    ~ReadingRun();

    // Opens the sources. -1 where they opened, else the exit status, having
    // said why: 1, or 0 where a stop signal came while one opened.
    int open();
    int sourceCount() const { return int(wires.size()); }
    const Source &source(int index = 0) const { return wires.at(size_t(index))->opened; }
    // As messages name a source: "standard input" for "-".
    QString sourceName(int index = 0) const;
    QStringList sourceNames() const;
    // The reading's own refusals of the sources opened: line settings or
    // --input for a port, sources that share no clock. -1, or the exit
    // status 2, having said why.
    int refuse() const;
    // What frame times count from, started as reading starts.
    const QElapsedTimer &clock() const { return runClock; }

    // Reads until the sources end, a limit is reached or a signal arrives;
    // frames go to sink (none: counted only), of several sources merged in
    // time order, the bytes to bytes. Returns 0, or 1 where a source could
    // not be read, a device went away or the live view could not start.
    int read(FrameSink *sink, ByteSink *bytes);
    // Once the client has handed on its own output: the summary (with the
    // sink's lines), the hint where bytes came but no frame, and why a
    // source failed, said last. status: read()'s; failed: the client's
    // output failed. Returns the run's exit status.
    int finish(int status, bool failed, const QString &sinkLines);

    qint64 frames() const;

private:
    // One source: its options, what it opened to, its reading, and why it
    // could not be read to its end.
    struct Wire
    {
        ReadOptions options;
        Source opened;
        std::unique_ptr<SourceReading> reading;
        QString lost;      // why the port went away
        QString lastError; // why the capture could not be read to its end
        bool readFailed = false; // said as it happened
        bool done = false;
    };
    struct LiveWire;

    bool live() const;
    bool allWiresDone() const;
    int readCaptures();
    int readFile(Wire &wire);
    int readJson(Wire &wire);
    bool readBlock(Wire &wire, int &status);
    int readLive();
    bool attachStream(Wire &wire, LiveWire &attached, QEventLoop &loop);
    bool attachPort(Wire &wire, LiveWire &attached, QEventLoop &loop);
    int findFamily(Wire &wire, QSerialPort &port);
    bool runLoop(QEventLoop &loop, const std::vector<std::unique_ptr<LiveWire>> &attached);
    bool startWatching(QEventLoop &loop);
    void stopWatching();
    void endWire(Wire &wire);
    QString summary(const QString &sinkLines) const;

    const ReadOptions options; // the first source's, which hold the run's own
    std::vector<std::unique_ptr<Wire>> wires;
    QElapsedTimer runClock;
    RunLimits limits;
    std::unique_ptr<Timeline> timeline; // several sources' frames in time order
    FrameSink *sink = nullptr; // where the frames go, once a live view has started
    bool watching = false;
};

#endif
