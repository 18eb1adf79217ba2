// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/packetdecoder.h"

#include "display/decodedview/decoderstate.h"
#include "display/decodedview/familyrows.h"

DecodedRows decodeChunk(const QByteArray &chunk)
{
    DecodedRows result;
    result.cells.reserve(32);
    DecodeContext ctx(chunk, result);
    const int n = chunk.size();
    bool packetRecognised = false;
    lastPacketType = ctx.byteAt(0);

    if (n == 27 && lastPacketType == 0xA1) {
        packetRecognised = true;
        decodeMpx(ctx, false);
    }
    if (n == 35 && lastPacketType == 0xA2) {
        packetRecognised = true;
        decodeMpx(ctx, true);
    }
    // Every 0xA3 chunk counts as recognised, decodable or not.
    if (lastPacketType == 0xA3) {
        packetRecognised = true;
        if (ctx.byteAt(1) == 1 && n == 29)
            decodeNordax(ctx);
    }
    // A HoTT chunk, decodable or not, never goes on to the Spektrum test.
    const bool hottType = lastPacketType == 0xA8;
    if (hottType && ctx.byteAt(1) == 1 && hottLengthMatches(chunk)) {
        packetRecognised = true;
        decodeHott(ctx);
    }
    if (!hottType && n == 18 && (lastPacketType == 0xA5 || lastPacketType == 0xA2)) {
        packetRecognised = true;
        decodeSpektrum(ctx);
    }

    if (ctx.rowLabels.size() > 1)
        result.labels = ctx.rowLabels;
    result.recognised = packetRecognised;
    return result;
}
