// SPDX-License-Identifier: GPL-3.0-or-later
// What a run's summary says of the frames: how many of each family and
// type, CRC failures and frames without a check, failsafe and lost frames,
// and the rate and intervals while frames came.
#ifndef LINKSCOPE_READING_STATISTICS_H
#define LINKSCOPE_READING_STATISTICS_H

#include <QPair>
#include <QString>
#include <QVector>

struct FrameReading;

class RunStatistics
{
public:
    // A frame, with its time (NaN where none).
    void count(const FrameReading &frame, double t);

    qint64 frames() const { return total; }
    // Whether a frame had a time, and the last one's.
    bool timed() const { return anyTime; }
    double lastTime() const { return lastAt; }

    // "frames: 12 (CRSF 12)" and the lines on types, CRC failures,
    // failsafe and lost frames, each ending in a line end.
    QString framesText() const;
    // The rate and intervals; where none is known, that fewer than two
    // frames came, if the source has times (timedSource).
    QString rateText(bool timedSource) const;

private:
    void countFamily(const FrameReading &frame);

    qint64 total = 0, crcFailures = 0, failsafeFrames = 0, lostFrames = 0;
    qint64 uncheckedFrames = 0;  // SBUS and DSM carry no check to fail
    bool frameLostFlags = false; // a family that flags lost frames was seen
    // Frames per family, and per family and type; the names are the
    // readers' own constants.
    QVector<QPair<const char *, qint64>> perFamily;
    QVector<QPair<QPair<const char *, const char *>, qint64>> perType;
    bool anyTime = false;
    qint64 gaps = 0;
    double firstAt = 0, lastAt = 0, shortest = 0, longest = 0;
};

#endif
