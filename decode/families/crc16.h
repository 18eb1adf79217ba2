// SPDX-License-Identifier: GPL-3.0-or-later
// CRC-16/XMODEM, the checksum the window's five families and SRXL2 carry in
// their last two bytes.
#ifndef LINKSCOPE_CRC16_H
#define LINKSCOPE_CRC16_H

#include <QByteArray>

// CRC over the first count bytes of chunk (poly 0x1021, initial value 0,
// no reflection, no final XOR).
quint16 crc16Xmodem(const QByteArray &chunk, int count);
quint16 crc16Xmodem(const char *data, int count);

// The body followed by its CRC-16/XMODEM, high byte first.
QByteArray withFrameCrc(QByteArray body);

// The last two of length bytes, high byte first, are the CRC of the others.
bool frameCrcMatches(const char *frame, int length);

#endif
