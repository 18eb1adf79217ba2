// Sizing a table so that every cell shows without scrolling.
#ifndef LINKSCOPE_TABLEFIT_H
#define LINKSCOPE_TABLEFIT_H

class QTableWidget;

// Resizes columns and rows to their contents, then the table itself to the
// header sizes plus 2 plus all columns (rows), keeping its top-left corner.
void fitTableToContentsPlain(QTableWidget *table);

// The same fit for one table, fed packet after packet. It remembers what the
// texts it has seen measure, so that a packet costs only the lookups.
class TableFitter
{
public:
    void fit(QTableWidget *table);
};

#endif
