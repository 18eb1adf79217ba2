// SPDX-License-Identifier: GPL-3.0-or-later
// iBUS (FlySky): 0x20 0x40, fourteen little-endian words, and 0xFFFF less
// the sum of the bytes before it. The words' high nibbles carry channels
// 15 to 18.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr int frameBytes = 32;
constexpr int words = 14;
constexpr int channelCount = 18;

int ibusLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    return quint8(data[1]) == 0x40 ? frameBytes : 0;
}

quint16 ibusSum(const char *data)
{
    unsigned sum = 0;
    for (int i = 0; i < frameBytes - 2; ++i)
        sum += quint8(data[i]);
    return quint16(0xFFFF - sum);
}

bool ibusCheck(const char *data, int length)
{
    return length == frameBytes && ibusSum(data) == quint16(quint8(data[30]) | quint8(data[31]) << 8);
}

void ibusRead(const char *data, int, FrameReading &reading)
{
    quint16 word[words];
    for (int k = 0; k < words; ++k)
        word[k] = quint16(quint8(data[2 + 2 * k]) | quint8(data[3 + 2 * k]) << 8);
    reading.channels = words;
    for (int k = 0; k < words; ++k)
        reading.wire[k] = reading.us[k] = word[k] & 0x0FFF;
    // Channel 15 + k from the high nibbles of words 3k, 3k + 1, 3k + 2; a
    // sender of 14 channels leaves them 0.
    for (int k = 0; k < 4; ++k) {
        const int value = (word[3 * k] >> 12) | (word[3 * k + 1] >> 12) << 4 | (word[3 * k + 2] >> 12) << 8;
        reading.wire[words + k] = reading.us[words + k] = value != 0 ? value : FrameReading::noValue;
        if (value != 0)
            reading.channels = channelCount;
    }
}

} // namespace

FamilyDescriptor ibusFamily()
{
    FamilyIdentity identity("ibus", "IBUS", LineSettings(), 7, "every 7 ms; receivers vary");
    FamilySending sending(
        words, channelCount,
        [](const FrameRequest &request) {
            quint16 word[words] = {};
            for (int k = 0; k < words; ++k)
                word[k] = quint16(k < request.wire.size() ? request.wire[k] & 0x0FFF : 1500);
            for (int k = 0; k < 4 && words + k < request.wire.size(); ++k) {
                const int value = request.wire[words + k];
                for (int nibble = 0; nibble < 3; ++nibble)
                    word[3 * k + nibble] |= quint16(((value >> (4 * nibble)) & 0x0F) << 12);
            }
            QByteArray frame;
            frame.append(char(0x20)).append(char(0x40));
            for (quint16 w : word)
                frame.append(char(w & 0xFF)).append(char(w >> 8));
            const quint16 sum = ibusSum(frame.constData());
            frame.append(char(sum & 0xFF)).append(char(sum >> 8));
            return frame;
        },
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 2, random); });
    sending.wireMax = 0x0FFF;
    // 0 in channels 15 to 18 is a channel not sent.
    sending.usRange = [](int) { return MicrosecondRange{1, 0x0FFF}; };
    sending.wireFor = [](int, int us) { return us; };
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, ChecksumFraming(QByteArray(1, char(0x20)), ibusLength, ibusCheck),
                            FamilyReading(ibusRead), sending);
}
