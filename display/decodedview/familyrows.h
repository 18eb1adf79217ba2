// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table's rows for each of the five families, written once the
// dispatch has told the family by type byte and length; crcOk is the
// verdict of the family's own check.
#ifndef LINKSCOPE_FAMILYROWS_H
#define LINKSCOPE_FAMILYROWS_H

#include "display/decodedview/decodecontext.h"

// MPX (0xA1, 12 channels) or MPX_V2 (0xA2, 16 channels).
void decodeMpx(DecodeContext &ctx, bool version2, bool crcOk);
void decodeNordax(DecodeContext &ctx, bool crcOk);
void decodeHott(DecodeContext &ctx, bool crcOk);
void decodeSpektrum(DecodeContext &ctx, bool crcOk);

#endif
