// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table's rows for Multiplex SRXL: 0xA1 with 12 channels
// ("MPX") and 0xA2 with 16 ("MPX_V2").
#include "decode/families/mpx.h"
#include "display/decodedview/familyrows.h"

namespace {

// Channel words are offset so that 0x0AEC is centre.
qint16 mpxValue(quint16 word)
{
    return qint16(quint16(word - 0x0AEC));
}

} // namespace

void decodeMpx(DecodeContext &ctx, bool version2, bool crcOk)
{
    const int channels = version2 ? mpx2Channels : mpxChannels;
    ctx.setRows(channels + 2);
    ctx.setCell(0, version2 ? QStringLiteral("MPX_V2") : QStringLiteral("MPX"));
    ctx.addChannelLabels(channels);
    // Only a packet that arrived intact changes the channels; a zero word
    // carries no position, so that channel keeps its last value.
    if (crcOk)
        ctx.showChannels(1, 1, channels, mpxValue);
    ctx.setVerdict(channels + 1, crcOk);
}
