// SPDX-License-Identifier: GPL-3.0-or-later
// What the window makes of each read of its port: which bytes it lists as a
// packet, which frames it shows, and what the link's health counts.
#ifndef LINKSCOPE_READPOLICY_H
#define LINKSCOPE_READPOLICY_H

#include "decode/framing/frameassembler.h"

#include <QByteArray>
#include <QVector>

#include <limits>

// One thing to do, in order: decode and list bytes (where there are any),
// then count what they were. A frame comes with what was found of it, so
// that nothing after needs to find it again.
struct ReadStep
{
    enum Count { NotCounted, CrcOk, CrcFalse, Failsafe };
    QByteArray bytes; // empty for a failsafe frame, which is counted, not shown
    Count count = NotCounted; // CrcOk and CrcFalse: the check's verdict
    // The frame's family; nullptr for bytes listed whole that are no frame.
    const FamilyDescriptor *family = nullptr;
    // Its check passing, the frame says its receiver sent it in failsafe.
    bool failsafe = false;
};

// Every read is listed whole, as the device delivered it, and so are the
// frames it completes together with the reads before it. A read that is
// itself one whole frame is that frame. Bytes gathered over a read pause
// are no read of the device's: where they hold frames, the frames are the
// packets, and only bytes that complete none are listed whole.
class ReadPolicy
{
public:
    // One read at nowMs, gathered over a pause or not.
    QVector<ReadStep> read(const QByteArray &chunk, qint64 nowMs, bool gathered);
    // The line has brought nothing for a while: what the kept bytes settle.
    QVector<ReadStep> settle(qint64 nowMs);
    // Bytes arrived by nowMs that wait to be read: the kept ones are not stale.
    void stillArriving(qint64 nowMs) { frames.stillArriving(nowMs); }
    // The port closed: kept bytes belong to no later connection.
    void clear() { frames.clear(); }

    const FrameAssembler &assembler() const { return frames; }

private:
    // Adds the frames in [from, to) of the stream.
    static void addFrames(QVector<ReadStep> &steps, const QVector<AssembledFrame> &found, qint64 from = 0,
                          qint64 to = std::numeric_limits<qint64>::max());

    FrameAssembler frames;
};

#endif
