// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot/plotdata.h"

#include "decode/families/framereading.h"

#include <QStringList>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

void merge(PlotColumn &into, const PlotColumn &from)
{
    into.frames += from.frames;
    into.crcFailures += from.crcFailures;
    into.framesLost += from.framesLost;
    into.strayBytes += from.strayBytes;
    into.failsafe = into.failsafe || from.failsafe;
    into.silence = into.silence || from.silence;
    if (from.intervals > 0) {
        into.intervalLow = into.intervals > 0 ? qMin(into.intervalLow, from.intervalLow) : from.intervalLow;
        into.intervalHigh = into.intervals > 0 ? qMax(into.intervalHigh, from.intervalHigh) : from.intervalHigh;
        into.intervals += from.intervals;
    }
}

template <class Range>
void merge(Range &into, const Range &from)
{
    if (!from.seen)
        return;
    if (!into.seen)
        into.gapBefore = from.gapBefore;
    into.low = into.seen ? qMin(into.low, from.low) : from.low;
    into.high = into.seen ? qMax(into.high, from.high) : from.high;
    into.seen = true;
}

void add(ValueRange &range, int value)
{
    range.low = range.seen ? qMin(range.low, value) : value;
    range.high = range.seen ? qMax(range.high, value) : value;
    range.seen = true;
}

// Two buckets into one, over the first half; the rest emptied.
template <class Range>
void halve(QVector<Range> &ranges, int count)
{
    if (ranges.isEmpty())
        return;
    const int half = (count + 1) / 2;
    for (int i = 0; i < half; ++i) {
        Range joined = ranges.at(2 * i);
        if (2 * i + 1 < count)
            merge(joined, ranges.at(2 * i + 1));
        ranges[i] = joined;
    }
    std::fill(ranges.begin() + half, ranges.end(), Range());
}

using Quantity = TelemetryValue::Quantity;

// The lanes by the names --telemetry takes, in the order they are drawn.
const struct
{
    Quantity quantity;
    const char *name;
} laneNames[] = {
    {TelemetryValue::BatteryVoltage, "voltage"}, {TelemetryValue::Current, "current"},
    {TelemetryValue::Consumed, "consumed"},      {TelemetryValue::Remaining, "remaining"},
    {TelemetryValue::ReceiverVoltage, "rx-voltage"}, {TelemetryValue::Altitude, "altitude"},
    {TelemetryValue::VerticalSpeed, "vario"},    {TelemetryValue::Speed, "speed"},
    {TelemetryValue::Heading, "heading"},        {TelemetryValue::Attitude, "attitude"},
    {TelemetryValue::Latitude, "latitude"},      {TelemetryValue::Longitude, "longitude"},
    {TelemetryValue::Distance, "distance"},      {TelemetryValue::Satellites, "satellites"},
    {TelemetryValue::Temperature, "temperature"}, {TelemetryValue::Rpm, "rpm"},
    {TelemetryValue::Rssi, "rssi"},
};

} // namespace

PlotData::Source::Source(int columns)
    : buckets(columns), perChannel(FrameReading::maxChannels),
      lastValueAt(FrameReading::maxChannels, std::numeric_limits<double>::quiet_NaN())
{
}

PlotData::PlotData(int columns, const ChannelList &channels, double from, double to,
                   std::function<void(const QString &)> warn)
    : count(qMax(2, columns)), chosen(channels), windowFrom(from), windowTo(to), warn(std::move(warn)),
      perSource{Source(count)}
{
    origin = std::isnan(from) ? 0 : from;
}

PlotData::Source &PlotData::grown(int source)
{
    source = qMax(0, source);
    while (perSource.size() <= source)
        perSource.append(Source(count));
    return perSource[source];
}

void PlotData::setSources(const QStringList &names)
{
    for (int i = 0; i < names.size(); ++i)
        grown(i).name = names.at(i);
}

void PlotData::nameSource(int source, const QString &name)
{
    grown(source).name = name;
}

QString PlotData::sourceName(int source) const
{
    const QString &name = of(source).name;
    return name.isEmpty() ? QStringLiteral("source %1").arg(source + 1) : name;
}

