// SPDX-License-Identifier: GPL-3.0-or-later
// What of the Spektrum unit other code uses: its frames, their length and
// its µs scale.
#ifndef LINKSCOPE_FAMILYSPEKTRUM_H
#define LINKSCOPE_FAMILYSPEKTRUM_H

#include "decode/families/familytable.h"

// Type byte, mode byte, seven channel words (each two bytes, high first,
// naming their channel) and the CRC-16. Some senders use 0xA2, MPX_V2's
// type byte, at Spektrum's length.
constexpr quint8 spektrumType = 0xA5;
constexpr quint8 spektrumWrongType = 0xA2;
constexpr int spektrumWordsPerFrame = 7;
constexpr int spektrumFrameBytes = 2 + 2 * spektrumWordsPerFrame + 2;
// Bit 1 of the mode byte: the receiver has a signal.
constexpr quint8 spektrumSignalBit = 0x02;

// Spektrum words name their channel; bit 15 set says the word carries none.
quint16 spektrumWord(int id, int position);
constexpr quint16 spektrumUnusedWord = 0xFFFF;

// The 11-bit position, truncated toward zero.
int spektrumMicroseconds(int position);
// Channel id 0 at position 0 is the word 0x0000, which carries no value,
// and no other position shows as 916 µs: channel 1 starts at 917.
MicrosecondRange spektrumRange(int id);
// The position nearest us among those that show as it. us must lie in the range.
int spektrumPosition(int us);
// Type 0xA5, the mode byte, 7 words made with spektrumWord.
QByteArray spektrumFrame(quint8 mode, const QVector<quint16> &words);

#endif
