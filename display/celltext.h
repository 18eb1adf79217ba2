// Writing single-column tables without touching what already shows the same.
#ifndef LINKSCOPE_CELLTEXT_H
#define LINKSCOPE_CELLTEXT_H

#include <QStringList>

class QTableWidget;

// Puts text at (row, 0) as a new item; an item that already holds exactly
// this text is left in place, since replacing it would change nothing shown.
void setCellText(QTableWidget *table, int row, const QString &text);

// setVerticalHeaderLabels, skipped when the header already reads the same.
void setRowLabels(QTableWidget *table, const QStringList &labels);

// rowCount and columnCount as given; a table already of that shape is left alone.
void setTableShape(QTableWidget *table, int rows, int columns);

#endif