qint64 PlotData::crcFailures() const
{
    qint64 sum = 0;
    for (const Source &source : perSource)
        sum += source.crcFailureCount;
    return sum;
}

qint64 PlotData::strayBytes() const
{
    qint64 sum = 0;
    for (const Source &source : perSource)
        sum += source.strayTotal;
    return sum;
}

qint64 PlotData::silences() const
{
    qint64 sum = 0;
    for (const Source &source : perSource)
        sum += source.silenceCount;
    return sum;
}

int PlotData::bucketOf(double x)
{
    double at = std::floor((x - origin) / width);
    while (at >= count) {
        widen();
        at = std::floor((x - origin) / width);
    }
    return int(qMax(0.0, at));
}

// Twice as wide buckets, each made of two: the lowest and highest of both
// stay, for every source alike.
void PlotData::widen()
{
    for (Source &source : perSource) {
        halve(source.buckets, count);
        for (QVector<ValueRange> &ranges : source.perChannel)
            halve(ranges, count);
        for (QVector<ValueRange> &ranges : source.perLink)
            halve(ranges, count);
        for (TelemetryLane &lane : source.lanes) {
            for (TelemetryLane::Line &line : lane.lines)
                halve(line.ranges, count);
        }
        source.lastBucket /= 2;
    }
    width *= 2;
}

void PlotData::mark(Source &source, double from, double to, bool PlotColumn::*flag)
{
    if (!std::isnan(windowFrom))
        from = qMax(from, windowFrom);
    if (!std::isnan(windowTo))
        to = qMin(to, windowTo);
    if (from >= to)
        return;
    // The later end first: it may widen the buckets.
    const int end = bucketOf(to);
    for (int i = bucketOf(from); i <= end; ++i)
        source.buckets[i].*flag = true;
}

