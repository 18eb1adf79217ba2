// SPDX-License-Identifier: GPL-3.0-or-later
// The public µs scales of the families, at their telling points.
#include "decode/families/hott.h"
#include "decode/families/mpx.h"
#include "decode/families/spektrum.h"

#include <QtTest>

class tst_Microseconds : public QObject
{
    Q_OBJECT

private slots:
    void conversion_data();
    void conversion();
};

void tst_Microseconds::conversion_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("us");
    QTest::newRow("MPX 0") << "MPX" << 0x0000 << 800;
    QTest::newRow("MPX centre") << "MPX" << 0x0800 << 1500;
    QTest::newRow("MPX top") << "MPX" << 0x0FFF << 2199;
    QTest::newRow("MPX high nibble masked") << "MPX" << 0xF800 << 1500;
    QTest::newRow("HOTT 0") << "HOTT" << 0 << 0;
    QTest::newRow("HOTT centre") << "HOTT" << 12000 << 1500;
    QTest::newRow("HOTT 8800") << "HOTT" << 8800 << 1100;
    QTest::newRow("HOTT rounds down") << "HOTT" << 15207 << 1900;
    QTest::newRow("HOTT top") << "HOTT" << 0xFFFF << 8191;
    QTest::newRow("SPEKTRUM 0") << "SPEKTRUM" << 0 << 916;
    QTest::newRow("SPEKTRUM 1, toward zero") << "SPEKTRUM" << 1 << 917;
    QTest::newRow("SPEKTRUM centre") << "SPEKTRUM" << 1024 << 1500;
    QTest::newRow("SPEKTRUM 1025") << "SPEKTRUM" << 1025 << 1500;
    QTest::newRow("SPEKTRUM top") << "SPEKTRUM" << 2047 << 2083;
}

void tst_Microseconds::conversion()
{
    QFETCH(QString, family);
    QFETCH(int, value);
    QFETCH(int, us);
    if (family == QLatin1String("MPX"))
        QCOMPARE(mpxMicroseconds(quint16(value)), us);
    else if (family == QLatin1String("HOTT"))
        QCOMPARE(hottMicroseconds(quint16(value)), us);
    else
        QCOMPARE(spektrumMicroseconds(value), us);
}

QTEST_APPLESS_MAIN(tst_Microseconds)
#include "tst_microseconds.moc"
