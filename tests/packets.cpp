// SPDX-License-Identifier: GPL-3.0-or-later
// What the window's tables show, read back; the frames are in frames.cpp.
#include "packets.h"

#include "display/decodedview/decoderstate.h"

#include <QTableWidget>

QStringList cellTexts(const QTableWidget *table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->item(row, 0);
        texts << (item ? item->text() : QStringLiteral("<none>"));
    }
    return texts;
}

QStringList rowLabels(const QTableWidget *table)
{
    QStringList labels;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->verticalHeaderItem(row);
        labels << (item ? item->text() : QStringLiteral("<none>"));
    }
    return labels;
}

QStringList channelLabels(int count)
{
    QStringList labels;
    for (int m = 1; m <= count; ++m)
        labels << QStringLiteral("CH%1").arg(m);
    return labels;
}

QVector<qint16> channelSnapshot()
{
    return QVector<qint16>(channelValues, channelValues + channelValueCount);
}

TableSnapshot snapshot(const QTableWidget *table)
{
    return {table->rowCount(), table->columnCount(), cellTexts(table), rowLabels(table), table->geometry()};
}
