// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a busy line in batches: fewer wake-ups, every byte still read, a
// quiet line read at its first byte again, and the terminal left as found.
#include "pty.h"
#include "serial/linesettings.h"
#include "serial/readbatching.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#include <termios.h>

#include <atomic>
#include <thread>

class tst_ReadBatching : public QObject
{
    Q_OBJECT

private slots:
    void busyLineIsReadInBatches();
};

static int wakeThreshold(const PseudoTerminal &pty)
{
    termios settings;
    return tcgetattr(pty.slaveFd(), &settings) == 0 ? settings.c_cc[VMIN] : -1;
}

void tst_ReadBatching::busyLineIsReadInBatches()
{
    PseudoTerminal pty;
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadOnly));
    QVERIFY(applyLineSettings(port).isEmpty());
    ReadBatcher batcher(&port);
    batcher.start(port.baudRate());
    qint64 received = 0;
    int reads = 0;
    connect(&port, &QSerialPort::readyRead, this, [&] {
        const qint64 n = port.readAll().size();
        received += n;
        ++reads;
        batcher.bytesRead(n);
    });

    // 8-byte pieces back to back at 115200 baud for a second.
    std::atomic<int> pieces{0};
    std::atomic<bool> done{false};
    std::thread device([&] {
        QElapsedTimer clock;
        clock.start();
        int n = 0;
        for (; clock.elapsed() < 1000; ++n) {
            const qint64 wait = qint64(n * 8 / 11520.0 * 1e9) - clock.nsecsElapsed();
            if (wait > 0)
                std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
            pty.write(QByteArray(8, char(0x5A)));
        }
        pieces = n;
        done = true;
    });
    // The event loop waits for the port as the window's does.
    QEventLoop loop;
    QTimer finished;
    connect(&finished, &QTimer::timeout, &loop, [&] {
        if (done)
            loop.quit();
    });
    finished.start(20);
    loop.exec();
    device.join();
    // What is left short of a batch is fetched soon after the line goes quiet.
    QTRY_COMPARE(received, qint64(pieces) * 8);
    QVERIFY2(reads < pieces / 4, qPrintable(QStringLiteral("%1 reads for %2 pieces").arg(reads).arg(pieces.load())));
    QTRY_COMPARE(wakeThreshold(pty), 0);

    // A lone piece on the quiet line is read without waiting for more.
    reads = 0;
    QVERIFY(pty.write(QByteArray(3, char(0xA5))));
    QTRY_COMPARE(received, qint64(pieces) * 8 + 3);
    QCOMPARE(reads, 1);

    // Busy again: one read takes all that waits, however much that is.
    batcher.bytesRead(4000);
    QTest::qWait(50);
    batcher.bytesRead(4000);
    QCOMPARE(wakeThreshold(pty), batcher.batchBytes());
    reads = 0;
    QVERIFY(pty.write(QByteArray(500, char(0x5A))));
    QTRY_COMPARE(received, qint64(pieces) * 8 + 503);
    QVERIFY2(reads <= 2, qPrintable(QString::number(reads)));

    // Held off: a busy line is read at every byte again.
    batcher.holdOff();
    QCOMPARE(wakeThreshold(pty), 0);
    batcher.bytesRead(4000);
    QCOMPARE(wakeThreshold(pty), 0);

    // Busy, then closed: the next program finds the terminal as it was.
    batcher.start(port.baudRate());
    batcher.bytesRead(4000);
    QTest::qWait(50);
    batcher.bytesRead(4000);
    QCOMPARE(wakeThreshold(pty), batcher.batchBytes());
    batcher.stop();
    QCOMPARE(wakeThreshold(pty), 0);
}

QTEST_GUILESS_MAIN(tst_ReadBatching)
#include "tst_readbatching.moc"
