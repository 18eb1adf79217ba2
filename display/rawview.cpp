// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/rawview.h"

#include "display/tablewriter.h"

#include <QTableWidget>

QString hexByteText(quint8 value)
{
    QString digits = QString::number(value, 16).toUpper();
    if (digits.size() == 1)
        digits.insert(0, QLatin1Char('0'));
    return digits.prepend(QStringLiteral("0x"));
}

void showRawPacket(QTableWidget *table, const QByteArray &chunk)
{
    const int n = chunk.size();
    if (n <= 10)
        return;
    // The 256 possible texts, made once.
    static const QVector<QString> texts = [] {
        QVector<QString> all(256);
        for (int value = 0; value < 256; ++value)
            all[value] = hexByteText(quint8(value));
        return all;
    }();
    TableWriter writer(table);
    writer.setShape(n, 1);
    for (int i = 0; i < n; ++i)
        writer.setCell(i, texts.at(quint8(chunk.at(i))));
}
