// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot/picture.h"

#include "cli/commandline.h"
#include "cli/messages.h"
#include "decode/readbunching.h"
#include "plot/plotdata.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QCategoryAxis>
#include <QChart>
#include <QCoreApplication>
#include <QFile>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QImage>
#include <QLineSeries>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QValueAxis>

#include <cmath>

// Qt 5 keeps the charts in a namespace of their own; Qt 6 does not.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
QT_CHARTS_USE_NAMESPACE
#endif

namespace {

// Where the panels' plot areas lie: the same left and right edges, so that
// one time is one pixel column in every panel.
constexpr int leftEdge = 120;
constexpr int rightMargin = 150;
constexpr int titleHeight = 56;
constexpr int bottomHeight = 56;

const QColor failsafeColour(255, 196, 196);
const QColor silenceColour(196, 208, 232);
const QColor crcColour(200, 0, 0);
const QColor strayColour(230, 140, 0);
const QColor lostColour(120, 60, 160);
const QColor intervalColour(40, 40, 40);
const QColor linkQualityColour(0, 130, 60);
const QColor rssiColour(200, 110, 0);
const QColor bunchingColour(170, 70, 0);
// A telemetry lane's lines, in the order their names came.
const QColor telemetryColours[] = {{20, 90, 200}, {200, 40, 120}, {90, 150, 0}, {120, 80, 30},
                                   {0, 150, 150}, {150, 0, 200}, {230, 120, 0}, {90, 90, 90}};

QColor channelColour(int number)
{
    static const QColor colours[] = {
        {31, 119, 180}, {44, 160, 44},  {148, 103, 189}, {140, 86, 75},  {227, 119, 194}, {23, 190, 207},
        {188, 189, 34}, {0, 0, 128},    {127, 127, 127}, {255, 127, 14}, {0, 100, 0},     {128, 0, 128},
        {70, 130, 180}, {160, 82, 45},  {0, 139, 139},   {85, 107, 47},
    };
    return colours[(number - 1) % int(sizeof colours / sizeof colours[0])];
}

double centre(const PlotData &data, int bucket)
{
    return data.axisStart() + (bucket + 0.5) * data.bucketWidth();
}

// One shaded band per run of buckets that flagged says, from low to high,
// as one area series.
QAreaSeries *bands(const PlotData &data, int source, const std::function<bool(const PlotColumn &)> &flagged, double low,
                   double high, const QColor &colour, const QString &name)
{
    auto *upper = new QLineSeries;
    auto *lower = new QLineSeries;
    const double start = data.axisStart(), end = data.axisEnd(), width = data.bucketWidth();
    upper->append(start, low);
    const QVector<PlotColumn> &columns = data.columns(source);
    const int count = data.bucketCount();
    for (int i = 0; i < count;) {
        if (!flagged(columns.at(i))) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < count && flagged(columns.at(j + 1)))
            ++j;
        const double from = qMax(start, start + i * width), to = qMin(end, start + (j + 1) * width);
        upper->append(from, low);
        upper->append(from, high);
        upper->append(to, high);
        upper->append(to, low);
        i = j + 1;
    }
    upper->append(end, low);
    lower->append(start, low);
    lower->append(end, low);
    auto *area = new QAreaSeries(upper, lower);
    // The area does not own its edges: they go with it.
    upper->setParent(area);
    lower->setParent(area);
    area->setName(name);
    area->setPen(Qt::NoPen);
    area->setBrush(colour);
    return area;
}

// 1, 2 or 5 times a power of ten, so that about ticks steps span the range.
double niceStep(double span, int ticks)
{
    const double rough = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough)
            return factor * power;
    }
    return 10 * power;
}

void niceTicks(QValueAxis *axis, double low, double high, int ticks)
{
    axis->setRange(low, high);
    axis->setTickType(QValueAxis::TicksDynamic);
    const double step = niceStep(high - low, ticks);
    axis->setTickAnchor(std::ceil(low / step) * step);
    axis->setTickInterval(step);
    axis->setProperty("ticks", ticks);
}

QValueAxis *timeAxis(const PlotData &data, bool labelled)
{
    auto *axis = new QValueAxis;
    niceTicks(axis, data.axisStart(), data.axisEnd(), 10);
    axis->setLabelFormat(data.timed() ? QStringLiteral("%.6g") : QStringLiteral("%.0f"));
    axis->setLabelsVisible(labelled);
    if (labelled)
        axis->setTitleText(data.timed() ? QStringLiteral("time (s from the first frame)")
                                        : QStringLiteral("frame (the source tells no times)"));
    return axis;
}

