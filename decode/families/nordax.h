// SPDX-License-Identifier: GPL-3.0-or-later
// What of the NORDAX unit other code uses: its frame and its length.
#ifndef LINKSCOPE_FAMILYNORDAX_H
#define LINKSCOPE_FAMILYNORDAX_H

#include "decode/families/familytable.h"

// Type byte, version, mode byte, channel words (each two bytes, high first)
// and the CRC-16.
constexpr quint8 nordaxType = 0xA3;
constexpr quint8 nordaxVersion = 1;
constexpr int nordaxChannels = 12;
constexpr int nordaxFrameBytes = 3 + 2 * nordaxChannels + 2;

// Version 1, the mode byte, 12 words. NORDAX has no public µs scale.
QByteArray nordaxFrame(quint8 mode, const QVector<quint16> &words);

#endif
