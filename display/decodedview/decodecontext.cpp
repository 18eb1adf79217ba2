// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/decodecontext.h"

#include "display/decodedview/decoderstate.h"

void DecodeContext::addChannelLabels(int count)
{
    // A count byte allows 255 channels; the labels are made once.
    static const QStringList labels = [] {
        QStringList all;
        for (int m = 1; m <= 255; ++m)
            all.append(QStringLiteral("CH%1").arg(m, 0, 10, QLatin1Char(' ')));
        return all;
    }();
    rowLabels.append(labels.mid(0, count));
}

void DecodeContext::showChannels(int firstRow, int firstByte, int count, qint16 (*convert)(quint16))
{
    for (int k = 0; k < count; ++k) {
        const quint16 word = joinWord(byteAt(firstByte + 2 * k), byteAt(firstByte + 2 * k + 1));
        if (k < channelValueCount) {
            if (word != 0)
                channelValues[k] = convert(word);
            setNumber(firstRow + k, channelValues[k]);
        } else {
            setNumber(firstRow + k, word != 0 ? convert(word) : 0);
        }
    }
}

void DecodeContext::setVerdict(int row, bool crcOk)
{
    setCell(row, crcOk ? QStringLiteral("OK") : QStringLiteral("FALSE"));
    rowLabels.append(QStringLiteral("CRC"));
}

QString decimalText(int value)
{
    QChar digits[12];
    int start = 12;
    // Worked in unsigned so that the most negative int has a magnitude too.
    quint32 magnitude = value < 0 ? 0u - quint32(value) : quint32(value);
    do {
        digits[--start] = QLatin1Char(char('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[--start] = QLatin1Char('-');
    return QString(digits + start, 12 - start);
}

quint16 joinWord(quint8 high, quint8 low)
{
    wordScratch = quint16(high << 8 | low);
    return wordScratch;
}
