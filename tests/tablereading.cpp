// SPDX-License-Identifier: GPL-3.0-or-later
// What the window's tables and decoder show, read back for the tests that
// drive the window (declared in packets.h).
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

QVector<qint16> channelSnapshot()
{
    return QVector<qint16>(channelValues, channelValues + channelValueCount);
}

TableSnapshot snapshot(const QTableWidget *table)
{
    return {table->rowCount(), table->columnCount(), cellTexts(table), rowLabels(table), table->geometry()};
}
