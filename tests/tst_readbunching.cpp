// SPDX-License-Identifier: GPL-3.0-or-later
// The bunching detector fed with the reads of a made-up line: a receiver's
// frames behind an adapter that holds them for its latency timer, and the
// same frames read as they come by a machine that wakes late now and then.
#include "decode/readbunching.h"

#include <QRandomGenerator>
#include <QtTest>

class tst_ReadBunching : public QObject
{
    Q_OBJECT

private slots:
    void judgesTheReads_data();
    void judgesTheReads();
    void tellsTheFirstFrameOfEachRead();
    void timesToAndFroCostLittle();
};

namespace {

// The reads of seconds of frames every periodMs (of which a share is lost
// at random), handed over at every tick of tickMs (0: each as it comes),
// each read taken up to lateMs late, and sometimes much later.
struct Line
{
    double periodMs, tickMs, lostShare, lateMs;
};

} // namespace

Q_DECLARE_METATYPE(Line)

namespace {

void feed(ReadBunching &detector, const Line &line, double seconds, quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<double> due;
    for (double t = 0; t < seconds * 1000; t += line.periodMs) {
        if (random.generateDouble() >= line.lostShare)
            due << t;
    }
    // When each frame is handed over: at the tick after it fell due.
    QVector<QPair<double, int>> reads; // ms, frames
    for (double t : due) {
        const double at = line.tickMs > 0 ? std::ceil(t / line.tickMs + 1e-9) * line.tickMs : t;
        if (!reads.isEmpty() && at == reads.last().first)
            ++reads.last().second;
        else
            reads << qMakePair(at, 1);
    }
    // The machine takes each read a little late, now and then 4 ms late,
    // and then reads whatever was handed over meanwhile too.
    QVector<QPair<double, int>> taken;
    for (const auto &handed : reads) {
        if (!taken.isEmpty() && handed.first <= taken.last().first) {
            taken.last().second += handed.second;
            continue;
        }
        taken << qMakePair(handed.first + random.generateDouble() * line.lateMs + (random.bounded(10) == 0 ? 4 : 0),
                           handed.second);
    }
    reads = taken;
    for (const auto &read : reads) {
        detector.addRead(read.first / 1000);
        for (int i = 0; i < read.second; ++i)
            detector.addFrame(read.first / 1000);
    }
}

} // namespace

void tst_ReadBunching::judgesTheReads_data()
{
    QTest::addColumn<Line>("line");
    QTest::addColumn<double>("periodMs"); // the reads' period when bunched; 0: not bunched
    // An FTDI adapter's default 16 ms timer, frames due every 9, 7, 22 and 4 ms.
    QTest::newRow("9 ms frames behind a 16 ms timer") << Line{9, 16, 0, 0.5} << 16.0;
    QTest::newRow("7 ms frames behind a 16 ms timer") << Line{7, 16, 0, 0.5} << 16.0;
    QTest::newRow("22 ms frames behind a 16 ms timer") << Line{22, 16, 0, 0.5} << 16.0;
    QTest::newRow("4 ms frames behind a 16 ms timer") << Line{4, 16, 0, 0.5} << 16.0;
    QTest::newRow("14 ms frames behind a 10 ms timer") << Line{14, 10, 0, 0.5} << 10.0;
    // Each frame as it comes, at 1000 to 45 frames/s.
    QTest::newRow("1 ms frames as they come") << Line{1, 0, 0, 0.5} << 0.0;
    QTest::newRow("2 ms frames as they come") << Line{2, 0, 0, 0.5} << 0.0;
    QTest::newRow("4 ms frames as they come") << Line{4, 0, 0, 0.5} << 0.0;
    QTest::newRow("10 ms frames as they come") << Line{10, 0, 0, 0.5} << 0.0;
    QTest::newRow("22 ms frames as they come") << Line{22, 0, 0, 0.5} << 0.0;
    // A reader that wakes up to 6 ms late gathers several frames a read, at no steady period.
    QTest::newRow("1 ms frames, reader up to 6 ms late") << Line{1, 0, 0, 6} << 0.0;
    QTest::newRow("3 ms frames, reader up to 6 ms late") << Line{3, 0, 0, 6} << 0.0;
    QTest::newRow("4 ms frames, reader up to 10 ms late") << Line{4, 0, 0, 10} << 0.0;
    QTest::newRow("9 ms frames, reader up to 12 ms late") << Line{9, 0, 0, 12} << 0.0;
    // A receiver that loses frames leaves gaps of whole periods, off any steady rate.
    QTest::newRow("16 ms frames, one in eight lost") << Line{16, 0, 0.125, 0.5} << 0.0;
    QTest::newRow("16 ms frames, one in five lost") << Line{16, 0, 0.2, 0.5} << 0.0;
    QTest::newRow("16 ms frames, one in three lost") << Line{16, 0, 0.33, 0.5} << 0.0;
}

void tst_ReadBunching::judgesTheReads()
{
    QFETCH(Line, line);
    QFETCH(double, periodMs);
    for (quint32 seed = 1; seed <= 20; ++seed) {
        ReadBunching detector;
        // Said within 2 s of bunched reads.
        feed(detector, line, 2.0, seed);
        QCOMPARE(detector.everBunched(), periodMs > 0);
        if (periodMs > 0)
            QVERIFY2(qAbs(detector.bunchedPeriodMs() - periodMs) < 0.5, qPrintable(QString::number(detector.bunchedPeriodMs())));
        // And never later in a longer run of unbunched ones.
        if (periodMs == 0) {
            ReadBunching longer;
            feed(longer, line, 20.0, seed);
            QVERIFY(!longer.everBunched());
        }
    }
}

void tst_ReadBunching::tellsTheFirstFrameOfEachRead()
{
    // Two reads of two frames each: the first of each is the read's own.
    ReadBunching detector;
    QVector<bool> firsts;
    for (double t : {0.010, 0.026}) {
        detector.addRead(t);
        firsts << detector.addFrame(t) << detector.addFrame(t);
    }
    QCOMPARE(firsts, QVector<bool>({true, false, true, false}));
}

// A file's records may bear any times: 200,000 reads that jump between two
// times keep the detector as quick as steady ones, and tell no bunching.
void tst_ReadBunching::timesToAndFroCostLittle()
{
    ReadBunching detector;
    QElapsedTimer took;
    took.start();
    for (int i = 0; i < 200000; ++i) {
        const double t = (i & 1) ? 1.0 : -0.5;
        detector.addRead(t);
        detector.addFrame(t);
    }
    QVERIFY(!detector.everBunched());
    QVERIFY2(took.elapsed() < 10000, qPrintable(QStringLiteral("%1 ms").arg(took.elapsed())));
}

QTEST_GUILESS_MAIN(tst_ReadBunching)
#include "tst_readbunching.moc"
