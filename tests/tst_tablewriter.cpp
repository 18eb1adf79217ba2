// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/tablewriter.h"
#include "packets.h"

#include <QScreen>
#include <QTableWidget>
#include <QtTest>

class tst_TableWriter : public QObject
{
    Q_OBJECT

private slots:
    void unchangedCellsKeepTheirItems();
    void outsideChangesAreWrittenOver_data();
    void outsideChangesAreWrittenOver();
    void editBackToAnEarlierText();
    void labelsChangedOutsideAreRestored();
    void aNewTableAtTheSamePlaceStartsAfresh();
    void aSortedTableStaysSorted();
    void changedCellsAreRepainted_data();
    void changedCellsAreRepainted();
};

static void write(QTableWidget *table, const QStringList &cells, const QStringList &labels = {})
{
    TableWriter writer(table);
    writer.setShape(cells.size(), 1);
    for (int row = 0; row < cells.size(); ++row)
        writer.setCell(row, cells.at(row));
    if (!labels.isEmpty())
        writer.setRowLabels(labels);
}

void tst_TableWriter::unchangedCellsKeepTheirItems()
{
    QTableWidget table;
    write(&table, {"a", "b", "c"});
    const QTableWidgetItem *first = table.item(0, 0);
    const QTableWidgetItem *second = table.item(1, 0);
    QSignalSpy changes(table.model(), &QAbstractItemModel::dataChanged);
    write(&table, {"a", "B", "c"});
    QCOMPARE(cellTexts(&table), (QStringList{"a", "B", "c"}));
    QCOMPARE(table.item(0, 0), first);
    QCOMPARE(table.item(1, 0), second);
    QCOMPARE(table.item(1, 0)->type(), int(QTableWidgetItem::Type));
    QCOMPARE(changes.count(), 0);
}

void tst_TableWriter::outsideChangesAreWrittenOver_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("edited by the user") << 0;
    QTest::newRow("item text set") << 1;
    QTest::newRow("item replaced") << 2;
    QTest::newRow("item taken away") << 3;
}

void tst_TableWriter::outsideChangesAreWrittenOver()
{
    QFETCH(int, how);
    QTableWidget table;
    write(&table, {"-748", "OK"});
    switch (how) {
    case 0:
        table.model()->setData(table.model()->index(0, 0), QStringLiteral("typed"));
        break;
    case 1:
        table.item(0, 0)->setText(QStringLiteral("typed"));
        break;
    case 2:
        table.setItem(0, 0, new QTableWidgetItem(QStringLiteral("typed")));
        break;
    default:
        delete table.takeItem(0, 0);
        break;
    }
    write(&table, {"-748", "OK"});
    QCOMPARE(cellTexts(&table), (QStringList{"-748", "OK"}));
}

void tst_TableWriter::editBackToAnEarlierText()
{
    // The cell changes quietly from "3" to "5"; an edit back to "3" must
    // still count as a change, both on screen and for the next write.
    QTableWidget table;
    write(&table, {"3"});
    write(&table, {"5"});
    QCOMPARE(table.item(0, 0)->text(), QStringLiteral("5"));
    QSignalSpy changes(table.model(), &QAbstractItemModel::dataChanged);
    table.model()->setData(table.model()->index(0, 0), QStringLiteral("3"));
    QVERIFY(changes.count() > 0);
    QCOMPARE(table.item(0, 0)->text(), QStringLiteral("3"));
    QCOMPARE(table.model()->data(table.model()->index(0, 0)).toString(), QStringLiteral("3"));
    write(&table, {"5"});
    QCOMPARE(table.item(0, 0)->text(), QStringLiteral("5"));
}

void tst_TableWriter::labelsChangedOutsideAreRestored()
{
    QTableWidget table;
    write(&table, {"1", "2"}, {"ID", "CRC"});
    table.setVerticalHeaderLabels({"x", "y"});
    write(&table, {"1", "2"}, {"ID", "CRC"});
    QCOMPARE(rowLabels(&table), (QStringList{"ID", "CRC"}));
    table.verticalHeaderItem(1)->setText(QStringLiteral("z"));
    write(&table, {"1", "2"}, {"ID", "CRC"});
    QCOMPARE(rowLabels(&table), (QStringList{"ID", "CRC"}));
}

void tst_TableWriter::aNewTableAtTheSamePlaceStartsAfresh()
{
    for (int round = 0; round < 20; ++round) {
        auto *table = new QTableWidget;
        write(table, {"same", "text"}, {"ID", "CRC"});
        QCOMPARE(cellTexts(table), (QStringList{"same", "text"}));
        QCOMPARE(rowLabels(table), (QStringList{"ID", "CRC"}));
        delete table;
    }
}

void tst_TableWriter::aSortedTableStaysSorted()
{
    QTableWidget table(3, 1);
    table.setSortingEnabled(true);
    table.sortByColumn(0, Qt::AscendingOrder);
    write(&table, {"b", "c", "d"});
    write(&table, {"b", "a", "d"});
    QCOMPARE(cellTexts(&table), (QStringList{"a", "b", "d"}));
}

// What the screen shows, as the window system has it, not a fresh rendering.
static QImage onScreen(QWidget *window)
{
    return QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage();
}

void tst_TableWriter::changedCellsAreRepainted_data()
{
    QTest::addColumn<bool>("grid");
    QTest::newRow("with grid lines") << true;
    QTest::newRow("without grid lines") << false;
}

void tst_TableWriter::changedCellsAreRepainted()
{
    QFETCH(bool, grid);
    QTableWidget quiet(6, 1);
    QTableWidget plain(6, 1);
    const QStringList before{"1", "2", "3", "4", "5", "6"};
    const QStringList after{"1", "-2353", "3", "SPEKTRUM (WRONG)", "0x5B", "6"};
    for (QTableWidget *table : {&quiet, &plain}) {
        table->setShowGrid(grid);
        table->resize(220, 260);
        table->show();
        QVERIFY(QTest::qWaitForWindowExposed(table));
    }
    write(&quiet, before);
    for (int row = 0; row < before.size(); ++row)
        plain.setItem(row, 0, new QTableWidgetItem(before.at(row)));
    QTest::qWait(50);
    QCOMPARE(onScreen(&quiet), onScreen(&plain));

    // Changed rows apart and side by side; the screen must follow each.
    write(&quiet, after);
    for (int row = 0; row < after.size(); ++row)
        plain.item(row, 0)->setText(after.at(row));
    QTest::qWait(50);
    QCOMPARE(onScreen(&quiet), onScreen(&plain));
}

QTEST_MAIN(tst_TableWriter)
#include "tst_tablewriter.moc"
