// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/crc16.h"
#include "packets.h"

#include <QRandomGenerator>
#include <QtTest>

class tst_Crc16 : public QObject
{
    Q_OBJECT

private slots:
    void knownValues_data();
    void knownValues();
    void matchesByteWiseForm();
    void countBeyondTheChunkIsClamped();
};

void tst_Crc16::knownValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("expected");

    QTest::newRow("check string") << QByteArray("123456789") << 9 << 0x31C3;
    QTest::newRow("nothing") << QByteArray("123456789") << 0 << 0x0000;
    QTest::newRow("one zero byte") << QByteArray(1, '\0') << 1 << 0x0000;
    QTest::newRow("one 0xFF byte") << QByteArray(1, char(0xFF)) << 1 << 0x1EF0;
    QTest::newRow("MPX example")
        << (QByteArray(1, char(0xA1)) + QByteArray::fromHex(QByteArray("0800").repeated(12))) << 25 << 0xA2AF;
    QTest::newRow("MPX_V2 example")
        << (QByteArray(1, char(0xA2)) + QByteArray::fromHex(QByteArray("0800").repeated(16))) << 33 << 0xDF1E;
    QTest::newRow("NORDAX example")
        << (packets::fromHex("A3 01 00") + QByteArray::fromHex(QByteArray("0980").repeated(12))) << 27 << 0x5787;
    QTest::newRow("HoTT two channels") << packets::fromHex("A8 01 02 2E E0 22 60 6E 86") << 7 << 0x6E86;
    QTest::newRow("HoTT no channels") << packets::fromHex("A8 01 00 27 0C") << 3 << 0x270C;
}

void tst_Crc16::knownValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, count);
    QFETCH(int, expected);
    QCOMPARE(int(crc16Xmodem(data, count)), expected);
}

void tst_Crc16::matchesByteWiseForm()
{
    QRandomGenerator random(20261207);
    for (int round = 0; round < 500; ++round) {
        QByteArray data(int(random.bounded(300)), '\0');
        for (char &c : data)
            c = char(random.bounded(256));
        QCOMPARE(crc16Xmodem(data, data.size()), packets::crc(data));
    }
}

void tst_Crc16::countBeyondTheChunkIsClamped()
{
    const QByteArray data("123456789");
    QCOMPARE(crc16Xmodem(data, 50), crc16Xmodem(data, 9));
    QCOMPARE(crc16Xmodem(data, -3), quint16(0));
}

QTEST_MAIN(tst_Crc16)
#include "tst_crc16.moc"
