// SPDX-License-Identifier: GPL-3.0-or-later
// The window fits its tables with a memory of what texts measure. Whatever
// arrives, the result must be the one the table's own resize calls give.
#include "display/rawview.h"
#include "display/tablefit.h"
#include "linkscopeprobe.h"
#include "packets.h"
#include "streams.h"

#include <QHeaderView>
#include <QtTest>

class tst_FitEquivalence : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sameAsPlainFit_data();
    void sameAsPlainFit();

private:
    void feed(const QByteArray &chunk);
    QString difference(QTableWidget *ours, QTableWidget *plain) const;

    LinkScope *window = nullptr;
    LinkScope *twin = nullptr;
};

void tst_FitEquivalence::initTestCase()
{
    window = new LinkScope;
    twin = new LinkScope;
    window->show();
    twin->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(QTest::qWaitForWindowExposed(twin));
}

void tst_FitEquivalence::cleanupTestCase()
{
    delete window;
    delete twin;
}

void tst_FitEquivalence::feed(const QByteArray &chunk)
{
    window->processChunk(chunk);
    // The twin takes the same steps with the table's own resize calls.
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(*twin);
    if (twin->decodePacket(chunk)) {
        twin->showRawPacket(chunk);
        fitTableToContentsPlain(ui.twDataInput);
        fitTableToContentsPlain(ui.twSrxlInput);
    }
}

QString tst_FitEquivalence::difference(QTableWidget *ours, QTableWidget *plain) const
{
    if (ours->rowCount() != plain->rowCount() || ours->columnCount() != plain->columnCount())
        return QStringLiteral("shape");
    if (cellTexts(ours) != cellTexts(plain) || rowLabels(ours) != rowLabels(plain))
        return QStringLiteral("texts");
    for (int c = 0; c < ours->columnCount(); ++c)
        if (ours->columnWidth(c) != plain->columnWidth(c))
            return QStringLiteral("column %1: %2 vs %3").arg(c).arg(ours->columnWidth(c)).arg(plain->columnWidth(c));
    for (int r = 0; r < ours->rowCount(); ++r)
        if (ours->rowHeight(r) != plain->rowHeight(r))
            return QStringLiteral("row %1: %2 vs %3").arg(r).arg(ours->rowHeight(r)).arg(plain->rowHeight(r));
    if (ours->verticalHeader()->width() != plain->verticalHeader()->width())
        return QStringLiteral("row header width");
    if (ours->horizontalHeader()->height() != plain->horizontalHeader()->height())
        return QStringLiteral("column header height");
    if (ours->geometry() != plain->geometry())
        return QStringLiteral("geometry %1x%2 vs %3x%4").arg(ours->width()).arg(ours->height())
            .arg(plain->width()).arg(plain->height());
    return QString();
}

void tst_FitEquivalence::sameAsPlainFit_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("eventsBetween");
    QTest::newRow("events after every chunk") << 1u << 1500 << true;
    QTest::newRow("chunks back to back") << 2u << 1500 << false;
    QTest::newRow("another stream") << 3u << 1500 << true;
}

void tst_FitEquivalence::sameAsPlainFit()
{
    QFETCH(quint32, seed);
    QFETCH(int, chunks);
    QFETCH(bool, eventsBetween);
    Ui::LinkScopeClass &ours = LinkScopeProbe::ui(*window);
    Ui::LinkScopeClass &plain = LinkScopeProbe::ui(*twin);
    MixedStream stream(seed);
    for (int i = 0; i < chunks; ++i) {
        if (i == chunks / 2) {
            // A new font half-way: every remembered measure is void.
            QFont font = ours.twSrxlInput->font();
            font.setPointSize(font.pointSize() + 3 * int(seed));
            for (QTableWidget *table : {ours.twSrxlInput, plain.twSrxlInput, ours.twDataInput, plain.twDataInput})
                table->setFont(font);
        }
        const QByteArray chunk = (i == chunks / 3) ? QByteArray(1, char(0xA3)) + QByteArray(1200, '\x11')
                                                   : stream.next();
        feed(chunk);
        if (eventsBetween || i % 50 == 0)
            QCoreApplication::processEvents();
        const QString raw = difference(ours.twDataInput, plain.twDataInput);
        QVERIFY2(raw.isEmpty(), qPrintable(QStringLiteral("raw table, chunk %1: %2").arg(i).arg(raw)));
        const QString decoded = difference(ours.twSrxlInput, plain.twSrxlInput);
        QVERIFY2(decoded.isEmpty(), qPrintable(QStringLiteral("decoded table, chunk %1: %2").arg(i).arg(decoded)));
    }
}

QTEST_MAIN(tst_FitEquivalence)
#include "tst_fitequivalence.moc"
