// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/generator.h"

#include "decode/families/familytable.h"

#include <cmath>

FrameGenerator::FrameGenerator(const SendOptions &options) : options(options), random(options.seed) {}

bool FrameGenerator::next(Outgoing &out)
{
    const FamilyDescriptor &family = *options.family;
    // A frame of its own, as linkscope-dump counts it, so that the frames
    // sent and --count agree with what is read.
    if (linkDue >= 0) {
        out.bytes = family.linkFrame(false);
        out.due = linkDue;
        out.kind = Outgoing::Live;
        linkDue = -1;
        return true;
    }
    if (pollDue >= 0) {
        out.bytes = family.pollFrame(polls++);
        out.due = pollDue;
        out.kind = Outgoing::Live;
        pollDue = -1;
        return true;
    }
    // Times come from the frame's number, never from a sum of periods, so
    // that they cannot drift.
    const double t = double(index) / options.rate;
    const bool failsafe = options.failsafeAfter >= 0 && t >= options.failsafeAfter;
    if (options.telemetry) {
        out.bytes = frame(index++, t, false);
        out.due = t;
        out.kind = Outgoing::Live;
        return true;
    }
    if (failsafe && family.failsafe == FamilyDescriptor::FallsSilent) {
        // These receivers have no failsafe flag: they stop sending channels.
        // CRSF's link statistics go on, saying LQ 0.
        out.bytes.clear();
        out.due = Outgoing::never;
        if (family.linkFrame) {
            nextLinkAt = qMax(nextLinkAt, options.failsafeAfter);
            out.bytes = family.linkFrame(true);
            out.due = nextLinkAt;
            out.kind = Outgoing::Failsafe;
            nextLinkAt += family.linkPeriodMs / 1000;
        }
        return true;
    }
    out.bytes = frame(index, t, failsafe);
    out.due = t;
    out.kind = failsafe ? Outgoing::Failsafe : Outgoing::Live;
    if (options.corrupt > 0 && random.generateDouble() < options.corrupt) {
        damage(out.bytes);
        out.kind = Outgoing::Damaged;
    }
    // The link frame goes right behind the channel frame it falls due with,
    // and so does a poll.
    if (family.linkFrame && t >= nextLinkAt) {
        linkDue = t;
        while (nextLinkAt <= t)
            nextLinkAt += family.linkPeriodMs / 1000;
    }
    // A nanosecond's leeway: a sum of periods drifts from the frame's time.
    if (family.pollFrame && t + 1e-9 >= nextPollAt) {
        pollDue = t;
        while (nextPollAt <= t + 1e-9)
            nextPollAt += family.pollPeriodMs / 1000;
    }
    ++index;
    return true;
}

double FrameGenerator::bytesPerPiece() const
{
    return frame(0, 0, false).size();
}

double FrameGenerator::secondsPerPiece() const
{
    return 1 / options.rate;
}

// Each channel a 16th of the period behind the one before, so that the
// eye sees them move one after another.
QVector<int> FrameGenerator::valuesAt(double t) const
{
    if (!options.sweep)
        return options.wire;
    QVector<int> values(options.wire.size());
    for (int channel = 0; channel < values.size(); ++channel) {
        double phase = t / options.sweepPeriod - channel / 16.0;
        phase -= std::floor(phase);
        values[channel] = sweepWire(*options.family, channel, phase < 0.5 ? 2 * phase : 2 - 2 * phase);
    }
    return values;
}

QByteArray FrameGenerator::frame(qint64 index, double t, bool failsafe) const
{
    const FamilyDescriptor &family = *options.family;
    if (options.telemetry) {
        // Each kind in turn; the seed sets where the values start.
        const int to = family.telemetryTo > 0 ? family.telemetryTo : family.telemetryKinds;
        const int kinds = qMax(1, to - family.telemetryFrom);
        return family.telemetryFrame(family.telemetryFrom + int(index % kinds), index / kinds + options.seed % 1000);
    }
    FrameRequest request;
    request.wire = valuesAt(t);
    request.index = index;
    request.failsafe = failsafe;
    request.variant = options.variant;
    return options.family->encode(request);
}

// Only the check fails: the frame is still found where it is.
void FrameGenerator::damage(QByteArray &frame)
{
    options.family->corrupt(frame, random);
}
