// SPDX-License-Identifier: GPL-3.0-or-later
// Every family of the table through the frame assembler: a stream of good
// frames (encoded from the fuzzer's channel values), frames cut short,
// damaged ones and noise, looked for with a chosen set of families, fed in
// reads of any size. What must hold: every frame is of a chosen family, has
// the length its family gives and lies where the stream has it, its check
// verdict is right, a failed one starts where the frame before it ended, no
// two overlap, the frames' bytes and the stray ones are the bytes fed, and
// every good frame planted is found unless bytes that pass a check by
// coincidence overlap it, or, where its check is short, a damaged frame
// holds it that another frame follows. Every frame, and the raw input
// wherever a family would take it, is read too, its telemetry printed; the
// raw input's answer, where its family answers it, is a good frame of the
// family that names the poll's key (or any poll's); and polls and replies
// among the frames pair up: each poll is answered or missing, each keyed
// frame counted once, and the counts per sensor add up to the whole. The same input then makes a
// stream of telemetry frames, which are found.
#include "decode/families/familyset.h"
#include "decode/framing/frameassembler.h"
#include "decode/framing/pollpairing.h"
#include "fuzzstream.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

const FamilyDescriptor &pick(const QVector<const FamilyDescriptor *> &families, FuzzInput &in)
{
    return *families[in.next() % families.size()];
}

QByteArray goodFrame(const FamilyDescriptor &family, FuzzInput &in)
{
    // Without channels a family sends polls, and SmartPort's carry no check:
    // one is found only where a frame follows it. The telemetry stream
    // below plants them; here a sensor's replies go.
    if (family.maxChannels == 0 && family.telemetryFrame) {
        const qint64 index = in.next();
        const int to = family.telemetryTo > 0 ? family.telemetryTo : family.telemetryKinds;
        return family.telemetryFrame(family.telemetryFrom + in.next() % (to - family.telemetryFrom), index);
    }
    return family.encode(fuzzedRequest(family, in, FuzzValues::WithinMicroseconds));
}

// Values of every kind print within their bounds.
void print(const FrameReading &reading)
{
    std::string out;
    reading.telemetry.appendPairs(out);
    reading.telemetry.appendJson(out);
    if (reading.telemetry.size() > Telemetry::maxValues)
        fail("a frame reads with more telemetry values than there is room for");
}

