#include "decode/crc16.h"

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

bool frameCrcMatches(const char *frame, int length)
{
    if (length < 2)
        return false;
    const quint16 stored = quint16(quint8(frame[length - 2]) << 8 | quint8(frame[length - 1]));
    return crc16Xmodem(frame, length - 2) == stored;
}
