// SPDX-License-Identifier: GPL-3.0-or-later
// The encoders against the decoders they mirror: every integer µs a family
// can carry comes back from a whole frame as that µs, and no value on the
// wire shows a µs outside the range the encoders accept.
#include "decode/families/hott.h"
#include "decode/families/mpx.h"
#include "decode/families/nordax.h"
#include "decode/families/spektrum.h"

#include <QtTest>

class tst_Encoders : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
};

// A frame of family whose channel (0-based) carries value: µs, or NORDAX's word.
static QByteArray frameWith(const QString &family, int channel, int value)
{
    if (family == QLatin1String("MPX") || family == QLatin1String("MPX_V2")) {
        QVector<quint16> words(family == QLatin1String("MPX") ? 12 : 16, mpxWord(1500));
        words[channel] = mpxWord(value);
        return mpxFrame(words);
    }
    if (family == QLatin1String("HOTT")) {
        QVector<quint16> words(channel + 1, hottWord(1500));
        words[channel] = hottWord(value);
        return hottFrame(words, false);
    }
    if (family == QLatin1String("NORDAX")) {
        QVector<quint16> words(12, 2432);
        words[channel] = quint16(value);
        return nordaxFrame(0, words);
    }
    QVector<quint16> words(spektrumWordsPerFrame, spektrumUnusedWord);
    words[3] = spektrumWord(channel, spektrumPosition(value));
    return spektrumFrame(spektrumSignalBit, words);
}

void tst_Encoders::roundTrip_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    QTest::addColumn<int>("largestWire"); // every value on the wire, 0 aside, shows in the range

    QTest::newRow("MPX") << "MPX" << 11 << mpxRange.lowest << mpxRange.highest << 0xFFFF;
    QTest::newRow("MPX_V2") << "MPX_V2" << 15 << mpxRange.lowest << mpxRange.highest << 0xFFFF;
    QTest::newRow("HOTT") << "HOTT" << 31 << hottRange.lowest << hottRange.highest << 0xFFFF;
    QTest::newRow("SPEKTRUM channel 1") << "SPEKTRUM" << 0 << spektrumRange(0).lowest << spektrumRange(0).highest
                                        << 0x07FF;
    QTest::newRow("SPEKTRUM channel 12") << "SPEKTRUM" << 11 << spektrumRange(11).lowest
                                         << spektrumRange(11).highest << 0x07FF;
    // No µs scale: its words go through as they are.
    QTest::newRow("NORDAX words") << "NORDAX" << 11 << 1 << 0xFFFF << 0;
}

void tst_Encoders::roundTrip()
{
    QFETCH(QString, family);
    QFETCH(int, channel);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    QFETCH(int, largestWire);

    FrameReading reading;
    for (int value = lowest; value <= highest; ++value) {
        const QByteArray frame = frameWith(family, channel, value);
        QVERIFY(readFrame(frame.constData(), frame.size(), reading));
        QCOMPARE(QString::fromLatin1(reading.family), family);
        QVERIFY(reading.crcOk);
        if ((family == QLatin1String("NORDAX") ? reading.wire[channel] : reading.us[channel]) != value)
            QFAIL(qPrintable(QStringLiteral("%1 comes back as %2 µs, wire %3").arg(value)
                                 .arg(reading.us[channel]).arg(reading.wire[channel])));
    }

    // The range holds all the family carries: a wider one would have been
    // accepted by the decoder too.
    for (int wire = 1; wire <= largestWire; ++wire) {
        int us = 0;
        if (family == QLatin1String("HOTT"))
            us = hottMicroseconds(quint16(wire));
        else if (family == QLatin1String("SPEKTRUM"))
            us = spektrumMicroseconds(wire);
        else
            us = mpxMicroseconds(quint16(wire));
        if (us < lowest || us > highest)
            QFAIL(qPrintable(QStringLiteral("wire %1 shows %2 µs, outside %3 to %4").arg(wire).arg(us)
                                 .arg(lowest).arg(highest)));
    }
    if (family == QLatin1String("SPEKTRUM") && channel > 0)
        QCOMPARE(spektrumMicroseconds(0), lowest);
}

QTEST_APPLESS_MAIN(tst_Encoders)
#include "tst_encoders.moc"
