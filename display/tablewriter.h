// SPDX-License-Identifier: GPL-3.0-or-later
// Writing single-column tables without touching what already shows the same.
#ifndef LINKSCOPE_TABLEWRITER_H
#define LINKSCOPE_TABLEWRITER_H

#include <QStringList>
#include <QVarLengthArray>

class QTableWidget;
class QTableWidgetItem;
class TableMemo;

// The text an item shows. Items that writers put in are read directly, which
// spares the variant the model's data() would make.
QString cellText(const QTableWidgetItem *item);

// Cells and row labels that already show exactly the text are left alone;
// the table remembers what its writers put where, so that knowing this costs
// a pointer and a string comparison. A packet changes many cells at once, so
// a changed cell takes its new text without the item model's per-cell signal
// (which costs more than the change itself); when it is done the writer
// marks the changed cells for redrawing itself, and only those, since
// drawing a cell costs far more than anything else a packet does.
// A table that sorts its rows needs that signal and gets it.
class TableWriter
{
public:
    explicit TableWriter(QTableWidget *table);
    ~TableWriter();
    TableWriter(const TableWriter &) = delete;
    TableWriter &operator=(const TableWriter &) = delete;

    void setShape(int rows, int columns);
    void setCell(int row, const QString &text);
    // setVerticalHeaderLabels, skipped when the header already reads the same.
    void setRowLabels(const QStringList &labels);

private:
    QTableWidget *table;
    TableMemo *memo;
    const bool quiet;
    QVarLengthArray<int, 64> changedRows;
};

#endif