void attach(QChart *chart, QAbstractSeries *series, QAbstractAxis *x, QAbstractAxis *y)
{
    chart->addSeries(series);
    series->attachAxis(x);
    series->attachAxis(y);
}

QChart *newChart()
{
    auto *chart = new QChart;
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(0, 0, 0, 0));
    return chart;
}

// A channel's line in the axes' values, with a break at every gap.
struct ChannelLine
{
    QLineSeries *series;
    QPainterPath path;
};

QChart *channelsPanel(const PlotData &data, int source, QVector<ChannelLine> &lines)
{
    QChart *chart = newChart();
    QValueAxis *x = timeAxis(data, false);
    auto *y = new QValueAxis;
    const QVector<int> numbers = data.channelsSeen(source);
    int low = data.words(source) ? 0 : 800, high = data.words(source) ? 0xFFFF : 2200;
    if (!numbers.isEmpty()) {
        low = std::numeric_limits<int>::max();
        high = std::numeric_limits<int>::min();
        for (int number : numbers) {
            for (const ValueRange &range : data.channel(number, source)) {
                if (range.seen) {
                    low = qMin(low, int(range.low));
                    high = qMax(high, int(range.high));
                }
            }
        }
        const int room = qMax(20, (high - low) / 20);
        low -= room;
        high += room;
    }
    niceTicks(y, low, high, 8);
    y->setLabelFormat(QStringLiteral("%.0f"));
    y->setTitleText(data.words(source) ? QStringLiteral("word (as sent)") : QStringLiteral("µs"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    attach(chart, bands(data, source, [](const PlotColumn &c) { return c.failsafe; }, low, high, failsafeColour,
                        QStringLiteral("failsafe")),
           x, y);
    const int count = data.bucketCount();
    for (int number : numbers) {
        // The series gives the legend its entry; the line itself is a path
        // drawn over the laid-out chart, since a series cannot break.
        auto *line = new QLineSeries;
        line->setName(QString::number(number));
        QPen pen(channelColour(number));
        pen.setWidth(1);
        line->setPen(pen);
        attach(chart, line, x, y);
        QPainterPath path;
        const QVector<ValueRange> &ranges = data.channel(number, source);
        bool lone = false; // the stretch so far is one point
        double previous = 0;
        for (int i = 0; i < count; ++i) {
            const ValueRange &range = ranges.at(i);
            if (!range.seen)
                continue;
            const double at = centre(data, i);
            // The end nearer the line so far comes first, so that the
            // column's stroke from lowest to highest adds no false slope.
            const bool starts = path.elementCount() == 0 || range.gapBefore;
            const bool lowFirst = starts || std::abs(previous - range.low) <= std::abs(previous - range.high);
            const QPointF near(at, lowFirst ? range.low : range.high), far(at, lowFirst ? range.high : range.low);
            if (starts) {
                // A lone value shows as a dash across its column, not as nothing.
                if (lone)
                    path.lineTo(path.currentPosition() + QPointF(data.bucketWidth() / 2, 0));
                path.moveTo(near);
            } else {
                path.lineTo(near);
            }
            lone = starts && range.high == range.low;
            if (range.high != range.low)
                path.lineTo(far);
            previous = far.y();
        }
        if (lone)
            path.lineTo(path.currentPosition() + QPointF(data.bucketWidth() / 2, 0));
        lines.append({line, path});
    }
    return chart;
}

QChart *intervalPanel(const PlotData &data, int source)
{
    QChart *chart = newChart();
    chart->legend()->hide();
    QValueAxis *x = timeAxis(data, false);
    auto *y = new QValueAxis;
    const QVector<PlotColumn> &columns = data.columns(source);
    const int count = data.bucketCount();
    float highest = 0;
    for (int i = 0; i < count; ++i) {
        if (columns.at(i).intervals > 0)
            highest = qMax(highest, columns.at(i).intervalHigh);
    }
    niceTicks(y, 0, highest > 0 ? highest * 1.08 : 1, 4);
    y->setLabelFormat(QStringLiteral("%.4g"));
    y->setTitleText(QStringLiteral("interval (ms)"));
    y->setProperty("shortTitle", QStringLiteral("ms"));
    y->setProperty("mayRise", true);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    auto *points = new QScatterSeries;
    points->setName(QStringLiteral("interval"));
    points->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    points->setMarkerSize(3);
    points->setPen(Qt::NoPen);
    points->setBrush(intervalColour);
    QVector<QPointF> list;
    for (int i = 0; i < count; ++i) {
        const PlotColumn &column = columns.at(i);
        if (column.intervals == 0)
            continue;
        list.append(QPointF(centre(data, i), column.intervalLow));
        if (column.intervalHigh != column.intervalLow)
            list.append(QPointF(centre(data, i), column.intervalHigh));
    }
    points->replace(list);
    attach(chart, points, x, y);
    return chart;
}

// One value's lowest and highest in each bucket, as one line.
QLineSeries *rangeLine(const PlotData &data, const QVector<ValueRange> &ranges, const QColor &colour)
{
    auto *line = new QLineSeries;
    QPen pen(colour);
    pen.setWidth(2);
    line->setPen(pen);
    QVector<QPointF> points;
    for (int i = 0, count = qMin(data.bucketCount(), int(ranges.size())); i < count; ++i) {
        const ValueRange &range = ranges.at(i);
        if (!range.seen)
            continue;
        const double at = centre(data, i);
        const bool lowFirst = points.isEmpty() || std::abs(points.last().y() - range.low) <= std::abs(points.last().y() - range.high);
        points.append(QPointF(at, lowFirst ? range.low : range.high));
        if (range.high != range.low)
            points.append(QPointF(at, lowFirst ? range.high : range.low));
    }
    line->replace(points);
    return line;
}

// CRSF's and GHST's own view of the link: uplink LQ (%) on the left, RSSI
// (dBm) on the right, each axis in its line's colour, over the failsafe band.
QChart *linkPanel(const PlotData &data, int source)
{
    QChart *chart = newChart();
    chart->legend()->hide();
    QValueAxis *x = timeAxis(data, false);
    auto *quality = new QValueAxis;
    // 0 and 100 % inside the lane, where their labels show.
    quality->setRange(-12, 112);
    quality->setTickType(QValueAxis::TicksDynamic);
    quality->setTickAnchor(0);
    quality->setTickInterval(50);
    quality->setLabelFormat(QStringLiteral("%.0f"));
    quality->setTitleText(QStringLiteral("LQ (%)"));
    auto *rssi = new QValueAxis;
    int low = -110, high = -30;
    bool any = false;
    for (const ValueRange &range : data.rssi(source)) {
        if (range.seen) {
            low = any ? qMin(low, int(range.low)) : int(range.low);
            high = any ? qMax(high, int(range.high)) : int(range.high);
            any = true;
        }
    }
    const int room = qMax(10, (high - low) / 5);
    niceTicks(rssi, low - room, high + room, 3);
    rssi->setLabelFormat(QStringLiteral("%.0f"));
    rssi->setTitleText(QStringLiteral("RSSI (dBm)"));
    for (const auto &axis : {qMakePair(quality, linkQualityColour), qMakePair(rssi, rssiColour)}) {
        axis.first->setLabelsColor(axis.second);
        axis.first->setTitleBrush(axis.second);
    }
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(quality, Qt::AlignLeft);
    chart->addAxis(rssi, Qt::AlignRight);
    attach(chart, bands(data, source, [](const PlotColumn &c) { return c.failsafe; }, -12, 112, failsafeColour,
                        QStringLiteral("failsafe")),
           x, quality);
    attach(chart, rangeLine(data, data.rssi(source), rssiColour), x, rssi);
    attach(chart, rangeLine(data, data.linkQuality(source), linkQualityColour), x, quality);
    return chart;
}

QString quantityName(const TelemetryLane &lane)
{
    return lane.quantity == TelemetryValue::Rssi ? QStringLiteral("RSSI") : PlotData::laneName(lane.quantity);
}

// The quantity and its unit, as the lane's axis names it.
QString laneTitle(const TelemetryLane &lane)
{
    const QString unit = QString::fromUtf8(lane.unit);
    return unit.isEmpty() ? quantityName(lane) + QStringLiteral(" (as sent)")
                          : QStringLiteral("%1 (%2)").arg(quantityName(lane), unit);
}

// A line's value name, with its frame's type where another line of the
// lane has the same name.
QString lineName(const TelemetryLane &lane, int k)
{
    const TelemetryLane::Line &line = lane.lines.at(k);
    for (const TelemetryLane::Line &other : lane.lines) {
        if (&other != &line && qstrcmp(other.name, line.name) == 0 && line.type[0])
            return QStringLiteral("%1 (%2)").arg(QLatin1String(line.name), QLatin1String(line.type));
    }
    return QLatin1String(line.name);
}

// One quantity over time: each value of it as a line, its name in the
// line's colour at the lane's top left.
QChart *telemetryPanel(const PlotData &data, const TelemetryLane &lane)
{
    QChart *chart = newChart();
    chart->legend()->hide();
    QValueAxis *x = timeAxis(data, false);
    auto *y = new QValueAxis;
    double low = 0, high = 0;
    bool any = false;
    for (const TelemetryLane::Line &line : lane.lines) {
        for (int i = 0, count = qMin(data.bucketCount(), int(line.ranges.size())); i < count; ++i) {
            const TelemetryRange &range = line.ranges.at(i);
            if (range.seen) {
                low = any ? qMin(low, range.low) : range.low;
                high = any ? qMax(high, range.high) : range.high;
                any = true;
            }
        }
    }
    // A steady value sits mid-lane; a moving one keeps a little room.
    const double room = high > low ? (high - low) / 8 : qMax(1.0, std::abs(high) / 10);
    niceTicks(y, low - room, high + room, 3);
    y->setLabelFormat(QStringLiteral("%.4g"));
    // A low lane would cut a side title to "…": the lane names itself at
    // its top left instead, before its lines' names.
    y->setTitleVisible(false);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (int k = 0; k < lane.lines.size(); ++k) {
        const TelemetryLane::Line &line = lane.lines.at(k);
        auto *series = new QLineSeries;
        QPen pen(telemetryColours[k % int(sizeof telemetryColours / sizeof telemetryColours[0])]);
        pen.setWidth(2);
        series->setPen(pen);
        series->setName(lineName(lane, k));
        // A gap breaks the line: each stretch is a series of its own.
        QVector<QPointF> points;
        const auto flush = [&] {
            if (points.isEmpty())
                return;
            auto *stretch = points.size() == 1 ? new QScatterSeries : nullptr;
            QXYSeries *drawn = stretch ? static_cast<QXYSeries *>(stretch) : series;
            if (stretch) {
                stretch->setMarkerSize(4);
                stretch->setPen(Qt::NoPen);
                stretch->setBrush(pen.color());
            } else if (series->count() > 0) {
                drawn = new QLineSeries;
                drawn->setPen(pen);
            }
            drawn->replace(points);
            if (drawn != series)
                attach(chart, drawn, x, y);
            points.clear();
        };
        for (int i = 0, count = qMin(data.bucketCount(), int(line.ranges.size())); i < count; ++i) {
            const TelemetryRange &range = line.ranges.at(i);
            if (!range.seen)
                continue;
            if (range.gapBefore)
                flush();
            const double at = centre(data, i);
            const bool lowFirst = points.isEmpty() || std::abs(points.last().y() - range.low) <= std::abs(points.last().y() - range.high);
            points.append(QPointF(at, lowFirst ? range.low : range.high));
            if (range.high != range.low)
                points.append(QPointF(at, lowFirst ? range.high : range.low));
        }
        flush();
        attach(chart, series, x, y);
    }
    return chart;
}

QChart *eventsPanel(const PlotData &data, int source, bool labelled)
{
    QChart *chart = newChart();
    QValueAxis *x = timeAxis(data, labelled);
    auto *y = new QCategoryAxis;
    y->setRange(0, 3);
    y->append(QStringLiteral("stray bytes"), 1);
    y->append(QStringLiteral("frames lost"), 2);
    y->append(QStringLiteral("CRC failures"), 3);
    y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    attach(chart, bands(data, source, [](const PlotColumn &c) { return c.silence; }, 0, 3, silenceColour,
                        QStringLiteral("silence")),
           x, y);
    QAreaSeries *stray = bands(data, source, [](const PlotColumn &c) { return c.strayBytes > 0; }, 0.2, 0.8, strayColour,
                               QStringLiteral("stray bytes"));
    // Lost frames as the family flags them (FPORT, SBUS, SRXL2); none for families without the flag.
    QAreaSeries *lost = bands(data, source, [](const PlotColumn &c) { return c.framesLost > 0; }, 1.2, 1.8, lostColour,
                              QStringLiteral("frames lost"));
    QAreaSeries *failures = bands(data, source, [](const PlotColumn &c) { return c.crcFailures > 0; }, 2.2, 2.8,
                                  crcColour, QStringLiteral("CRC failures"));
    chart->setBackgroundVisible(false);
    attach(chart, stray, x, y);
    attach(chart, lost, x, y);
    attach(chart, failures, x, y);
    // The rows' own labels name the ticks; the legend names the silence band.
    for (QAbstractSeries *series : {static_cast<QAbstractSeries *>(stray), static_cast<QAbstractSeries *>(lost),
                                    static_cast<QAbstractSeries *>(failures)}) {
        for (QLegendMarker *marker : chart->legend()->markers(series))
            marker->setVisible(false);
    }
    return chart;
}

void render(QGraphicsScene &scene, QPainter &painter, const QSize &size)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
}

} // namespace

