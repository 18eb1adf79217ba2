// SPDX-License-Identifier: GPL-3.0-or-later
// The framer of one source, with what timing its frames takes: where each
// read ended in the stream and when it arrived, so that a frame's last byte
// gets the time of the read that brought it, less the bytes after it at the
// line's pace; and whether the reads come in bunches.
#ifndef LINKSCOPE_READING_FRAMESTAGE_H
#define LINKSCOPE_READING_FRAMESTAGE_H

#include "decode/readbunching.h"
#include "decode/framing/streamframer.h"
#include "reading/captureform.h"

class FrameStage
{
public:
    explicit FrameStage(const QVector<const FamilyDescriptor *> &families);
    // From the first byte again, looking for these families.
    void restart(const QVector<const FamilyDescriptor *> &families);

    // Bytes read: on a wall-timed source at nowS (lineTimed: from a line at
    // pace, whose quiet before them the reads tell), else at their own
    // times, which may settle what is kept. The frames they complete.
    QVector<AssembledFrame> take(const TimedBytes &bytes, bool wallTimed, bool lineTimed, double nowS,
                                 const LinePace &pace);
    // The source told nothing new until nowMs: what is kept may be settled.
    QVector<AssembledFrame> settle(qint64 nowMs) { return framer.dropStale(nowMs); }
    QVector<AssembledFrame> flush() { return framer.flush(); }
    // Of the stream, where the bytes kept for frames still to come begin;
    // the reads that ended before are forgotten.
    qint64 forgetSettled();

    // The time a frame ending at end arrived by the reads (see above), and
    // when the read that brought it arrived; lineTimed as for take, at the
    // pace of line.
    double readTime(qint64 end, bool lineTimed, const LineSettings &line, double *readAt) const;
    // The first frame of the read that arrived at readAt.
    bool firstOfRead(double readAt) { return bunching.addFrame(readAt); }
    const ReadBunching &reads() const { return bunching; }
    const StreamFramer &stream() const { return framer; }

private:
    StreamFramer framer;
    // Where in the stream each recent read ended, and when it arrived.
    struct ReadMark
    {
        qint64 end;
        double t;
    };
    QVector<ReadMark> marks;
    double lastReadAt = 0; // s
    // Reads that come in bunches, as a USB adapter's latency timer makes them.
    ReadBunching bunching;
};

#endif
