// SPDX-License-Identifier: GPL-3.0-or-later
// What a run's summary says of the frames: how many of each family and
// type, CRC failures and frames without a check, failsafe and lost frames,
// and the rate and intervals while frames came.
#ifndef LINKSCOPE_READING_STATISTICS_H
#define LINKSCOPE_READING_STATISTICS_H

#include "decode/families/framereading.h"

#include <QPair>
#include <QString>
#include <QVector>

#include <cmath>


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

// Inline: each runs once a frame, in the reading's innermost loop.
inline void RunStatistics::countFamily(const FrameReading &frame)
{
    [&] {
        for (auto &entry : perFamily) {
            if (entry.first == frame.family) {
                ++entry.second;
                return;
            }
        }
        perFamily.append({frame.family, 1});
    }();
    if (!frame.type)
        return;
    for (auto &entry : perType) {
        if (entry.first.first == frame.family && entry.first.second == frame.type) {
            ++entry.second;
            return;
        }
    }
    perType.append({{frame.family, frame.type}, 1});
}

inline void RunStatistics::count(const FrameReading &frame, double t)
{
    ++total;
    countFamily(frame);
    crcFailures += !frame.crcOk;
    uncheckedFrames += frame.crcOk && !frame.hasCheck;
    // Only a frame whose CRC matches says anything about the receiver.
    failsafeFrames += frame.failsafe == 1 && frame.crcOk;
    frameLostFlags = frameLostFlags || frame.frameLost >= 0;
    lostFrames += frame.frameLost == 1 && frame.crcOk;
    // A reply (an SBUS2 slot, a sensor's answer) is no frame of the rate
    // the source sends at.
    if (std::isnan(t) || frame.telemetry.role == Telemetry::Reply)
        return;
    if (anyTime) {
        const double gap = t - lastAt;
        shortest = gaps == 0 ? gap : qMin(shortest, gap);
        longest = gaps == 0 ? gap : qMax(longest, gap);
        ++gaps;
    } else {
        firstAt = t;
        anyTime = true;
    }
    lastAt = t;
}

#endif
