// SPDX-License-Identifier: GPL-3.0-or-later
// What the window lists and counts for each read of its port, without a
// window, and what each frame brings along of what was found of it.
#include "decode/families/familytable.h"
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
    void found_data();
    void found();
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

void tst_ReadPolicy::found_data()
{
    QTest::addColumn<Reads>("reads");
    QTest::addColumn<QStringList>("expected"); // per step: the family's record name or "-", then "failsafe" or "live"

    const QByteArray a = mpx(QVector<quint16>(12, 0x0801));
    QVector<quint16> words;
    for (int k = 0; k < 7; ++k)
        words << spektrumWord(k, 1024);
    const QByteArray signal = spektrum(words, 0x02), noSignal = spektrum(words, 0x00);
    const QByteArray hottFailsafe = withCrc(fromHex("A8 81 02 2E E0 22 60"));
    QTest::newRow("whole MPX frame") << Reads{a} << QStringList{"MPX live"};
    QTest::newRow("whole MPX_V2 frame") << Reads{mpxV2(QVector<quint16>(16, 0x0801))} << QStringList{"MPX_V2 live"};
    QTest::newRow("whole NORDAX frame") << Reads{nordax(3, QVector<quint16>(12, 2000))} << QStringList{"NORDAX live"};
    QTest::newRow("whole HOTT frame") << Reads{hott(QVector<quint16>(8, 12000))} << QStringList{"HOTT live"};
    QTest::newRow("Spektrum with a signal") << Reads{signal} << QStringList{"SPEKTRUM live"};
    QTest::newRow("Spektrum without a signal") << Reads{noSignal} << QStringList{"SPEKTRUM failsafe"};
    QTest::newRow("Spektrum at 0xA2") << Reads{spektrum(words, 0x00, 0xA2)} << QStringList{"SPEKTRUM failsafe"};
    // A failed check says nothing of failsafe.
    QTest::newRow("Spektrum without a signal, CRC failed") << Reads{corrupted(noSignal)}
                                                           << QStringList{"SPEKTRUM live"};
    QTest::newRow("HoTT failsafe frame, counted only") << Reads{hottFailsafe} << QStringList{"- live", "HOTT failsafe"};
    QTest::newRow("two frames in one read") << Reads{a + noSignal}
                                            << QStringList{"- live", "MPX live", "SPEKTRUM failsafe"};
    QTest::newRow("noise") << Reads{fromHex("00 13 55 42 17")} << QStringList{"- live"};
}

void tst_ReadPolicy::found()
{
    QFETCH(Reads, reads);
    QFETCH(QStringList, expected);
    ReadPolicy policy;
    QStringList got;
    for (const QByteArray &read : reads) {
        for (const ReadStep &step : policy.read(read, 0, false))
            got << QStringLiteral("%1 %2").arg(QLatin1String(step.family ? step.family->recordName : "-"),
                                               QLatin1String(step.failsafe ? "failsafe" : "live"));
    }
    QCOMPARE(got, expected);
}

QTEST_APPLESS_MAIN(tst_ReadPolicy)
#include "tst_readpolicy.moc"
