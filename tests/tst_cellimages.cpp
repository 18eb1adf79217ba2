// SPDX-License-Identifier: GPL-3.0-or-later
// Cells drawn from remembered images look exactly as the stock delegate
// draws them, whatever the table, its cells and its palette.
#include "display/cellimages.h"

#include <QHeaderView>
#include <QScreen>
#include <QTableWidget>
#include <QtTest>

class tst_CellImages : public QObject
{
    Q_OBJECT

private slots:
    void drawsAsTheStockDelegate_data();
    void drawsAsTheStockDelegate();
};

// What the screen shows of a table; where the platform keeps no screen, a
// fresh drawing of it.
static QImage drawn(QTableWidget &table)
{
    QCoreApplication::processEvents();
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(table.winId()).toImage();
    const QImage image = screen.isNull() ? table.grab().toImage() : screen;
    return image.convertToFormat(QImage::Format_RGB32);
}

void tst_CellImages::drawsAsTheStockDelegate_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("plain cells") << "";
    QTest::newRow("texts elided in a narrow column") << "narrow";
    QTest::newRow("no grid") << "grid";
    QTest::newRow("a selected cell") << "select";
    QTest::newRow("alternating rows") << "alternate";
    QTest::newRow("a cell with its own brush") << "brush";
    QTest::newRow("base colour changed") << "palette";
    QTest::newRow("texts swapped between cells") << "swap";
    QTest::newRow("font changed") << "font";
}

void tst_CellImages::drawsAsTheStockDelegate()
{
    QFETCH(QString, change);
    const QStringList texts{"-1150", "0x5B", "OK", "FALSE", "1024", "", "HOTT", "-32768"};
    QTableWidget stock(texts.size(), 1), remembering(texts.size(), 1);
    remembering.setItemDelegate(new CellImageDelegate(&remembering));
    for (QTableWidget *table : {&stock, &remembering}) {
        for (int row = 0; row < texts.size(); ++row)
            table->setItem(row, 0, new QTableWidgetItem(texts.at(row)));
        table->resizeColumnsToContents();
        table->resize(200, 320);
        table->show();
        QVERIFY(QTest::qWaitForWindowExposed(table));
    }
    // Both draw once before the change, so the images are already there.
    QCOMPARE(drawn(remembering), drawn(stock));

    for (QTableWidget *table : {&stock, &remembering}) {
        if (change == "narrow")
            table->setColumnWidth(0, 30);
        else if (change == "grid")
            table->setShowGrid(false);
        else if (change == "select")
            table->setCurrentCell(2, 0);
        else if (change == "alternate")
            table->setAlternatingRowColors(true);
        else if (change == "brush")
            table->item(4, 0)->setBackground(Qt::yellow);
        else if (change == "palette") {
            QPalette palette = table->palette();
            palette.setColor(QPalette::Base, QColor(250, 240, 200));
            table->setPalette(palette);
        }
        else if (change == "swap") {
            table->item(0, 0)->setText(texts.at(4));
            table->item(4, 0)->setText(texts.at(0));
        } else if (change == "font") {
            table->setFont(QFont(table->font().family(), table->font().pointSize() + 3, QFont::Bold));
        }
        table->viewport()->update();
    }
    QCOMPARE(drawn(remembering), drawn(stock));
}

QTEST_MAIN(tst_CellImages)
#include "tst_cellimages.moc"