void PlotData::take(const Frame &taken)
{
    const FrameReading &frame = taken.reading;
    const double t = taken.t;
    Source &source = grown(taken.source);
    ++frameCount;
    ++source.frameCount;
    bool known = false;
    for (auto &entry : source.perFamily) {
        if (entry.first == QLatin1String(frame.family)) {
            ++entry.second;
            known = true;
            break;
        }
    }
    if (!known)
        source.perFamily.append({QString::fromLatin1(frame.family), 1});
    source.linkFamily = source.linkFamily || std::strcmp(frame.family, "CRSF") == 0
                        || std::strcmp(frame.family, "GHST") == 0;

    if (!started) {
        started = true;
        isTimed = !std::isnan(t);
        firstT = t;
        if (std::isnan(windowFrom) && !std::isnan(windowTo))
            width = (windowTo - origin) / count;
        else if (!std::isnan(windowFrom) && !std::isnan(windowTo))
            width = (windowTo - windowFrom) / count;
        else
            width = isTimed ? 0.001 : 1;
        if (!(width > 0))
            width = isTimed ? 0.001 : 1;
    }
    double x;
    if (isTimed) {
        x = std::isnan(t) ? last : t - firstT;
        // Drawn in file order: a frame never goes before the one ahead of it.
        if (x < last) {
            if (!warned && warn)
                warn(QStringLiteral("the times go backwards at frame %1 (%2 s after %3 s); drawn in file order")
                         .arg(frameCount)
                         .arg(x, 0, 'f', 6)
                         .arg(last, 0, 'f', 6));
            warned = true;
            x = last;
        }
    } else {
        x = double(frameCount - 1);
    }
    // Intervals and silences are the source's own: the other's frames
    // between two of its own fill no gap.
    const double before = source.last;
    const bool firstOfSource = source.frameCount == 1;
    if (frameCount == 1)
        first = x;
    last = x;
    source.last = x;
    if (isTimed && !firstOfSource && x - before > silenceAfter) {
        ++source.silenceCount;
        mark(source, before, x, &PlotColumn::silence);
    }
    if ((!std::isnan(windowFrom) && x < windowFrom) || (!std::isnan(windowTo) && x > windowTo))
        return;

    ++drawnCount;
    const int at = bucketOf(x);
    source.lastBucket = at;
    PlotColumn &column = source.buckets[at];
    ++column.frames;
    if (source.strayTotal > source.strayNoted) {
        column.strayBytes += source.strayTotal - source.strayNoted;
        source.strayNoted = source.strayTotal;
    }
    if (isTimed && !firstOfSource) {
        const float ms = float((x - before) * 1000);
        column.intervalLow = column.intervals > 0 ? qMin(column.intervalLow, ms) : ms;
        column.intervalHigh = column.intervals > 0 ? qMax(column.intervalHigh, ms) : ms;
        ++column.intervals;
    }
    if (!frame.crcOk) {
        ++source.crcFailureCount;
        ++column.crcFailures;
        // A damaged frame says nothing about the channels or the receiver.
        return;
    }
    // Failsafe lasts from a failsafe frame until the next frame says otherwise.
    if (source.wasFailsafe)
        mark(source, source.lastGood, x, &PlotColumn::failsafe);
    source.buckets[at].failsafe = source.buckets[at].failsafe || frame.failsafe == 1;
    if (frame.frameLost == 1)
        ++source.buckets[at].framesLost;
    source.wasFailsafe = frame.failsafe == 1;
    source.lastGood = x;
    if (frame.hasLink) {
        const FrameReading::Link &link = frame.link;
        // Flight controllers take the RSSI of the antenna in use.
        const int rssi = link.antenna == 1 && link.rssi2Dbm != FrameReading::noValue ? link.rssi2Dbm : link.rssi1Dbm;
        const int values[2] = {link.lq, rssi};
        for (int i = 0; i < 2; ++i) {
            if (values[i] == FrameReading::noValue)
                continue;
            if (source.perLink[i].isEmpty())
                source.perLink[i].resize(count);
            add(source.perLink[i][at], values[i]);
        }
    }
    if (frame.telemetry.size() > 0)
        takeTelemetry(source, frame, x);
    // NORDAX has no public scale: its words are drawn as sent, and the
    // first frame with a matching CRC picks the unit.
    const bool frameInWords = std::strcmp(frame.family, "NORDAX") == 0;
    if (!source.unitKnown) {
        source.unitKnown = true;
        source.inWords = frameInWords;
    }
    if (frameInWords != source.inWords)
        return;
    const int *values = source.inWords ? frame.wire : frame.us;
    for (int k = 0; k < frame.channels; ++k) {
        if (values[k] == FrameReading::noValue || !chosen.contains(k + 1))
            continue;
        QVector<ValueRange> &ranges = source.perChannel[k];
        if (ranges.isEmpty())
            ranges.resize(count);
        ValueRange &range = ranges[at];
        // A silence, or a failsafe in which the family's channel frames stop
        // while others still come, is no motion: the line breaks there.
        if (!range.seen)
            range.gapBefore = isTimed && x - source.lastValueAt.at(k) > silenceAfter;
        source.lastValueAt[k] = x;
        range.low = range.seen ? qMin(range.low, values[k]) : values[k];
        range.high = range.seen ? qMax(range.high, values[k]) : values[k];
        range.seen = true;
    }
}

void PlotData::takeTelemetry(Source &source, const FrameReading &frame, double x)
{
    QVector<TelemetryLane> &lanes = source.lanes;
    const Telemetry &telemetry = frame.telemetry;
    const char *type = frame.type ? frame.type : "";
    for (int i = 0; i < telemetry.size(); ++i) {
        const TelemetryValue &value = telemetry.at(i);
        const int wanted = wantedLanes.indexOf(value.quantity);
        if (value.kind != TelemetryValue::Number || wanted < 0)
            continue;
        // The lane of its quantity and unit, made where it should go among the others.
        int at = 0;
        while (at < lanes.size() && !(lanes.at(at).quantity == value.quantity && std::strcmp(lanes.at(at).unit, value.unit) == 0)) {
            ++at;
        }
        if (at == lanes.size()) {
            at = 0;
            while (at < lanes.size() && wantedLanes.indexOf(lanes.at(at).quantity) <= wanted)
                ++at;
            lanes.insert(at, TelemetryLane{value.quantity, value.unit, {}});
        }
        QVector<TelemetryLane::Line> &lines = lanes[at].lines;
        int which = 0;
        while (which < lines.size()
               && (std::strcmp(lines.at(which).name, value.name) != 0 || std::strcmp(lines.at(which).type, type) != 0))
            ++which;
        if (which == lines.size()) {
            if (lines.size() >= linesPerLane)
                continue;
            lines.append({value.name, type, QVector<TelemetryRange>(count), std::numeric_limits<double>::quiet_NaN()});
        }
        TelemetryLane::Line &line = lines[which];
        TelemetryRange &range = line.ranges[source.lastBucket];
        const double v = value.value();
        if (!range.seen)
            range.gapBefore = isTimed && x - line.lastAt > telemetryGap;
        line.lastAt = x;
        range.low = range.seen ? qMin(range.low, v) : v;
        range.high = range.seen ? qMax(range.high, v) : v;
        range.seen = true;
    }
}

