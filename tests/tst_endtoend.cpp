// SPDX-License-Identifier: GPL-3.0-or-later
// The program driven as a person would: the window, its button, a real serial
// port, and a pseudo-terminal playing the receiver.
#include "display/decodedview/decoderstate.h"
#include "display/rawview.h"
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "window.h"

#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QtTest>

using namespace packets;

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void everyFamilyShows_data();
    void everyFamilyShows();
    void splitPacketIsDecodedOnce();
    void mergedPacketsAreAllDecoded();
    void unrecognisedChunkLeavesBothTables();
    void shortRecognisedChunkRefitsWithoutListing();
    void fitMatchesLaidOutHeaders_data();
    void fitMatchesLaidOutHeaders();

private:
    bool send(const QByteArray &bytes);

    PseudoTerminal *pty = nullptr;
    LinkScope *window = nullptr;
    QTableWidget *raw = nullptr;
    QTableWidget *decoded = nullptr;
};

// Both tables, each with its geometry.
using Shown = QPair<TableSnapshot, TableSnapshot>;

static Shown shown(QTableWidget *raw, QTableWidget *decoded)
{
    return {snapshot(raw), snapshot(decoded)};
}

void tst_EndToEnd::init()
{
    pty = new PseudoTerminal;
    QVERIFY(pty->isValid());
    window = new LinkScope;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(*window);
    raw = ui.twDataInput;
    decoded = ui.twSrxlInput;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(connectToPty(*window, *pty));
}

void tst_EndToEnd::cleanup()
{
    delete window;
    delete pty;
}

bool tst_EndToEnd::send(const QByteArray &bytes)
{
    return deliver(*window, *pty, bytes);
}

void tst_EndToEnd::everyFamilyShows_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QStringList>("decodedStart");
    QTest::addColumn<int>("decodedRows");

    QTest::newRow("MPX") << mpx(QVector<quint16>(12, 0x0800)) << QStringList{"MPX", "-748"} << 14;
    QTest::newRow("MPX_V2") << mpxV2(QVector<quint16>(16, 0x0AED)) << QStringList{"MPX_V2", "1"} << 18;
    QTest::newRow("NORDAX") << nordax(200, QVector<quint16>(12, 0x0BB8)) << QStringList{"NORDAX", "1", "200", "1409"} << 16;
    QTest::newRow("HOTT") << hott(QVector<quint16>(8, 15200)) << QStringList{"HOTT", "1", "8", "1568"} << 12;
    QVector<quint16> words;
    for (int id = 0; id < 7; ++id)
        words << spektrumWord(id, 2047);
    QTest::newRow("SPEKTRUM") << spektrum(words, 162) << QStringList{"SPEKTRUM", "162", "2353"} << 23;
}

void tst_EndToEnd::everyFamilyShows()
{
    QFETCH(QByteArray, packet);
    QFETCH(QStringList, decodedStart);
    QFETCH(int, decodedRows);
    QVERIFY(send(packet));

    QCOMPARE(raw->rowCount(), packet.size());
    for (int i = 0; i < packet.size(); ++i)
        QCOMPARE(raw->item(i, 0)->text(), hexByteText(quint8(packet.at(i))));
    QCOMPARE(decoded->rowCount(), decodedRows);
    QCOMPARE(cellTexts(decoded).mid(0, decodedStart.size()), decodedStart);
    QCOMPARE(decoded->item(decodedRows - 1, 0)->text(), QStringLiteral("OK"));

    // Both tables were fitted: every row shows.
    int height = decoded->horizontalHeader()->height() + 2;
    for (int r = 0; r < decoded->rowCount(); ++r)
        height += decoded->rowHeight(r);
    QCOMPARE(decoded->height(), height);
    height = raw->horizontalHeader()->height() + 2;
    for (int r = 0; r < raw->rowCount(); ++r)
        height += raw->rowHeight(r);
    QCOMPARE(raw->height(), height);
}