// Telemetry frames of the chosen families that make them, each family, kind
// and index from the input again, back to back, read with a line's memory:
// every frame found lies where it was put and has the right verdict, and
// every one that tells its own end is found, unless a good frame that
// bytes passed by chance overlaps it.
void checkTelemetry(const FamilySet &set, const QVector<const FamilyDescriptor *> &chosen, const uint8_t *data,
                    size_t size)
{
    QVector<const FamilyDescriptor *> telling;
    for (const FamilyDescriptor *family : chosen) {
        if (family->telemetryKinds > 0)
            telling << family;
    }
    if (telling.isEmpty())
        return;
    FuzzInput in{data, size};
    QByteArray stream;
    QVector<Span> planted;
    while (in.more()) {
        const FamilyDescriptor &family = pick(telling, in);
        const int kind = in.next() % family.telemetryKinds;
        const QByteArray frame = family.telemetryFrame(kind, in.next());
        if (family.frameLength(frame.constData(), frame.size()) == frame.size())
            planted.append({stream.size(), int(frame.size())});
        stream += frame;
    }
    FrameAssembler assembler(set);
    QVector<AssembledFrame> frames = assembler.feed(stream);
    frames += assembler.flush();
    TelemetryMemory memory;
    FrameReading reading;
    reading.memory = &memory;
    for (const AssembledFrame &frame : qAsConst(frames)) {
        if (stream.mid(int(frame.offset), frame.bytes.size()) != frame.bytes)
            fail("a telemetry frame is not where the stream has it");
        if (frame.crcOk != frame.family()->check(frame.bytes.constData(), frame.bytes.size()))
            fail("a telemetry frame's check verdict is wrong");
        frame.family()->read(frame.bytes.constData(), frame.bytes.size(), reading);
        print(reading);
    }
    for (const Span &s : qAsConst(planted)) {
        const bool found = std::any_of(frames.cbegin(), frames.cend(), [&](const AssembledFrame &frame) {
            return frame.offset == s.offset && frame.bytes.size() == s.length && frame.crcOk;
        });
        const bool overlapped = std::any_of(frames.cbegin(), frames.cend(), [&](const AssembledFrame &frame) {
            return frame.crcOk && Span{frame.offset, int(frame.bytes.size())}.overlaps(s.offset, s.length)
                && !std::any_of(planted.cbegin(), planted.cend(), [&](const Span &p) {
                       return p.offset == frame.offset && p.length == frame.bytes.size();
                   });
        });
        if (!found && !overlapped)
            fail("a good telemetry frame was lost");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QVector<const FamilyDescriptor *> &all = allFamilies();
    FrameReading reading;
    // The raw input as a frame of each family that would take it.
    for (const FamilyDescriptor *family : all) {
        const char *bytes = reinterpret_cast<const char *>(data);
        if (size > 0 && family->startBytes.contains(bytes[0]) && family->frameLength(bytes, int(size)) == int(size)) {
            family->read(bytes, int(size), reading);
            if (reading.channels < 0 || reading.channels > FrameReading::maxChannels)
                fail("a frame reads with a channel count out of bounds");
            print(reading);
            const int key = reading.pollKey;
            const QByteArray reply = family->answer && reading.crcOk ? family->answer(bytes, int(size), 0) : QByteArray();
            if (!reply.isEmpty()) {
                if (key < 0)
                    fail("a frame that is no poll is answered");
                if (family->frameLength(reply.constData(), reply.size()) != reply.size()
                    || !family->check(reply.constData(), reply.size()))
                    fail("an answer is no good frame of its family");
                family->read(reply.constData(), reply.size(), reading);
                if (reading.replyKey != key && reading.replyKey != FrameReading::anyPollKey)
                    fail("an answer names another poll");
            }
        }
    }

    // The first bytes choose the families looked for; at least one. Those
    // found without a checksum have gapframing_fuzzer.
    QVector<const FamilyDescriptor *> checked;
    for (const FamilyDescriptor *family : all) {
        if (family->framing == FamilyDescriptor::ByChecksum)
            checked << family;
    }
    FuzzInput in{data, size};
    const quint16 mask = quint16(in.word());
    QVector<const FamilyDescriptor *> chosen;
    for (int i = 0; i < checked.size(); ++i) {
        if (mask & (1 << i))
            chosen << checked[i];
    }
    if (chosen.isEmpty())
        chosen = checked;
    const FamilySet set(chosen);
    FrameAssembler assembler(set);
    QRandomGenerator random(in.next());

    QByteArray stream, pending;
    QVector<Span> planted;
    QVector<AssembledFrame> frames;
    const auto deliver = [&](int readSize, bool everything) {
        while (pending.size() >= readSize || (everything && !pending.isEmpty())) {
            const QByteArray read = pending.left(readSize);
            pending.remove(0, read.size());
            frames += assembler.feed(read);
        }
    };
    while (in.more()) {
        const quint8 op = in.next();
        QByteArray bytes;
        switch (op & 3) {
        case 0: bytes = noise(in, 32); break;
        case 1: {
            const FamilyDescriptor &family = pick(chosen, in);
            bytes = goodFrame(family, in);
            planted.append({stream.size(), int(bytes.size()), family.shortCheck});
            break;
        }
        case 2:
            bytes = goodFrame(pick(chosen, in), in);
            cutShort(bytes, in);
            break;
        default: {
            const FamilyDescriptor &family = pick(chosen, in);
            bytes = goodFrame(family, in);
            family.corrupt(bytes, random);
            break;
        }
        }
        stream += bytes;
        pending += bytes;
        deliver(1 + (op >> 2), false);
    }
    deliver(1, true);
    frames += assembler.flush();
    if (assembler.keptBytes() != 0)
        fail("bytes are kept after the stream ended");

    QVector<Span> coincidences;
    for (const AssembledFrame &frame : qAsConst(frames)) {
        const bool isPlanted = std::any_of(planted.cbegin(), planted.cend(), [&](const Span &s) {
            return s.offset == frame.offset && s.length == frame.bytes.size();
        });
        if (frame.crcOk && !isPlanted)
            coincidences.append({frame.offset, int(frame.bytes.size())});
    }
    // A good frame with a short check inside a damaged one that a good
    // frame follows passes for bytes that passed by chance.
    const auto heldByDamaged = [&](const Span &s) {
        for (int i = 0; i + 1 < frames.size(); ++i) {
            const AssembledFrame &frame = frames.at(i), &next = frames.at(i + 1);
            if (s.shortCheck && !frame.crcOk && Span{frame.offset, int(frame.bytes.size())}.overlaps(s.offset, s.length)
                && next.crcOk && next.offset == frame.offset + frame.bytes.size())
                return true;
        }
        return false;
    };
    const auto excused = [&](const Span &s) {
        return heldByDamaged(s) || std::any_of(coincidences.cbegin(), coincidences.cend(),
                                               [&](const Span &c) { return c.overlaps(s.offset, s.length); });
    };

    // How many frames from index i on follow each other without a gap.
    const auto chainFrom = [&](int i) {
        int n = 1;
        while (i + n < frames.size()
               && frames.at(i + n).offset == frames.at(i + n - 1).offset + frames.at(i + n - 1).bytes.size())
            ++n;
        return n;
    };
    qint64 framed = 0;
    qint64 previousEnd = -1;
    PollPairing pairing;
    qint64 goodReplies = 0, goodPolls = 0;
    for (int i = 0; i < frames.size(); ++i) {
        const AssembledFrame &frame = frames.at(i);
        if (!frame.family() || !chosen.contains(frame.family()))
            fail("a frame is of no family looked for");
        const char *bytes = frame.bytes.constData();
        // With the stream's bytes after it: a SmartPort poll is told by the byte after it.
        if (frame.bytes.isEmpty()
            || frame.family()->frameLength(stream.constData() + frame.offset, int(stream.size() - frame.offset))
                != frame.bytes.size())
            fail("a frame has not its family's length");
        if (frame.offset < previousEnd)
            fail("two frames overlap");
        if (stream.mid(int(frame.offset), frame.bytes.size()) != frame.bytes)
            fail("a frame is not where the stream has it");
        if (frame.crcOk != frame.family()->check(bytes, frame.bytes.size()))
            fail("a frame's check verdict is wrong");
        // Damaged frames count before the first good one only as a chain.
        if (!frame.crcOk && frame.offset != previousEnd && chainFrom(i) < FrameAssembler::framesToSync)
            fail("a frame with a failed check neither starts where the last one ended nor heads a chain");
        frame.family()->read(bytes, frame.bytes.size(), reading);
        // Reading may fail a frame whose own check passed, on an inner
        // check (a CRSF COMMAND's CRC-8), never pass one whose check failed.
        if (reading.crcOk && !frame.crcOk)
            fail("reading a frame gives another check verdict");
        const bool keyed = reading.crcOk && (reading.replyKey >= 0 || reading.pollKey >= 0);
        pairing.take(reading, frame.bytes.size(), double(frame.offset + frame.bytes.size()), 0.08);
        // Each good frame with a key is a poll or a reply (an echo either).
        goodReplies += keyed && reading.replyPaired >= 0;
        goodPolls += keyed && reading.replyPaired < 0;
        if (keyed && reading.replyPaired < 0 && reading.pollKey < 0)
            fail("a reply is neither paired nor unpaired");
        previousEnd = frame.offset + frame.bytes.size();
        framed += frame.bytes.size();
    }
    if (framed + assembler.strayBytes() != stream.size())
        fail("bytes were lost or counted twice");
    pairing.finish();
    const PollPairing::Counts &counts = pairing.counts();
    if (counts.replies + counts.missing != counts.polls || counts.replies + counts.unpaired != goodReplies
        || counts.polls != goodPolls || counts.late > counts.replies)
        fail("polls and replies do not add up");
    // Per sensor, the counts add up to the whole; a reply without a poll
    // counts against its sensor only where it names one.
    PollPairing::Counts sum;
    for (const auto &group : pairing.groups()) {
        sum.polls += group.second.polls;
        sum.replies += group.second.replies;
        sum.late += group.second.late;
        sum.missing += group.second.missing;
        sum.unpaired += group.second.unpaired;
    }
    if (sum.polls != counts.polls || sum.replies != counts.replies || sum.late != counts.late
        || sum.missing != counts.missing || sum.unpaired > counts.unpaired)
        fail("the counts per sensor do not add up to the whole");
    if (!pairing.summary().isEmpty() != counts.any())
        fail("a summary without counts, or counts without one");
    for (const Span &s : qAsConst(planted)) {
        const bool found = std::any_of(frames.cbegin(), frames.cend(), [&](const AssembledFrame &frame) {
            return frame.offset == s.offset && frame.bytes.size() == s.length && frame.crcOk;
        });
        if (!found && !excused(s))
            fail("a good frame was lost");
    }
    checkTelemetry(set, chosen, data, size);
    return 0;
}
