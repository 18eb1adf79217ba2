// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/tablefit.h"

#include "display/tablewriter.h"

#include <QFontMetricsF>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <QVarLengthArray>

namespace {

// Beyond this many texts the memory is dropped and measured anew, so that a
// stream of ever new values cannot grow it without bound.
constexpr int maxRememberedTexts = 4096;

// A header's width (height) as the table will lay it out for its current
// labels. Right after new labels the header itself still has its old size:
// the table lays it out only later, from the event loop.
int laidOutWidth(const QHeaderView *header)
{
    if (header->isHidden())
        return 0;
    return qMin(qMax(header->minimumWidth(), header->sizeHint().width()), header->maximumWidth());
}

int laidOutHeight(const QHeaderView *header)
{
    if (header->isHidden())
        return 0;
    return qMin(qMax(header->minimumHeight(), header->sizeHint().height()), header->maximumHeight());
}

// Plain integers ("-1234") by length and sign; 0 for any other text.
int numberShape(const QString &text)
{
    const int length = text.size();
    if (length == 0 || length > 16)
        return 0;
    const QChar *c = text.constData();
    const bool negative = length > 1 && c[0] == QLatin1Char('-');
    for (int i = negative ? 1 : 0; i < length; ++i)
        if (c[i] < QLatin1Char('0') || c[i] > QLatin1Char('9'))
            return 0;
    return 2 * length + (negative ? 1 : 0);
}

// Whether every digit, alone, after another digit or after a minus sign,
// advances the text by the same width: no proportional figures, no kerning.
bool digitsMeasureAlike(const QFont &font)
{
    const QFontMetricsF metrics(font);
    const QString digits = QStringLiteral("0123456789");
    const qreal digit = metrics.horizontalAdvance(QStringLiteral("0"));
    const qreal minus = metrics.horizontalAdvance(QStringLiteral("-"));
    for (const QChar second : digits) {
        if (metrics.horizontalAdvance(QString(second)) != digit
            || metrics.horizontalAdvance(QLatin1Char('-') + QString(second)) != minus + digit)
            return false;
        for (const QChar first : digits)
            if (metrics.horizontalAdvance(QString(first) + second) != 2 * digit)
                return false;
    }
    return true;
}

void setGeometryFromSections(QTableWidget *table, int rowHeaderWidth)
{
    int width = rowHeaderWidth + 2;
    for (int column = 0; column < table->columnCount(); ++column)
        width += table->columnWidth(column);
    int height = laidOutHeight(table->horizontalHeader()) + 2;
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
    setGeometryFromSections(table, laidOutWidth(table->verticalHeader()));
}

bool TableFitter::Look::operator==(const Look &o) const
{
    return table == o.table && style == o.style && showGrid == o.showGrid && wordWrap == o.wordWrap
        && font == o.font && columnHeaderFont == o.columnHeaderFont && rowHeaderFont == o.rowHeaderFont;
}

bool TableFitter::canRemember(const QTableWidget *table) const
{
    // The table's own resize looks at no more rows than the precision, and
    // treats hidden and stretched sections differently: leave those to it.
    const QHeaderView *columns = table->horizontalHeader();
    const QHeaderView *rows = table->verticalHeader();
    const int precision = qMin(columns->resizeContentsPrecision(), rows->resizeContentsPrecision());
    return table->columnCount() == 1 && precision > 0 && table->rowCount() <= precision
        && columns->hiddenSectionCount() == 0 && rows->hiddenSectionCount() == 0
        && !columns->stretchLastSection() && !rows->stretchLastSection()
        && table->itemDelegate() && !table->isSortingEnabled();
}

void TableFitter::forgetIfLookChanged(QTableWidget *table)
{
    Look now;
    now.table = table;
    now.style = table->style();
    now.font = table->font();
    now.columnHeaderFont = table->horizontalHeader()->font();
    now.rowHeaderFont = table->verticalHeader()->font();
    now.showGrid = table->showGrid();
    now.wordWrap = table->wordWrap();
    if (now == look && itemHints.size() <= maxRememberedTexts)
        return;
    if (now.table != look.table)
        watchLabels(table);
    labelsKnown = false;
    look = now;
    itemHints.clear();
    numberHints.clear();
    digitsAlike = digitsMeasureAlike(now.font);
    rowTexts.clear();
    rowLabelHints.clear();
    numberedRowHints.clear();
    rowHeaderWidths.clear();
    columnLabelHints.clear();
    emptyItemHint = QSize();
    columnMinimum = table->horizontalHeader()->minimumSectionSize();
    columnMaximum = table->horizontalHeader()->maximumSectionSize();
    rowMinimum = table->verticalHeader()->minimumSectionSize();
    rowMaximum = table->verticalHeader()->maximumSectionSize();
}

TableFitter::~TableFitter()
{
    stopWatchingLabels();
}

void TableFitter::stopWatchingLabels()
{
    for (const QMetaObject::Connection &watch : qAsConst(labelWatches))
        QObject::disconnect(watch);
    labelWatches.clear();
}

void TableFitter::watchLabels(QTableWidget *table)
{
    stopWatchingLabels();
    const QAbstractItemModel *model = table->model();
    const auto forget = [this] { labelsKnown = false; };
    labelWatches << QObject::connect(model, &QAbstractItemModel::headerDataChanged, forget)
                 << QObject::connect(model, &QAbstractItemModel::rowsInserted, forget)
                 << QObject::connect(model, &QAbstractItemModel::rowsRemoved, forget)
                 << QObject::connect(model, &QAbstractItemModel::rowsMoved, forget)
                 << QObject::connect(model, &QAbstractItemModel::layoutChanged, forget)
                 << QObject::connect(model, &QAbstractItemModel::modelReset, forget);
}

QSize TableFitter::itemHint(QTableWidget *table, int row)
{
    const QString text = cellText(table->item(row, 0));
    // A cell without text is drawn the same with or without an item.
    if (text.isNull()) {
        if (!emptyItemHint.isValid())
            emptyItemHint = table->sizeHintForIndex(table->model()->index(row, 0));
        return emptyItemHint;
    }
    // Writers leave a cell's text alone while it reads the same, so the very
    // string measured for the row last time needs no lookup.
    if (rowTexts.size() <= row)
        rowTexts.resize(row + 1);
    RowText &last = rowTexts[row];
    if (last.text.isSharedWith(text))
        return last.hint;
    const auto remembered = [table, row](auto &hints, const auto &key) {
        auto it = hints.constFind(key);
        if (it == hints.constEnd())
            it = hints.insert(key, table->sizeHintForIndex(table->model()->index(row, 0)));
        return *it;
    };
    const int shape = digitsAlike ? numberShape(text) : 0;
    last = {text, shape ? remembered(numberHints, shape) : remembered(itemHints, text)};
    return last.hint;
}

int TableFitter::rowLabelHint(QTableWidget *table, int row)
{
    const QTableWidgetItem *item = table->verticalHeaderItem(row);
    // A row without a label shows its number, so its measure goes by row.
    if (!item) {
        while (numberedRowHints.size() <= row)
            numberedRowHints.append(-1);
        int &hint = numberedRowHints[row];
        if (hint < 0)
            hint = table->verticalHeader()->sectionSizeHint(row);
        return hint;
    }
    const QString label = item->text();
    auto it = rowLabelHints.constFind(label);
    if (it == rowLabelHints.constEnd())
        it = rowLabelHints.insert(label, table->verticalHeader()->sectionSizeHint(row));
    return *it;
}

int TableFitter::columnLabelHint(QTableWidget *table)
{
    const QString label = table->model()->headerData(0, Qt::Horizontal).toString();
    auto it = columnLabelHints.constFind(label);
    if (it == columnLabelHints.constEnd())
        it = columnLabelHints.insert(label, table->horizontalHeader()->sectionSizeHint(0));
    return *it;
}

void TableFitter::fit(QTableWidget *table)
{
    if (!canRemember(table)) {
        fitTableToContentsPlain(table);
        return;
    }
    forgetIfLookChanged(table);
    const int grid = table->showGrid() ? 1 : 0;
    const int rows = table->rowCount();

    if (!labelsKnown || labelHeights.size() != rows) {
        labelHeights.resize(rows);
        for (int row = 0; row < rows; ++row)
            labelHeights[row] = rowLabelHint(table, row);
        labelsWidth = rowHeaderWidth(table);
        labelsKnown = true;
    }

    // What the table's own resizeColumnsToContents() would set: the widest
    // cell plus the grid line, or the column title if that is wider.
    QVarLengthArray<QSize, 64> hints(rows);
    int widest = 0;
    for (int row = 0; row < rows; ++row) {
        hints[row] = itemHint(table, row);
        widest = qMax(widest, hints[row].width());
    }
    const int width = qBound(columnMinimum, qMax(widest + grid, columnLabelHint(table)), columnMaximum);
    if (table->columnWidth(0) != width)
        table->horizontalHeader()->resizeSection(0, width);

    // And what resizeRowsToContents() would set, row by row. The column now
    // holds every text on one line, so a cell is as tall as its text. Even
    // for many new rows this beats the bulk resize, which measures every
    // row and label anew.
    for (int row = 0; row < rows; ++row) {
        const int height = qBound(rowMinimum, qMax(hints[row].height() + grid, labelHeights[row]), rowMaximum);
        if (table->rowHeight(row) != height)
            table->verticalHeader()->resizeSection(row, height);
    }

    setGeometryFromSections(table, labelsWidth);
}

// The row header is as wide as its widest label, which the header measures
// anew whenever labels or rows change; the same labels measure the same.
int TableFitter::rowHeaderWidth(QTableWidget *table)
{
    QString key = QString::number(table->rowCount());
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->verticalHeaderItem(row);
        key += QLatin1Char('\n');
        if (item)
            key += QLatin1Char('=') + item->text();
    }
    auto it = rowHeaderWidths.constFind(key);
    if (it == rowHeaderWidths.constEnd()) {
        if (rowHeaderWidths.size() >= maxRememberedTexts)
            rowHeaderWidths.clear();
        it = rowHeaderWidths.insert(key, laidOutWidth(table->verticalHeader()));
    }
    return *it;
}
