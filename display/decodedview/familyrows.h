// SPDX-License-Identifier: GPL-3.0-or-later
// The decoder of each packet family, run by the dispatch once it has told
// the family by type byte and length.
#ifndef LINKSCOPE_FAMILIES_H
#define LINKSCOPE_FAMILIES_H

#include "display/decodedview/decodecontext.h"

// MPX (0xA1, 12 channels) or MPX_V2 (0xA2, 16 channels).
void decodeMpx(DecodeContext &ctx, bool version2);
void decodeNordax(DecodeContext &ctx);
// HoTT's length follows from its channel count: 2c + 5 bytes.
bool hottLengthMatches(const QByteArray &chunk);
void decodeHott(DecodeContext &ctx);
void decodeSpektrum(DecodeContext &ctx);

#endif
