// SPDX-License-Identifier: GPL-3.0-or-later
// A line kept busy over a real pseudo-terminal: the window reads it in far
// fewer reads than frames, loses none, and reads a quiet line at once again.
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "window.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QtTest>

#include <algorithm>
#include <thread>

using namespace packets;

static constexpr int frames = 900;

class tst_ReadPacing : public QObject
{
    Q_OBJECT

private slots:
    void busyLine_data();
    void busyLine();
};

// Whether the port watches its device for bytes, as it does when opened.
static bool watching(const QSerialPort *port)
{
    const auto notifiers = port->findChildren<QSocketNotifier *>();
    return std::any_of(notifiers.cbegin(), notifiers.cend(), [port](const QSocketNotifier *notifier) {
        return notifier->type() == QSocketNotifier::Read && notifier->socket() == port->handle()
            && notifier->isEnabled();
    });
}

void tst_ReadPacing::busyLine_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("busyMs");
    QTest::addColumn<int>("mostReads"); // over the last two thirds

    QVector<quint16> words;
    for (int k = 0; k < 7; ++k)
        words << spektrumWord(k, 300 + 100 * k);
    const QByteArray hott16 = hott(QVector<quint16>(16, 12000));
    QTest::newRow("Spektrum, whole frames") << spektrum(words) << 0 << 115200 << 0 << frames / 5;
    QTest::newRow("HoTT, 8-byte pieces") << hott16 << 8 << 115200 << 0 << frames / 5;
    // A fast line, paused for less time.
    QTest::newRow("Spektrum at 921600 baud") << spektrum(words) << 0 << 921600 << 0 << frames / 5;
    // A read that begins with 0xA3 is one packet, whatever its length; bytes
    // gathered over a pause are not one read the device made.
    QTest::newRow("NORDAX, whole frames") << nordax(0, QVector<quint16>(12, 2432)) << 0 << 115200 << 0 << frames / 5;
    // Each read takes longer to handle than reads on a busy line are apart:
    // the bytes that came meanwhile show the line is busy, and a pause
    // follows each read. (Read as they come: one read per 12 ms or so.)
    const int streamMs = frames * 2 / 3 * int(hott16.size()) * 10'000 / 115200;
    QTest::newRow("HoTT, slow reader") << hott16 << 8 << 115200 << 12 << streamMs / 20;
    // Slower than a partial frame may wait for the rest of its bytes: what
    // waited unread all the while was no pause on the line.
    QTest::newRow("HoTT, reader slower than the line") << hott16 << 8 << 115200 << 60 << streamMs / 20;
}

void tst_ReadPacing::busyLine()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, pieceSize);
    QFETCH(int, baud);
    QFETCH(int, busyMs);
    QFETCH(int, mostReads);

    PseudoTerminal pty;
    LinkScope window;
    window.show();
    QSerialPort *port = LinkScopeProbe::port(window);
    // Connected first, so that the window reads after this work.
    connect(port, &QSerialPort::readyRead, &window, [busyMs] {
        QElapsedTimer work;
        work.start();
        while (work.elapsed() < busyMs) {
        }
    });
    QVERIFY(connectToPty(window, pty));
    QSignalSpy reads(port, &QSerialPort::readyRead);

    // Back to back, ten bits a byte.
    std::thread device([&] {
        QElapsedTimer clock;
        clock.start();
        const QByteArray stream = frame.repeated(frames);
        const int step = pieceSize > 0 ? pieceSize : int(frame.size());
        for (int sent = 0; sent < stream.size(); sent += step) {
            std::this_thread::sleep_for(std::chrono::microseconds(qint64(sent) * 10'000'000 / baud)
                                        - std::chrono::nanoseconds(clock.nsecsElapsed()));
            pty.write(stream.mid(sent, step));
        }
    });
    const auto joined = qScopeGuard([&] { device.join(); });
    // The first frames meet a window that measures and draws every text
    // for the first time, which gathers reads by itself.
    QTRY_VERIFY_WITH_TIMEOUT(LinkScopeProbe::health(window).framesOk() >= frames / 3, 30000);
    reads.clear();
    QTRY_COMPARE_WITH_TIMEOUT(LinkScopeProbe::health(window).framesOk(), qint64(frames), 30000);
    QCOMPARE(LinkScopeProbe::health(window).framesFalse(), qint64(0));
    QVERIFY2(reads.count() < mostReads, qPrintable(QStringLiteral("%1 reads").arg(reads.count())));

    // Once the line is quiet, its next byte wakes the reader again, and a
    // read is one packet again: two NORDAX frames sent as one are listed
    // whole before each frame shows.
    QTRY_VERIFY(watching(port));
    const QByteArray pair = nordax(0, QVector<quint16>(12, 2432)).repeated(2);
    QTableWidget *raw = LinkScopeProbe::ui(window).twDataInput;
    int mostRows = 0;
    connect(raw->model(), &QAbstractItemModel::rowsInserted, raw,
            [&](const QModelIndex &, int, int last) { mostRows = qMax(mostRows, last + 1); });
    QVERIFY(pty.write(pair));
    QTRY_COMPARE(mostRows, int(pair.size()));
}

QTEST_MAIN(tst_ReadPacing)
#include "tst_readpacing.moc"
