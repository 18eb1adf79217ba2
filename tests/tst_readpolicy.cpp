// SPDX-License-Identifier: GPL-3.0-or-later
// What the window lists and counts for each read of its port, without a window.
#include "decode/framing/readpolicy.h"
#include "packets.h"

#include <QtTest>

using namespace packets;

class tst_ReadPolicy : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
};

using Reads = QVector<QByteArray>;

// A step as "<bytes listed> <what is counted>", e.g. "27 OK", "54 -", "failsafe".
static QString describe(const ReadStep &step)
{
    static const char *const counts[] = {"-", "OK", "FALSE", "failsafe"};
    const QString counted = QLatin1String(counts[step.count]);
    return step.bytes.isEmpty() ? counted : QStringLiteral("%1 %2").arg(step.bytes.size()).arg(counted);
}

void tst_ReadPolicy::steps_data()
{
    QTest::addColumn<Reads>("reads");
    QTest::addColumn<bool>("gathered");
    QTest::addColumn<QStringList>("expected"); // the steps of all reads, with "|" between reads

    const QByteArray a = mpx(QVector<quint16>(12, 0x0801)), b = mpx(QVector<quint16>(12, 0x0802));
    const QByteArray failsafe = withCrc(fromHex("A8 81 02 2E E0 22 60"));
    const QByteArray noise = fromHex("00 13 55 42 17");
    QTest::newRow("whole frame") << Reads{a} << false << QStringList{"27 OK", "|"};
    QTest::newRow("whole frame, CRC failed") << Reads{corrupted(a)} << false << QStringList{"27 FALSE", "|"};
    QTest::newRow("split frame") << Reads{a.left(20), a.mid(20)} << false
                                 << QStringList{"20 -", "|", "7 -", "27 OK", "|"};
    QTest::newRow("two frames in one read") << Reads{a + b} << false << QStringList{"54 -", "27 OK", "27 OK", "|"};
    QTest::newRow("gathered read of frames") << Reads{a + b} << true << QStringList{"27 OK", "27 OK", "|"};
    QTest::newRow("gathered read of noise") << Reads{noise} << true << QStringList{"5 -", "|"};
    QTest::newRow("failsafe frame") << Reads{failsafe} << false << QStringList{"9 -", "failsafe", "|"};
    // A damaged frame whose verdict waits for the next bytes, then a whole
    // good frame: the damaged one came first, and is shown first.
    QByteArray lookalike = mpx(QVector<quint16>(12, 0x0803));
    lookalike.replace(20, 3, fromHex("A8 01 10"));
    QTest::newRow("kept bytes settled by a whole frame")
        << Reads{a + lookalike, b} << false << QStringList{"54 -", "27 OK", "|", "27 FALSE", "27 OK", "|"};
}

void tst_ReadPolicy::steps()
{
    QFETCH(Reads, reads);
    QFETCH(bool, gathered);
    QFETCH(QStringList, expected);
    ReadPolicy policy;
    QStringList got;
    for (const QByteArray &read : reads) {
        for (const ReadStep &step : policy.read(read, 0, gathered))
            got << describe(step);
        got << "|";
    }
    QCOMPARE(got, expected);
}

QTEST_APPLESS_MAIN(tst_ReadPolicy)
#include "tst_readpolicy.moc"
