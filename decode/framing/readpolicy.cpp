// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing/readpolicy.h"

#include "decode/families/familyset.h"

#include <algorithm>

namespace {

// The family of which chunk is exactly one frame, by its start and length,
// its check passed or not; nullptr where it is none. A frame sent in place
// of the live ones while in failsafe (HoTT's) is none: the window shows no
// such frame.
const FamilyDescriptor *wholeFrameFamily(const FamilySet &set, const QByteArray &chunk)
{
    int lengths[FamilySet::maxCandidates];
    const FamilyDescriptor *which[FamilySet::maxCandidates];
    bool undecided = false;
    const int count = set.candidates(chunk.constData(), chunk.size(), lengths, which, undecided);
    for (int i = 0; i < count; ++i) {
        if (lengths[i] != chunk.size())
            continue;
        const bool apart = which[i]->failsafeFramesApart && which[i]->sentInFailsafe(chunk.constData(), chunk.size());
        return apart ? nullptr : which[i];
    }
    return nullptr;
}

} // namespace

QVector<ReadStep> ReadPolicy::read(const QByteArray &chunk, qint64 nowMs, bool gathered)
{
    QVector<ReadStep> steps;
    // What a pause on the line settled came before this read.
    addFrames(steps, frames.dropStale(nowMs));
    const qint64 chunkAt = frames.bytesFed();
    if (const FamilyDescriptor *family = wholeFrameFamily(frames.familySet(), chunk)) {
        const bool crcOk = family->check(chunk.constData(), chunk.size());
        QVector<AssembledFrame> found;
        if (crcOk && frames.keptBytes() == 0)
            frames.realign(chunk.size(), nowMs);
        else
            found = frames.feed(chunk, nowMs, true);
        // Bytes kept from earlier reads that this one settles hold frames
        // that came before it.
        addFrames(steps, found, 0, chunkAt);
        steps.append({chunk, crcOk ? ReadStep::CrcOk : ReadStep::CrcFalse, family,
                      crcOk && family->sentInFailsafe(chunk.constData(), chunk.size())});
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
        // The window does not show a frame sent in place of the live ones
        // while in failsafe; it counts it.
        if (frame.failsafe && frame.family()->failsafeFramesApart)
            steps.append({QByteArray(), ReadStep::Failsafe, frame.family(), true});
        else
            steps.append({frame.bytes, frame.crcOk ? ReadStep::CrcOk : ReadStep::CrcFalse, frame.family(),
                          frame.failsafe});
    }
}
