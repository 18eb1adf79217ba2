// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table's rows for Spektrum: 18 bytes, 0xA5 (or 0xA2, a sender
// that uses the wrong type byte), a mode byte and 7 channel words that each
// name their channel.
#include "decode/families/spektrum.h"
#include "display/decodedview/decoderstate.h"
#include "display/decodedview/familyrows.h"

namespace {

constexpr int channelWords = spektrumWordsPerFrame;
constexpr int channelRows = 20;
constexpr int firstUnusedId = 12;

// r × 2.3 rounded half up, minus 2355; 0 means no position.
qint16 spektrumValue(quint16 raw)
{
    if (raw == 0)
        return 0;
    return qint16(int((quint32(raw) * 2300u + 500u) / 1000u) - 2355);
}

} // namespace

void decodeSpektrum(DecodeContext &ctx, bool crcOk)
{
    const bool wrongType = lastPacketType == spektrumWrongType;
    // A proper frame with a bad CRC is not trusted at all.
    if (!crcOk && !wrongType)
        return;

    ctx.setRows(channelRows + 3);
    ctx.setCell(0, wrongType ? QStringLiteral("SPEKTRUM (WRONG)") : QStringLiteral("SPEKTRUM"));
    ctx.setNumber(1, ctx.byteAt(1));
    ctx.rowLabels.append(QStringLiteral("Mode"));

    int ids[channelWords];
    for (int k = 0; k < channelWords; ++k)
        ids[k] = (ctx.byteAt(2 + 2 * k) >> 3) & 0x0F;
    for (int k = 0; k < channelWords; ++k) {
        const quint16 raw = quint16((ctx.byteAt(2 + 2 * k) & 0x07) << 8 | ctx.byteAt(3 + 2 * k));
        channelValues[ids[k]] = spektrumValue(raw);
    }
    for (int k = 0; k < channelWords; ++k) {
        if (ids[k] >= firstUnusedId)
            channelValues[ids[k]] = 0;
    }

    for (int m = 1; m <= channelRows; ++m) {
        // Rows past the kept channels are cleared so no older packet shows there.
        if (m <= channelValueCount)
            ctx.setNumber(m + 1, channelValues[m - 1]);
        else
            ctx.setCell(m + 1, QString());
    }
    ctx.addChannelLabels(channelRows);
    ctx.setVerdict(channelRows + 2, crcOk);
}
