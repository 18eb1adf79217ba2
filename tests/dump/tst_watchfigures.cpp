// SPDX-License-Identifier: GPL-3.0-or-later
// The live view's figures: frame rate and intervals over the last second,
// CRC failures over ten, silence, and the channels' values with their
// lowest and highest, and the telemetry values with their age.
#include "decode/families/familytable.h"
#include "decode/families/packing.h"
#include "dump/watchfigures.h"
#include "dump/watchlayout.h"
#include "dump/watchview.h"
#include "packets.h"

#include <QtTest>

using namespace packets;

class tst_WatchFigures : public QObject
{
    Q_OBJECT

private slots:
    void linkFigures_data();
    void linkFigures();
    void channels();
    void linkQualityAndLostFrames();
    void channelsStopWhileLinkGoesOn_data();
    void channelsStopWhileLinkGoesOn();
    void telemetry_data();
    void telemetry();
    void sourcesKeptApart();
    void pairing_data();
    void pairing();
};

namespace {

FrameReading reading(const QByteArray &frame)
{
    FrameReading read;
    readFrame(frame.constData(), frame.size(), read);
    return read;
}

QVector<double> every(double from, double to, double step)
{
    QVector<double> times;
    for (int i = 0; from + i * step < to - 1e-9; ++i)
        times << from + i * step;
    return times;
}

// A CRSF frame from the flight controller: type, payload, CRC-8/DVB-S2.
QByteArray crsf(quint8 type, const QByteArray &payload)
{
    const QByteArray body = char(type) + payload;
    return QByteArray(1, char(0xC8)) + char(body.size() + 1) + body + char(crc8DvbS2(body.constData(), body.size()));
}

// A SmartPort reply: 0x10, the application id and value, little-endian,
// and the FrSky sum (no byte here needs stuffing).
QByteArray sport(quint16 id, quint32 value)
{
    QByteArray content(1, 0x10);
    for (int i = 0; i < 2; ++i)
        content += char(id >> (8 * i) & 0xFF);
    for (int i = 0; i < 4; ++i)
        content += char(value >> (8 * i) & 0xFF);
    int sum = 0;
    for (char byte : content) {
        sum += quint8(byte);
        sum = (sum & 0xFF) + (sum >> 8);
    }
    return content + char(0xFF - sum);
}

// An iBUS sensor frame: its bytes, then 0xFFFF less their sum, little-endian.
QByteArray ibus(const QByteArray &body)
{
    int sum = 0;
    for (char byte : body)
        sum += quint8(byte);
    return body + char((0xFFFF - sum) & 0xFF) + char((0xFFFF - sum) >> 8);
}

struct Sent
{
    const char *family;
    QByteArray frame;
    double t;
};

} // namespace
Q_DECLARE_METATYPE(QVector<Sent>)

void tst_WatchFigures::linkFigures_data()
{
    QTest::addColumn<QVector<double>>("good");    // times of frames with a matching CRC
    QTest::addColumn<QVector<double>>("damaged"); // and of damaged ones
    QTest::addColumn<double>("now");
    QTest::addColumn<int>("framesLastSecond");
    QTest::addColumn<QVector<double>>("intervalMs"); // min, mean, max; empty: none
    QTest::addColumn<qint64>("crcFailures");
    QTest::addColumn<qint64>("crcFailuresRecent");
    QTest::addColumn<double>("silentFor");
    QTest::newRow("steady 100/s") << every(0, 2, 0.01) << QVector<double>() << 1.995 << 100
                                  << QVector<double>{10, 10, 10} << qint64(0) << qint64(0) << -1.0;
    QTest::newRow("uneven, an older frame left out") << QVector<double>{0.2, 1.1, 1.2, 1.5} << QVector<double>{1.55}
                                                     << 1.6 << 4 << QVector<double>{50, 150, 300} << qint64(1)
                                                     << qint64(1) << -1.0;
    QTest::newRow("silence") << QVector<double>{0.5, 1.0} << QVector<double>() << 1.7 << 1 << QVector<double>()
                             << qint64(0) << qint64(0) << 0.7;
    QTest::newRow("silent from the start") << QVector<double>() << QVector<double>() << 0.6 << 0 << QVector<double>()
                                           << qint64(0) << qint64(0) << 0.6;
    QTest::newRow("CRC failures age") << QVector<double>{12.4} << QVector<double>{0.5, 2.4, 5.0, 12.0} << 12.45 << 2
                                      << QVector<double>{400, 400, 400} << qint64(4) << qint64(2) << -1.0;
}

