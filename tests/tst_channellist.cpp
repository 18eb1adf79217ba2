// SPDX-License-Identifier: GPL-3.0-or-later
// The --channels list of linkscope-dump and linkscope-plot: what it takes,
// what it refuses, and how it reads back.
#include "decode/channellist.h"

#include <QtTest>

class tst_ChannelList : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void tst_ChannelList::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("chosen"); // as text() gives it; empty where refused
    QTest::addColumn<QString>("refusal");
    QTest::newRow("ranges and single channels") << "1-4,7" << "1-4,7" << "";
    QTest::newRow("out of order and repeated") << "7,2,1-3,2" << "1-3,7" << "";
    QTest::newRow("neighbours join into a range") << "3,4,5,9" << "3-5,9" << "";
    QTest::newRow("the highest channel") << "255" << "255" << "";
    QTest::newRow("one-channel range") << "6-6" << "6" << "";
    QTest::newRow("channel 0") << "0-3" << "" << "'0-3' is no channel";
    QTest::newRow("past the highest") << "250-256" << "" << "'250-256' is no channel";
    QTest::newRow("backwards range") << "4-1" << "" << "runs backwards";
    QTest::newRow("empty item") << "1,,2" << "" << "'' is no channel";
    QTest::newRow("empty list") << "" << "" << "'' is no channel";
    QTest::newRow("sign") << "+3" << "" << "'+3' is no channel";
    QTest::newRow("open range") << "3-" << "" << "'3-' is no channel";
    QTest::newRow("word") << "all" << "" << "'all' is no channel";
}

void tst_ChannelList::parse()
{
    QFETCH(QString, text);
    QFETCH(QString, chosen);
    QFETCH(QString, refusal);
    ChannelList list;
    QString error;
    QCOMPARE(ChannelList::parse(text, list, error), refusal.isEmpty());
    if (!refusal.isEmpty()) {
        QVERIFY2(error.contains(refusal), qPrintable(error));
        return;
    }
    QCOMPARE(list.text(), chosen);
    for (int channel = 1; channel <= 255; ++channel)
        QCOMPARE(list.contains(channel), list.chosen().contains(channel));
    QVERIFY(!list.all());
}

QTEST_GUILESS_MAIN(tst_ChannelList)
#include "tst_channellist.moc"
