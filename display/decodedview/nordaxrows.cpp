// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table's rows for NORDAX: 0xA3, 29 bytes, version 1, a mode
// byte and 12 channel words.
#include "decode/families/nordax.h"
#include "display/decodedview/familyrows.h"

namespace {

// w × 2.48 rounded half up, minus 6031, kept to 16 bits as the device's
// own firmware does; large words therefore wrap.
qint16 nordaxValue(quint16 word)
{
    const quint32 scaled = (quint32(word) * 2480u + 500u) / 1000u;
    return qint16(quint16(scaled - 6031u));
}

} // namespace

void decodeNordax(DecodeContext &ctx, bool crcOk)
{
    constexpr int channels = nordaxChannels;
    ctx.setRows(channels + 4);
    ctx.rowLabels << QStringLiteral("Version") << QStringLiteral("Mode");
    ctx.setCell(0, QStringLiteral("NORDAX"));
    ctx.setNumber(1, ctx.byteAt(1));
    ctx.setNumber(2, ctx.byteAt(2));
    ctx.addChannelLabels(channels);
    if (crcOk)
        ctx.showChannels(3, 3, channels, nordaxValue);
    ctx.setVerdict(channels + 3, crcOk);
}
