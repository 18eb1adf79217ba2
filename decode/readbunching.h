// SPDX-License-Identifier: GPL-3.0-or-later
// Tells from the arrival of reads and the frames in each whether something
// on the way, such as a USB adapter's latency timer, hands the frames over in
// bunches: then the frame rate is right, but single frame times are not.
#ifndef LINKSCOPE_READBUNCHING_H
#define LINKSCOPE_READBUNCHING_H

#include <QString>

#include <deque>
#include <limits>
#include <map>

// Fed with every read of a live source and every frame that ended in one,
// it judges the last two seconds. Bunched reads come on a grid of one
// period (the timer's) that is not the frames' own: each holds several
// frames, or the frames, regular in themselves, fall on that grid. Reads
// that a busy reader took late come at no steady period, and a receiver's
// own frames, read as they come, at the frames' period: neither is bunched.
class ReadBunching
{
public:
    static constexpr double windowSeconds = 2.0;

    // A read that arrived at t, in seconds.
    void addRead(double t);
    // A frame that ended in the read that arrived at readAt. True where it
    // is the first frame of that read.
    bool addFrame(double readAt);

    // Whether the reads came in bunches within the last two seconds (so
    // that a judgement that a busy moment tips does not flicker), and how
    // far apart then, in ms.
    bool bunched() const { return lastRead - bunchedAt <= windowSeconds; }
    double readPeriodMs() const { return periodMs; }
    // Whether they ever did in this run, and the period they came at most
    // often, to the millisecond.
    bool everBunched() const { return !seen.empty(); }
    double bunchedPeriodMs() const;

    // "frame times are bunched by the adapter (reads about every 16 ms): the
    // frame rate is right, single intervals are not"
    static QString note(double periodMs);

private:
    struct Read
    {
        double t;
        int frames;
    };
    void judge();

    std::deque<Read> reads;
    double lastFrameRead = -1;
    double judgedAt = std::numeric_limits<double>::quiet_NaN();
    std::size_t readsSinceJudged = 0;
    double bunchedAt = std::numeric_limits<double>::quiet_NaN(), lastRead = 0;
    double periodMs = 0;
    std::map<int, int> seen; // judgements by period in ms
};

#endif
