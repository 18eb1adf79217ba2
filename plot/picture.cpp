// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot/picture.h"

#include "cli/commandline.h"
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
QAreaSeries *bands(const PlotData &data, const std::function<bool(const PlotColumn &)> &flagged, double low,
                   double high, const QColor &colour, const QString &name)
{
    auto *upper = new QLineSeries;
    auto *lower = new QLineSeries;
    const double start = data.axisStart(), end = data.axisEnd(), width = data.bucketWidth();
    upper->append(start, low);
    const QVector<PlotColumn> &columns = data.columns();
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

QChart *channelsPanel(const PlotData &data, QVector<ChannelLine> &lines)
{
    QChart *chart = newChart();
    QValueAxis *x = timeAxis(data, false);
    auto *y = new QValueAxis;
    const QVector<int> numbers = data.channelsSeen();
    int low = data.words() ? 0 : 800, high = data.words() ? 0xFFFF : 2200;
    if (!numbers.isEmpty()) {
        low = std::numeric_limits<int>::max();
        high = std::numeric_limits<int>::min();
        for (int number : numbers) {
            for (const ValueRange &range : data.channel(number)) {
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
    y->setTitleText(data.words() ? QStringLiteral("word (as sent)") : QStringLiteral("µs"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    attach(chart, bands(data, [](const PlotColumn &c) { return c.failsafe; }, low, high, failsafeColour,
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
        const QVector<ValueRange> &ranges = data.channel(number);
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

QChart *intervalPanel(const PlotData &data)
{
    QChart *chart = newChart();
    chart->legend()->hide();
    QValueAxis *x = timeAxis(data, false);
    auto *y = new QValueAxis;
    const QVector<PlotColumn> &columns = data.columns();
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
QChart *linkPanel(const PlotData &data)
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
    for (const ValueRange &range : data.rssi()) {
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
    attach(chart, bands(data, [](const PlotColumn &c) { return c.failsafe; }, -12, 112, failsafeColour,
                        QStringLiteral("failsafe")),
           x, quality);
    attach(chart, rangeLine(data, data.rssi(), rssiColour), x, rssi);
    attach(chart, rangeLine(data, data.linkQuality(), linkQualityColour), x, quality);
    return chart;
}

QChart *eventsPanel(const PlotData &data)
{
    QChart *chart = newChart();
    QValueAxis *x = timeAxis(data, true);
    auto *y = new QCategoryAxis;
    y->setRange(0, 3);
    y->append(QStringLiteral("stray bytes"), 1);
    y->append(QStringLiteral("frames lost"), 2);
    y->append(QStringLiteral("CRC failures"), 3);
    y->setLabelsPosition(QCategoryAxis::AxisLabelsPositionCenter);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    attach(chart, bands(data, [](const PlotColumn &c) { return c.silence; }, 0, 3, silenceColour,
                        QStringLiteral("silence")),
           x, y);
    QAreaSeries *stray = bands(data, [](const PlotColumn &c) { return c.strayBytes > 0; }, 0.2, 0.8, strayColour,
                               QStringLiteral("stray bytes"));
    // Lost frames as the family flags them (FPORT, SBUS, SRXL2); none for families without the flag.
    QAreaSeries *lost = bands(data, [](const PlotColumn &c) { return c.framesLost > 0; }, 1.2, 1.8, lostColour,
                              QStringLiteral("frames lost"));
    QAreaSeries *failures = bands(data, [](const PlotColumn &c) { return c.crcFailures > 0; }, 2.2, 2.8,
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
    // The events' three rows keep room for their names in a small picture.
    const int eventsTop = qMin(int(height * 0.80), height - bottomHeight - 8 - 3 * 26);
    // CRSF and GHST report their link: a lane of its own above the events.
    const int linkHeight = data.reportsLink() ? qMax(72, int(height * 0.15)) : 0;
    const int intervalEnd = eventsTop - linkHeight;
    const int channelsEnd = qMin(int(height * (linkHeight > 0 ? 0.48 : 0.58)), intervalEnd - 90);
    QVector<ChannelLine> lines;
    struct Panel
    {
        QChart *chart;
        int top, plotTop, plotBottom, bottom;
    };
    QVector<Panel> panels{
        {channelsPanel(data, lines), 0, titleHeight, channelsEnd - 8, channelsEnd},
        {intervalPanel(data), channelsEnd, channelsEnd + 8, intervalEnd - 8, intervalEnd},
    };
    if (linkHeight > 0)
        panels.append({linkPanel(data), intervalEnd, intervalEnd + 8, eventsTop - 8, eventsTop});
    // Qt Charts gives axes at most a share of their chart's height, so the
    // events' chart reaches up behind the others, see-through, to keep
    // room for the time axis's labels and title in a low picture.
    panels.append({eventsPanel(data), 0, eventsTop + 8, height - bottomHeight, height});
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
    // The charts lay themselves out on posted events.
    if (linkHeight > 0 && data.linkQuality().isEmpty() && data.rssi().isEmpty()) {
        auto *note = new QGraphicsSimpleTextItem(QStringLiteral("no link statistics in the source"));
        note->setBrush(Qt::darkGray);
        note->setPos((leftEdge + right - note->boundingRect().width()) / 2,
                     (panels[2].plotTop + panels[2].plotBottom - note->boundingRect().height()) / 2);
        scene.addItem(note);
    }
    if (!data.timed() && data.frames() > 0) {
        auto *note = new QGraphicsSimpleTextItem(QStringLiteral("the source tells no times, so no intervals"));
        note->setBrush(Qt::darkGray);
        note->setPos((leftEdge + right - note->boundingRect().width()) / 2,
                     (panels[1].plotTop + panels[1].plotBottom - note->boundingRect().height()) / 2);
        scene.addItem(note);
    }
    // Intervals from bunched reads alternate between a frame's own time on
    // the wire and the adapter's period: the lane says so at its top.
    if (data.bunchedPeriodMs() > 0) {
        qreal top = panels[1].plotTop + 4;
        const qreal width = right - leftEdge - 12;
        QStringList lines{ReadBunching::note(data.bunchedPeriodMs()), QStringLiteral("remedy: ") + data.bunchingRemedy()};
        // A udev rule too long for the line gets one of its own, whole where it fits.
        const int rule = lines.last().indexOf(QLatin1String("the udev rule "));
        if (rule > 0 && QFontMetricsF(QGraphicsSimpleTextItem().font()).horizontalAdvance(lines.last()) > width) {
            lines << QStringLiteral("    ") + lines.last().mid(rule);
            lines[1].truncate(rule);
        }
        const qreal lineHeight = QFontMetricsF(QGraphicsSimpleTextItem().font()).height() + 2;
        for (const QString &line : qAsConst(lines)) {
            // A small lane keeps room for its points: the remedy only where it fits twice over.
            if (top > panels[1].plotTop + 4 && top + 2 * lineHeight > panels[1].plotBottom)
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
    QCoreApplication::processEvents();
    for (int i : {0, int(panels.size()) - 1}) {
        QLegend *legend = panels[i].chart->legend();
        legend->detachFromChart();
        legend->setAlignment(Qt::AlignRight);
        legend->setBackgroundVisible(false);
        // The channels' legend may run down beside the interval panel too.
        const int bottom = i == 0 ? panels[1].plotBottom : panels[i].plotBottom;
        legend->setGeometry(QRectF(right + 8, panels[i].plotTop - panels[i].top, rightMargin - 12,
                                   bottom - panels[i].plotTop));
        legend->setVisible(true);
        legend->update();
    }
    QCoreApplication::processEvents();
    // The lines go where the laid-out axes put their values.
    for (const ChannelLine &line : qAsConst(lines)) {
        const QPointF origin = panels[0].chart->mapToPosition(QPointF(0, 0), line.series);
        const QPointF unit = panels[0].chart->mapToPosition(QPointF(1, 1), line.series) - origin;
        auto *item = new QGraphicsPathItem(line.path * QTransform(unit.x(), 0, 0, unit.y(), origin.x(), origin.y()),
                                           panels[0].chart);
        item->setPen(line.series->pen());
        item->setZValue(1000);
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
