// SPDX-License-Identifier: GPL-3.0-or-later
// What of the XBUS unit RJ01 shares: JR's Mode B frame, whose bytes are
// Multiplex SRXL's (0xA1 with 12 big-endian words, 0xA2 with 16, and a
// CRC-16/XMODEM), read on XBUS's own scale.
#ifndef LINKSCOPE_FAMILYXBUS_H
#define LINKSCOPE_FAMILYXBUS_H

#include "decode/families/mpx.h"

constexpr int modeBBytes = mpxFrameBytes; // 0xA1's; 0xA2's is MPX_V2's

// The frame's length by its start byte, 0 for neither.
int modeBLength(quint8 start);
// The words and their µs, 800 + ((v × 1400) >> 12).
void readModeB(const char *data, int length, FrameReading &reading);
// 12 words under 0xA1, or more under 0xA2, the rest at 1500 µs.
QByteArray modeBFrame(const QVector<int> &wire);
MicrosecondRange modeBRange(int channel);
int modeBValue(int channel, int us);

#endif