void tst_WatchFigures::linkFigures()
{
    QFETCH(QVector<double>, good);
    QFETCH(QVector<double>, damaged);
    QFETCH(double, now);
    QFETCH(QVector<double>, intervalMs);
    const FrameReading ok = reading(hott(QVector<quint16>(8, 12000)));
    const FrameReading bad = reading(corrupted(hott(QVector<quint16>(8, 12000))));
    WatchFigures figures;
    QMap<double, const FrameReading *> inOrder;
    for (double t : good)
        inOrder.insert(t, &ok);
    for (double t : damaged)
        inOrder.insert(t, &bad);
    for (auto it = inOrder.cbegin(); it != inOrder.cend(); ++it)
        figures.add(*it.value(), it.key());

    const WatchSnapshot view = figures.snapshot(now, 0);
    QTEST(view.framesLastSecond, "framesLastSecond");
    QVector<double> interval;
    if (view.intervalMin >= 0)
        interval << view.intervalMin << view.intervalMean << view.intervalMax;
    QCOMPARE(interval.size(), intervalMs.size());
    for (int i = 0; i < interval.size(); ++i)
        QVERIFY2(qAbs(interval[i] - intervalMs[i]) < 1e-6, qPrintable(QString::number(interval[i])));
    QTEST(view.crcFailures, "crcFailures");
    QTEST(view.crcFailuresRecent, "crcFailuresRecent");
    QFETCH(double, silentFor);
    QVERIFY2(qAbs(view.silentFor - silentFor) < 1e-9, qPrintable(QString::number(view.silentFor)));
}

void tst_WatchFigures::channels()
{
    WatchFigures figures;
    figures.add(reading(hott({8000, 12000, 16000})), 0.01);
    figures.add(reading(hott({16000, 12000, 16000})), 0.02);
    // Damaged, and a failsafe frame that carries two channels: the values
    // and the failsafe state come from frames whose CRC matches only.
    figures.add(reading(corrupted(hott({4000, 4000, 4000}))), 0.03);
    figures.add(reading(withCrc(fromHex("A8 81 02 2E E0 22 60"))), 0.04);
    WatchSnapshot view = figures.snapshot(0.05, 7);
    QVERIFY(view.failsafe);
    QCOMPARE(view.family, std::string("HOTT"));
    QCOMPARE(view.channels.size(), std::size_t(3));
    const auto shown = [&](int k) {
        const WatchChannel &c = view.channels[std::size_t(k)];
        return QVector<int>{c.value, c.low, c.high, c.carried};
    };
    QCOMPARE(shown(0), QVector<int>({1500, 1000, 2000, true}));
    QCOMPARE(shown(1), QVector<int>({1100, 1100, 1500, true}));
    QCOMPARE(shown(2), QVector<int>({2000, 2000, 2000, false}));

    // Reset starts the lowest and highest from the values standing, and the
    // counters from nought.
    figures.reset(7);
    figures.add(reading(hott({12000, 12000, 12000})), 0.06);
    view = figures.snapshot(0.07, 9);
    QVERIFY(!view.failsafe);
    QCOMPARE(shown(0), QVector<int>({1500, 1500, 1500, true}));
    QCOMPARE(shown(1), QVector<int>({1500, 1100, 1500, true}));
    QCOMPARE(view.crcFailures + view.failsafeFrames, qint64(0));
    QCOMPARE(view.strayBytes, qint64(2));

    // NORDAX words, unscaled: the bar spans the words seen.
    figures.add(reading(nordax(0, {2000, 0, 2600, 2400, 2400, 2400, 2400, 2400, 2400, 2400, 2400, 2400})), 0.08);
    view = figures.snapshot(0.09, 9);
    QCOMPARE(view.family, std::string("NORDAX"));
    QVERIFY(view.words);
    QCOMPARE(QVector<int>({view.scaleLow, view.scaleHigh, view.scaleMark}), QVector<int>({2000, 2600, WatchChannel::none}));
    QCOMPARE(shown(1), QVector<int>({WatchChannel::none, WatchChannel::none, WatchChannel::none, false}));
    QCOMPARE(view.channels.size(), std::size_t(12));

    // --channels: the view shows the chosen ones, each under its own number.
    ChannelList chosen;
    QString error;
    QVERIFY(ChannelList::parse(QStringLiteral("2,10-20"), chosen, error));
    figures.setChannels(chosen);
    view = figures.snapshot(0.09, 9);
    QVector<int> numbers;
    for (const WatchChannel &channel : view.channels)
        numbers << channel.number << channel.value;
    QCOMPARE(numbers, QVector<int>({2, WatchChannel::none, 10, 2400, 11, 2400, 12, 2400}));
}

