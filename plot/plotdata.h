// SPDX-License-Identifier: GPL-3.0-or-later
// What linkscope-plot draws, gathered frame by frame into one bucket per
// pixel column: each channel's lowest and highest value, the intervals
// between frames, CRC failures, lost frames, stray bytes, failsafe, silences,
// where the family sends them, the link's quality and RSSI, and the
// telemetry values of the quantities chosen (battery, altitude...). The
// buckets double in width as the time span grows, so that memory stays the
// same however long the source is, and no frame's value is lost to a sample.
// Two or more sources (linkscope-plot SRC1 SRC2, or a recording of them)
// share the time axis; everything else is gathered for each on its own.
#ifndef LINKSCOPE_PLOT_PLOTDATA_H
#define LINKSCOPE_PLOT_PLOTDATA_H

#include "decode/channellist.h"
#include "decode/families/telemetry.h"
#include "reading/framesink.h"

#include <QElapsedTimer>
#include <QPair>
#include <QString>
#include <QStringList>
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

    // The sources' names, in the order of their numbers in Frame::source.
    // One whose frames come unnamed is "source N".
    void setSources(const QStringList &names);
    // Names source, as a recording of several tells them one by one.
    void nameSource(int source, const QString &name);
    // At least one: those named or whose frames came.
    int sourceCount() const { return int(perSource.size()); }
    QString sourceName(int source) const;

    void take(const Frame &frame) override;
    void setStrayBytes(int source, qint64 bytes) override;
    void setBunching(int source, double periodMs, const QString &remedy) override;

    // Whether frames had times: otherwise the axis counts frames.
    bool timed() const { return isTimed; }
    // The counts of all sources together, or of one.
    qint64 frames() const { return frameCount; }
    qint64 frames(int source) const { return of(source).frameCount; }
    qint64 framesDrawn() const { return drawnCount; }
    qint64 crcFailures() const;
    qint64 crcFailures(int source) const { return of(source).crcFailureCount; }
    qint64 strayBytes() const;
    qint64 strayBytes(int source) const { return of(source).strayTotal; }
    qint64 silences() const;
    qint64 silences(int source) const { return of(source).silenceCount; }
    // Frames per family, in the order first seen.
    const QVector<QPair<QString, qint64>> &families(int source = 0) const { return of(source).perFamily; }
    // Channel values are words as sent: the family has no µs scale.
    bool words(int source = 0) const { return of(source).inWords; }
    // Reads came in bunches, last about this far apart (ms; 0: never), and
    // what would mend it.
    double bunchedPeriodMs(int source = 0) const { return of(source).bunchedMs; }
    const QString &bunchingRemedy(int source = 0) const { return of(source).remedy; }

    // The axis: from its start to its end, in s (or frames).
    double axisStart() const;
    double axisEnd() const;
    // The span of the frames taken, first to last.
    double firstX() const { return first; }
    double lastX() const { return last; }
    // Bucket i covers [axisStart() + i * bucketWidth(), + bucketWidth()).
    double bucketWidth() const { return width; }
    int bucketCount() const;
    const QVector<PlotColumn> &columns(int source = 0) const { return of(source).buckets; }
    // Channel numbers with at least one value, ascending, and the buckets of one.
    QVector<int> channelsSeen(int source = 0) const;
    const QVector<ValueRange> &channel(int number, int source = 0) const { return of(source).perChannel.at(number - 1); }
    // Whether frames of a family that reports its link (CRSF, GHST) came,
    // and the link figures' buckets: uplink LQ in %, RSSI in dBm (of the
    // antenna in use). Empty until a frame gave them.
    bool reportsLink(int source = 0) const { return of(source).linkFamily; }
    const QVector<ValueRange> &linkQuality(int source = 0) const { return of(source).perLink[0]; }
    const QVector<ValueRange> &rssi(int source = 0) const { return of(source).perLink[1]; }

    // The quantities drawn as telemetry lanes, by default and as a list
    // such as "voltage,current,rssi" names them ("all", "none").
    static QVector<TelemetryValue::Quantity> defaultLanes();
    static bool parseLanes(const QString &list, QVector<TelemetryValue::Quantity> &lanes, QString &error);
    // "voltage", as the list names it.
    static QString laneName(TelemetryValue::Quantity quantity);
    void setLanes(const QVector<TelemetryValue::Quantity> &lanes) { wantedLanes = lanes; }
    // The link's own lane (CRSF, GHST) goes with the RSSI.
    bool drawsLink(int source = 0) const
    {
        return of(source).linkFamily && wantedLanes.contains(TelemetryValue::Rssi);
    }
    // The lanes of the values that came, in the order chosen; a quantity in
    // two units makes two lanes.
    const QVector<TelemetryLane> &telemetryLanes(int source = 0) const { return of(source).lanes; }

private:
    // What one source's frames made.
    struct Source
    {
        explicit Source(int columns = 0);
        QString name;
        QVector<PlotColumn> buckets;
        QVector<QVector<ValueRange>> perChannel; // by channel number - 1; empty until seen
        QVector<ValueRange> perLink[2];          // LQ and RSSI, as perChannel
        bool linkFamily = false;
        QVector<TelemetryLane> lanes;
        QVector<double> lastValueAt; // by channel number - 1; NaN until seen
        bool wasFailsafe = false;    // the last frame with a matching CRC
        double lastGood = 0;
        bool inWords = false, unitKnown = false;
        double last = 0; // where its last frame went
        qint64 frameCount = 0, crcFailureCount = 0, strayTotal = 0, strayNoted = 0, silenceCount = 0;
        int lastBucket = -1;
        QVector<QPair<QString, qint64>> perFamily;
        double bunchedMs = 0;
        QString remedy;
    };

    const Source &of(int source) const { return perSource.at(source); }
    Source &grown(int source);
    int bucketOf(double x);
    void takeTelemetry(Source &source, const FrameReading &frame, double x);
    void widen();
    // Sets flag in the source's buckets from from to to, within the window.
    void mark(Source &source, double from, double to, bool PlotColumn::*flag);

    const int count;
    const ChannelList chosen;
    const double windowFrom, windowTo;
    std::function<void(const QString &)> warn;
    QVector<Source> perSource;
    QVector<TelemetryValue::Quantity> wantedLanes = defaultLanes();
    double origin = 0, width = 0;
    bool started = false, isTimed = false, warned = false;
    double firstT = 0, first = 0, last = 0;
    qint64 frameCount = 0, drawnCount = 0;
};

#endif
