// SPDX-License-Identifier: GPL-3.0-or-later
// What linkscope-plot draws, gathered frame by frame into one bucket per
// pixel column: each channel's lowest and highest value, the intervals
// between frames, CRC failures, lost frames, stray bytes, failsafe, silences,
// where the family sends them, the link's quality and RSSI, and the
// telemetry values of the quantities chosen (battery, altitude...). The
// buckets double in width as the time span grows, so that memory stays the
// same however long the source is, and no frame's value is lost to a sample.
#ifndef LINKSCOPE_PLOT_PLOTDATA_H
#define LINKSCOPE_PLOT_PLOTDATA_H

#include "decode/channellist.h"
#include "decode/families/telemetry.h"
#include "reading/framesink.h"

#include <QElapsedTimer>
#include <QPair>
#include <QString>
#include <QVector>

#include <functional>

struct PlotColumn
{
    int frames = 0;
    int crcFailures = 0;
    int framesLost = 0; // frames whose family flags a lost frame
    qint64 strayBytes = 0;
    bool failsafe = false;
    bool silence = false; // part of a time without frames for longer than silenceAfter
    float intervalLow = 0, intervalHigh = 0; // ms, where intervals > 0
    int intervals = 0;
};

struct ValueRange
{
    qint32 low = 0, high = 0;
    bool seen = false;
    // The channel had no value for longer than silenceAfter before this
    // bucket's first one: its line breaks here.
    bool gapBefore = false;
};

// A telemetry value's lowest and highest in a bucket, in its unit.
struct TelemetryRange
{
    double low = 0, high = 0;
    bool seen = false;
    // No value of its name came for longer than telemetryGap before.
    bool gapBefore = false;
};

// One quantity in one unit, a lane of the picture: a line for each value
// that measures it, by its name and the type of frame it came in (CRSF's
// GPS altitude beside its barometer's).
struct TelemetryLane
{
    struct Line
    {
        const char *name; // the record's key
        const char *type; // the frame's type; "" where none
        QVector<TelemetryRange> ranges;
        double lastAt;
    };
    TelemetryValue::Quantity quantity;
    const char *unit;
    QVector<Line> lines;
};

class PlotData : public FrameSink
{
public:
    static constexpr double silenceAfter = 0.5; // s
    // Telemetry comes more slowly than channels: its lines break only where
    // a value stayed away this long.
    static constexpr double telemetryGap = 5; // s
    // Lines a telemetry lane keeps; values of more names are left out.
    static constexpr int linesPerLane = 8;

    // columns: pixel columns of the time axis. from and to pick a window of
    // it (NaN: open); warn is told of backward times once.
    PlotData(int columns, const ChannelList &channels, double from, double to,
             std::function<void(const QString &)> warn);

    void take(const Frame &frame) override;
    void setStrayBytes(int source, qint64 bytes) override;
    void setBunching(int source, double periodMs, const QString &remedy) override;

    // Whether frames had times: otherwise the axis counts frames.
    bool timed() const { return isTimed; }
    qint64 frames() const { return frameCount; }
    qint64 framesDrawn() const { return drawnCount; }
    // Frames per family, in the order first seen.
    const QVector<QPair<QString, qint64>> &families() const { return perFamily; }
    // Channel values are words as sent: the family has no µs scale.
    bool words() const { return inWords; }
    qint64 crcFailures() const { return crcFailureCount; }
    qint64 strayBytes() const { return strayTotal; }
    qint64 silences() const { return silenceCount; }
    // Reads came in bunches, last about this far apart (ms; 0: never), and
    // what would mend it.
    double bunchedPeriodMs() const { return bunchedMs; }
    const QString &bunchingRemedy() const { return remedy; }

    // The axis: from its start to its end, in s (or frames).
    double axisStart() const;
    double axisEnd() const;
    // The span of the frames taken, first to last.
    double firstX() const { return first; }
    double lastX() const { return last; }
    // Bucket i covers [axisStart() + i * bucketWidth(), + bucketWidth()).
    double bucketWidth() const { return width; }
    int bucketCount() const;
    const QVector<PlotColumn> &columns() const { return buckets; }
    // Channel numbers with at least one value, ascending, and the buckets of one.
    QVector<int> channelsSeen() const;
    const QVector<ValueRange> &channel(int number) const { return perChannel.at(number - 1); }
    // Whether frames of a family that reports its link (CRSF, GHST) came,
    // and the link figures' buckets: uplink LQ in %, RSSI in dBm (of the
    // antenna in use). Empty until a frame gave them.
    bool reportsLink() const { return linkFamily; }
    const QVector<ValueRange> &linkQuality() const { return perLink[0]; }
    const QVector<ValueRange> &rssi() const { return perLink[1]; }

    // The quantities drawn as telemetry lanes, by default and as a list
    // such as "voltage,current,rssi" names them ("all", "none").
    static QVector<TelemetryValue::Quantity> defaultLanes();
    static bool parseLanes(const QString &list, QVector<TelemetryValue::Quantity> &lanes, QString &error);
    // "voltage", as the list names it.
    static QString laneName(TelemetryValue::Quantity quantity);
    void setLanes(const QVector<TelemetryValue::Quantity> &lanes) { wantedLanes = lanes; }
    // The link's own lane (CRSF, GHST) goes with the RSSI.
    bool drawsLink() const { return linkFamily && wantedLanes.contains(TelemetryValue::Rssi); }
    // The lanes of the values that came, in the order chosen; a quantity in
    // two units makes two lanes.
    const QVector<TelemetryLane> &telemetryLanes() const { return lanes; }

private:
    int bucketOf(double x);
    void takeTelemetry(const FrameReading &frame, double x);
    void widen();
    // Sets flag in the buckets from from to to, within the window.
    void mark(double from, double to, bool PlotColumn::*flag);

    const int count;
    const ChannelList chosen;
    const double windowFrom, windowTo;
    std::function<void(const QString &)> warn;
    QVector<PlotColumn> buckets;
    QVector<QVector<ValueRange>> perChannel; // by channel number - 1; empty until seen
    QVector<ValueRange> perLink[2];          // LQ and RSSI, as perChannel
    bool linkFamily = false;
    QVector<TelemetryValue::Quantity> wantedLanes = defaultLanes();
    QVector<TelemetryLane> lanes;
    QVector<double> lastValueAt;             // by channel number - 1; NaN until seen
    double origin = 0, width = 0;
    bool wasFailsafe = false; // the last frame with a matching CRC
    double lastGood = 0;
    bool started = false, isTimed = false, inWords = false, unitKnown = false, warned = false;
    double firstT = 0, first = 0, last = 0, previous = 0;
    qint64 frameCount = 0, drawnCount = 0, crcFailureCount = 0, strayTotal = 0, strayNoted = 0, silenceCount = 0;
    int lastBucket = -1;
    QVector<QPair<QString, qint64>> perFamily;
    double bunchedMs = 0;
    QString remedy;
};

#endif