// CRSF's link statistics go in the header, and leave the channels as they
// stand; FPORT2's lost frames are counted and its failsafe flag raises the banner.
void tst_WatchFigures::linkQualityAndLostFrames()
{
    const FamilyDescriptor *crsf = familyNamed("crsf");
    const FamilyDescriptor *fport = familyNamed("fport2");
    const auto readingOf = [](const FamilyDescriptor *family, const QByteArray &frame) {
        FrameReading read;
        family->read(frame.constData(), frame.size(), read);
        return read;
    };
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    WatchFigures figures;
    figures.add(readingOf(crsf, crsf->encode(request)), 0.01);
    figures.add(readingOf(crsf, crsf->linkFrame(false)), 0.02);
    WatchSnapshot view = figures.snapshot(0.03, 0);
    QCOMPARE(view.link, std::string("LQ 100 %  RSSI -45/-47 dBm  SNR 9 dB  250 mW"));
    QCOMPARE(view.lostFrames, qint64(-1));
    QCOMPARE(view.channels.size(), std::size_t(16));
    QVERIFY(view.channels[0].carried);
    QCOMPARE(view.channels[0].value, 1500);
    const std::vector<WatchLine> lines = layOutWatch(view, 80, 30);
    QVERIFY(std::any_of(lines.cbegin(), lines.cend(),
                        [](const WatchLine &line) { return line.text.find("LQ 100 %  RSSI") == 0; }));
    figures.add(readingOf(crsf, crsf->linkFrame(true)), 0.04);
    QCOMPARE(figures.snapshot(0.05, 0).link.substr(0, 6), std::string("LQ 0 %"));

    request.wire = QVector<int>(16, 1000);
    QByteArray lost = fport->encode(request);
    // Flags (byte 24): frame lost; the sum grows by 4, its complement
    // shrinks by 4.
    lost[24] = char(0x04);
    lost[26] = char(quint8(lost[26]) - 4);
    QVERIFY(readingOf(fport, lost).crcOk);
    figures.add(readingOf(fport, lost), 0.06);
    figures.add(readingOf(fport, lost), 0.07);
    QCOMPARE(figures.snapshot(0.08, 0).lostFrames, qint64(2));
    QVERIFY(!figures.failsafe(0.08));
    request.failsafe = true;
    figures.add(readingOf(fport, fport->encode(request)), 0.09);
    view = figures.snapshot(0.1, 0);
    QVERIFY(view.failsafe);
    const std::vector<WatchLine> banner = layOutWatch(view, 80, 30);
    QVERIFY(std::any_of(banner.cbegin(), banner.cend(), [](const WatchLine &line) {
        // Two of the three frames that can flag a loss did.
        return line.text.find("frames lost 2 (66.7 %)") != std::string::npos;
    }));
}

void tst_WatchFigures::channelsStopWhileLinkGoesOn_data()
{
    QTest::addColumn<bool>("lqZero");       // the link statistics after the stop say LQ 0
    QTest::addColumn<double>("now");        // channel frames stopped at 2 s
    QTest::addColumn<bool>("resumed");      // a channel frame came again just before now
    QTest::addColumn<bool>("failsafe");
    QTest::addColumn<bool>("stopSaid"); // how long ago the channels stopped
    QTest::newRow("LQ 0: failsafe at once") << true << 2.2 << false << true << false;
    QTest::newRow("LQ 0, channels gone 1.5 s") << true << 3.5 << false << true << true;
    QTest::newRow("LQ 100, channels gone 0.7 s") << false << 2.7 << false << false << true;
    QTest::newRow("LQ 100, channels gone a second") << false << 3.05 << false << true << true;
    QTest::newRow("channels back") << true << 3.5 << true << false << false;
}

