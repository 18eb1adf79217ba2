#include "display/celltext.h"

#include <QHash>
#include <QTableWidget>

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

private:
    QString shown;
};

// What writers last put in each cell and row label of one table. It is
// forgotten as soon as the table's model reports a change that did not come
// quietly from a writer: an edit by the user, new rows, new labels.
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
        cellTexts.clear();
        labelItems.clear();
        labels.clear();
    }

    // The item a writer left in row, or nullptr. While the memo holds, the
    // table has not reported any change, so the item is still there.
    CellItem *knownItem(int row) const { return row < cellItems.size() ? cellItems.at(row) : nullptr; }
    const QString &cellText(int row) const { return cellTexts.at(row); }
    void rememberCell(int row, CellItem *item, const QString &text)
    {
        if (cellItems.size() <= row) {
            cellItems.resize(row + 1);
            cellTexts.resize(row + 1);
        }
        cellItems[row] = item;
        cellTexts[row] = text;
    }

    QVector<const QTableWidgetItem *> labelItems;
    QStringList labels;

private:
    static QHash<const QTableWidget *, TableMemo *> &registry()
    {
        static QHash<const QTableWidget *, TableMemo *> memos;
        return memos;
    }

    const QTableWidget *table;
    QVector<CellItem *> cellItems;
    QVector<QString> cellTexts;
};

TableWriter::TableWriter(QTableWidget *table)
    : table(table), memo(TableMemo::of(table)), quiet(!table->isSortingEnabled())
{
}

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
    CellItem *known = quiet ? memo->knownItem(row) : nullptr;
    if (known) {
        if (memo->cellText(row) != text) {
            known->setTextQuietly(text);
            memo->rememberCell(row, known, text);
            cellsChanged = true;
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
        cellsChanged = true;
    }
    memo->rememberCell(row, item, text);
}

void TableWriter::setRowLabels(const QStringList &labels)
{
    const int rows = table->rowCount();
    bool same = labels.size() == rows && memo->labels == labels && memo->labelItems.size() == rows;
    for (int row = 0; same && row < rows; ++row)
        same = table->verticalHeaderItem(row) == memo->labelItems.at(row);
    if (same)
        return;

    same = labels.size() == rows;
    for (int row = 0; same && row < rows; ++row) {
        const QTableWidgetItem *item = table->verticalHeaderItem(row);
        same = item && item->text() == labels.at(row);
    }
    if (!same)
        table->setVerticalHeaderLabels(labels);
    memo->labels = labels;
    memo->labelItems.resize(rows);
    for (int row = 0; row < rows; ++row)
        memo->labelItems[row] = table->verticalHeaderItem(row);
}