QVector<TelemetryValue::Quantity> PlotData::defaultLanes()
{
    return {TelemetryValue::BatteryVoltage, TelemetryValue::Current, TelemetryValue::Altitude, TelemetryValue::Rssi};
}

QString PlotData::laneName(TelemetryValue::Quantity quantity)
{
    for (const auto &lane : laneNames) {
        if (lane.quantity == quantity)
            return QLatin1String(lane.name);
    }
    return QString();
}

bool PlotData::parseLanes(const QString &list, QVector<TelemetryValue::Quantity> &chosen, QString &error)
{
    QStringList known;
    for (const auto &lane : laneNames)
        known << QLatin1String(lane.name);
    const QString usage = QStringLiteral("give a list of %1, or all, or none").arg(known.join(QLatin1Char(',')));
    chosen.clear();
    const QStringList items = list.split(QLatin1Char(','));
    for (const QString &given : items) {
        const QString item = given.trimmed().toLower();
        if ((item == QLatin1String("none") || item == QLatin1String("all")) && items.size() == 1) {
            if (item == QLatin1String("all")) {
                for (const auto &lane : laneNames)
                    chosen.append(lane.quantity);
            }
            return true;
        }
        const int at = known.indexOf(item);
        if (at < 0) {
            error = item.isEmpty() ? QStringLiteral("an empty name in the lanes '%1': %2").arg(list, usage)
                                   : QStringLiteral("no telemetry lane '%1': %2").arg(given.trimmed(), usage);
            return false;
        }
        if (!chosen.contains(laneNames[at].quantity))
            chosen.append(laneNames[at].quantity);
    }
    return true;
}

void PlotData::setStrayBytes(int which, qint64 bytes)
{
    // Each source counts its own from the start of the run.
    Source &source = grown(which);
    source.strayTotal = bytes;
    // Stray bytes count where the source's last frame before them went.
    if (source.lastBucket >= 0 && source.strayTotal > source.strayNoted) {
        source.buckets[source.lastBucket].strayBytes += source.strayTotal - source.strayNoted;
        source.strayNoted = source.strayTotal;
    }
}

void PlotData::setBunching(int which, double periodMs, const QString &how)
{
    Source &source = grown(which);
    // Once seen, the note stays: the picture shows the whole run.
    if (periodMs > 0) {
        source.bunchedMs = periodMs;
        source.remedy = how;
    }
}

double PlotData::axisStart() const
{
    return origin;
}

double PlotData::axisEnd() const
{
    double end = !std::isnan(windowTo) ? windowTo : last;
    if (!(end > origin))
        end = origin + 1;
    return end;
}

int PlotData::bucketCount() const
{
    if (!started || !(width > 0))
        return 0;
    return int(qBound(0.0, std::floor((axisEnd() - origin) / width) + 1, double(count)));
}

QVector<int> PlotData::channelsSeen(int source) const
{
    const QVector<QVector<ValueRange>> &perChannel = of(source).perChannel;
    QVector<int> numbers;
    for (int k = 0; k < perChannel.size(); ++k) {
        if (!perChannel.at(k).isEmpty())
            numbers.append(k + 1);
    }
    return numbers;
}