void tst_EndToEnd::splitPacketIsDecodedOnce()
{
    const QByteArray packet = mpx(QVector<quint16>(12, 0x0800));
    QVERIFY(send(packet.left(20)));
    QCOMPARE(raw->rowCount(), 0);
    QVERIFY(send(packet.mid(20)));
    QCOMPARE(raw->rowCount(), packet.size());
    QCOMPARE(cellTexts(decoded).mid(0, 2), (QStringList{"MPX", "-748"}));
    QCOMPARE(LinkScopeProbe::health(*window).framesOk(), 1);
}

void tst_EndToEnd::mergedPacketsAreAllDecoded()
{
    QVERIFY(send(nordax(1, QVector<quint16>(12, 0x0BB8))));
    const QByteArray packet = mpx(QVector<quint16>(12, 0x0800));
    QVERIFY(send(packet + packet));
    QCOMPARE(lastPacketType, quint8(0xA1));
    QCOMPARE(raw->rowCount(), packet.size());
    QCOMPARE(cellTexts(decoded).mid(0, 2), (QStringList{"MPX", "-748"}));
    QCOMPARE(LinkScopeProbe::health(*window).framesOk(), 3);
}

void tst_EndToEnd::unrecognisedChunkLeavesBothTables()
{
    QVERIFY(send(hott(QVector<quint16>(3, 9999))));
    const Shown before = shown(raw, decoded);
    QVERIFY(send(QByteArray("\x55 this is no packet at all", 26)));
    QVERIFY(shown(raw, decoded) == before);
    QVERIFY(send(fromHex("A8 01 02 2E E0 22 60 6E")));
    QVERIFY(shown(raw, decoded) == before);
}

void tst_EndToEnd::shortRecognisedChunkRefitsWithoutListing()
{
    // The headers settle once the event loop has run, so the second fit of
    // the same packet is the one to compare with.
    QVERIFY(send(mpx(QVector<quint16>(12, 0x0800))));
    QVERIFY(send(mpx(QVector<quint16>(12, 0x0800))));
    const Shown fitted = shown(raw, decoded);
    raw->setGeometry(raw->x(), raw->y(), 60, 60);
    decoded->setGeometry(decoded->x(), decoded->y(), 70, 70);

    QVERIFY(send(fromHex("A3 01 02 03 04")));
    QVERIFY(shown(raw, decoded) == fitted);
}

void tst_EndToEnd::fitMatchesLaidOutHeaders_data()
{
    QTest::addColumn<QVector<QByteArray>>("stream");
    QVector<quint16> ids;
    for (int id = 0; id < 7; ++id)
        ids << spektrumWord(id, 2047);
    const QByteArray spektrumFrame = spektrum(ids);
    const QByteArray hottFrame = hott(QVector<quint16>(8, 15200));
    QTest::newRow("first MPX packet") << QVector<QByteArray>{mpx(QVector<quint16>(12, 0x0800))};
    QTest::newRow("HOTT after SPEKTRUM") << QVector<QByteArray>{spektrumFrame, hottFrame};
    QTest::newRow("SPEKTRUM after HOTT") << QVector<QByteArray>{hottFrame, spektrumFrame};
}

// Once the event loop has laid the headers out for the new labels, every
// cell shows: the table is its headers plus 2 plus its sections.
void tst_EndToEnd::fitMatchesLaidOutHeaders()
{
    QFETCH(QVector<QByteArray>, stream);
    for (const QByteArray &packet : stream)
        QVERIFY(send(packet));
    QTest::qWait(0);
    for (QTableWidget *table : {raw, decoded}) {
        int width = table->verticalHeader()->width() + 2 + table->columnWidth(0);
        int height = table->horizontalHeader()->height() + 2;
        for (int r = 0; r < table->rowCount(); ++r)
            height += table->rowHeight(r);
        // The form caps the width of both tables.
        QCOMPARE(table->size(), QSize(qMin(width, table->maximumWidth()), height));
    }
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
