// SPDX-License-Identifier: GPL-3.0-or-later
#include "streams.h"

#include "packets.h"

using namespace packets;

quint16 MixedStream::word(quint16 low, quint16 high)
{
    // Now and then a zero word, which keeps the channel's last value.
    if (random.bounded(20) == 0)
        return 0;
    return quint16(low + random.bounded(quint32(high - low) + 1));
}

QByteArray MixedStream::validPacket(int family)
{
    QVector<quint16> words;
    switch (family) {
    case 0:
        for (int k = 0; k < 12; ++k)
            words << word(0x0800, 0x0E00);
        return mpx(words);
    case 1:
        for (int k = 0; k < 16; ++k)
            words << word(0, 0xFFFF);
        return mpxV2(words);
    case 2:
        for (int k = 0; k < 12; ++k)
            words << word(1, 0xFFFF);
        return nordax(quint8(random.bounded(256)), words);
    case 3: {
        const int counts[] = {0, 2, 8, 16, 17, 20, 30};
        const int count = random.bounded(50) == 0 ? 200 : counts[random.bounded(7)];
        for (int k = 0; k < count; ++k)
            words << word(8000, 16000);
        return hott(words);
    }
    default:
        for (int k = 0; k < 7; ++k)
            words << spektrumWord(int(random.bounded(16)), word(0, 2047));
        return spektrum(words, quint8(random.bounded(256)), random.bounded(8) == 0 ? 0xA2 : 0xA5);
    }
}

QByteArray MixedStream::nextValid()
{
    return validPacket(int(random.bounded(5)));
}

QByteArray MixedStream::next()
{
    QByteArray chunk;
    const int kind = int(random.bounded(100));
    if (kind < 60) {
        chunk = nextValid();
    } else if (kind < 72) {
        chunk = corrupted(nextValid());
    } else if (kind < 78) {
        chunk = nextValid();
        chunk.truncate(1 + int(random.bounded(quint32(chunk.size()))));
    } else if (kind < 82) {
        chunk = previous.isEmpty() ? nextValid() : previous + nextValid();
    } else if (kind < 88) {
        // NORDAX type byte with any length or version: recognised, not decoded.
        chunk = QByteArray(1, char(0xA3)) + QByteArray(int(random.bounded(40)), char(random.bounded(256)));
    } else {
        chunk = QByteArray(1 + int(random.bounded(64)), '\0');
        for (char &c : chunk)
            c = char(random.bounded(256));
    }
    previous = chunk;
    return chunk;
}
