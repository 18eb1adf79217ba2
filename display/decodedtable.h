// SPDX-License-Identifier: GPL-3.0-or-later
// The decoded table: what decoding a chunk changes, written into the table.
#ifndef LINKSCOPE_DECODEDTABLE_H
#define LINKSCOPE_DECODEDTABLE_H

#include <QByteArray>

class FamilyDescriptor;
class QTableWidget;

// Decodes chunk into table (one column, row 0 the family label, last row the
// CRC verdict). Returns whether the chunk's type, and for most families its
// length, was recognised; that says nothing about its CRC.
bool decodePacket(const QByteArray &chunk, QTableWidget *table);
// The same for a chunk already found to be one frame of family, whose check
// gave crcOk: neither is worked out again.
bool decodeFrame(const QByteArray &chunk, const FamilyDescriptor &family, bool crcOk, QTableWidget *table);

#endif
