// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes to the frame assembler in arbitrary read sizes and
// checks what must hold whatever arrives: every frame has its family's length
// and lies where the stream has it, its CRC matches unless it starts right
// where the frame before it ended, no byte is lost or counted twice, and what
// is kept stays shorter than the longest frame.
#include "decode/crc16.h"
#include "decode/frameassembler.h"
#include "decode/framing.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool lengthFits(const QByteArray &frame)
{
    const int n = frame.size();
    switch (quint8(frame.at(0))) {
    case 0xA1: return n == 27;
    case 0xA2: return n == 35 || n == 18;
    case 0xA3: return n == 29 && frame.at(1) == 1;
    case 0xA5: return n == 18;
    case 0xA8: return n >= 3 && (quint8(frame.at(1)) == 1 || quint8(frame.at(1)) == 0x81)
            && n == 2 * quint8(frame.at(2)) + 5;
    default: return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Each read is a size byte (1 to 64) and that many bytes of the stream.
    FrameAssembler assembler;
    QByteArray stream;
    qint64 framed = 0;
    qint64 previousEnd = -1;
    size_t at = 0;
    while (at < size) {
        const size_t readSize = qMin<size_t>(1 + data[at] % 64, size - at - 1);
        const QByteArray read(reinterpret_cast<const char *>(data + at + 1), int(readSize));
        at += 1 + readSize;
        stream += read;
        const QVector<AssembledFrame> frames = assembler.feed(read);
        for (const AssembledFrame &frame : frames) {
            if (frame.bytes.isEmpty() || !lengthFits(frame.bytes))
                fail("a frame has no family's length");
            if (frame.offset < previousEnd || stream.mid(int(frame.offset), frame.bytes.size()) != frame.bytes)
                fail("a frame is not where the stream has it");
            if (frame.crcOk != frameCrcMatches(frame.bytes.constData(), frame.bytes.size()))
                fail("a frame's CRC verdict is wrong");
            if (!frame.crcOk && frame.offset != previousEnd)
                fail("a frame with a failed CRC does not start where the last one ended");
            if (frame.failsafe && !frame.crcOk)
                fail("a failsafe frame was taken without its CRC");
            previousEnd = frame.offset + frame.bytes.size();
            framed += frame.bytes.size();
        }
        if (assembler.keptBytes() >= longestFrame)
            fail("the kept bytes exceed the longest frame");
        if (framed + assembler.strayBytes() + assembler.keptBytes() != stream.size())
            fail("bytes were lost or counted twice");
    }
    return 0;
}
