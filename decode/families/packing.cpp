// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/packing.h"

namespace {

// An unreflected CRC-8 by table, for its polynomial.
struct Crc8Table
{
    quint8 entries[256];
    explicit Crc8Table(quint8 poly)
    {
        for (int byte = 0; byte < 256; ++byte) {
            quint8 crc = quint8(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = quint8(crc & 0x80 ? (crc << 1) ^ poly : crc << 1);
            entries[byte] = crc;
        }
    }
    quint8 over(const char *data, int count) const
    {
        quint8 crc = 0;
        for (int i = 0; i < count; ++i)
            crc = entries[crc ^ quint8(data[i])];
        return crc;
    }
};

} // namespace

quint8 crc8DvbS2(const char *data, int count)
{
    static const Crc8Table table(0xD5);
    return table.over(data, count);
}

quint8 crc8Smbus(const char *data, int count)
{
    static const Crc8Table table(0x07);
    return table.over(data, count);
}

quint16 crc16Kermit(const char *data, int count)
{
    static const struct Table
    {
        quint16 entries[256];
        Table()
        {
            for (int byte = 0; byte < 256; ++byte) {
                quint16 crc = quint16(byte);
                for (int bit = 0; bit < 8; ++bit)
                    crc = quint16(crc & 1 ? (crc >> 1) ^ 0x8408 : crc >> 1);
                entries[byte] = crc;
            }
        }
    } table;
    quint16 crc = 0;
    for (int i = 0; i < count; ++i)
        crc = quint16((crc >> 8) ^ table.entries[(crc ^ quint8(data[i])) & 0xFF]);
    return crc;
}

quint8 frskyChecksum(const char *data, int count)
{
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += quint8(data[i]);
        sum = (sum & 0xFF) + (sum >> 8);
    }
    return quint8(0xFF - sum);
}

void unpackLsbFirst(const char *data, int count, int bits, int *values)
{
    const unsigned mask = (1u << bits) - 1;
    quint32 buffer = 0;
    int held = 0, at = 0;
    for (int i = 0; i < count; ++i) {
        while (held < bits) {
            buffer |= quint32(quint8(data[at++])) << held;
            held += 8;
        }
        values[i] = int(buffer & mask);
        buffer >>= bits;
        held -= bits;
    }
}

void packLsbFirst(QByteArray &out, const QVector<int> &values, int bits)
{
    quint32 buffer = 0;
    int held = 0;
    for (int value : values) {
        buffer |= (quint32(value) & ((1u << bits) - 1)) << held;
        held += bits;
        while (held >= 8) {
            out.append(char(buffer & 0xFF));
            buffer >>= 8;
            held -= 8;
        }
    }
    if (held > 0)
        out.append(char(buffer & 0xFF));
}

const char *typeByteText(quint8 type)
{
    static const struct Texts
    {
        char text[256][5];
        Texts()
        {
            static const char digits[] = "0123456789ABCDEF";
            for (int i = 0; i < 256; ++i) {
                text[i][0] = '0';
                text[i][1] = 'x';
                text[i][2] = digits[i >> 4];
                text[i][3] = digits[i & 15];
                text[i][4] = 0;
            }
        }
    } texts;
    return texts.text[type];
}

void readWords(const char *data, int first, int count, int (*toUs)(quint16), FrameReading &reading)
{
    reading.channels = count;
    for (int k = 0; k < count; ++k) {
        const quint16 word = quint16(quint8(data[first + 2 * k]) << 8 | quint8(data[first + 2 * k + 1]));
        reading.wire[k] = word != 0 ? word : FrameReading::noValue;
        reading.us[k] = word != 0 && toUs ? toUs(word) : FrameReading::noValue;
    }
}

void appendWords(QByteArray &out, const QVector<quint16> &words)
{
    for (quint16 word : words)
        out.append(char(word >> 8)).append(char(word & 0xFF));
}

QVector<quint16> wordsOf(const QVector<int> &values)
{
    QVector<quint16> words;
    words.reserve(values.size());
    for (int value : values)
        words << quint16(value);
    return words;
}
