// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing/pollpairing.h"

#include "decode/families/framereading.h"

#include <QStringList>

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
    waitingEcho = false;
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
    if (!waiting || (key != waitingKey && key != FrameReading::anyPollKey)) {
        ++all.unpaired;
        // A reply that names its sensor counts against it.
        if (named && key != FrameReading::anyPollKey)
            ++countsOf(key).unpaired;
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
    // An echo is the poll, or the reply where its poll waits for it.
    const bool echo = frame.pollKey >= 0 && frame.replyKey == frame.pollKey;
    if (frame.pollKey >= 0 && !(echo && waiting && waitingEcho && waitingKey == frame.pollKey)) {
        const int sensor = frame.telemetry.sensor;
        named = named || sensor >= 0;
        poll(frame.pollKey, sensor, endMs);
        waitingEcho = echo;
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
        .arg(all.unpaired)
        + sensorLines();
}

// A line per sensor that answered or was answered for, and one for those
// polled but never answered (most of SmartPort's 28 ids, as a rule).
QString PollPairing::sensorLines() const
{
    if (!named)
        return QString();
    QString lines;
    QStringList silent;
    for (const auto &entry : byGroup) {
        const Counts &counts = entry.second;
        if (entry.first < 0)
            continue;
        const QString id = QStringLiteral("0x") + QString::number(entry.first, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        if (counts.replies == 0 && counts.unpaired == 0) {
            silent << id;
            continue;
        }
        lines += QStringLiteral("\n  sensor %1: polls: %2, replies: %3 (late %4), missing replies: %5, "
                                "replies without a poll: %6")
                     .arg(id)
                     .arg(counts.polls)
                     .arg(counts.replies)
                     .arg(counts.late)
                     .arg(counts.missing)
                     .arg(counts.unpaired);
    }
    if (!silent.isEmpty())
        lines += QStringLiteral("\n  polled, never answered: %1 (%2)").arg(silent.size()).arg(silent.join(QLatin1Char(' ')));
    return lines;
}
