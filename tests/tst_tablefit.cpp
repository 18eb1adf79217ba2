// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/tablefit.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QtTest>

class tst_TableFit : public QObject
{
    Q_OBJECT

private slots:
    void fitsToContents_data();
    void fitsToContents();
    void followsNewRowLabels_data();
    void followsNewRowLabels();
};

void tst_TableFit::fitsToContents_data()
{
    QTest::addColumn<bool>("remembering");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("longText");
    for (bool remembering : {false, true}) {
        const char *how = remembering ? "fitter" : "plain";
        QTest::addRow("%s, no rows", how) << remembering << 0 << 1 << "";
        QTest::addRow("%s, no columns", how) << remembering << 5 << 0 << "";
        QTest::addRow("%s, short texts", how) << remembering << 4 << 1 << "";
        QTest::addRow("%s, one long text", how) << remembering << 23 << 1 << "SPEKTRUM (WRONG) and then some";
        QTest::addRow("%s, two columns", how) << remembering << 6 << 2 << "a wide cell in a wide column";
    }
}

void tst_TableFit::fitsToContents()
{
    QFETCH(bool, remembering);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(QString, longText);

    QWidget parent;
    parent.resize(800, 900);
    QTableWidget table(&parent);
    table.setRowCount(rows);
    table.setColumnCount(columns);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            table.setItem(r, c, new QTableWidgetItem(QString::number(r * 1000 - 999)));
    if (rows > 2 && columns > 0)
        table.item(2, columns - 1)->setText(longText);
    table.setGeometry(17, 23, 50, 40);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    TableFitter fitter;
    if (remembering)
        fitter.fit(&table);
    else
        fitTableToContentsPlain(&table);

    int width = table.verticalHeader()->width() + 2;
    for (int c = 0; c < columns; ++c) {
        const int contents = qMax(static_cast<QAbstractItemView &>(table).sizeHintForColumn(c), table.horizontalHeader()->sectionSizeHint(c));
        QCOMPARE(table.columnWidth(c), qMax(contents, table.horizontalHeader()->minimumSectionSize()));
        width += table.columnWidth(c);
    }
    int height = table.horizontalHeader()->height() + 2;
    for (int r = 0; r < rows; ++r) {
        const int contents = qMax(static_cast<QAbstractItemView &>(table).sizeHintForRow(r), table.verticalHeader()->sectionSizeHint(r));
        QCOMPARE(table.rowHeight(r), qMax(contents, table.verticalHeader()->minimumSectionSize()));
        height += table.rowHeight(r);
    }
    QCOMPARE(table.geometry(), QRect(17, 23, width, height));
    if (longText.size() > 0)
        QVERIFY(table.columnWidth(columns - 1) > table.fontMetrics().horizontalAdvance(longText));
}

void tst_TableFit::followsNewRowLabels_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("labels replaced") << "replace";
    QTest::newRow("one label's text changed") << "text";
    QTest::newRow("rows added") << "rows";
}

// Row labels are measured again after each change of them, and give what
// the table's own resize gives.
void tst_TableFit::followsNewRowLabels()
{
    QFETCH(QString, change);
    QWidget parent;
    parent.resize(800, 900);
    QTableWidget table(3, 1, &parent);
    for (int row = 0; row < 3; ++row)
        table.setItem(row, 0, new QTableWidgetItem(QString::number(row)));
    table.setVerticalHeaderLabels({"ID", "A", "B"});
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    TableFitter fitter;
    fitter.fit(&table);

    const QString longLabel = QStringLiteral("a much longer label");
    if (change == "replace")
        table.setVerticalHeaderLabels({"Version", longLabel, "CRC"});
    else if (change == "text")
        table.verticalHeaderItem(1)->setText(longLabel);
    else
        table.setRowCount(120);
    fitter.fit(&table);
    const QRect fitted = table.geometry();
    fitTableToContentsPlain(&table);
    QCOMPARE(fitted, table.geometry());
}

QTEST_MAIN(tst_TableFit)
#include "tst_tablefit.moc"
