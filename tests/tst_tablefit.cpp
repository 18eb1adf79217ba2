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
    void followsNewNumbers_data();
    void followsNewNumbers();
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

void tst_TableFit::followsNewNumbers_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("a longer number") << QStringList{"7", "-12"} << QStringList{"7", "123456"};
    QTest::newRow("a sign for a digit") << QStringList{"1234", "5"} << QStringList{"-123", "5"};
    QTest::newRow("a shorter number") << QStringList{"-98765", "0"} << QStringList{"98", "0"};
    QTest::newRow("a letter for a digit") << QStringList{"1111", "22222"} << QStringList{"1111", "2222W"};
}

// Numbers of one length and sign may share a measure; the column still
// follows the widest value, in the table's own font.
void tst_TableFit::followsNewNumbers()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QWidget parent;
    parent.resize(800, 900);
    QTableWidget table(before.size(), 1, &parent);
    QFont font = table.font();
    font.setPointSize(font.pointSize() * 3);
    table.setFont(font);
    table.horizontalHeader()->setFont(parent.font());
    for (int row = 0; row < before.size(); ++row)
        table.setItem(row, 0, new QTableWidgetItem(before[row]));
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    TableFitter fitter;
    fitter.fit(&table);

    for (int row = 0; row < after.size(); ++row)
        table.item(row, 0)->setText(after[row]);
    fitter.fit(&table);
    const int fitted = table.columnWidth(0);
    fitTableToContentsPlain(&table);
    QCOMPARE(fitted, table.columnWidth(0));
}

QTEST_MAIN(tst_TableFit)
#include "tst_tablefit.moc"
