// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/microseconds.h"

#include "decode/families/crc16.h"
#include "decode/framing.h"

namespace {

quint16 wordAt(const char *data, int i)
{
    return quint16(quint8(data[i]) << 8 | quint8(data[i + 1]));
}

// Channel words that all carry the same kind of value; a zero word none.
void readWords(const char *data, int first, int count, int (*toUs)(quint16), FrameReading &reading)
{
    reading.channels = count;
    for (int k = 0; k < count; ++k) {
        const quint16 word = wordAt(data, first + 2 * k);
        reading.wire[k] = word != 0 ? word : FrameReading::noValue;
        reading.us[k] = word != 0 && toUs ? toUs(word) : FrameReading::noValue;
    }
}

void readSpektrum(const char *data, FrameReading &reading)
{
    reading.channels = 16;
    for (int k = 0; k < 16; ++k)
        reading.wire[k] = reading.us[k] = FrameReading::noValue;
    for (int k = 0; k < 7; ++k) {
        const quint16 word = wordAt(data, 2 + 2 * k);
        // Bit 15 marks a word that carries no channel; a zero word, as in
        // the other families, no value.
        if (word == 0 || (word & 0x8000))
            continue;
        const int id = (word >> 11) & 0x0F;
        const int position = word & 0x07FF;
        reading.wire[id] = position;
        reading.us[id] = spektrumMicroseconds(position);
    }
    reading.failsafe = (quint8(data[1]) & 0x02) == 0;
}

} // namespace

int mpxMicroseconds(quint16 word)
{
    return ((word & 0x0FFF) * 1400 >> 12) + 800;
}

int hottMicroseconds(quint16 word)
{
    return word / 8;
}

int spektrumMicroseconds(int position)
{
    return (position - 1024) * 500 / 876 + 1500;
}

bool readFrame(const char *data, int length, FrameReading &reading)
{
    int lengths[2];
    const int count = candidateFrameLengths(data, length, lengths);
    if (count <= 0 || (lengths[0] != length && (count < 2 || lengths[1] != length)))
        return false;
    reading.crcOk = frameCrcMatches(data, length);
    reading.failsafe = -1;
    switch (quint8(data[0])) {
    case 0xA1:
        reading.family = "MPX";
        readWords(data, 1, 12, mpxMicroseconds, reading);
        break;
    case 0xA2:
        if (length == 35) {
            reading.family = "MPX_V2";
            readWords(data, 1, 16, mpxMicroseconds, reading);
        } else {
            reading.family = "SPEKTRUM (WRONG)";
            readSpektrum(data, reading);
        }
        break;
    case 0xA3:
        reading.family = "NORDAX";
        readWords(data, 3, 12, nullptr, reading);
        break;
    case 0xA5:
        reading.family = "SPEKTRUM";
        readSpektrum(data, reading);
        break;
    default:
        reading.family = "HOTT";
        readWords(data, 3, quint8(data[2]), hottMicroseconds, reading);
        reading.failsafe = isFailsafeFrame(data, length);
        break;
    }
    return true;
}
