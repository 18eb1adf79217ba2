// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing.h"

int candidateFrameLengths(const char *data, int available, int lengths[2])
{
    if (available < 1)
        return -1;
    switch (quint8(data[0])) {
    case 0xA1:
        lengths[0] = 27;
        return 1;
    case 0xA2:
        lengths[0] = 35;
        lengths[1] = 18;
        return 2;
    case 0xA5:
        lengths[0] = 18;
        return 1;
    case 0xA3:
        if (available < 2)
            return -1;
        if (quint8(data[1]) != 1)
            return 0;
        lengths[0] = 29;
        return 1;
    case 0xA8: {
        if (available < 2)
            return -1;
        const quint8 status = quint8(data[1]);
        if (status != 1 && status != hottFailsafeStatus)
            return 0;
        if (available < 3)
            return -1;
        lengths[0] = 2 * quint8(data[2]) + 5;
        return 1;
    }
    default:
        return 0;
    }
}

bool isFailsafeFrame(const char *data, int length)
{
    return length >= 2 && quint8(data[0]) == 0xA8 && quint8(data[1]) == hottFailsafeStatus;
}

bool isWholeFrame(const QByteArray &chunk)
{
    int lengths[2];
    const int count = candidateFrameLengths(chunk.constData(), chunk.size(), lengths);
    for (int i = 0; i < count; ++i) {
        if (lengths[i] == chunk.size())
            return !isFailsafeFrame(chunk.constData(), chunk.size());
    }
    return false;
}