// A CRSF receiver in failsafe stops its channel frames and goes on sending
// link statistics: the view says failsafe, dims the channels and says how
// long ago they stopped.
void tst_WatchFigures::channelsStopWhileLinkGoesOn()
{
    QFETCH(bool, lqZero);
    QFETCH(double, now);
    QFETCH(bool, resumed);
    const FamilyDescriptor *crsf = familyNamed("crsf");
    const auto readingOf = [crsf](const QByteArray &frame) {
        FrameReading read;
        crsf->read(frame.constData(), frame.size(), read);
        return read;
    };
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    const FrameReading channels = readingOf(crsf->encode(request));
    const FrameReading linkUp = readingOf(crsf->linkFrame(false));
    const FrameReading linkDown = readingOf(crsf->linkFrame(true));
    const double lastChannels = 2 - 1.0 / 150;
    QCOMPARE(linkDown.failsafe, 1);
    QCOMPARE(linkUp.failsafe, 0);
    WatchFigures figures;
    for (const double t : every(0, 2, 1.0 / 150))
        figures.add(channels, t);
    for (const double t : every(0.05, now, 0.1))
        figures.add(t < 2 || !lqZero ? linkUp : linkDown, t);
    if (resumed)
        figures.add(channels, now - 0.001);

    const WatchSnapshot view = figures.snapshot(now, 0);
    QTEST(view.failsafe, "failsafe");
    QTEST(figures.failsafe(now), "failsafe");
    QFETCH(bool, stopSaid);
    const double stoppedFor = stopSaid ? now - lastChannels : -1;
    QVERIFY2(qAbs(view.channelsStoppedFor - stoppedFor) < 1e-6, qPrintable(QString::number(view.channelsStoppedFor)));
    QCOMPARE(view.silentFor, -1.0);
    QCOMPARE(view.channels.size(), std::size_t(16));
    // Dimmed once no frame carried them for half a second.
    QCOMPARE(view.channels[0].carried, now - (resumed ? now - 0.001 : lastChannels) < WatchFigures::silenceAfter);
    QCOMPARE(view.channels[15].value, 1500);

    QStringList banners;
    for (const WatchLine &line : layOutWatch(view, 80, 30)) {
        if (line.style >= WatchLine::Failsafe)
            banners << QString::fromStdString(line.text).trimmed();
    }
    QStringList expected;
    if (view.failsafe)
        expected << "RECEIVER IN FAILSAFE";
    if (stopSaid)
        expected << QStringLiteral("CHANNELS STOPPED %1 s AGO").arg(stoppedFor, 0, 'f', 1);
    QCOMPARE(banners, expected);
    // Each link statistics frame with LQ 0 is a failsafe frame.
    QCOMPARE(view.failsafeFrames, qint64(lqZero ? every(0.05, now, 0.1).size() - 20 : 0));
}

