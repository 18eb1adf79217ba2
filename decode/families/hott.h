// SPDX-License-Identifier: GPL-3.0-or-later
// What of the HoTT unit other code uses: its frames, their lengths and its
// µs scale.
#ifndef LINKSCOPE_FAMILYHOTT_H
#define LINKSCOPE_FAMILYHOTT_H

#include "decode/families/familytable.h"

// Type byte, status, channel count c, c channel words (each two bytes, high
// first) and the CRC-16. A live frame's status is the version, 1; a frame
// the receiver sends while it has no signal says 0x81.
constexpr quint8 hottType = 0xA8;
constexpr quint8 hottVersion = 1;
constexpr quint8 hottFailsafeStatus = 0x81;
// Worked out in int: with a count of 127 or more, 2c + 3 no longer fits a
// byte, and the frame is still taken at its exact length.
constexpr int hottFrameBytes(int channels)
{
    return 3 + 2 * channels + 2;
}
// SUMD carries at most 32 channels; the count byte allows 255.
constexpr int hottMostSentChannels = 32;

// Eighths of a µs in 16 bits; 0 µs goes as word 1, not the zero word.
constexpr MicrosecondRange hottRange{0, 8191};
int hottMicroseconds(quint16 word);
// The word nearest us among those that show as it; never 0. us must lie in the range.
quint16 hottWord(int us);
// Up to 255 words; failsafe sends status 0x81 instead of 1.
QByteArray hottFrame(const QVector<quint16> &words, bool failsafe);

#endif
