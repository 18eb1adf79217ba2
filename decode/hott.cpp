// Graupner HoTT: 0xA8, version 1, a channel count c and c channel words.
#include "decode/decodecontext.h"
#include "decode/decoderstate.h"

namespace {

// w × 0.49 rounded half up, minus 5880; always fits 16 bits.
qint16 hottValue(quint16 word)
{
    return qint16(int((quint32(word) * 490u + 500u) / 1000u) - 5880);
}

} // namespace

bool hottLengthMatches(const QByteArray &chunk)
{
    if (chunk.size() < 3)
        return false;
    // Worked out in int: with a count of 127 or more, 2c + 3 no longer fits
    // a byte, and the packet is still taken at its exact length 2c + 5.
    const int channels = quint8(chunk.at(2));
    return chunk.size() == 2 * channels + 5;
}

void decodeHott(DecodeContext &ctx)
{
    const int channels = ctx.byteAt(2);
    ctx.setRows(channels + 4);
    ctx.rowLabels << QStringLiteral("Version") << QStringLiteral("ChCnt");
    ctx.setCell(0, QStringLiteral("HOTT"));
    ctx.setNumber(1, ctx.byteAt(1));
    ctx.setNumber(2, channels);
    const bool crcOk = ctx.crcMatches();
    ctx.addChannelLabels(channels);
    if (crcOk) {
        ctx.setCell(channels + 3, QStringLiteral("OK"));
        for (int k = 0; k < channels; ++k) {
            const quint16 word = joinWord(ctx.byteAt(3 + 2 * k), ctx.byteAt(4 + 2 * k));
            if (k < channelValueCount) {
                if (word != 0)
                    channelValues[k] = hottValue(word);
                ctx.setNumber(3 + k, channelValues[k]);
            } else {
                // Beyond the channels that are kept: show this packet's own
                // value and store it nowhere.
                ctx.setNumber(3 + k, word != 0 ? hottValue(word) : 0);
            }
        }
    } else {
        ctx.setCell(channels + 3, QStringLiteral("FALSE"));
    }
    ctx.rowLabels.append(QStringLiteral("CRC"));
}
