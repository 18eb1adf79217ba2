// SPDX-License-Identifier: GPL-3.0-or-later
// Frames that the serial driver cuts into reads of any size or merges, with
// noise around them: every whole frame shows once and in order, noise never.
#include "display/rawview.h"
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "window.h"

#include <QLabel>
#include <QRandomGenerator>
#include <QtTest>

using namespace packets;

class tst_Reassembly : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void framesAcrossReads_data();
    void framesAcrossReads();
    void randomBytesAddNoFrame();
    void failsafeFramesAreCountedNotShown();
    void spektrumFailsafeIsCountedAndShown_data();
    void spektrumFailsafeIsCountedAndShown();
    void partialFrameIsDroppedAfterAPause();

private:
    PseudoTerminal *pty = nullptr;
    LinkScope *window = nullptr;
};

// Frame i sets channels i to 12 to 20 + 16 i and leaves the ones before it
// (zero words), so the channels tell which frames arrived, and in which order.
static QByteArray frame(int i)
{
    QVector<quint16> words(12, 0);
    for (int k = i - 1; k < 12; ++k)
        words[k] = quint16(0x0AEC + 20 + 16 * i);
    return mpx(words);
}

static QStringList channelsAfter(const QVector<int> &goodFrames)
{
    QStringList texts;
    for (int channel = 1; channel <= 12; ++channel) {
        int latest = 0;
        for (int i : goodFrames)
            if (i <= channel)
                latest = i;
        texts << QString::number(20 + 16 * latest);
    }
    return texts;
}

void tst_Reassembly::init()
{
    pty = new PseudoTerminal;
    QVERIFY(pty->isValid());
    window = new LinkScope;
    window->show();
    QVERIFY(connectToPty(*window, *pty));
}

void tst_Reassembly::cleanup()
{
    delete window;
    delete pty;
}

void tst_Reassembly::framesAcrossReads_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QVector<int>>("reads"); // sizes, repeated; none: one read
    QTest::addColumn<int>("ok");
    QTest::addColumn<int>("bad");
    QTest::addColumn<QStringList>("channels"); // none: not checked
    QTest::addColumn<QByteArray>("last");

    const QByteArray f1 = frame(1), f2 = frame(2), f3 = frame(3);
    QTest::newRow("one frame in 2 reads") << f1 << QVector<int>{20, 7} << 1 << 0 << channelsAfter({1}) << f1;
    QTest::newRow("one frame in 3 reads") << f1 << QVector<int>{9} << 1 << 0 << channelsAfter({1}) << f1;
    QTest::newRow("one frame in 1-byte reads") << f1 << QVector<int>{1} << 1 << 0 << channelsAfter({1}) << f1;
    QTest::newRow("two frames in one read") << f1 + f2 << QVector<int>{} << 2 << 0 << channelsAfter({1, 2}) << f2;
    QTest::newRow("three frames in one read") << f1 + f2 + f3 << QVector<int>{} << 3 << 0
                                              << channelsAfter({1, 2, 3}) << f3;
    QTest::newRow("three frames in 8-byte reads") << f1 + f2 + f3 << QVector<int>{8} << 3 << 0
                                                  << channelsAfter({1, 2, 3}) << f3;
    // A8 01 FF announces a 515-byte HoTT frame that never comes.
    const QByteArray noise = fromHex("00 55 A1 13 A8 01 FF 42");
    QTest::newRow("frames in noise") << noise + f1 + noise + f2 + noise + f3 + noise << QVector<int>{8} << 3 << 0
                                     << channelsAfter({1, 2, 3}) << f3;
    QTest::newRow("damaged frame in a clean split stream") << f1 + corrupted(f2) + f3 << QVector<int>{8} << 2 << 1
                                                           << channelsAfter({1, 3}) << f3;
    QVector<quint16> ids;
    for (int id = 0; id < 7; ++id)
        ids << spektrumWord(id, 1024);
    const QByteArray hott16 = hott(QVector<quint16>(16, 12000));
    QTest::newRow("families that share 0xA2, in 3-byte reads")
        << spektrum(ids, 0, 0xA2) + mpxV2(QVector<quint16>(16, 0x0AED)) + spektrum(ids, 0, 0xA2) + hott16
        << QVector<int>{3} << 4 << 0 << QStringList() << hott16;
}

void tst_Reassembly::framesAcrossReads()
{
    QFETCH(QByteArray, stream);
    QFETCH(QVector<int>, reads);
    QFETCH(int, ok);
    QFETCH(int, bad);
    QFETCH(QStringList, channels);
    QFETCH(QByteArray, last);

    for (int at = 0, i = 0; at < stream.size(); ++i) {
        const int size = reads.isEmpty() ? stream.size() : reads.at(i % reads.size());
        QVERIFY(deliver(*window, *pty, stream.mid(at, size)));
        at += size;
    }

    const LinkHealth &health = LinkScopeProbe::health(*window);
    QCOMPARE(health.framesOk(), ok);
    QCOMPARE(health.framesFalse(), bad);
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(*window);
    if (!channels.isEmpty())
        QCOMPARE(cellTexts(ui.twSrxlInput).mid(1, 12), channels);
    // The last frame was listed last.
    QStringList lastListed;
    for (char c : last)
        lastListed << hexByteText(quint8(c));
    QCOMPARE(cellTexts(ui.twDataInput), lastListed);
}

