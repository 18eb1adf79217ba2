// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing/pollpairing.h"

#include "decode/families/framereading.h"

#include <cmath>
#include <limits>

PollPairing::Counts &PollPairing::countsOf(int group)
{
    for (auto &entry : byGroup) {
        if (entry.first == group)
            return entry.second;
    }
    byGroup.append({group, Counts()});
    return byGroup.last().second;
}

void PollPairing::poll(int key, int group, double endMs)
{
    finish();
    ++all.polls;
    ++countsOf(group).polls;
    waiting = true;
    waitingKey = key;
    waitingGroup = group;
    waitingEnd = endMs;
}

bool PollPairing::reply(int key, double startMs, double &delayMs)
{
    delayMs = std::numeric_limits<double>::quiet_NaN();
    if (!waiting || key != waitingKey) {
        ++all.unpaired;
        return false;
    }
    waiting = false;
    Counts &group = countsOf(waitingGroup);
    ++all.replies;
    ++group.replies;
    // A reply cannot begin before its poll ended: where the times say so,
    // they are those of reads, not of the line.
    delayMs = std::isnan(startMs) || std::isnan(waitingEnd) ? delayMs : qMax(0.0, startMs - waitingEnd);
    if (delayMs > lateAfterMs) {
        ++all.late;
        ++group.late;
    }
    return true;
}

void PollPairing::take(FrameReading &frame, int bytes, double endMs, double byteMs)
{
    if (!frame.crcOk)
        return;
    if (frame.pollKey >= 0) {
        poll(frame.pollKey, 0, endMs);
    } else if (frame.replyKey >= 0) {
        double delay = 0;
        frame.replyPaired = reply(frame.replyKey, endMs - bytes * byteMs, delay);
        frame.replyDelayMs = std::isnan(delay) ? FrameReading::noDelay : delay;
    }
}

void PollPairing::finish()
{
    if (!waiting)
        return;
    waiting = false;
    ++all.missing;
    ++countsOf(waitingGroup).missing;
}

QString PollPairing::summary() const
{
    if (!all.any())
        return QString();
    return QStringLiteral("polls: %1, replies: %2 (late %3, more than %4 ms after the poll), missing replies: %5, "
                          "replies without a poll: %6")
        .arg(all.polls)
        .arg(all.replies)
        .arg(all.late)
        .arg(lateAfterMs)
        .arg(all.missing)
        .arg(all.unpaired);
}
