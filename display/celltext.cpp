#include "display/celltext.h"

#include <QTableWidget>

TableWriter::~TableWriter()
{
    if (cellsChanged)
        table->viewport()->update();
}

void TableWriter::setShape(int rows, int columns)
{
    if (table->rowCount() != rows)
        table->setRowCount(rows);
    if (table->columnCount() != columns)
        table->setColumnCount(columns);
}

void TableWriter::setCell(int row, const QString &text)
{
    QTableWidgetItem *item = table->item(row, 0);
    const bool plainItem = item && item->type() == QTableWidgetItem::Type;
    if (plainItem && item->text() == text)
        return;
    // Sorting follows the same signal, so a sorted table hears every change.
    QAbstractItemModel *model = table->model();
    const bool quiet = !table->isSortingEnabled() && !model->signalsBlocked();
    if (quiet)
        model->blockSignals(true);
    if (plainItem)
        item->setText(text);
    else
        table->setItem(row, 0, new QTableWidgetItem(text));
    if (quiet)
        model->blockSignals(false);
    cellsChanged = true;
}

void TableWriter::setRowLabels(const QStringList &labels)
{
    bool same = labels.size() == table->rowCount();
    for (int row = 0; same && row < labels.size(); ++row) {
        const QTableWidgetItem *item = table->verticalHeaderItem(row);
        same = item && item->text() == labels.at(row);
    }
    if (!same)
        table->setVerticalHeaderLabels(labels);
}
