#include "decode/crc16.h"

quint16 crc16Xmodem(const QByteArray &chunk, int count)
{
    count = qBound(0, count, chunk.size());
    quint16 crc = 0;
    for (int i = 0; i < count; ++i) {
        crc ^= quint16(quint8(chunk.at(i)) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}
