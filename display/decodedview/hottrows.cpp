// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table's rows for Graupner HoTT: 0xA8, version 1, a channel
// count c and c channel words.
#include "display/decodedview/familyrows.h"

namespace {

// w × 0.49 rounded half up, minus 5880; always fits 16 bits.
qint16 hottValue(quint16 word)
{
    return qint16(int((quint32(word) * 490u + 500u) / 1000u) - 5880);
}

} // namespace

void decodeHott(DecodeContext &ctx, bool crcOk)
{
    const int channels = ctx.byteAt(2);
    ctx.setRows(channels + 4);
    ctx.rowLabels << QStringLiteral("Version") << QStringLiteral("ChCnt");
    ctx.setCell(0, QStringLiteral("HOTT"));
    ctx.setNumber(1, ctx.byteAt(1));
    ctx.setNumber(2, channels);
    ctx.addChannelLabels(channels);
    // More channels than are kept (17) show their own values only.
    if (crcOk)
        ctx.showChannels(3, 3, channels, hottValue);
    ctx.setVerdict(channels + 3, crcOk);
}
