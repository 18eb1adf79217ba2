#include "display/tablefit.h"

#include <QHeaderView>
#include <QTableWidget>

namespace {

void setGeometryFromSections(QTableWidget *table)
{
    int width = table->verticalHeader()->width() + 2;
    for (int column = 0; column < table->columnCount(); ++column)
        width += table->columnWidth(column);
    int height = table->horizontalHeader()->height() + 2;
    for (int row = 0; row < table->rowCount(); ++row)
        height += table->rowHeight(row);
    const QRect old = table->geometry();
    table->setGeometry(old.x(), old.y(), width, height);
}

} // namespace

void fitTableToContentsPlain(QTableWidget *table)
{
    table->resizeColumnsToContents();
    table->resizeRowsToContents();
    setGeometryFromSections(table);
}

void TableFitter::fit(QTableWidget *table)
{
    fitTableToContentsPlain(table);
}
