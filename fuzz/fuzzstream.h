// SPDX-License-Identifier: GPL-3.0-or-later
// What the fuzzers share to build a stream from their input: the input read
// a byte at a time, noise, frames a family's encoder makes from the
// fuzzer's values, frames cut short, the places of frames planted, and how
// a broken invariant is reported. Each fuzzer reads its input in the order
// its seeds were written for; these keep that order.
#ifndef LINKSCOPE_FUZZSTREAM_H
#define LINKSCOPE_FUZZSTREAM_H

#include "decode/families/familytable.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// The fuzzer's bytes one at a time; zeros once they run out.
struct FuzzInput
{
    const uint8_t *data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    quint8 next() { return at < size ? data[at++] : 0; }
    // Two bytes, high first.
    int word()
    {
        const int high = next();
        return high << 8 | next();
    }
};

// 1 to most bytes of noise: a count, then the bytes.
inline QByteArray noise(FuzzInput &in, int most)
{
    QByteArray bytes;
    for (int n = 1 + in.next() % most; n > 0; --n)
        bytes.append(char(in.next()));
    return bytes;
}

// Keeps 1 to all but one of a frame's bytes, as a capture that starts or
// ends inside a frame has them.
inline void cutShort(QByteArray &frame, FuzzInput &in)
{
    if (frame.size() > 1)
        frame.truncate(1 + in.next() % (frame.size() - 1));
}

// How the fuzzer's 16-bit values become the values a frame carries.
enum class FuzzValues {
    WithinMicroseconds, // any µs the channel can carry, where the family has a scale; else as they come
    WithinChannelLimit, // masked to what the channel takes on the wire
    WithinFamilyLimit,  // masked to the family's largest wire value
};

// What a frame of family carries, from the fuzzer's bytes: its number,
// failsafe or not, its form (where withForm), its channel count (where the
// family's is not fixed), then a value for each channel.
inline FrameRequest fuzzedRequest(const FamilyDescriptor &family, FuzzInput &in, FuzzValues values,
                                  bool withForm = false)
{
    FrameRequest request;
    request.index = in.next();
    request.failsafe = in.next() & 1;
    if (withForm)
        request.variant = in.next() & 1 ? 1024 : 2048;
    // Telemetry families carry no channels.
    const int channels = family.fixedChannels ? family.fixedChannels
        : family.maxChannels > 0                ? 1 + in.next() % family.maxChannels
                                                : 0;
    for (int k = 0; k < channels; ++k) {
        const int raw = in.word();
        switch (values) {
        case FuzzValues::WithinMicroseconds:
            if (family.hasMicroseconds()) {
                const MicrosecondRange range = family.usRange(k);
                request.wire << family.wireFor(k, range.lowest + raw % (range.highest - range.lowest + 1));
            } else {
                request.wire << raw;
            }
            break;
        case FuzzValues::WithinChannelLimit: request.wire << (raw & family.wireLimit(k)); break;
        case FuzzValues::WithinFamilyLimit: request.wire << (raw & family.wireMax); break;
        }
    }
    return request;
}

// Where in the stream a frame was planted.
struct Span
{
    qint64 offset;
    int length;
    bool shortCheck = false; // its family's check is 8 bits
    bool overlaps(qint64 at, int size) const { return at < offset + length && offset < at + size; }
};

#endif
