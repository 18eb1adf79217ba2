// SPDX-License-Identifier: GPL-3.0-or-later
// Where a run's frames go: linkscope-dump's records or live view, or
// linkscope-plot's picture. The reading hands each frame over with its
// source, time and place, and keeps the sink told of the stray bytes; the
// bytes themselves, as read, go to a byte sink (linkscope-dump --write).
#ifndef LINKSCOPE_READING_FRAMESINK_H
#define LINKSCOPE_READING_FRAMESINK_H

#include "decode/families/familytable.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>

struct FrameReading;
class PollPairing;

// One frame as a run found it. source tells a run's sources apart, counted
// from 0 in the order given.
struct Frame
{
    int source = 0;
    const FrameReading &reading;
    // When its last byte arrived, in seconds from the start of the run (a
    // capture's: from its first byte); NaN where the source tells none.
    double t;
    // Where t came from: "read" (the read that brought it, for the first
    // frame of each read), "wire" (counted back from it at the line's
    // pace) or "capture" (the capture's own time); none without t.
    const char *timeFrom;
    qint64 offset; // of its first byte among the source's bytes
    const QByteArray &bytes; // valid while take() runs, as reading is
};

class FrameSink
{
public:
    virtual ~FrameSink() = default;
    // A live source is open and about to be read (only for a live view,
    // see ReadOptions::liveView). quit ends the run, as the end of the
    // source would. False, with why in error, where the sink cannot work.
    virtual bool start(QString *error, const std::function<void()> &quit)
    {
        Q_UNUSED(error)
        Q_UNUSED(quit)
        return true;
    }
    // The families the frames of source are read as: at the start, and
    // again once --family auto found them.
    virtual void setFamilies(int source, const QVector<const FamilyDescriptor *> &families)
    {
        Q_UNUSED(source)
        Q_UNUSED(families)
    }
    virtual void take(const Frame &frame) = 0;
    // A read's frames are all taken, or a pause on a live line settled
    // some: what the sink holds may go out now where live. False ends the
    // run, as when nobody takes the frames any more.
    virtual bool readDone(bool live)
    {
        Q_UNUSED(live)
        return true;
    }
    // Bytes of source that belonged to no frame, counted from the start of the run.
    virtual void setStrayBytes(int source, qint64 bytes)
    {
        Q_UNUSED(source)
        Q_UNUSED(bytes)
    }
    // Reads of source come in bunches about every periodMs (0: no longer),
    // which remedy would mend.
    virtual void setBunching(int source, double periodMs, const QString &remedy)
    {
        Q_UNUSED(source)
        Q_UNUSED(periodMs)
        Q_UNUSED(remedy)
    }
    // The polls and replies of source paired so far: after each frame that
    // is either, and once more when the source ends.
    virtual void setPairing(int source, const PollPairing &pairing)
    {
        Q_UNUSED(source)
        Q_UNUSED(pairing)
    }
    // The run is over.
    virtual void stop() {}
    // Lines for the run's summary on what became of the frames taken, each
    // ending in a line end; empty where there is nothing to say.
    virtual QString summaryLines() const { return QString(); }
};

// Every byte a source brought, once, in the order read (of a capture, the
// bytes it holds). False ends the run, as when they cannot be kept.
class ByteSink
{
public:
    virtual ~ByteSink() = default;
    virtual bool takeBytes(int source, const char *data, int size) = 0;
};

#endif
