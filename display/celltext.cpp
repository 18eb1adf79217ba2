#include "display/celltext.h"

#include <QTableWidget>

void setCellText(QTableWidget *table, int row, const QString &text)
{
    const QTableWidgetItem *old = table->item(row, 0);
    if (old && old->type() == QTableWidgetItem::Type && old->text() == text)
        return;
    table->setItem(row, 0, new QTableWidgetItem(text));
}

void setRowLabels(QTableWidget *table, const QStringList &labels)
{
    bool same = labels.size() == table->rowCount();
    for (int row = 0; same && row < labels.size(); ++row) {
        const QTableWidgetItem *item = table->verticalHeaderItem(row);
        same = item && item->text() == labels.at(row);
    }
    if (!same)
        table->setVerticalHeaderLabels(labels);
}

void setTableShape(QTableWidget *table, int rows, int columns)
{
    if (table->rowCount() != rows)
        table->setRowCount(rows);
    if (table->columnCount() != columns)
        table->setColumnCount(columns);
}
