// SPDX-License-Identifier: GPL-3.0-or-later
// Recognises one received chunk as a packet and works out what the decoded
// table shows for it.
#ifndef LINKSCOPE_PACKETDECODER_H
#define LINKSCOPE_PACKETDECODER_H

#include <QByteArray>
#include <QPair>
#include <QStringList>
#include <QVector>

class FamilyDescriptor;

// What one chunk changes in the decoded table (one column, row 0 the family
// label, last row the CRC verdict). Cells not listed keep what they show.
struct DecodedRows
{
    // The chunk's type, and for most families its length, was recognised;
    // that says nothing about its CRC.
    bool recognised = false;
    int rows = -1; // the new row count, or -1 where it stays
    QVector<QPair<int, QString>> cells; // row and text, in the order written
    QStringList labels;                 // the row labels, or none where they stay
};

// Decodes chunk, updating the channel values kept between packets: the
// families are tested one after another by type byte and length, and the
// one that takes the chunk checks its CRC.
DecodedRows decodeChunk(const QByteArray &chunk);
// The same for a chunk found to be one frame of family (one of the
// window's five), whose check gave crcOk: only that family's test is made,
// and the check is not made again. What it gives is what decodeChunk gives.
DecodedRows decodeFrame(const QByteArray &chunk, const FamilyDescriptor &family, bool crcOk);

#endif
