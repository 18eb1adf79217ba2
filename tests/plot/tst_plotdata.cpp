// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-plot's telemetry lanes as the data gathers them: which values
// make which lane and line, their lowest and highest in each bucket, the
// buckets joined as the time span grows, values read from linkscope-dump's
// JSON lines, and two sources' frames kept apart.
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
// A second source's lanes follow, each after "source 2: ".
QString lanesText(const PlotData &data)
{
    QStringList lanes;
    for (int s = 0; s < data.sourceCount(); ++s)
    for (const TelemetryLane &lane : data.telemetryLanes(s)) {
        QStringList parts{(s > 0 ? QStringLiteral("source %1: ").arg(s + 1) : QString()) + PlotData::laneName(lane.quantity)
                          + QLatin1Char(' ') + QString::fromUtf8(lane.unit)};
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

// A step of a run of two sources: a frame of source at t, or stray bytes.
struct Step
{
    enum Kind { Good, Failsafe, Damaged, Stray } kind;
    int source;
    double t; // of a frame; the bytes counted so far, for Stray
};

// "0: 2 frames, 1 CRC, 5 stray, 0 silences, 200..200 ms: 0 2C+5, 3 1F":
// each source's counts, its intervals, and its buckets with frames or
// flags (F failsafe, S silence, C CRC failures, +N stray bytes); then all.
QString sourcesText(const PlotData &data)
{
    QStringList sources;
    for (int s = 0; s < data.sourceCount(); ++s) {
        QStringList buckets;
        float low = 0, high = 0;
        for (int i = 0; i < data.bucketCount(); ++i) {
            const PlotColumn &c = data.columns(s).at(i);
            if (c.intervals > 0) {
                low = low > 0 ? qMin(low, c.intervalLow) : c.intervalLow;
                high = qMax(high, c.intervalHigh);
            }
            if (c.frames || c.failsafe || c.silence || c.strayBytes)
                buckets << QStringLiteral("%1 %2%3%4%5%6")
                               .arg(i)
                               .arg(c.frames)
                               .arg(c.failsafe ? "F" : "", c.silence ? "S" : "", c.crcFailures ? "C" : "")
                               .arg(c.strayBytes ? QStringLiteral("+%1").arg(c.strayBytes) : QString());
        }
        sources << QStringLiteral("%1: %2 frames, %3 CRC, %4 stray, %5 silences, %6..%7 ms: %8")
                       .arg(data.sourceName(s))
                       .arg(data.frames(s))
                       .arg(data.crcFailures(s))
                       .arg(data.strayBytes(s))
                       .arg(data.silences(s))
                       .arg(qRound(low))
                       .arg(qRound(high))
                       .arg(buckets.join(QStringLiteral(", ")));
    }
    return sources.join(QStringLiteral(" | "))
           + QStringLiteral(" | all: %1 frames, %2 CRC, %3 stray, %4 silences")
                 .arg(data.frames())
                 .arg(data.crcFailures())
                 .arg(data.strayBytes())
                 .arg(data.silences());
}

} // namespace

Q_DECLARE_METATYPE(QVector<Sample>)
Q_DECLARE_METATYPE(QVector<Step>)

class tst_PlotData : public QObject
{
    Q_OBJECT

private slots:
    void telemetryLanes_data();
    void telemetryLanes();
    void sourcesKeptApart_data();
    void sourcesKeptApart();
    void jsonLinesKeepWhatFramesTold_data();
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

void tst_PlotData::sourcesKeptApart_data()
{
    QTest::addColumn<QVector<Step>>("steps");
    QTest::addColumn<QString>("drawn");
    const Step::Kind good = Step::Good;
    QTest::newRow("interleaved: each source's own intervals and silences")
        << QVector<Step>{{good, 0, 0.1}, {good, 1, 0.2}, {good, 0, 0.3}, {good, 0, 0.5}, {good, 0, 0.7}, {good, 1, 1.4}}
        << "A: 4 frames, 0 CRC, 0 stray, 0 silences, 200..200 ms: 0 4 | "
           "B: 2 frames, 0 CRC, 0 stray, 1 silences, 1200..1200 ms: 0 1S, 1 1S | all: 6 frames, 0 CRC, 0 stray, 1 silences";
    QTest::newRow("failsafe and CRC failures stay with their source")
        << QVector<Step>{{good, 0, 1.9}, {Step::Failsafe, 1, 2.0}, {good, 0, 2.3}, {Step::Damaged, 0, 2.6}, {good, 1, 3.4}}
        << "A: 3 frames, 1 CRC, 0 stray, 0 silences, 300..400 ms: 0 3C | "
           "B: 2 frames, 0 CRC, 0 stray, 1 silences, 1400..1400 ms: 0 1FS, 1 1FS | all: 5 frames, 1 CRC, 0 stray, 1 silences";
    // Each source tells its own running count; the picture's total is their sum.
    QTest::newRow("stray bytes counted per source and summed")
        << QVector<Step>{{good, 0, 0.5}, {good, 1, 0.6}, {Step::Stray, 0, 5}, {Step::Stray, 1, 7}, {good, 0, 1.7},
                         {Step::Stray, 0, 9}}
        << "A: 2 frames, 0 CRC, 9 stray, 1 silences, 1200..1200 ms: 0 1S+5, 1 1S+4 | "
           "B: 1 frames, 0 CRC, 7 stray, 0 silences, 0..0 ms: 0 1+7 | all: 3 frames, 0 CRC, 16 stray, 1 silences";
}

// Buckets of 1 s, so that the failsafe row's times of 1.9 to 3.4 s count
// from its first frame as 0 to 1.5 s.
void tst_PlotData::sourcesKeptApart()
{
    QFETCH(QVector<Step>, steps);
    PlotData data(10, ChannelList(), 0, 10, nullptr);
    data.setSources({QStringLiteral("A"), QStringLiteral("B")});
    FrameReading frame;
    frame.family = "HOTT";
    const QByteArray bytes;
    for (const Step &step : steps) {
        if (step.kind == Step::Stray) {
            data.setStrayBytes(step.source, qint64(step.t));
            continue;
        }
        frame.crcOk = step.kind != Step::Damaged;
        frame.failsafe = step.kind == Step::Failsafe ? 1 : 0;
        data.take(Frame{step.source, frame, step.t, "capture", 0, bytes});
    }
    QTEST(sourcesText(data), "drawn");
}

void tst_PlotData::jsonLinesKeepWhatFramesTold_data()
{
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<QString>("names"); // as readJsonFrames told them
    QTest::addColumn<QString>("drawn");
    QTest::addColumn<QString>("error");
    // Address 2 is a voltage sensor; its measurement 0x04D2 is 12.34 V.
    const QByteArray type = "\"family\":\"IBUS_SENSOR\",\"raw\":\"0692030262ff\"";
    const QByteArray value = "\"family\":\"IBUS_SENSOR\",\"raw\":\"06a2d20481fe\"";
    // An iBUS sensor's measurement means what the type its earlier reply named says.
    QTest::newRow("iBUS type told before") << "{\"t\":0.5," + type + "}\n{\"t\":1.5," + value + "}\n" << QString()
                                           << "voltage V | voltage_v MEASURE_REPLY: 1 12.34..12.34" << QString();
    // What one wire's sensor said says nothing of another's.
    QTest::newRow("two src: named in order, each its own") << "{\"t\":0.5,\"src\":\"/dev/ttyUSB1\"," + type + "}\n"
                                                              "{\"t\":1.0,\"src\":\"COM 3\"," + value + "}\n"
                                                              "{\"t\":3.5,\"src\":\"/dev/ttyUSB1\"," + value + "}\n"
                                                              "{\"t\":4.5,\"src\":\"COM 3\"," + type + "}\n"
                                                              "{\"t\":5.5,\"src\":\"COM 3\"," + value + "}\n"
                                           << "0 /dev/ttyUSB1, 1 COM 3"
                                           << "voltage V | voltage_v MEASURE_REPLY: 3 12.34..12.34 / "
                                              "source 2: voltage V | voltage_v MEASURE_REPLY: 5 12.34..12.34"
                                           << QString();
    // Shown in messages on a terminal: no escape sequence gets through.
    QTest::newRow("src with control characters") << "{\"t\":0.5,\"src\":\"a\\u001b[2J\\n\"," + type + "}\n"
                                                << QString::fromUtf8("0 a\xef\xbf\xbd[2J\xef\xbf\xbd") << QString()
                                                << QString();
    QTest::newRow("src no text") << "{\"t\":0.5," + type + "}\n{\"t\":1.5,\"src\":2," + value + "}\n" << QString()
                                 << QString() << "line 2: \"src\" is no text";
    QByteArray nine;
    for (int i = 0; i < 9; ++i)
        nine += "{\"t\":" + QByteArray::number(i) + ",\"src\":\"" + QByteArray::number(i) + "\"," + type + "}\n";
    QTest::newRow("more than 8 sources") << nine << "0 0, 1 1, 2 2, 3 3, 4 4, 5 5, 6 6, 7 7" << QString()
                                         << "line 9: more than 8 sources (\"src\")";
}

void tst_PlotData::jsonLinesKeepWhatFramesTold()
{
    QFETCH(QByteArray, records);
    QFETCH(QString, error);
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("ibus.jsonl")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(records);
    file.close();
    PlotData data(10, ChannelList(), 0, 10, nullptr);
    QStringList names;
    QString said;
    QVERIFY(file.open(QIODevice::ReadOnly));
    const bool read = readJsonFrames(file, file.fileName(), data, said, [&](int source, const QString &name) {
        names << QStringLiteral("%1 %2").arg(source).arg(name);
        data.nameSource(source, name);
    });
    QCOMPARE(read, error.isEmpty());
    QVERIFY2(said.endsWith(error), qPrintable(said));
    QTEST(names.join(QStringLiteral(", ")), "names");
    QTEST(lanesText(data), "drawn");
}

QTEST_GUILESS_MAIN(tst_PlotData)
#include "tst_plotdata.moc"
