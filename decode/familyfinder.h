// SPDX-License-Identifier: GPL-3.0-or-later
// Tells which family a stream of bytes carries, for --family auto and for a
// replay that names none: the first family whose frames come in a row, as
// a receiver sends them, where bytes that pass a check by chance never do.
#ifndef LINKSCOPE_DECODE_FAMILYFINDER_H
#define LINKSCOPE_DECODE_FAMILYFINDER_H

#include "decode/framing/streamframer.h"

#include <cmath>
#include <limits>

// A family is found where framesInRow of its frames pass their checks one
// after another (a family without a check needs more): each starting at most mostBetween bytes after the one
// before ended, with no damaged frame of the family between and, where the
// bytes have times, each at an interval the family sends at. The window's
// five families count as one, as the window reads them together.
class FamilyFinder
{
public:
    static constexpr int framesInRow = 5;
    // Room for an SBUS2 telemetry page or a reply on a half-duplex line;
    // frames that noise passes by chance lie thousands of bytes apart.
    static constexpr int mostBetween = 64;

    // Looks for these families (every one, or those of one line setting).
    explicit FamilyFinder(const QVector<const FamilyDescriptor *> &families);

    // times: the time of each byte in seconds, or empty where the source
    // tells none; quietMs as StreamFramer::feed takes it.
    void feed(const QByteArray &bytes, const QVector<double> &times = {}, qint64 nowMs = 0, double quietMs = -1);
    // The stream ended: frames still kept are settled.
    void finish();

    bool found() const { return !foundFamilies.isEmpty(); }
    // The family found, or the window's five.
    const QVector<const FamilyDescriptor *> &families() const { return foundFamilies; }
    // "CRSF"; of the window's five, those seen: "MPX, HOTT".
    QString name() const { return foundName; }
    // Of the first frame of the run that decided, in the bytes fed.
    qint64 offset() const { return foundOffset; }
    // Its time, NaN where the bytes have none.
    double time() const { return foundTime; }
    qint64 bytesSeen() const { return framer.bytesFed(); }

    // Where nothing was found: the longest run seen ("3 CRSF frames at
    // offset 120"), empty where not even two frames came in a row.
    QString longestRun() const;
    // Frames in a row that find family: framesInRow, and for a family
    // without a check, beyond those that show its form.
    static int framesNeeded(const FamilyDescriptor &family);
    // The slowest a family's frames come, in ms: more apart is no run.
    static double slowestMs(const FamilyDescriptor &family);

private:
    struct Run
    {
        int count = 0;
        qint64 firstOffset = 0, lastEnd = 0;
        double firstTime = 0, lastTime = 0;
        QVector<const FamilyDescriptor *> seen;
    };
    void take(const AssembledFrame &frame);
    double timeOf(qint64 offset) const;
    static QString names(const QVector<const FamilyDescriptor *> &seen);

    StreamFramer framer;
    QVector<double> byteTimes; // of the bytes from timesFrom on
    qint64 timesFrom = 0;
    bool timed = false;
    Run window;                        // the window's five, together
    QVector<QPair<const FamilyDescriptor *, Run>> runs; // every other family
    Run longest;
    QVector<const FamilyDescriptor *> foundFamilies;
    QString foundName;
    qint64 foundOffset = 0;
    double foundTime = std::numeric_limits<double>::quiet_NaN();
};

#endif
