// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-plot's telemetry lanes as the data gathers them: which values
// make which lane and line, their lowest and highest in each bucket, the
// buckets joined as the time span grows, and values read from
// linkscope-dump's JSON lines.
#include "decode/families/framereading.h"
#include "plot/plotdata.h"
#include "reading/jsonframes.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// A frame that carries one telemetry value.
struct Sample
{
    double t;
    const char *type;
    const char *name;
    const char *unit;
    TelemetryValue::Quantity quantity;
    qint64 scaled;
    int decimals;
};

// "voltage V | voltage_v BATTERY: 0 16.8..16.8, 3 ~15.9..16.1": each lane's
// quantity and unit, each line's seen buckets, ~ where the line breaks.
QString lanesText(const PlotData &data)
{
    QStringList lanes;
    for (const TelemetryLane &lane : data.telemetryLanes()) {
        QStringList parts{PlotData::laneName(lane.quantity) + QLatin1Char(' ') + QString::fromUtf8(lane.unit)};
        for (const TelemetryLane::Line &line : lane.lines) {
            QStringList buckets;
            for (int i = 0; i < line.ranges.size(); ++i) {
                const TelemetryRange &r = line.ranges.at(i);
                if (r.seen)
                    buckets << QStringLiteral("%1 %2%3..%4").arg(i).arg(r.gapBefore ? "~" : "").arg(r.low).arg(r.high);
            }
            parts << QStringLiteral("%1 %2: %3").arg(QLatin1String(line.name), QLatin1String(line.type),
                                                    buckets.join(QStringLiteral(", ")));
        }
        lanes << parts.join(QStringLiteral(" | "));
    }
    return lanes.join(QStringLiteral(" / "));
}

} // namespace

Q_DECLARE_METATYPE(QVector<Sample>)

class tst_PlotData : public QObject
{
    Q_OBJECT

private slots:
    void telemetryLanes_data();
    void telemetryLanes();
    void jsonLinesKeepWhatFramesTold();
};

void tst_PlotData::telemetryLanes_data()
{
    QTest::addColumn<QString>("lanes"); // --telemetry; empty: the default
    QTest::addColumn<bool>("window");  // 10 buckets of 1 s, else 4 that widen from 1 ms
    QTest::addColumn<QVector<Sample>>("samples");
    QTest::addColumn<QString>("drawn");

    using Q = TelemetryValue;
    const auto battery = [](double t, qint64 decivolts, qint64 deciamps) {
        return QVector<Sample>{{t, "BATTERY", "voltage_v", "V", Q::BatteryVoltage, decivolts, 1},
                               {t, "BATTERY", "current_a", "A", Q::Current, deciamps, 1},
                               {t, "BATTERY", "capacity_mah", "mAh", Q::Consumed, 1234, 0}};
    };
    QTest::newRow("battery: voltage and current by default, not the capacity")
        << QString() << true
        << battery(0.2, 168, 123) + battery(0.7, 167, 150) + battery(3.5, 161, 20) + battery(3.9, 159, 0)
        << "voltage V | voltage_v BATTERY: 0 16.7..16.8, 3 15.9..16.1 / current A | current_a BATTERY: 0 12.3..15, 3 0..2";
    QTest::newRow("chosen and in the order given")
        << "Consumed, voltage,consumed" << true << battery(0.2, 168, 123)
        << "consumed mAh | capacity_mah BATTERY: 0 1234..1234 / voltage V | voltage_v BATTERY: 0 16.8..16.8";
    QTest::newRow("none") << "none" << true << battery(0.2, 168, 123) << "";
    // CRSF's GPS and barometer both name their value altitude_m; SmartPort's
    // GPS altitude has a name of its own. The lane comes before RSSI however
    // late it starts.
    QTest::newRow("altitude: a line per name and frame type")
        << QString() << true
        << QVector<Sample>{{0.5, "DATA", "rssi", "", Q::Rssi, 87, 0},
                           {1.5, "GPS", "altitude_m", "m", Q::Altitude, 34, 0},
                           {1.6, "BARO_ALTITUDE", "altitude_m", "m", Q::Altitude, 345, 1},
                           {2.5, "DATA", "gps_altitude_m", "m", Q::Altitude, -1250, 2},
                           {2.6, "GPS", "altitude_m", "m", Q::Altitude, 36, 0}}
        << "altitude m | altitude_m GPS: 1 34..34, 2 36..36 | altitude_m BARO_ALTITUDE: 1 34.5..34.5 | "
           "gps_altitude_m DATA: 2 -12.5..-12.5 / rssi  | rssi DATA: 0 87..87";
    QTest::newRow("a quantity in two units makes two lanes")
        << "altitude" << true
        << QVector<Sample>{{0.5, "DATA", "altitude_m", "m", Q::Altitude, 12345, 2},
                           {0.6, "MEASUREMENT", "altitude", "", Q::Altitude, 6789, 0}}
        << "altitude m | altitude_m DATA: 0 123.45..123.45 / altitude  | altitude MEASUREMENT: 0 6789..6789";
    // Four buckets, from 1 ms wide: frames up to 7 s make them 2.048 s.
    QTest::newRow("buckets join as the span grows")
        << QString() << false
        << QVector<Sample>{{0, "", "voltage_v", "V", Q::BatteryVoltage, 160, 1}, {1, "", "voltage_v", "V", Q::BatteryVoltage, 161, 1},
                           {2, "", "voltage_v", "V", Q::BatteryVoltage, 150, 1}, {3, "", "voltage_v", "V", Q::BatteryVoltage, 163, 1},
                           {4, "", "voltage_v", "V", Q::BatteryVoltage, 164, 1}, {5, "", "voltage_v", "V", Q::BatteryVoltage, 165, 1},
                           {7, "", "voltage_v", "V", Q::BatteryVoltage, 167, 1}}
        << "voltage V | voltage_v : 0 15..16.1, 1 16.3..16.4, 2 16.5..16.5, 3 16.7..16.7";
    // Times count from the first frame: 0.5 s is bucket 0's start.
    QTest::newRow("a value away up to 5 s keeps its line")
        << QString() << true
        << QVector<Sample>{{0.5, "", "current_a", "A", Q::Current, 100, 1}, {5.4, "", "current_a", "A", Q::Current, 110, 1},
                           {9.6, "", "current_a", "A", Q::Current, 120, 1}}
        << "current A | current_a : 0 10..10, 4 11..11, 9 12..12";
    QTest::newRow("a value away longer than 5 s breaks its line")
        << QString() << true
        << QVector<Sample>{{0.5, "", "current_a", "A", Q::Current, 100, 1}, {6.0, "", "current_a", "A", Q::Current, 110, 1}}
        << "current A | current_a : 0 10..10, 5 ~11..11";
}

