// SPDX-License-Identifier: GPL-3.0-or-later
// What of the Multiplex unit other code uses: MPX and MPX_V2 frames, their
// lengths and their µs scale.
#ifndef LINKSCOPE_FAMILYMPX_H
#define LINKSCOPE_FAMILYMPX_H

#include "decode/families/familytable.h"

// Type byte, channel words (each two bytes, high first) and the CRC-16.
constexpr quint8 mpxType = 0xA1;
constexpr int mpxChannels = 12;
constexpr int mpxFrameBytes = 1 + 2 * mpxChannels + 2;
constexpr quint8 mpx2Type = 0xA2;
constexpr int mpx2Channels = 16;
constexpr int mpx2FrameBytes = 1 + 2 * mpx2Channels + 2;

// The word's low 12 bits, 800 to 2200 µs. The zero word carries no value,
// so 800 µs goes as word 1.
constexpr MicrosecondRange mpxRange{800, 2199};
int mpxMicroseconds(quint16 word);
// The word nearest us among those that show as it; never 0. us must lie in the range.
quint16 mpxWord(int us);
// 12 words as MPX, 16 as MPX_V2.
QByteArray mpxFrame(const QVector<quint16> &words);

#endif
