// Multiplex SRXL: 0xA1 with 12 channels ("MPX") and 0xA2 with 16 ("MPX_V2").
#include "decode/decodecontext.h"
#include "decode/decoderstate.h"

namespace {

// Channel words are offset so that 0x0AEC is centre.
qint16 mpxValue(quint16 word)
{
    return qint16(quint16(word - 0x0AEC));
}

} // namespace

void decodeMpx(DecodeContext &ctx, bool version2)
{
    const int channels = version2 ? 16 : 12;
    ctx.setRows(channels + 2);
    ctx.setCell(0, version2 ? QStringLiteral("MPX_V2") : QStringLiteral("MPX"));
    const bool crcOk = ctx.crcMatches();
    ctx.addChannelLabels(channels);
    if (crcOk) {
        ctx.setCell(channels + 1, QStringLiteral("OK"));
        for (int k = 1; k <= channels; ++k) {
            const quint16 word = joinWord(ctx.byteAt(2 * k - 1), ctx.byteAt(2 * k));
            // A zero word carries no position: the channel keeps its last value.
            if (word != 0)
                channelValues[k - 1] = mpxValue(word);
            ctx.setNumber(k, channelValues[k - 1]);
        }
    } else {
        ctx.setCell(channels + 1, QStringLiteral("FALSE"));
    }
    ctx.rowLabels.append(QStringLiteral("CRC"));
}
