// SPDX-License-Identifier: GPL-3.0-or-later
// Spektrum SRXL: 18 bytes, 0xA5 (or 0xA2, a sender that uses the wrong type
// byte), a mode byte, 7 channel words that each name their channel, and a
// CRC-16/XMODEM.
#include "decode/families/spektrum.h"

#include "decode/families/crc16.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

namespace {

// Ids 0 to 15: a frame names at most 16 channels.
constexpr int channelIds = 16;

bool sentInFailsafe(const char *data, int length)
{
    return length >= 2 && (quint8(data[1]) & spektrumSignalBit) == 0;
}

void readSpektrum(const char *data, int length, FrameReading &reading)
{
    if (quint8(data[0]) == spektrumWrongType)
        reading.family = "SPEKTRUM (WRONG)";
    reading.channels = channelIds;
    for (int k = 0; k < channelIds; ++k)
        reading.wire[k] = reading.us[k] = FrameReading::noValue;
    for (int k = 0; k < spektrumWordsPerFrame; ++k) {
        const quint16 word = quint16(quint8(data[2 + 2 * k]) << 8 | quint8(data[3 + 2 * k]));
        // Bit 15 marks a word that carries no channel; a zero word, as in
        // the other families, no value.
        if (word == 0 || (word & 0x8000))
            continue;
        const int id = (word >> 11) & 0x0F;
        const int position = word & 0x07FF;
        reading.wire[id] = position;
        reading.us[id] = spektrumMicroseconds(position);
    }
    reading.failsafe = sentInFailsafe(data, length);
}

QByteArray encode(const FrameRequest &request)
{
    // More channels than a frame holds: frames take turns, the first
    // seven channels and then the rest, so that each goes every second frame.
    const QVector<int> &values = request.wire;
    QVector<quint16> carried;
    const int first = values.size() > spektrumWordsPerFrame && request.index % 2 ? spektrumWordsPerFrame : 0;
    for (int id = first; id < values.size() && carried.size() < spektrumWordsPerFrame; ++id)
        carried << spektrumWord(id, values[id]);
    while (carried.size() < spektrumWordsPerFrame)
        carried << spektrumUnusedWord;
    return spektrumFrame(request.failsafe ? 0 : spektrumSignalBit, carried);
}

} // namespace

quint16 spektrumWord(int id, int position)
{
    return quint16((id & 0x0F) << 11 | (position & 0x07FF));
}

int spektrumMicroseconds(int position)
{
    return (position - 1024) * 500 / 876 + 1500;
}

MicrosecondRange spektrumRange(int id)
{
    return {id == 0 ? 917 : 916, 2083};
}

// (p − 1024) × 500 / 876 truncates toward zero: above 1500 µs the smallest
// distance from 1024 lies nearest the µs, below it as well, mirrored.
int spektrumPosition(int us)
{
    const int offset = us - 1500;
    const int steps = ceilingSteps(qAbs(offset), 876, 500);
    return offset >= 0 ? 1024 + steps : 1024 - steps;
}

QByteArray spektrumFrame(quint8 mode, const QVector<quint16> &words)
{
    QByteArray body;
    body.append(char(spektrumType)).append(char(mode));
    appendWords(body, words);
    return withFrameCrc(body);
}

// Spektrum receivers send every 11 ms.
FamilyDescriptor spektrumFamily()
{
    FamilyIdentity identity("spektrum", "SPEKTRUM", LineSettings(), 11, "every 11 ms");
    identity.srxl = true;
    FamilyReading reading(readSpektrum);
    reading.saysFailsafe = sentInFailsafe;
    // Past the type byte, so that the frame is still found.
    FamilySending sending(7, 12, encode, [](QByteArray &frame, QRandomGenerator &random) {
        flipBitAfter(frame, 1, random);
    });
    sending.wireMax = 0x07FF;
    sending.usRange = spektrumRange;
    sending.wireFor = [](int, int us) { return spektrumPosition(us); };
    sending.failsafe = FamilySending::FlagsIt;
    sending.failsafeNote = "mode bit 1 clear";
    return FamilyDescriptor(identity,
                            ChecksumFraming(QByteArray() + char(spektrumType) + char(spektrumWrongType),
                                            [](const char *, int) { return spektrumFrameBytes; }, frameCrcMatches),
                            reading, sending);
}