void tst_PlotData::telemetryLanes()
{
    QFETCH(QString, lanes);
    QFETCH(bool, window);
    QFETCH(QVector<Sample>, samples);
    const double open = std::numeric_limits<double>::quiet_NaN();
    PlotData data(window ? 10 : 4, ChannelList(), window ? 0 : open, window ? 10 : open, nullptr);
    if (!lanes.isEmpty()) {
        QVector<TelemetryValue::Quantity> chosen;
        QString error;
        QVERIFY2(PlotData::parseLanes(lanes, chosen, error), qPrintable(error));
        data.setLanes(chosen);
    }
    FrameReading frame;
    const QByteArray bytes;
    const auto take = [&](double t) { data.take(Frame{0, frame, t, "capture", 0, bytes}); };
    for (const Sample &sample : samples) {
        frame.clearExtras();
        frame.family = "CRSF";
        frame.crcOk = true;
        frame.type = sample.type;
        frame.telemetry.number(sample.name, sample.unit, sample.quantity, sample.scaled, sample.decimals);
        take(sample.t);
    }
    // A damaged frame's values are not drawn.
    frame.crcOk = false;
    frame.telemetry.clear();
    frame.telemetry.number("voltage_v", "V", TelemetryValue::BatteryVoltage, 990, 0);
    take(samples.last().t);
    QTEST(lanesText(data), "drawn");
}

// An iBUS sensor's measurement means what the type its earlier reply named
// says: read back from JSON lines, address 2's 0x04D2 is 12.34 V.
void tst_PlotData::jsonLinesKeepWhatFramesTold()
{
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("ibus.jsonl")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{\"t\":0.5,\"family\":\"IBUS_SENSOR\",\"raw\":\"0692030262ff\"}\n"
               "{\"t\":1.5,\"family\":\"IBUS_SENSOR\",\"raw\":\"06a2d20481fe\"}\n");
    file.close();
    PlotData data(10, ChannelList(), 0, 10, nullptr);
    QString error;
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(readJsonFrames(file, file.fileName(), data, error), qPrintable(error));
    QCOMPARE(lanesText(data), QStringLiteral("voltage V | voltage_v MEASURE_REPLY: 1 12.34..12.34"));
}

QTEST_GUILESS_MAIN(tst_PlotData)
#include "tst_plotdata.moc"