void tst_WatchFigures::telemetry_data()
{
    QTest::addColumn<QVector<Sent>>("frames");
    QTest::addColumn<double>("now");
    QTest::addColumn<QStringList>("shown"); // label value unit age, in the view's order

    // 16.8 V, 12.3 A, 1234 mAh, 67 %.
    const QByteArray battery = crsf(0x08, QByteArray::fromHex("00a8007b0004d243"));
    // 34.5 m (10345 dm above -1000 m), vertical speed -5 as packed.
    const QByteArray baro = crsf(0x09, QByteArray::fromHex("2869fb"));
    QTest::newRow("CRSF battery, then altitude and flight mode")
        << QVector<Sent>{{"crsf", battery, 1.0}, {"crsf", baro, 1.5}, {"crsf", crsf(0x21, QByteArray("ACRO*", 6)), 1.8}}
        << 2.0
        << QStringList{"voltage 16.8 V 1.00", "current 12.3 A 1.00", "capacity 1234 mAh 1.00", "remaining 67 % 1.00",
                       "altitude 34.5 m 0.50", "vertical_speed_packed -5  0.50", "flight_mode \"ACRO*\"  0.20"};
    // CRSF's GPS and barometer both give altitude_m: 34 m and 34.5 m.
    const QByteArray gps = crsf(0x02, QByteArray::fromHex("1f4d59f8ffec8b8801c869aa040a09"));
    QTest::newRow("one name from two frame types")
        << QVector<Sent>{{"crsf", baro, 1.0}, {"crsf", gps, 1.1}} << 1.2
        << QStringList{"altitude/BARO_ALTITUDE 34.5 m 0.20", "altitude/GPS 34 m 0.10", "groundspeed 45.6 km/h 0.10",
                       "heading 270.50 deg 0.10", "latitude 52.5163000 deg 0.10", "longitude -0.1275000 deg 0.10",
                       "satellites 9  0.10", "vertical_speed_packed -5  0.20"};
    QTest::newRow("a newer value replaces the one before")
        << QVector<Sent>{{"crsf", battery, 1.0}, {"crsf", crsf(0x08, QByteArray::fromHex("009f00000000000a")), 3.25}}
        << 3.5 << QStringList{"voltage 15.9 V 0.25", "current 0.0 A 0.25", "capacity 0 mAh 0.25", "remaining 10 % 0.25"};
    QTest::newRow("stale values go last")
        << QVector<Sent>{{"crsf", battery, 1.0}, {"crsf", baro, 11.5}} << 12.0
        << QStringList{"altitude 34.5 m 0.50", "vertical_speed_packed -5  0.50", "voltage 16.8 V 11.00",
                       "current 12.3 A 11.00", "capacity 1234 mAh 11.00", "remaining 67 % 11.00"};
    // A ping names its device, a poll asks: neither is a value; nor is a
    // damaged frame.
    QByteArray damaged = battery;
    damaged[damaged.size() - 1] = char(damaged.back() ^ 1);
    QTest::newRow("pings, polls and damaged frames show nothing")
        << QVector<Sent>{{"crsf", crsf(0x28, "\xEE\xEA"), 1.0}, {"smartport", "\x7E\x1B", 1.1}, {"crsf", damaged, 1.2}}
        << 1.5 << QStringList{};
    // A second instance of a sensor (its id one above) gives a value of the
    // same name: the application id tells them apart. Altitude comes in cm.
    QTest::newRow("SmartPort: two instances, one name")
        << QVector<Sent>{{"smartport", "\x7E\x1B", 1.0}, {"smartport", sport(0x0210, 1680), 1.001},
                         {"smartport", "\x7E\x1B", 1.01}, {"smartport", sport(0x0211, 1260), 1.011},
                         {"smartport", sport(0x0100, 12345), 1.02}, {"smartport", sport(0x0210, 1670), 1.1}}
        << 1.2 << QStringList{"voltage#0210 16.70 V 0.10", "voltage#0211 12.60 V 0.19", "altitude 123.45 m 0.18",
                              "instance 1  0.19"};
    // The iBUS sensor at address 2 says it measures voltage, then sends
    // 12.34 V; the one at address 3 is of a type the view does not know.
    QTest::newRow("iBUS sensors by address")
        << QVector<Sent>{{"ibus-sensor", ibus("\x06\x92\x03\x02"), 1.0}, {"ibus-sensor", ibus("\x06\xA2\xD2\x04"), 1.1},
                         {"ibus-sensor", ibus(QByteArray("\x06\xA3\x4D\x00", 4)), 1.2}}
        << 1.5 << QStringList{"voltage 12.34 V 0.40", "value_bytes 2  0.50", "value 77  0.30"};
}

// Each value shows with its unit apart from its name, and the time since it
// last came; battery first, values of no known quantity after the rest,
// those that stopped coming last.
void tst_WatchFigures::telemetry()
{
    QFETCH(QVector<Sent>, frames);
    QFETCH(double, now);
    WatchFigures figures;
    FrameReading read;
    TelemetryMemory memory;
    read.memory = &memory;
    for (const Sent &sent : frames) {
        const FamilyDescriptor *family = familyNamed(QLatin1String(sent.family));
        QVERIFY(family);
        family->read(sent.frame.constData(), sent.frame.size(), read);
        read.crcOk = family->check(sent.frame.constData(), sent.frame.size());
        figures.add(read, sent.t);
    }
    QStringList shown;
    const WatchSnapshot view = figures.snapshot(now, 0);
    for (const WatchTelemetry &value : view.telemetry)
        shown << QStringLiteral("%1 %2 %3 %4")
                     .arg(QString::fromStdString(value.label), QString::fromStdString(value.value),
                          QString::fromStdString(value.unit))
                     .arg(value.age, 0, 'f', 2);
    QTEST(shown, "shown");
}

