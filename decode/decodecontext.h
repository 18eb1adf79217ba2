// What one decodePacket call shares with the decoder of each packet family.
#ifndef LINKSCOPE_DECODECONTEXT_H
#define LINKSCOPE_DECODECONTEXT_H

#include <QByteArray>
#include <QStringList>

class QTableWidget;

struct DecodeContext
{
    const QByteArray &chunk;
    QTableWidget *table;
    QStringList rowLabels;

    // Byte i as unsigned; bytes past the end count as 0.
    quint8 byteAt(int i) const { return i < chunk.size() ? quint8(chunk.at(i)) : 0; }
    // The CRC stored in the last two bytes, high byte first, matches the rest.
    bool crcMatches() const;
    void setRows(int rows);
    void setCell(int row, const QString &text);
    void setNumber(int row, int value);
    void addChannelLabels(int count);
};

// Joins two packet bytes in wordScratch, the earlier byte high.
quint16 joinWord(quint8 high, quint8 low);

bool hottLengthMatches(const QByteArray &chunk);

void decodeMpx(DecodeContext &ctx, bool version2);
void decodeNordax(DecodeContext &ctx);
void decodeHott(DecodeContext &ctx);
void decodeSpektrum(DecodeContext &ctx);

#endif
