// SPDX-License-Identifier: GPL-3.0-or-later
// Families without a checksum (SBUS, DSM, SUMH), alone or with others, through
// the stream framer: good frames, damaged ones, frames cut short (a
// capture that starts or ends inside one) and noise, SBUS2 frames with
// telemetry slots after them, DSM frames with X-Plus words, fed in reads
// of any size with a quiet line before some of them. What must hold: every
// frame is of a chosen family and lies where the stream has it, one
// without a checksum keeps its family's rules and spans no quiet line of
// its family's gap, or is an SBUS2 slot that reads as one; no two overlap
// however many families are looked for, and the frames' bytes and the
// stray bytes add up to the bytes fed; nothing is kept after the end, and
// every frame reads within bounds.
#include "decode/families/framereading.h"
#include "decode/framing/streamframer.h"
#include "fuzzstream.h"

#include <QHash>
#include <QRandomGenerator>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    QVector<const FamilyDescriptor *> gapFamilies, chosen;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->framing == FamilyDescriptor::ByGap)
            gapFamilies << family;
    }
    const quint8 choice = in.next();
    for (int i = 0; i < gapFamilies.size(); ++i) {
        if (choice & (1 << i))
            chosen << gapFamilies[i];
    }
    if (chosen.isEmpty())
        chosen << gapFamilies[choice % gapFamilies.size()];
    // With a family that has a checksum too, as an every-family run has.
    if (choice & 0x80)
        chosen << familyNamed(QStringLiteral("crsf"));
    StreamFramer framer(chosen);
    QRandomGenerator random(in.next());
    // Per family without a checksum, where a quiet line of its gap ended.
    QHash<const FamilyDescriptor *, QVector<qint64>> quietAt;

    QByteArray stream;
    QVector<AssembledFrame> frames;
    while (in.more()) {
        const quint8 op = in.next();
        const FamilyDescriptor &family = *chosen[in.next() % chosen.size()];
        QByteArray bytes;
        if ((op & 3) == 0) {
            bytes = noise(in, 40);
        } else {
            bytes = family.encode(fuzzedRequest(family, in, FuzzValues::WithinFamilyLimit, true));
            if ((op & 3) == 1 && op & 8 && family.slotAt) {
                // SBUS2: an end byte that asks for a page of slots, and
                // slots after it, of that page or not.
                const quint8 page = in.next();
                bytes[bytes.size() - 1] = char(0x04 | (page & 3) << 4);
                for (int n = in.next() % 10; n > 0; --n)
                    bytes.append(char(in.next())).append(char(in.next())).append(char(in.next()));
            } else if ((op & 3) == 1 && op & 8 && family.ids) {
                // An X-Plus or unused word (ids 12 to 15) in place of one.
                const int at = 2 + 2 * (in.next() % 7);
                bytes[at] = char((quint8(bytes[at]) & 0x87) | (12 + in.next() % 4) << 3);
            }
            if ((op & 3) == 2)
                family.corrupt(bytes, random);
            else if ((op & 3) == 3)
                cutShort(bytes, in);
        }
        const double quiet = op & 4 ? double(in.next() % 8) : -1;
        for (const FamilyDescriptor *each : qAsConst(chosen)) {
            if (each->framing == FamilyDescriptor::ByGap && quiet >= each->gapMs)
                quietAt[each] << stream.size();
        }
        stream += bytes;
        const qint64 now = qint64(in.next() % 4) * 30;
        frames += framer.feed(bytes, now, quiet);
    }
    frames += framer.flush();
    if (framer.keptBytes() != 0)
        fail("bytes are kept after the stream ended");

    FrameReading reading;
    qint64 framed = 0, previousEnd = 0;
    for (const AssembledFrame &frame : qAsConst(frames)) {
        if (!frame.family() || !chosen.contains(frame.family()))
            fail("a frame is of no family looked for");
        if (stream.mid(int(frame.offset), frame.bytes.size()) != frame.bytes)
            fail("a frame is not where the stream has it");
        // SBUS2's telemetry slots come as frames of slotBytes, each read as a slot.
        const bool slot = frame.family()->slotBytes > 0 && frame.bytes.size() == frame.family()->slotBytes;
        if (frame.family()->framing == FamilyDescriptor::ByGap) {
            if (!slot && (frame.bytes.size() != frame.family()->frameBytes || !frame.family()->fits(frame.bytes.constData())))
                fail("a frame without a checksum breaks its family's rules");
            for (const qint64 quiet : quietAt.value(frame.family())) {
                if (quiet > frame.offset && quiet < frame.offset + frame.bytes.size())
                    fail("a frame spans a quiet line");
            }
        }
        if (frame.offset < previousEnd)
            fail("two frames overlap");
        previousEnd = frame.offset + frame.bytes.size();
        framed += frame.bytes.size();
        readAssembled(frame, reading);
        if (reading.channels < 0 || reading.channels > FrameReading::maxChannels)
            fail("a frame reads with a channel count out of bounds");
        if (slot && (!reading.crcOk || reading.telemetry.role != Telemetry::Reply))
            fail("a telemetry slot does not read as one");
        std::string text;
        reading.telemetry.appendJson(text);
    }
    // Every byte fed is in a frame (a slot is one) or stray.
    const qint64 counted = framed + framer.strayBytes();
    if (counted != stream.size())
        fail("bytes were lost or counted twice");
    return 0;
}
