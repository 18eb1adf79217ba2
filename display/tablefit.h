// SPDX-License-Identifier: GPL-3.0-or-later
// Sizing a table so that every cell shows without scrolling.
#ifndef LINKSCOPE_TABLEFIT_H
#define LINKSCOPE_TABLEFIT_H

#include <QFont>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVector>

class QStyle;
class QTableWidget;

// Resizes columns and rows to their contents, then the table itself to the
// header sizes plus 2 plus all columns (rows), keeping its top-left corner.
// The header sizes are the ones the table lays out for the current labels.
void fitTableToContentsPlain(QTableWidget *table);

// The same fit for single-column tables fed packet after packet. What a text
// measures never changes while fonts and style stay the same, so the fitter
// remembers it and touches only the sections whose size really changes.
// Tables it cannot treat that way get the plain fit.
class TableFitter
{
public:
    TableFitter() = default;
    ~TableFitter();
    TableFitter(const TableFitter &) = delete;
    TableFitter &operator=(const TableFitter &) = delete;

    void fit(QTableWidget *table);

private:
    void watchLabels(QTableWidget *table);
    void stopWatchingLabels();
    bool canRemember(const QTableWidget *table) const;
    void forgetIfLookChanged(QTableWidget *table);
    QSize itemHint(QTableWidget *table, int row);
    int rowLabelHint(QTableWidget *table, int row);
    int columnLabelHint(QTableWidget *table);
    int rowHeaderWidth(QTableWidget *table);

    struct Look
    {
        QPointer<QTableWidget> table;
        QPointer<QStyle> style;
        QFont font, columnHeaderFont, rowHeaderFont;
        bool showGrid = false, wordWrap = false;
        bool operator==(const Look &o) const;
    };
    Look look;
    QHash<QString, QSize> itemHints;
    // In a font whose digits all measure alike, an integer measures as any
    // other of its length and sign: a channel's values need a handful of
    // measures, not one per value.
    bool digitsAlike = false;
    QHash<int, QSize> numberHints;
    // Per row, the text measured last and its measure.
    struct RowText
    {
        QString text;
        QSize hint;
    };
    QVector<RowText> rowTexts;
    QSize emptyItemHint;
    QHash<QString, int> rowLabelHints;
    QVector<int> numberedRowHints;
    QHash<QString, int> columnLabelHints;
    QHash<QString, int> rowHeaderWidths;
    // The row labels' measures, kept until the model reports a change that
    // may touch labels or rows.
    QVector<QMetaObject::Connection> labelWatches;
    QVector<int> labelHeights;
    int labelsWidth = 0;
    bool labelsKnown = false;
    int columnMinimum = 0, columnMaximum = 0, rowMinimum = 0, rowMaximum = 0;
};

#endif