void tst_Reassembly::randomBytesAddNoFrame()
{
    QRandomGenerator random(2024);
    int sent = 0;
    while (sent < 10000) {
        QByteArray read(qMin(1 + int(random.bounded(64)), 10000 - sent), '\0');
        for (char &c : read)
            c = char(random.bounded(256));
        QVERIFY(deliver(*window, *pty, read));
        sent += read.size();
    }
    const LinkHealth &health = LinkScopeProbe::health(*window);
    QCOMPARE(health.framesOk() + health.framesFalse() + health.failsafeFrames(), 0);
    QTRY_COMPARE(LinkScopeProbe::assembler(*window).strayBytes(), 10000);
}

void tst_Reassembly::failsafeFramesAreCountedNotShown()
{
    const QByteArray failsafe = withCrc(fromHex("A8 81 02 2E E0 22 60"));
    QVERIFY(deliver(*window, *pty, failsafe.left(4)));
    QVERIFY(deliver(*window, *pty, failsafe.mid(4)));
    QVERIFY(deliver(*window, *pty, failsafe));

    QCOMPARE(LinkScopeProbe::health(*window).failsafeFrames(), 2);
    QCOMPARE(LinkScopeProbe::health(*window).framesOk(), 0);
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(*window);
    QCOMPARE(ui.twDataInput->rowCount(), 0);
    QCOMPARE(ui.twSrxlInput->rowCount(), 0);
    QTRY_VERIFY(LinkScopeProbe::healthLabel(*window)->text().startsWith("RECEIVER IN FAILSAFE"));
    QVERIFY(LinkScopeProbe::healthLabel(*window)->text().endsWith("failsafe 2"));
}

void tst_Reassembly::spektrumFailsafeIsCountedAndShown_data()
{
    // One read each: two frames in it take the way of frames found in a
    // stream, as split ones do, without a pause that could settle them.
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("ok");
    QTest::addColumn<int>("bad");
    QTest::addColumn<int>("failsafe");
    QTest::addColumn<bool>("alert");
    QTest::addColumn<QByteArray>("last"); // the frame listed last

    QVector<quint16> ids;
    for (int id = 0; id < 7; ++id)
        ids << spektrumWord(id, 1024);
    // Bit 1 of the mode byte clear is failsafe.
    const QByteArray failsafe = spektrum(ids, 0x00), live = spektrum(ids, 0x02);
    const QByteArray wrongType = spektrum(ids, 0x00, 0xA2);
    const QByteArray hottFailsafe = withCrc(fromHex("A8 81 02 2E E0 22 60"));
    QTest::newRow("failsafe frame") << failsafe << 1 << 0 << 1 << true << failsafe;
    QTest::newRow("live frame") << live << 1 << 0 << 0 << false << live;
    QTest::newRow("two 0xA2 failsafe frames") << wrongType + wrongType << 2 << 0 << 2 << true << wrongType;
    QTest::newRow("failsafe, then live") << failsafe + live << 2 << 0 << 1 << false << live;
    QTest::newRow("HoTT failsafe, then Spektrum failsafe") << hottFailsafe + failsafe << 1 << 0 << 2
                                                           << true << failsafe;
    QTest::newRow("failsafe with a bad CRC") << corrupted(wrongType) << 0 << 1 << 0 << false
                                             << corrupted(wrongType);
}

// As linkscope-dump counts them: Spektrum frames whose mode byte says
// failsafe are shown as before, and counted and announced as failsafe.
void tst_Reassembly::spektrumFailsafeIsCountedAndShown()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, ok);
    QFETCH(int, bad);
    QFETCH(int, failsafe);
    QFETCH(bool, alert);
    QFETCH(QByteArray, last);

    QVERIFY(deliver(*window, *pty, stream));

    const LinkHealth &health = LinkScopeProbe::health(*window);
    QCOMPARE(health.framesOk(), ok);
    QCOMPARE(health.framesFalse(), bad);
    QCOMPARE(health.failsafeFrames(), failsafe);
    QStringList lastListed;
    for (char c : last)
        lastListed << hexByteText(quint8(c));
    QCOMPARE(cellTexts(LinkScopeProbe::ui(*window).twDataInput), lastListed);
    QLabel *line = LinkScopeProbe::healthLabel(*window);
    const QString end = failsafe > 0 ? QStringLiteral(" · failsafe %1").arg(failsafe) : QStringLiteral(" B");
    QTRY_VERIFY2(line->text().contains(QStringLiteral("OK %1 · FALSE %2 · ").arg(ok).arg(bad))
                     && line->text().endsWith(end),
                 qPrintable(line->text()));
    QCOMPARE(line->text().startsWith(QStringLiteral("RECEIVER IN FAILSAFE · ")), alert);
}

void tst_Reassembly::partialFrameIsDroppedAfterAPause()
{
    const QByteArray packet = frame(1);
    QVERIFY(deliver(*window, *pty, packet.left(10)));
    QTRY_COMPARE(LinkScopeProbe::assembler(*window).strayBytes(), 10);
    QCOMPARE(LinkScopeProbe::assembler(*window).keptBytes(), 0);

    QVERIFY(deliver(*window, *pty, packet.mid(10)));
    QCOMPARE(LinkScopeProbe::health(*window).framesOk(), 0);
    QCOMPARE(LinkScopeProbe::ui(*window).twDataInput->rowCount(), 0);
}

QTEST_MAIN(tst_Reassembly)
#include "tst_reassembly.moc"
