// SPDX-License-Identifier: GPL-3.0-or-later
// Runs in a process of its own: it checks what the decoder shows before any
// earlier packet has left a value behind.
#include "display/decodedview/decoderstate.h"
#include "display/decodedtable.h"
#include "packets.h"

#include <QTableWidget>
#include <QtTest>

class tst_DecoderStartup : public QObject
{
    Q_OBJECT

private slots:
    void stateStartsAtZero();
    void zeroWordsShowZeroAtStartUp_data();
    void zeroWordsShowZeroAtStartUp();

private:
    QTableWidget table;
};

void tst_DecoderStartup::stateStartsAtZero()
{
    QCOMPARE(lastPacketType, quint8(0));
    QCOMPARE(wordScratch, quint16(0));
    for (int i = 0; i < channelValueCount; ++i)
        QCOMPARE(channelValues[i], qint16(0));
}

void tst_DecoderStartup::zeroWordsShowZeroAtStartUp_data()
{
    // All-zero channel words store nothing, so each row sees the start-up state.
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<int>("firstChannelRow");
    QTest::addColumn<int>("channels");
    QTest::newRow("MPX") << packets::mpx(QVector<quint16>(12, 0)) << 1 << 12;
    QTest::newRow("MPX_V2") << packets::mpxV2(QVector<quint16>(16, 0)) << 1 << 16;
    QTest::newRow("NORDAX") << packets::nordax(0, QVector<quint16>(12, 0)) << 3 << 12;
    QTest::newRow("HoTT, 17 channels") << packets::hott(QVector<quint16>(17, 0)) << 3 << 17;
}

void tst_DecoderStartup::zeroWordsShowZeroAtStartUp()
{
    QFETCH(QByteArray, packet);
    QFETCH(int, firstChannelRow);
    QFETCH(int, channels);
    QVERIFY(decodePacket(packet, &table));
    QCOMPARE(table.item(firstChannelRow + channels, 0)->text(), QStringLiteral("OK"));
    for (int row = firstChannelRow; row < firstChannelRow + channels; ++row)
        QCOMPARE(table.item(row, 0)->text(), QStringLiteral("0"));
    for (int i = 0; i < channelValueCount; ++i)
        QCOMPARE(channelValues[i], qint16(0));
}

QTEST_MAIN(tst_DecoderStartup)
#include "tst_decoderstartup.moc"
