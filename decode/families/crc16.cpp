// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/crc16.h"

#include <array>

quint16 crc16Xmodem(const QByteArray &chunk, int count)
{
    return crc16Xmodem(chunk.constData(), qBound(0, count, chunk.size()));
}

quint16 crc16Xmodem(const char *data, int count)
{
    quint16 crc = 0;
    for (int i = 0; i < count; ++i) {
        crc ^= quint16(quint8(data[i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

QByteArray withFrameCrc(QByteArray body)
{
    const quint16 crc = crc16Xmodem(body, body.size());
    return body.append(char(crc >> 8)).append(char(crc & 0xFF));
}

bool frameCrcMatches(const char *frame, int length)
{
    if (length < 2)
        return false;
    // Searching a stream checks far more candidates than a window shows
    // packets, so this goes a byte at a time. The CRC is linear: a byte's
    // share of it is the bit-by-bit CRC of that byte alone.
    static const auto table = [] {
        std::array<quint16, 256> shares;
        for (int byte = 0; byte < 256; ++byte) {
            const char single = char(byte);
            shares[std::size_t(byte)] = crc16Xmodem(&single, 1);
        }
        return shares;
    }();
    quint16 crc = 0;
    for (int i = 0; i < length - 2; ++i)
        crc = quint16(crc << 8) ^ table[std::size_t((crc >> 8) ^ quint8(frame[i]))];
    const quint16 stored = quint16(quint8(frame[length - 2]) << 8 | quint8(frame[length - 1]));
    return crc == stored;
}