bool pictureFormatOf(const QString &path, PictureFormat &format)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".png")))
        format = PictureFormat::Png;
    else if (lower.endsWith(QLatin1String(".svg")))
        format = PictureFormat::Svg;
    else if (lower.endsWith(QLatin1String(".pdf")))
        format = PictureFormat::Pdf;
    else
        return false;
    return true;
}

int plotColumns(const QSize &size)
{
    return qMax(2, size.width() - leftEdge - rightMargin);
}

bool drawPicture(const PlotData &data, const QString &title, const QSize &size, PictureFormat format,
                 const QByteArray &path, const QString &name, QString &error)
{
    QGraphicsScene scene(QRectF(QPointF(0, 0), size));
    scene.setBackgroundBrush(Qt::white);
    const int height = size.height(), right = size.width() - rightMargin;
    // Several sources: each one's panels as a group under its name, one
    // group over the other, all on the one time axis at the bottom. A group
    // with telemetry lanes or a link lane takes more of the height, so that
    // its channels stay as readable as the others'.
    const int sources = data.sourceCount();
    // The first group's heading goes under the title and its notes' line.
    const int firstHead = sources > 1 ? titleHeight + 30 : titleHeight;
    const int laterHead = 34; // a later group's heading
    const int gap = 12;       // below a group whose time axis is unlabelled
    QVector<double> weights;
    double weightSum = 0;
    for (int s = 0; s < sources; ++s) {
        weights.append(1 + 0.2 * qMin(4, int(data.telemetryLanes(s).size()) + (data.drawsLink(s) ? 1 : 0)));
        weightSum += weights.last();
    }
    const int shared = height - firstHead - bottomHeight - (sources - 1) * (laterHead + gap);
    struct Panel
    {
        QChart *chart;
        int top, plotTop, plotBottom, bottom;
    };
    struct Group
    {
        int first, last; // its panels
        int laneCount, linkPanelAt, top, headingAt;
        bool linkLeftOut;
        QVector<ChannelLine> lines;
    };
    QVector<Panel> panels;
    QVector<Group> groups;
    for (int s = 0, top = 0; s < sources; ++s) {
        const bool lowest = s == sources - 1;
        const int head = s == 0 ? firstHead : laterHead, foot = lowest ? bottomHeight : gap;
        const int bottom = lowest ? height : top + head + int(shared * weights.at(s) / weightSum) + foot, room = bottom - top;
        // The events' three rows keep room for their names in a small
        // picture; a group's take no more, leaving the rest to its channels.
        const int eventsTop = top + (sources > 1 ? room - foot - 8 - 3 * qBound(26, room / 16, 28)
                                                 : qMin(int(room * 0.80), room - foot - 8 - 3 * 26));
        // CRSF and GHST report their link: a lane of its own above the events.
        // A group leaves it out sooner than its channels and intervals.
        const int spare = eventsTop - top - head - 120;
        const bool linkLeftOut = sources > 1 && data.drawsLink(s) && spare < 72;
        const int linkHeight = !data.drawsLink(s) || linkLeftOut ? 0
                               : sources > 1                     ? qBound(72, int(room * 0.15), spare)
                                                                 : qMax(72, int(room * 0.15));
        // Then the telemetry lanes, as many as leave the channels and the
        // interval room to be read.
        const QVector<TelemetryLane> &lanes = data.telemetryLanes(s);
        // The channels and the interval keep a third of the group; the lanes
        // share the rest, each from 56 pixels up to 8 % of the height.
        // A group, often lower than a picture, keeps half for them.
        const int roomForLanes = eventsTop - top - linkHeight
                                 - (sources > 1 ? qMax(head + 200, int(room * 0.5)) : qMax(head + 80 + 70, int(room * 0.35)));
        const int lowestLane = 56;
        const int laneCount = qBound(0, roomForLanes / lowestLane, int(lanes.size()));
        const int laneHeight = laneCount > 0 ? qBound(lowestLane, roomForLanes / laneCount, qMax(lowestLane, int(room * 0.08))) : 0;
        const int lanesTop = eventsTop - linkHeight - laneCount * laneHeight;
        const int intervalEnd = lanesTop;
        const int channelsEnd = sources > 1 ? top + head + (intervalEnd - top - head) * 2 / 3
                                            : top + qMin(int(room * (linkHeight + laneCount > 0 ? 0.48 : 0.58)), intervalEnd - top - 90);
        Group group{int(panels.size()), 0, laneCount, -1, top, top + head - 22, linkLeftOut, {}};
        panels.append({channelsPanel(data, s, group.lines), top, top + head, channelsEnd - 8, channelsEnd});
        panels.append({intervalPanel(data, s), channelsEnd, channelsEnd + 8, intervalEnd - 8, intervalEnd});
        for (int k = 0; k < laneCount; ++k) {
            const int at = lanesTop + k * laneHeight;
            panels.append({telemetryPanel(data, lanes.at(k)), at, at + 8, at + laneHeight - 8, at + laneHeight});
        }
        if (linkHeight > 0) {
            group.linkPanelAt = panels.size();
            panels.append({linkPanel(data, s), eventsTop - linkHeight, eventsTop - linkHeight + 8, eventsTop - 8, eventsTop});
        }
        // Qt Charts gives axes at most a share of their chart's height, so the
        // events' chart reaches up behind the others, see-through, to keep
        // room for the time axis's labels and title in a low picture.
        group.last = panels.size();
        panels.append({eventsPanel(data, s, lowest), 0, eventsTop + 8, bottom - foot, bottom});
        groups.append(group);
        top = bottom;
    }
    for (const auto &panel : panels) {
        const qreal room = panel.plotBottom - panel.plotTop;
        // Qt Charts gives each label of a side axis the panel's height shared
        // among them, cuts a label with too little to "…", and leaves out
        // one that would reach past an end: a low panel takes fewer ticks,
        // and an axis free to rise (the intervals') rises to show its top one.
        for (QAbstractAxis *axis : panel.chart->axes(Qt::Vertical)) {
            auto *values = qobject_cast<QValueAxis *>(axis);
            if (!values)
                continue;
            const double low = values->min(), high = values->max();
            for (int ticks = axis->property("ticks").toInt(); ticks >= 1; --ticks) {
                const double step = niceStep(high - low, ticks);
                const double top = std::floor(high / step) * step;
                if ((top - std::ceil(low / step) * step) / step + 1 > room / 28 && ticks > 1)
                    continue;
                niceTicks(values, low, high, ticks);
                constexpr double clear = 12; // px between the top label and the top
                if (axis->property("mayRise").toBool() && (high - top) / (high - low) * room < clear && room > clear)
                    values->setMax(qMax(high, (top * room - clear * low) / (room - clear)));
                break;
            }
        }
        // A side title longer than its panel is high ends in "…": the short one goes instead.
        for (QAbstractAxis *axis : panel.chart->axes(Qt::Vertical)) {
            const QString shorter = axis->property("shortTitle").toString();
            if (!shorter.isEmpty()
                && QFontMetricsF(axis->titleFont()).boundingRect(axis->titleText()).width() > room)
                axis->setTitleText(shorter);
        }
        scene.addItem(panel.chart);
        panel.chart->setPlotArea(QRectF(leftEdge, panel.plotTop - panel.top, right - leftEdge,
                                        panel.plotBottom - panel.plotTop));
        panel.chart->setGeometry(QRectF(0, panel.top, size.width(), panel.bottom - panel.top));
        panel.chart->layout()->activate();
    }
    // The title above all panels, and the channels' legend beside theirs.
    auto *heading = new QGraphicsSimpleTextItem;
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.3);
    font.setBold(true);
    heading->setFont(font);
    // Many families make a long title: it ends in an ellipsis, not past the edge.
    heading->setText(QFontMetricsF(font).elidedText(title, Qt::ElideRight, size.width() - 24));
    heading->setPos(qMax(0.0, (size.width() - heading->boundingRect().width()) / 2), 12);
    scene.addItem(heading);
    // Lanes that found no room are named, so that a bigger picture is asked for.
    QStringList leftOut;
    for (int s = 0; s < sources; ++s) {
        const Group &group = groups.at(s);
        const QVector<TelemetryLane> &lanes = data.telemetryLanes(s);
        // Each group under a rule and its source's name, with what the
        // source's frames were, so that no lane is taken for another's.
        if (sources > 1) {
            if (s > 0) {
                auto *rule = new QGraphicsRectItem(8, group.top + 3, size.width() - 16, 2);
                rule->setBrush(QColor(90, 90, 90));
                rule->setPen(Qt::NoPen);
                scene.addItem(rule);
            }
            QStringList families;
            for (const auto &entry : data.families(s))
                families << QStringLiteral("%1 %2").arg(entry.first).arg(entry.second);
            auto *name = new QGraphicsSimpleTextItem;
            QFont bold = name->font();
            bold.setPointSizeF(bold.pointSizeF() * 1.15);
            bold.setBold(true);
            name->setFont(bold);
            const QString figures = QStringLiteral("%1, %2, %3, %4")
                                        .arg(families.isEmpty() ? QStringLiteral("no frames") : families.join(QStringLiteral(", ")),
                                             counted(data.crcFailures(s), "CRC failure", "CRC failures"),
                                             counted(data.strayBytes(s), "stray byte", "stray bytes"),
                                             counted(data.silences(s), "silence", "silences"));
            name->setText(QFontMetricsF(bold).elidedText(QStringLiteral("%1. %2 — %3").arg(s + 1).arg(data.sourceName(s), figures),
                                                         Qt::ElideRight, right - 12));
            name->setPos(12, group.headingAt);
            scene.addItem(name);
        }
        // The charts lay themselves out on posted events.
        if (group.linkPanelAt >= 0 && data.linkQuality(s).isEmpty() && data.rssi(s).isEmpty()) {
            auto *note = new QGraphicsSimpleTextItem(QStringLiteral("no link statistics in the source"));
            note->setBrush(Qt::darkGray);
            note->setPos((leftEdge + right - note->boundingRect().width()) / 2,
                         (panels[group.linkPanelAt].plotTop + panels[group.linkPanelAt].plotBottom - note->boundingRect().height()) / 2);
            scene.addItem(note);
        }
        // Each telemetry lane's quantity and unit, then its lines' names in their
        // colours, at its top left.
        for (int k = 0; k < group.laneCount; ++k) {
            qreal left = leftEdge + 6;
            for (int i = -1; i < lanes.at(k).lines.size(); ++i) {
                auto *name = new QGraphicsSimpleTextItem(i < 0 ? laneTitle(lanes.at(k)) + QLatin1Char(':') : lineName(lanes.at(k), i));
                if (i < 0) {
                    QFont bold = name->font();
                    bold.setBold(true);
                    name->setFont(bold);
                }
                name->setBrush(i < 0 ? QColor(Qt::black) : telemetryColours[i % int(sizeof telemetryColours / sizeof telemetryColours[0])]);
                name->setPos(left, panels[group.first + 2 + k].plotTop + 2);
                auto *backing = new QGraphicsRectItem(name->boundingRect().adjusted(-3, -1, 3, 1));
                backing->setPos(name->pos());
                backing->setBrush(QColor(255, 255, 255, 220));
                backing->setPen(Qt::NoPen);
                backing->setZValue(1001);
                name->setZValue(1002);
                scene.addItem(backing);
                scene.addItem(name);
                left += name->boundingRect().width() + 12;
            }
        }
        for (int k = group.laneCount; k < lanes.size(); ++k)
            leftOut << (sources > 1 ? data.sourceName(s) + QStringLiteral(": ") : QString()) + laneTitle(lanes.at(k));
        if (group.linkLeftOut)
            leftOut << data.sourceName(s) + QStringLiteral(": LQ and RSSI");
        const Panel &intervals = panels[group.first + 1];
        if (!data.timed() && data.frames(s) > 0) {
            auto *note = new QGraphicsSimpleTextItem(QStringLiteral("the source tells no times, so no intervals"));
            note->setBrush(Qt::darkGray);
            note->setPos((leftEdge + right - note->boundingRect().width()) / 2,
                         (intervals.plotTop + intervals.plotBottom - note->boundingRect().height()) / 2);
            scene.addItem(note);
        }
        // Intervals from bunched reads alternate between a frame's own time on
        // the wire and the adapter's period: the lane says so at its top.
        if (data.bunchedPeriodMs(s) > 0) {
            qreal top = intervals.plotTop + 4;
            const qreal width = right - leftEdge - 12;
            QStringList lines{ReadBunching::note(data.bunchedPeriodMs(s)), QStringLiteral("remedy: ") + data.bunchingRemedy(s)};
            // A udev rule too long for the line gets one of its own, whole where it fits.
            const int rule = lines.last().indexOf(QLatin1String("the udev rule "));
            if (rule > 0 && QFontMetricsF(QGraphicsSimpleTextItem().font()).horizontalAdvance(lines.last()) > width) {
                lines << QStringLiteral("    ") + lines.last().mid(rule);
                lines[1].truncate(rule);
            }
            const qreal lineHeight = QFontMetricsF(QGraphicsSimpleTextItem().font()).height() + 2;
            for (const QString &line : qAsConst(lines)) {
                // A small lane keeps room for its points: the remedy only where it fits twice over.
                if (top > intervals.plotTop + 4 && top + 2 * lineHeight > intervals.plotBottom)
                    break;
                auto *note = new QGraphicsSimpleTextItem;
                note->setBrush(bunchingColour);
                note->setText(QFontMetricsF(note->font()).elidedText(line, Qt::ElideRight, width));
                note->setPos(leftEdge + 6, top);
                auto *backing = new QGraphicsRectItem(note->boundingRect().adjusted(-3, -1, 3, 1));
                backing->setPos(note->pos());
                backing->setBrush(QColor(255, 255, 255, 220));
                backing->setPen(Qt::NoPen);
                scene.addItem(backing);
                scene.addItem(note);
                top += note->boundingRect().height() + 2;
            }
        }
    }
    if (!leftOut.isEmpty()) {
        auto *note = new QGraphicsSimpleTextItem(
            QStringLiteral("no room for the lanes %1: a taller --size shows them").arg(leftOut.join(QStringLiteral(", "))));
        note->setBrush(bunchingColour);
        note->setText(QFontMetricsF(note->font()).elidedText(note->text(), Qt::ElideRight, size.width() - 24));
        // To the right, clear of the channels' top label.
        note->setPos(qMax(12.0, right - note->boundingRect().width()), heading->pos().y() + heading->boundingRect().height());
        scene.addItem(note);
    }
    QCoreApplication::processEvents();
    for (const Group &group : qAsConst(groups)) {
        for (int i : {group.first, group.last}) {
            QLegend *legend = panels[i].chart->legend();
            legend->detachFromChart();
            legend->setAlignment(Qt::AlignRight);
            legend->setBackgroundVisible(false);
            // The channels' legend may run down beside the interval panel too.
            const int bottom = i == group.first ? panels[i + 1].plotBottom : panels[i].plotBottom;
            legend->setGeometry(QRectF(right + 8, panels[i].plotTop - panels[i].top, rightMargin - 12,
                                       bottom - panels[i].plotTop));
            legend->setVisible(true);
            legend->update();
        }
    }
    QCoreApplication::processEvents();
    // The lines go where the laid-out axes put their values.
    for (const Group &group : qAsConst(groups)) {
        QChart *chart = panels[group.first].chart;
        for (const ChannelLine &line : group.lines) {
            const QPointF origin = chart->mapToPosition(QPointF(0, 0), line.series);
            const QPointF unit = chart->mapToPosition(QPointF(1, 1), line.series) - origin;
            auto *item = new QGraphicsPathItem(line.path * QTransform(unit.x(), 0, 0, unit.y(), origin.x(), origin.y()),
                                               chart);
            item->setPen(line.series->pen());
            item->setZValue(1000);
        }
    }
    QFile file;
    QString reason;
    if (!openByBytes(file, path, QIODevice::WriteOnly | QIODevice::Truncate, reason)) {
        error = QStringLiteral("cannot write %1: %2").arg(name, reason);
        return false;
    }
    bool written = true;
    switch (format) {
    case PictureFormat::Png: {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        render(scene, painter, size);
        painter.end();
        // Made in memory first, so that a write error is told once, by the file.
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        written = image.save(&png, "PNG") && file.write(png.data()) == png.data().size();
        break;
    }
    case PictureFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(title);
        QPainter painter(&svg);
        render(scene, painter, size);
        written = painter.end();
        break;
    }
    case PictureFormat::Pdf: {
        QPdfWriter pdf(&file);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("linkscope-plot"));
        pdf.setResolution(72);
        pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&pdf);
        render(scene, painter, size);
        written = painter.end();
        break;
    }
    }
    // The SVG goes out through a text stream, which keeps a failed write to
    // itself: the file still knows of it.
    if (written)
        written = file.flush() && file.error() == QFileDevice::NoError;
    // Closing forgets the error, so it is taken first.
    const QString why = file.error() != QFileDevice::NoError ? file.errorString()
                                                             : QStringLiteral("the picture could not be made");
    file.close();
    if (!written) {
        error = QStringLiteral("cannot write %1: %2").arg(name, why);
        return false;
    }
    return true;
}
