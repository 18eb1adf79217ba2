// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/generator.h"

#include "decode/encoders.h"

#include <cmath>

namespace {

QVector<quint16> words(const QVector<int> &values)
{
    QVector<quint16> result;
    for (int value : values)
        result << quint16(value);
    return result;
}

} // namespace

FrameGenerator::FrameGenerator(const SendOptions &options) : options(options), random(options.seed) {}

bool FrameGenerator::next(Outgoing &out)
{
    // Times come from the frame's number, never from a sum of periods, so
    // that they cannot drift.
    const double t = double(index) / options.rate;
    const bool failsafe = options.failsafeAfter >= 0 && t >= options.failsafeAfter;
    if (failsafe && options.family != Family::Hott && options.family != Family::Spektrum) {
        // These receivers have no failsafe flag: they stop sending.
        out.bytes.clear();
        out.due = Outgoing::never;
        return true;
    }
    out.bytes = frame(index, t, failsafe);
    out.due = t;
    out.kind = failsafe ? Outgoing::Failsafe : Outgoing::Live;
    if (options.corrupt > 0 && random.generateDouble() < options.corrupt) {
        damage(out.bytes);
        out.kind = Outgoing::Damaged;
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
        values[channel] = sweepWire(options.family, phase < 0.5 ? 2 * phase : 2 - 2 * phase);
    }
    return values;
}

QByteArray FrameGenerator::frame(qint64 index, double t, bool failsafe) const
{
    const QVector<int> values = valuesAt(t);
    switch (options.family) {
    case Family::Mpx:
    case Family::MpxV2:
        return mpxFrame(words(values));
    case Family::Nordax:
        return nordaxFrame(0, words(values));
    case Family::Hott:
        return hottFrame(words(values), failsafe);
    case Family::Spektrum:
        break;
    }
    // More channels than a frame holds: frames take turns, the first
    // seven channels and then the rest, so that each goes every second frame.
    QVector<quint16> carried;
    const int first = values.size() > spektrumWordsPerFrame && index % 2 ? spektrumWordsPerFrame : 0;
    for (int id = first; id < values.size() && carried.size() < spektrumWordsPerFrame; ++id)
        carried << spektrumWord(id, values[id]);
    while (carried.size() < spektrumWordsPerFrame)
        carried << spektrumUnusedWord;
    return spektrumFrame(failsafe ? 0 : spektrumSignalBit, carried);
}

// One bit after the bytes that tell a frame's family and length, so that the
// frame is still found where it is and only its CRC fails.
void FrameGenerator::damage(QByteArray &frame)
{
    const int first = options.family == Family::Hott ? 3 : options.family == Family::Nordax ? 2 : 1;
    const int bit = int(random.bounded(quint32((frame.size() - first) * 8)));
    frame[first + bit / 8] = char(quint8(frame[first + bit / 8]) ^ (1 << (bit % 8)));
}
