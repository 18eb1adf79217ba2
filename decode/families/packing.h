// SPDX-License-Identifier: GPL-3.0-or-later
// What several families share: checksums other than CRC-16/XMODEM, channels
// packed LSB-first, channel words high byte first.
#ifndef LINKSCOPE_FAMILYPACKING_H
#define LINKSCOPE_FAMILYPACKING_H

#include "decode/families/framereading.h"

#include <QByteArray>
#include <QVector>

// CRC-8/DVB-S2: poly 0xD5, initial value 0, no reflection (CRSF, GHST).
quint8 crc8DvbS2(const char *data, int count);
// CRC-8/SMBUS: poly 0x07, initial value 0, no reflection (ST24, Jeti's EX
// packets).
quint8 crc8Smbus(const char *data, int count);
// CRC-16/KERMIT: poly 0x1021 reflected, initial value 0 (Jeti EX Bus).
quint16 crc16Kermit(const char *data, int count);
// FrSky's sum: bytes added with the carry folded back in, then 0xFF less it.
quint8 frskyChecksum(const char *data, int count);

// count values of bits each, LSB first from data: read as one little-endian
// integer, value i is bits bits·i to bits·i + bits − 1.
void unpackLsbFirst(const char *data, int count, int bits, int *values);
// The inverse: appends (count·bits + 7) / 8 bytes.
void packLsbFirst(QByteArray &out, const QVector<int> &values, int bits);

// count words of two bytes, high first, from byte first of data, all of
// one scale (toUs; none where nullptr): channel k + 1 is word k, and a zero
// word carries no value.
void readWords(const char *data, int first, int count, int (*toUs)(quint16), FrameReading &reading);
// Appends each word high byte first.
void appendWords(QByteArray &out, const QVector<quint16> &words);
// Wire values as the words they go as.
QVector<quint16> wordsOf(const QVector<int> &values);

// "0x16" for a type byte that has no name.
const char *typeByteText(quint8 type);
// The smallest n with n × step / unit >= whole, for whole >= 0: the wire
// value nearest a µs among those a truncating scale shows as it.
inline int ceilingSteps(int whole, int unit, int step)
{
    return (whole * unit + step - 1) / step;
}

#endif

