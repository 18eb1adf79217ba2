// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/encoders.h"

#include "decode/families/crc16.h"
#include "decode/framing.h"

namespace {

void appendWords(QByteArray &body, const QVector<quint16> &words)
{
    for (quint16 word : words)
        body.append(char(word >> 8)).append(char(word & 0xFF));
}

// The smallest n with n × step / unit >= whole, for whole >= 0.
int ceilingSteps(int whole, int unit, int step)
{
    return (whole * unit + step - 1) / step;
}

} // namespace

MicrosecondRange spektrumRange(int id)
{
    return {id == 0 ? 917 : 916, 2083};
}

// The decoder truncates v × 1400 / 4096; the smallest v that reaches the µs
// lies nearest it, and decoders that round instead agree on it.
quint16 mpxWord(int us)
{
    return quint16(qMax(1, ceilingSteps(us - mpxRange.lowest, 4096, 1400)));
}

quint16 hottWord(int us)
{
    return quint16(qMax(1, us * 8));
}

// (p − 1024) × 500 / 876 truncates toward zero: above 1500 µs the smallest
// distance from 1024 lies nearest the µs, below it as well, mirrored.
int spektrumPosition(int us)
{
    const int offset = us - 1500;
    const int steps = ceilingSteps(qAbs(offset), 876, 500);
    return offset >= 0 ? 1024 + steps : 1024 - steps;
}

quint16 spektrumWord(int id, int position)
{
    return quint16((id & 0x0F) << 11 | (position & 0x07FF));
}

QByteArray withFrameCrc(QByteArray body)
{
    const quint16 crc = crc16Xmodem(body, body.size());
    return body.append(char(crc >> 8)).append(char(crc & 0xFF));
}

QByteArray mpxFrame(const QVector<quint16> &words)
{
    QByteArray body(1, char(words.size() == 16 ? 0xA2 : 0xA1));
    appendWords(body, words);
    return withFrameCrc(body);
}

QByteArray nordaxFrame(quint8 mode, const QVector<quint16> &words)
{
    QByteArray body;
    body.append(char(0xA3)).append(char(1)).append(char(mode));
    appendWords(body, words);
    return withFrameCrc(body);
}

QByteArray hottFrame(const QVector<quint16> &words, bool failsafe)
{
    QByteArray body;
    body.append(char(0xA8)).append(char(failsafe ? hottFailsafeStatus : 1)).append(char(words.size()));
    appendWords(body, words);
    return withFrameCrc(body);
}

QByteArray spektrumFrame(quint8 mode, const QVector<quint16> &words)
{
    QByteArray body;
    body.append(char(0xA5)).append(char(mode));
    appendWords(body, words);
    return withFrameCrc(body);
}
