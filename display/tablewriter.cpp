// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/tablewriter.h"

#include <algorithm>

#include <QEvent>
#include <QHash>
#include <QHeaderView>
#include <QPointer>
#include <QTableWidget>
#include <QVarLengthArray>

// The items writers put in their tables: an item of the default type whose
// text a writer can also change without the model hearing of it (writers
// repaint the table themselves). The view reads the text through data().
class CellItem : public QTableWidgetItem
{
public:
    explicit CellItem(const QString &text) : QTableWidgetItem(text), shown(text) {}

    QVariant data(int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return shown;
        return QTableWidgetItem::data(role);
    }

    void setData(int role, const QVariant &value) override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            const QString text = value.toString();
            // The base class keeps its own copy of the text, which quiet
            // changes leave behind; it must not take this change for none.
            if (text != shown && QTableWidgetItem::data(Qt::DisplayRole) == value)
                QTableWidgetItem::setData(Qt::DisplayRole, QVariant());
            shown = text;
        }
        QTableWidgetItem::setData(role, value);
    }

    QTableWidgetItem *clone() const override { return new CellItem(*this); }

    void setTextQuietly(const QString &text) { shown = text; }
    const QString &shownText() const { return shown; }

private:
    QString shown;
};

QString cellText(const QTableWidgetItem *item)
{
    if (const auto *written = dynamic_cast<const CellItem *>(item))
        return written->shownText();
    return item ? item->text() : QString();
}

// Which items writers put in the cells of one table, and the row labels
// they set. It is forgotten as soon as the table's model reports a change
// that did not come quietly from a writer: an edit by the user, items
// replaced or deleted, new rows, new labels. (The model does not report a
// header item taken out with takeVerticalHeaderItem; nothing here does that.)
class TableMemo : public QObject
{
public:
    explicit TableMemo(QTableWidget *table)
        : QObject(table), table(table)
    {
        registry().insert(table, this);
        const QAbstractItemModel *model = table->model();
        connect(model, &QAbstractItemModel::modelReset, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::layoutChanged, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::dataChanged, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::headerDataChanged, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::rowsInserted, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::columnsInserted, this, &TableMemo::forget);
        connect(model, &QAbstractItemModel::columnsRemoved, this, &TableMemo::forget);
    }
    ~TableMemo() override { registry().remove(table); }

    static TableMemo *of(QTableWidget *table)
    {
        TableMemo *memo = registry().value(table);
        return memo ? memo : new TableMemo(table);
    }

    void forget()
    {
        cellItems.clear();
        labelsKnown = false;
        labels.clear();
    }

    // The item a writer left in row, or nullptr. While the memo holds, the
    // table has not reported any change, so the item is still there.
    CellItem *knownItem(int row) const { return row < cellItems.size() ? cellItems.at(row) : nullptr; }
    void rememberCell(int row, CellItem *item)
    {
        if (cellItems.size() <= row)
            cellItems.resize(row + 1);
        cellItems[row] = item;
    }

    // Marks the cell's rectangle as waiting to be redrawn, and tells whether
    // it already was, in which case asking the view again would change
    // nothing. Marks last until the viewport paints.
    bool alreadyMarked(int row, const QRect &cell)
    {
        const QWidget *viewport = table->viewport();
        if (viewport != watchedViewport) {
            if (watchedViewport)
                watchedViewport->removeEventFilter(this);
            watchedViewport = table->viewport();
            watchedViewport->installEventFilter(this);
            pendingCells.clear();
        }
        if (pendingCells.size() <= row)
            pendingCells.resize(row + 1);
        if (pendingCells.at(row) == cell)
            return true;
        pendingCells[row] = cell;
        return false;
    }

    bool labelsKnown = false;
    QStringList labels;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == watchedViewport && event->type() == QEvent::Paint)
            pendingCells.clear();
        return false;
    }

private:
    static QHash<const QTableWidget *, TableMemo *> &registry()
    {
        static QHash<const QTableWidget *, TableMemo *> memos;
        return memos;
    }

    const QTableWidget *table;
    QVector<CellItem *> cellItems;
    QPointer<QWidget> watchedViewport;
    QVector<QRect> pendingCells;
};

TableWriter::TableWriter(QTableWidget *table)
    : table(table), memo(TableMemo::of(table)), quiet(!table->isSortingEnabled())
{
}

TableWriter::~TableWriter()
{
    if (changedRows.isEmpty())
        return;
    // Each changed cell's own rectangle, as the view would give it, but
    // without asking the view cell by cell, handed over as one region. Only
    // these cells are redrawn; the grid lines between them stay out, which
    // keeps drawing cheap.
    const QHeaderView *rows = table->verticalHeader();
    const int grid = table->showGrid() ? 1 : 0;
    const int x = table->columnViewportPosition(0);
    const int width = table->columnWidth(0) - grid;
    if (!std::is_sorted(changedRows.cbegin(), changedRows.cend()))
        std::sort(changedRows.begin(), changedRows.end());
    QVarLengthArray<QRect, 64> rects;
    for (int row : changedRows) {
        const QRect cell(x, rows->sectionViewportPosition(row), width, rows->sectionSize(row) - grid);
        if (memo->alreadyMarked(row, cell))
            continue;
        // Without grid lines adjacent cells touch, and a region joins them.
        if (!rects.isEmpty() && rects.last().bottom() + 1 == cell.top())
            rects.last().setBottom(cell.bottom());
        else if (cell.isValid())
            rects.append(cell);
    }
    if (rects.isEmpty())
        return;
    QRegion region;
    region.setRects(rects.constData(), rects.size());
    table->viewport()->update(region);
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
    CellItem *known = quiet ? memo->knownItem(row) : nullptr;
    if (known) {
        if (known->shownText() != text) {
            known->setTextQuietly(text);
            changedRows.append(row);
        }
        return;
    }
    auto *item = dynamic_cast<CellItem *>(table->item(row, 0));
    if (!item || item->text() != text) {
        QAbstractItemModel *model = table->model();
        const bool wasBlocked = model->signalsBlocked();
        if (quiet)
            model->blockSignals(true);
        table->setItem(row, 0, item = new CellItem(text));
        model->blockSignals(wasBlocked);
        changedRows.append(row);
    }
    memo->rememberCell(row, item);
}

void TableWriter::setRowLabels(const QStringList &labels)
{
    const int rows = table->rowCount();
    if (memo->labelsKnown && labels.size() == rows && memo->labels == labels)
        return;

    bool same = labels.size() == rows;
    for (int row = 0; same && row < rows; ++row) {
        const QTableWidgetItem *item = table->verticalHeaderItem(row);
        same = item && item->text() == labels.at(row);
    }
    if (!same)
        table->setVerticalHeaderLabels(labels);
    memo->labels = labels;
    memo->labelsKnown = true;
}