// Frames, stray bytes and pairing of one source leave the other's as they were.
void tst_WatchFigures::sourcesKeptApart()
{
    QElapsedTimer clock;
    WatchView watch(QStringList{"left", "right"}, clock);
    const auto feed = [&](int source, const QByteArray &bytes, double t) {
        watch.take(Frame{source, reading(bytes), t, "read", 0, bytes});
    };
    feed(0, hott({8000, 12000}), 0.01);
    feed(0, hott({9000, 12000}), 0.02);
    for (int i = 0; i < 5; ++i)
        feed(1, hott({16000, 4000, 4000}), 0.1 + 0.01 * i);
    PollPairing pairing;
    pairing.poll(0x1B, 0x1B, 100);
    watch.setPairing(1, pairing);
    watch.setStrayBytes(1, 99);
    QVector<QVector<qint64>> shown;
    for (const WatchSnapshot &view : watch.snapshots(0.5)) {
        shown.append({view.framesLastSecond, view.strayBytes, view.pairing.polls});
        for (const WatchChannel &c : view.channels)
            shown.back() << c.value << c.low << c.high;
    }
    QCOMPARE(shown, QVector<QVector<qint64>>({{2, 0, 0, 1125, 1000, 1125, 1500, 1500, 1500},
                                              {5, 99, 1, 2000, 2000, 2000, 500, 500, 500, 500, 500, 500}}));
}

void tst_WatchFigures::pairing_data()
{
    QTest::addColumn<QVector<Sent>>("frames");
    QTest::addColumn<int>("resetAfter"); // frames; -1: no reset
    QTest::addColumn<QStringList>("shown");

    const QByteArray poll1B("\x7E\x1B"), poll00("\x7E\x00", 2), pollA1("\x7E\xA1"), reply = sport(0x0210, 1680);
    const QString title = QStringLiteral("sensor   polls replies  late missing no poll");
    // The reply's last byte 5 ms after the poll's, its first about 3.6 ms after.
    QTest::newRow("late, missing, never answered")
        << QVector<Sent>{{"smartport", poll1B, 1.0}, {"smartport", reply, 1.005}, {"smartport", poll00, 1.012},
                         {"smartport", poll1B, 1.024}, {"smartport", pollA1, 1.036}}
        << -1
        << QStringList{"polls 4  replies 1 (late 1, over 2.5 ms)  missing replies 3  replies without a poll 0", title,
                       "  0x1B       2       1     1       1       0", "  polled, never answered: 2 (0x00 0xA1)"};
    // r counts anew: a sensor answered only before it is among those never answered.
    QTest::newRow("counted anew after a reset")
        << QVector<Sent>{{"smartport", poll1B, 1.0}, {"smartport", reply, 1.003}, {"smartport", pollA1, 1.012},
                         {"smartport", reply, 1.015}, {"smartport", poll1B, 1.024}, {"smartport", pollA1, 1.036},
                         {"smartport", reply, 1.039}}
        << 4
        << QStringList{"polls 2  replies 1 (late 0, over 2.5 ms)  missing replies 1  replies without a poll 0", title,
                       "  0xA1       1       1     0       0       0", "  polled, never answered: 1 (0x1B)"};
}

// A real pairing, fed frame by frame, shows in the header and a line per sensor.
void tst_WatchFigures::pairing()
{
    QFETCH(QVector<Sent>, frames);
    QFETCH(int, resetAfter);
    const FamilyDescriptor *family = familyNamed(QStringLiteral("smartport"));
    WatchFigures figures;
    PollPairing pairing;
    for (int i = 0; i < frames.size(); ++i) {
        FrameReading read;
        family->read(frames[i].frame.constData(), frames[i].frame.size(), read);
        read.crcOk = family->check(frames[i].frame.constData(), frames[i].frame.size());
        pairing.take(read, frames[i].frame.size(), frames[i].t * 1000, 10.0 / 57.6);
        figures.setPairing(pairing);
        if (i + 1 == resetAfter)
            figures.reset(0);
    }
    pairing.finish();
    figures.setPairing(pairing);
    QStringList shown;
    for (const WatchLine &line : layOutWatch(figures.snapshot(2, 0), 100, 40)) {
        const QString text = QString::fromStdString(line.text);
        if (line.style <= WatchLine::Title && QRegularExpression(QStringLiteral("^(polls|sensor|  )")).match(text).hasMatch())
            shown << text;
    }
    QTEST(shown, "shown");
}

QTEST_GUILESS_MAIN(tst_WatchFigures)
#include "tst_watchfigures.moc"
