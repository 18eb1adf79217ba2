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
// wherever a family would take it, is read too.
#include "decode/families/familyset.h"
#include "decode/framing/frameassembler.h"
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
    return family.encode(fuzzedRequest(family, in, FuzzValues::WithinMicroseconds));
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
    for (int i = 0; i < frames.size(); ++i) {
        const AssembledFrame &frame = frames.at(i);
        if (!frame.family() || !chosen.contains(frame.family()))
            fail("a frame is of no family looked for");
        const char *bytes = frame.bytes.constData();
        if (frame.bytes.isEmpty() || frame.family()->frameLength(bytes, frame.bytes.size()) != frame.bytes.size())
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
        if (reading.crcOk != frame.crcOk)
            fail("reading a frame gives another check verdict");
        previousEnd = frame.offset + frame.bytes.size();
        framed += frame.bytes.size();
    }
    if (framed + assembler.strayBytes() != stream.size())
        fail("bytes were lost or counted twice");
    for (const Span &s : qAsConst(planted)) {
        const bool found = std::any_of(frames.cbegin(), frames.cend(), [&](const AssembledFrame &frame) {
            return frame.offset == s.offset && frame.bytes.size() == s.length && frame.crcOk;
        });
        if (!found && !excused(s))
            fail("a good frame was lost");
    }
    return 0;
}
