// SPDX-License-Identifier: GPL-3.0-or-later
// Where a run's frames go instead of records: linkscope-dump's live view,
// or linkscope-plot's picture. The reading path hands each frame over with
// its time and keeps the sink told of the stray bytes.
#ifndef LINKSCOPE_DUMP_FRAMESINK_H
#define LINKSCOPE_DUMP_FRAMESINK_H

#include <QString>
#include <QtGlobal>

#include <functional>

struct FrameReading;

class FrameSink
{
public:
    virtual ~FrameSink() = default;
    // A live source is open and about to be read. quit ends the run, as
    // the end of the source would. False, with why in error, where the sink
    // cannot work.
    virtual bool start(QString *error, const std::function<void()> &quit)
    {
        Q_UNUSED(error)
        Q_UNUSED(quit)
        return true;
    }
    // A frame, with the time its last byte arrived (NaN where the source tells none).
    virtual void take(const FrameReading &frame, double t) = 0;
    // Bytes that belonged to no frame, counted from the start of the run.
    virtual void setStrayBytes(qint64 bytes) { Q_UNUSED(bytes) }
    // Reads come in bunches about every periodMs (0: no longer), which
    // remedy would mend.
    virtual void setBunching(double periodMs, const QString &remedy)
    {
        Q_UNUSED(periodMs)
        Q_UNUSED(remedy)
    }
    // The run is over.
    virtual void stop() {}
};

#endif
