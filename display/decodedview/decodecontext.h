// SPDX-License-Identifier: GPL-3.0-or-later
// What one decodePacket call shares with the decoder of each packet family.
#ifndef LINKSCOPE_DECODECONTEXT_H
#define LINKSCOPE_DECODECONTEXT_H

#include "display/decodedview/packetdecoder.h"

// The same text as QString::number(value, 10), made without the locale
// machinery that number() goes through; every packet needs a few dozen.
QString decimalText(int value);

struct DecodeContext
{
    DecodeContext(const QByteArray &chunk, DecodedRows &result)
        : chunk(chunk), result(result), rowLabels{QStringLiteral("ID")} {}

    const QByteArray &chunk;
    DecodedRows &result;
    QStringList rowLabels;

    // Byte i as unsigned; bytes past the end count as 0.
    quint8 byteAt(int i) const { return i >= 0 && i < chunk.size() ? quint8(chunk.at(i)) : 0; }
    void setRows(int rows) { result.rows = rows; }
    void setCell(int row, const QString &text) { result.cells.append({row, text}); }
    void setNumber(int row, int value) { setCell(row, decimalText(value)); }
    void addChannelLabels(int count);
    // Joins count channel words, the first at byte firstByte; a word that is
    // not 0 goes converted into its entry of channelValues, and the entry is
    // shown from row firstRow on. Channels past the kept entries show this
    // packet's own value and store nothing.
    void showChannels(int firstRow, int firstByte, int count, qint16 (*convert)(quint16));
    // "OK" or "FALSE" in row, and the "CRC" label after all others.
    void setVerdict(int row, bool crcOk);
};

// Joins two packet bytes in wordScratch, the earlier byte high.
quint16 joinWord(quint8 high, quint8 low);

#endif
