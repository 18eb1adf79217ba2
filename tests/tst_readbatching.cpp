// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a busy line in batches: fewer wake-ups, every byte still read, and
// a quiet line read at its first byte again.
#include "pty.h"
#include "serial/linesettings.h"
#include "serial/readbatching.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QtTest>

#include <termios.h>

#include <thread>

class tst_ReadBatching : public QObject
{
    Q_OBJECT

private slots:
    void busyLineIsReadInBatches_data();
    void busyLineIsReadInBatches();
    void stopLeavesTheTerminalAsFound();
};

namespace {

constexpr double bytesPerSecond = 115200.0 / 10;

// Writes pieces of the given size back to back at the line's byte rate.
int keepLineBusy(PseudoTerminal &pty, int pieceSize, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    int pieces = 0;
    double due = 0;
    while (clock.elapsed() < milliseconds) {
        due += pieceSize / bytesPerSecond;
        const qint64 wait = qint64(due * 1e9) - clock.nsecsElapsed();
        if (wait > 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
        pty.write(QByteArray(pieceSize, char(0x5A)));
        ++pieces;
    }
    return pieces;
}

} // namespace

void tst_ReadBatching::busyLineIsReadInBatches_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::newRow("8-byte pieces") << 8;
    QTest::newRow("27-byte frames") << 27;
}

void tst_ReadBatching::busyLineIsReadInBatches()
{
    QFETCH(int, pieceSize);
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadOnly));
    QVERIFY(applyLineSettings(port).isEmpty());
    ReadBatcher batcher(&port);
    batcher.start(port.baudRate());
    QCOMPARE(batcher.batchBytes(), 92);

    qint64 received = 0;
    int reads = 0;
    connect(&port, &QSerialPort::readyRead, this, [&] {
        const qint64 n = port.readAll().size();
        received += n;
        ++reads;
        batcher.bytesRead(n);
    });

    int pieces = 0;
    std::thread device([&] { pieces = keepLineBusy(pty, pieceSize, 1000); });
    QTRY_VERIFY_WITH_TIMEOUT(pieces > 0, 30000);
    device.join();
    // What is left short of a batch is fetched soon after the line goes quiet.
    QTRY_COMPARE(received, qint64(pieces) * pieceSize);
    QVERIFY2(reads < pieces / 2, qPrintable(QStringLiteral("%1 reads for %2 pieces").arg(reads).arg(pieces)));

    // A lone piece on the quiet line is read without waiting for more.
    reads = 0;
    QVERIFY(pty.write(QByteArray(3, char(0xA5))));
    QTRY_COMPARE(received, qint64(pieces) * pieceSize + 3);
    QCOMPARE(reads, 1);
}

void tst_ReadBatching::stopLeavesTheTerminalAsFound()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadOnly));
    ReadBatcher batcher(&port);
    batcher.start(115200);
    // Enough bytes at once, twice a window apart, make the line busy.
    batcher.bytesRead(4000);
    QTest::qWait(50);
    batcher.bytesRead(4000);
    termios settings;
    QCOMPARE(tcgetattr(pty.slaveFd(), &settings), 0);
    QCOMPARE(int(settings.c_cc[VMIN]), batcher.batchBytes());

    batcher.stop();
    QCOMPARE(tcgetattr(pty.slaveFd(), &settings), 0);
    QCOMPARE(int(settings.c_cc[VMIN]), 0);
}

QTEST_GUILESS_MAIN(tst_ReadBatching)
#include "tst_readbatching.moc"
