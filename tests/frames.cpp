// SPDX-License-Identifier: GPL-3.0-or-later
// The window's five families' frames built by hand from their wire formats,
// with a CRC routine of the tests' own: QtCore alone, so that the protocol
// library's tests link no widgets.
#include "packets.h"

namespace packets {

quint16 crc(const QByteArray &data)
{
    quint16 crc = 0;
    for (char c : data) {
        quint8 x = quint8((crc >> 8) ^ quint8(c));
        x ^= x >> 4;
        crc = quint16((crc << 8) ^ (quint16(x) << 12) ^ (quint16(x) << 5) ^ x);
    }
    return crc;
}

QByteArray withCrc(const QByteArray &body)
{
    const quint16 c = crc(body);
    return body + QByteArray(1, char(c >> 8)) + QByteArray(1, char(c & 0xFF));
}

QByteArray corrupted(QByteArray packet)
{
    packet[packet.size() - 1] = char(packet.at(packet.size() - 1) ^ 0x5A);
    return packet;
}

static void appendWords(QByteArray &body, const QVector<quint16> &words)
{
    for (quint16 w : words) {
        body.append(char(w >> 8));
        body.append(char(w & 0xFF));
    }
}

QByteArray mpx(const QVector<quint16> &words)
{
    Q_ASSERT(words.size() == 12);
    QByteArray body(1, char(0xA1));
    appendWords(body, words);
    return withCrc(body);
}

QByteArray mpxV2(const QVector<quint16> &words)
{
    Q_ASSERT(words.size() == 16);
    QByteArray body(1, char(0xA2));
    appendWords(body, words);
    return withCrc(body);
}

QByteArray nordax(quint8 mode, const QVector<quint16> &words)
{
    Q_ASSERT(words.size() == 12);
    QByteArray body;
    body.append(char(0xA3)).append(char(1)).append(char(mode));
    appendWords(body, words);
    return withCrc(body);
}

QByteArray hott(const QVector<quint16> &words)
{
    QByteArray body;
    body.append(char(0xA8)).append(char(1)).append(char(words.size()));
    appendWords(body, words);
    return withCrc(body);
}

QByteArray spektrum(const QVector<quint16> &words, quint8 mode, quint8 type)
{
    Q_ASSERT(words.size() == 7);
    QByteArray body;
    body.append(char(type)).append(char(mode));
    appendWords(body, words);
    return withCrc(body);
}

quint16 spektrumWord(int id, int raw)
{
    return quint16((id & 0x0F) << 11 | (raw & 0x07FF));
}

QByteArray fromHex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

} // namespace packets
