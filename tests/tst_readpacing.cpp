// SPDX-License-Identifier: GPL-3.0-or-later
// A line kept busy over a real pseudo-terminal: the window reads it in far
// fewer reads than frames, loses none, and reads a quiet line at once again.
#include "linkscopeprobe.h"
#include "packets.h"
#include "pty.h"
#include "window.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/ioctl.h>
#include <termios.h>

#include <thread>

using namespace packets;

class tst_ReadPacing : public QObject
{
    Q_OBJECT

private slots:
    void busyLine_data();
    void busyLine();
};

static qint64 unreadBytes(const PseudoTerminal &pty)
{
    int waiting = 0;
    return ioctl(pty.slaveFd(), FIONREAD, &waiting) == 0 ? waiting : -1;
}

static int vmin(const PseudoTerminal &pty)
{
    termios settings;
    return tcgetattr(pty.slaveFd(), &settings) == 0 ? settings.c_cc[VMIN] : -1;
}

void tst_ReadPacing::busyLine_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<bool>("batched");

    QVector<quint16> words;
    for (int k = 0; k < 7; ++k)
        words << spektrumWord(k, 300 + 100 * k);
    QTest::newRow("Spektrum, whole frames") << spektrum(words) << 0 << true;
    QTest::newRow("HoTT, 8-byte pieces") << hott(QVector<quint16>(16, 12000)) << 8 << true;
    // Reads that begin with 0xA3 are listed whole, so such a line is read
    // as it comes; it must still lose nothing.
    QTest::newRow("NORDAX, whole frames") << nordax(0, QVector<quint16>(12, 2432)) << 0 << false;
}

void tst_ReadPacing::busyLine()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, pieceSize);
    QFETCH(bool, batched);
    const int frames = 900;

    PseudoTerminal pty;
    LinkScope window;
    window.show();
    QVERIFY(connectToPty(window, pty));
    const int restingMin = vmin(pty);
    QSignalSpy reads(LinkScopeProbe::port(window), &QSerialPort::readyRead);

    // Back to back at 115200 baud, ten bits a byte.
    std::thread device([&] {
        QElapsedTimer clock;
        clock.start();
        qint64 sentBytes = 0;
        for (int n = 0; n < frames; ++n) {
            const int step = pieceSize > 0 ? pieceSize : int(frame.size());
            for (int at = 0; at < frame.size(); at += step) {
                sentBytes += qMin(step, int(frame.size()) - at);
                const qint64 waitUs = sentBytes * 10'000'000 / 115200 - clock.nsecsElapsed() / 1000;
                if (waitUs > 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
                pty.write(frame.mid(at, step));
            }
        }
    });
    // The first frames meet a window that measures and draws every text
    // for the first time, which gathers reads by itself.
    QTRY_VERIFY_WITH_TIMEOUT(LinkScopeProbe::health(window).framesOk() >= frames / 3, 30000);
    reads.clear();
    QTRY_COMPARE_WITH_TIMEOUT(LinkScopeProbe::health(window).framesOk(), qint64(frames), 30000);
    device.join();
    QCOMPARE(LinkScopeProbe::health(window).framesFalse(), qint64(0));
    if (batched)
        QVERIFY2(reads.count() < frames / 5, qPrintable(QStringLiteral("%1 reads").arg(reads.count())));

    // Once the line is quiet, its next byte wakes the reader again.
    QTRY_COMPARE(vmin(pty), restingMin);
    QCOMPARE(unreadBytes(pty), qint64(0));
    QVERIFY(pty.write(mpx(QVector<quint16>(12, 0x0AEC))));
    QTRY_COMPARE(LinkScopeProbe::ui(window).twSrxlInput->item(0, 0)->text(), QStringLiteral("MPX"));
}

QTEST_MAIN(tst_ReadPacing)
#include "tst_readpacing.moc"
