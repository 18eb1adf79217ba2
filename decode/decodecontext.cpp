#include "decode/decodecontext.h"

#include "decode/crc16.h"
#include "decode/decoderstate.h"
#include "display/celltext.h"

#include <QTableWidget>

bool DecodeContext::crcMatches() const
{
    const int n = chunk.size();
    const quint16 stored = quint16(byteAt(n - 2) << 8 | byteAt(n - 1));
    return crc16Xmodem(chunk, n - 2) == stored;
}

void DecodeContext::setRows(int rows)
{
    setTableShape(table, rows, 1);
}

void DecodeContext::setCell(int row, const QString &text)
{
    setCellText(table, row, text);
}

void DecodeContext::setNumber(int row, int value)
{
    setCellText(table, row, QString::number(value, 10));
}

void DecodeContext::addChannelLabels(int count)
{
    for (int m = 1; m <= count; ++m)
        rowLabels.append(QStringLiteral("CH%1").arg(m, 0, 10, QLatin1Char(' ')));
}

quint16 joinWord(quint8 high, quint8 low)
{
    wordScratch = quint16(high << 8 | low);
    return wordScratch;
}
