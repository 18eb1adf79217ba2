// SPDX-License-Identifier: GPL-3.0-or-later
// Builds a stream from good frames, frames cut short, damaged frames and
// noise, feeds it to the frame assembler in reads of any size, each byte a
// millisecond after the one before (so that a read of over 50 bytes spans
// more than the 50 ms after which a partial frame goes stale), and checks
// what must hold whatever arrives: every frame has its family's length and
// lies where the stream has it, its CRC matches unless it starts right where
// the frame before it ended or heads a chain of framesToSync frames, no two
// overlap, no byte is lost or counted twice, and what is kept stays
// bounded. Above all, every good frame planted is found, unless bytes
// happen to form a frame with a matching CRC over it: the fuzzer can
// even plant one inside another's channel words, which then misleads the
// search as any frame with a matching CRC would.
#include "decode/families/crc16.h"
#include "decode/families/familyset.h"
#include "decode/framing/frameassembler.h"
#include "fuzzstream.h"

#include <algorithm>

namespace {

// The frame starts as a frame of the family it was taken for, and has that
// family's length.
bool lengthFits(const AssembledFrame &frame)
{
    const FamilyDescriptor *family = frame.family();
    const char *bytes = frame.bytes.constData();
    return family && family->startBytes.contains(bytes[0])
        && family->frameLength(bytes, frame.bytes.size()) == frame.bytes.size();
}

// A frame with a matching CRC of one of the families, as receivers send them.
QByteArray goodFrame(FuzzInput &in)
{
    QByteArray body;
    int words = 0;
    const int family = in.next() % 7;
    switch (family) {
    case 0: body = QByteArray(1, char(0xA1)), words = 12; break;
    case 1: body = QByteArray(1, char(0xA2)), words = 16; break;
    case 2: body = QByteArray("\xA3\x01", 2) + char(in.next()), words = 12; break;
    case 3:
    case 4: // HoTT, live and in failsafe
        words = in.next() % 33;
        body = QByteArray(1, char(0xA8)) + char(family == 3 ? 0x01 : 0x81) + char(words);
        break;
    case 5: body = QByteArray(1, char(0xA5)) + char(in.next()), words = 7; break;
    default: body = QByteArray(1, char(0xA2)) + char(in.next()), words = 7; break;
    }
    for (int k = 0; k < 2 * words; ++k)
        body.append(char(in.next()));
    return withFrameCrc(body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Each record: a byte whose low two bits say what follows (noise, a good
    // frame, one cut short, one damaged) and whose others the read size,
    // then the bytes that make it.
    FuzzInput in{data, size};
    FrameAssembler assembler;
    QByteArray stream, pending;
    QVector<Span> planted;
    QVector<AssembledFrame> frames;
    const auto deliver = [&](int readSize, bool all) {
        while (pending.size() >= readSize || (all && !pending.isEmpty())) {
            const QByteArray read = pending.left(readSize);
            pending.remove(0, read.size());
            // As a capture's bytes are fed: the first byte's time, then the last's.
            const qint64 firstMs = assembler.bytesFed();
            frames += assembler.feed(read, firstMs);
            assembler.stillArriving(firstMs + read.size() - 1);
            if (assembler.keptBytes() >= hottFrameBytes(255) + longestSentFrame)
                fail("the kept bytes exceed a damaged frame and the longest frame together");
        }
    };
    while (in.more()) {
        const quint8 op = in.next();
        QByteArray bytes;
        switch (op & 3) {
        case 0: bytes = noise(in, 32); break;
        case 1:
            bytes = goodFrame(in);
            planted.append({stream.size(), int(bytes.size())});
            break;
        case 2:
            bytes = goodFrame(in);
            cutShort(bytes, in);
            break;
        default: {
            bytes = goodFrame(in);
            const int bit = 8 + in.word() % ((bytes.size() - 1) * 8);
            bytes[bit / 8] = char(bytes.at(bit / 8) ^ (1 << (bit % 8)));
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

    // Frames with a matching CRC that nobody planted: bytes that happen to
    // form one. A planted frame they overlap may lose to them.
    QVector<Span> coincidences;
    for (const AssembledFrame &frame : qAsConst(frames)) {
        const bool isPlanted = std::any_of(planted.cbegin(), planted.cend(), [&](const Span &s) {
            return s.offset == frame.offset && s.length == frame.bytes.size();
        });
        if (frame.crcOk && !isPlanted)
            coincidences.append({frame.offset, int(frame.bytes.size())});
    }
    const auto excused = [&](const Span &s) {
        return std::any_of(coincidences.cbegin(), coincidences.cend(),
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
        if (frame.bytes.isEmpty() || !lengthFits(frame))
            fail("a frame has no family's length");
        if (frame.offset < previousEnd)
            fail("two frames overlap");
        if (stream.mid(int(frame.offset), frame.bytes.size()) != frame.bytes)
            fail("a frame is not where the stream has it");
        if (frame.crcOk != frameCrcMatches(frame.bytes.constData(), frame.bytes.size()))
            fail("a frame's CRC verdict is wrong");
        if (!frame.crcOk && frame.offset != previousEnd && chainFrom(i) < FrameAssembler::framesToSync)
            fail("a frame with a failed CRC neither starts where the last one ended nor heads a chain");
        if (!frame.crcOk && frame.bytes.size() > longestSentFrame)
            fail("a frame with a failed CRC is longer than receivers send");
        if (frame.failsafe && !frame.crcOk)
            fail("a failsafe frame was taken without its CRC");
        for (const Span &s : qAsConst(planted)) {
            if (!frame.crcOk && s.offset > frame.offset && s.overlaps(frame.offset, frame.bytes.size()) && !excused(s))
                fail("a frame with a failed CRC hides a good frame that starts inside it");
        }
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
