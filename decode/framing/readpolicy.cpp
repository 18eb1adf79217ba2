// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing/readpolicy.h"

#include "decode/families/crc16.h"
#include "decode/framing.h"

#include <algorithm>

QVector<ReadStep> ReadPolicy::read(const QByteArray &chunk, qint64 nowMs, bool gathered)
{
    QVector<ReadStep> steps;
    // What a pause on the line settled came before this read.
    addFrames(steps, frames.dropStale(nowMs));
    const qint64 chunkAt = frames.bytesFed();
    if (isWholeFrame(chunk)) {
        const bool crcOk = frameCrcMatches(chunk.constData(), chunk.size());
        QVector<AssembledFrame> found;
        if (crcOk && frames.keptBytes() == 0)
            frames.realign(chunk.size(), nowMs);
        else
            found = frames.feed(chunk, nowMs, true);
        // Bytes kept from earlier reads that this one settles hold frames
        // that came before it.
        addFrames(steps, found, 0, chunkAt);
        steps.append({chunk, crcOk ? ReadStep::CrcOk : ReadStep::CrcFalse});
        addFrames(steps, found, chunkAt);
        return steps;
    }
    const QVector<AssembledFrame> found = frames.feed(chunk, nowMs);
    const bool framesInRead = std::any_of(found.cbegin(), found.cend(), [&](const AssembledFrame &frame) {
        return frame.offset + frame.bytes.size() > chunkAt;
    });
    if (!gathered || !framesInRead)
        steps.append({chunk, ReadStep::NotCounted});
    addFrames(steps, found);
    return steps;
}

QVector<ReadStep> ReadPolicy::settle(qint64 nowMs)
{
    QVector<ReadStep> steps;
    addFrames(steps, frames.dropStale(nowMs));
    return steps;
}

void ReadPolicy::addFrames(QVector<ReadStep> &steps, const QVector<AssembledFrame> &found, qint64 from, qint64 to)
{
    for (const AssembledFrame &frame : found) {
        if (frame.offset < from || frame.offset >= to)
            continue;
        // The window does not show a failsafe frame; it counts it.
        if (frame.failsafe)
            steps.append({QByteArray(), ReadStep::Failsafe});
        else
            steps.append({frame.bytes, frame.crcOk ? ReadStep::CrcOk : ReadStep::CrcFalse});
    }
}
