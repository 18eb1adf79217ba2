// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-plot run as a user runs it, offscreen: real capture files drawn
// as PNG, SVG and PDF, the glitch, failsafe and silence looked for in the
// picture's pixels, a recording of two sources, a live port, and the bad
// inputs people give it.
#include "pty.h"

#include "decode/families/hott.h"
#include "decode/families/mpx.h"
#include "decode/families/familytable.h"
#include "decode/families/packing.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>
#include <csignal>

class tst_Plot : public QObject
{
    Q_OBJECT

private slots:
    void glitchInAnHourShows();
    void bandsShowWhereTheyHappened_data();
    void bandsShowWhereTheyHappened();
    void linkLaneForCrsfAndGhst_data();
    void linkLaneForCrsfAndGhst();
    void telemetryLanes_data();
    void telemetryLanes();
    void svgAndPdfHoldThePicture();
    void smallPicturesKeepTheirLabels_data();
    void smallPicturesKeepTheirLabels();
    void linesBreakWhereValuesStop_data();
    void linesBreakWhereValuesStop();
    void twoSourcesDrawnAsGroups();
    void portIsDrawnWhenCtrlCEndsTheRun();
    void recordingShowsProgressOnATerminal_data();
    void recordingShowsProgressOnATerminal();
    void badInput_data();
    void badInput();
    void standardInputClosed();

private:
    QString path(const QString &name) const { return folder.filePath(name); }
    QTemporaryDir folder;
};

namespace {

// Where the picture's time axis lies in a 1600 pixel wide picture.
constexpr int axisLeft = 120, axisRight = 1600 - 150;
// The colours the picture gives the bands and channel 1.
const QRgb failsafeColour = qRgb(255, 196, 196);
const QRgb silenceColour = qRgb(196, 208, 232);
const QRgb lostColour = qRgb(120, 60, 160);
const QRgb channelOneColour = qRgb(31, 119, 180);

int run(const QStringList &arguments, QByteArray *errors = nullptr, const QByteArray &input = QByteArray())
{
    QProcess plot;
    plot.start(QStringLiteral(LINKSCOPE_PLOT), arguments);
    if (!input.isNull()) {
        plot.write(input);
        plot.closeWriteChannel();
    }
    plot.waitForFinished(60000);
    if (errors)
        *errors = plot.readAllStandardError();
    return plot.exitStatus() == QProcess::NormalExit ? plot.exitCode() : -1;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray mpx(int channelOne)
{
    QVector<quint16> words(12, mpxWord(1500));
    words[0] = mpxWord(channelOne);
    return mpxFrame(words);
}

// GHST's frame of link figures: four primaries at 1500 µs, then LQ, RSSI,
// RF mode and power.
QByteArray ghstLink(int lq)
{
    QByteArray frame("\x82\x0C\x33");
    packLsbFirst(frame, {2048, 2048, 2048, 2048}, 12);
    frame += char(lq) + QByteArray("\x46\x02\x03");
    return frame + char(crc8DvbS2(frame.constData() + 2, frame.size() - 2));
}

// linkscope-dump's JSON lines: HOTT (or another family of the table) at
// 100 frames/s for seconds, leaving out those in a pause and marking
// failsafe ones. CRSF and GHST send their link figures ten times a second,
// and in failsafe nothing else, with LQ 0.
QByteArray jsonLines(double seconds, double pauseFrom, double pauseTo, double failsafeFrom, double failsafeTo,
                     const char *family = "HOTT")
{
    QByteArray text;
    const auto record = [&](double t, const QByteArray &frame) {
        text += "{\"t\":" + QByteArray::number(t, 'f', 6) + ",\"family\":\"" + family + "\",\"raw\":\""
                + frame.toHex() + "\"}\n";
    };
    const bool ghst = qstrcmp(family, "GHST") == 0;
    const FamilyDescriptor *row = familyNamed(QLatin1String(family));
    for (int i = 0; i < int(seconds * 100); ++i) {
        const double t = i / 100.0;
        if (t >= pauseFrom && t < pauseTo)
            continue;
        const bool failsafe = t >= failsafeFrom && t < failsafeTo;
        if (ghst || row->linkFrame) {
            if (i % 10 == 0)
                record(t, ghst ? ghstLink(failsafe ? 0 : 90) : row->linkFrame(failsafe));
            if (failsafe)
                continue;
        }
        QByteArray frame = hottFrame(QVector<quint16>(8, hottWord(1500)), failsafe);
        if (qstrcmp(family, "HOTT") != 0) {
            FrameRequest request;
            request.wire = QVector<int>(16, 992);
            request.failsafe = failsafe;
            frame = row->encode(request);
        }
        record(t, frame);
    }
    return text;
}

// The texts of an SVG picture, as drawn.
QStringList svgTexts(const QString &path)
{
    QFile svg(path);
    QStringList texts;
    if (!svg.open(QIODevice::ReadOnly))
        return texts;
    QXmlStreamReader xml(&svg);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("text"))
            texts << xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
    }
    return texts;
}

QByteArray record(double t, const char *family, const QByteArray &frame)
{
    return "{\"t\":" + QByteArray::number(t, 'f', 6) + ",\"family\":\"" + family + "\",\"raw\":\"" + frame.toHex()
           + "\"}\n";
}

// CRSF's link statistics, with uplink quality lq.
QByteArray crsfLink(int lq)
{
    QByteArray frame = QByteArray::fromHex("c80c14") + QByteArray("\x2D\x2F\x00\xF7\x01\x04\x07\x32\x63\x08", 10);
    frame[5] = char(lq);
    frame += char(crc8DvbS2(frame.constData() + 2, frame.size() - 2));
    return frame;
}

// The pixel columns of the time axis that hold colour anywhere from row
// top to row bottom; the legend beside it is left out.
QPair<int, int> columnsWith(const QImage &image, QRgb colour, int top, int bottom)
{
    int first = -1, last = -1;
    for (int x = axisLeft; x <= axisRight; ++x) {
        for (int y = top; y < bottom; ++y) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
        }
    }
    return {first, last};
}

int columnAt(double fraction)
{
    return axisLeft + int(fraction * (axisRight - axisLeft));
}

} // namespace

// One frame with channel 1 at 2000 µs among 360,000 at 1500 µs, an hour at
// 100 frames/s, in a raw capture: the picture reaches up to it, in its column.
void tst_Plot::glitchInAnHourShows()
{
    const int frames = 360000, glitchAt = 200000;
    QByteArray steady, glitched;
    const QByteArray normal = mpx(1500);
    steady.reserve(frames * normal.size());
    for (int i = 0; i < frames; ++i)
        steady += normal;
    glitched = steady;
    glitched.replace(glitchAt * normal.size(), normal.size(), mpx(2000));
    QVERIFY(writeFile(path("steady.bin"), steady));
    QVERIFY(writeFile(path("glitch.bin"), glitched));
    QByteArray errors;
    QCOMPARE(run({path("steady.bin"), "--channels", "1"}, &errors), 0);
    QCOMPARE(run({path("glitch.bin"), "--channels", "1"}, &errors), 0);
    const QImage steadyImage(path("steady.png")), glitchImage(path("glitch.png"));
    QCOMPARE(glitchImage.size(), QSize(1600, 900));

    // The highest pixel of channel 1's line in each picture.
    const auto highest = [](const QImage &image) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = axisLeft; x < axisRight; ++x) {
                if ((image.pixel(x, y) & 0xFFFFFF) == (channelOneColour & 0xFFFFFF))
                    return QPoint(x, y);
            }
        }
        return QPoint(-1, -1);
    };
    const QPoint steadyTop = highest(steadyImage), glitchTop = highest(glitchImage);
    QVERIFY2(steadyTop.y() > 200, qPrintable(QStringLiteral("steady line at row %1").arg(steadyTop.y())));
    QVERIFY2(glitchTop.y() >= 0 && glitchTop.y() < 120,
             qPrintable(QStringLiteral("glitch reaches row %1 only").arg(glitchTop.y())));
    QVERIFY2(qAbs(glitchTop.x() - columnAt(double(glitchAt) / (frames - 1))) <= 3,
             qPrintable(QStringLiteral("glitch in column %1").arg(glitchTop.x())));
}

void tst_Plot::bandsShowWhereTheyHappened_data()
{
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<uint>("colour");
    QTest::addColumn<double>("from"); // s, or < 0 where no band may show
    QTest::addColumn<double>("to");
    const double none = 1e9;
    QTest::newRow("failsafe from 12 to 14 s") << jsonLines(20, none, none, 12, 14) << uint(failsafeColour) << 12.0 << 14.0;
    QTest::newRow("no failsafe, no band") << jsonLines(20, none, none, none, none) << uint(failsafeColour) << -1.0 << -1.0;
    QTest::newRow("silence from 8 to 9 s") << jsonLines(20, 8, 9, none, none) << uint(silenceColour) << 8.0 << 9.0;
    // SBUS sets its frame-lost bit with failsafe; lost frames are ticks of their own.
    QTest::newRow("SBUS frames lost from 5 to 7 s") << jsonLines(20, none, none, 5, 7, "SBUS") << uint(lostColour)
                                                    << 5.0 << 7.0;
    QTest::newRow("HOTT has no lost frames") << jsonLines(20, none, none, 5, 7) << uint(lostColour) << -1.0 << -1.0;
    // Their receivers fall silent but for link statistics that say LQ 0.
    QTest::newRow("CRSF LQ 0 from 12 to 14 s") << jsonLines(20, none, none, 12, 14, "CRSF") << uint(failsafeColour)
                                               << 12.0 << 14.0;
    QTest::newRow("GHST LQ 0 from 3 to 9 s") << jsonLines(20, none, none, 3, 9, "GHST") << uint(failsafeColour)
                                             << 3.0 << 9.0;
    QTest::newRow("a pause of 0.3 s is no silence") << jsonLines(20, 8, 8.3, none, none) << uint(silenceColour) << -1.0 << -1.0;
}

void tst_Plot::bandsShowWhereTheyHappened()
{
    QFETCH(QByteArray, records);
    QFETCH(uint, colour);
    QFETCH(double, from);
    QFETCH(double, to);
    QVERIFY(writeFile(path("run.jsonl"), records));
    QByteArray errors;
    QCOMPARE(run({path("run.jsonl"), "-o", path("run.png")}, &errors), 0);
    const QImage image(path("run.png"));
    const QPair<int, int> columns = columnsWith(image, colour, 0, image.height());
    if (from < 0) {
        QCOMPARE(columns.first, -1);
        return;
    }
    // The times run from 0 to 19.99 s.
    QVERIFY2(qAbs(columns.first - columnAt(from / 19.99)) <= 3, qPrintable(QString::number(columns.first)));
    QVERIFY2(qAbs(columns.second - columnAt(to / 19.99)) <= 3, qPrintable(QString::number(columns.second)));
}

void tst_Plot::linkLaneForCrsfAndGhst_data()
{
    QTest::addColumn<QByteArray>("family");
    QTest::addColumn<bool>("lane");
    QTest::newRow("CRSF") << QByteArray("CRSF") << true;
    QTest::newRow("GHST") << QByteArray("GHST") << true;
    QTest::newRow("HOTT has none") << QByteArray("HOTT") << false;
}

// CRSF and GHST get a lane with uplink LQ and RSSI, under the interval:
// LQ drops to 0 where the receiver is in failsafe, RSSI runs on.
void tst_Plot::linkLaneForCrsfAndGhst()
{
    QFETCH(QByteArray, family);
    QFETCH(bool, lane);
    QVERIFY(writeFile(path("link.jsonl"), jsonLines(20, 1e9, 1e9, 12, 14, family.constData())));
    QByteArray errors;
    QCOMPARE(run({path("link.jsonl"), "-o", path("link.png")}, &errors), 0);
    const QImage image(path("link.png"));
    const QRgb qualityColour = qRgb(0, 130, 60), rssiColour = qRgb(200, 110, 0);
    // The highest row of a colour in a column.
    const auto topOf = [&](QRgb colour, int x) {
        for (int y = 0; y < image.height(); ++y) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                return y;
        }
        return -1;
    };
    const int before = columnAt(5 / 19.99), during = columnAt(13 / 19.99), after = columnAt(17 / 19.99);
    if (!lane) {
        QCOMPARE(columnsWith(image, qualityColour, 0, image.height()).first, -1);
        QCOMPARE(columnsWith(image, rssiColour, 0, image.height()).first, -1);
        return;
    }
    const QPair<int, int> quality = columnsWith(image, qualityColour, 0, image.height());
    QVERIFY2(quality.first <= columnAt(0.01) && quality.second >= columnAt(0.99),
             qPrintable(QStringLiteral("LQ from %1 to %2").arg(quality.first).arg(quality.second)));
    QVERIFY(topOf(rssiColour, during) > 0);
    // Below the channels and the interval, above the events.
    QVERIFY2(topOf(qualityColour, before) > 600 && topOf(qualityColour, before) < 760,
             qPrintable(QString::number(topOf(qualityColour, before))));
    // LQ 0 lies lower than LQ 90 or 100, by most of the lane.
    QVERIFY2(topOf(qualityColour, during) - topOf(qualityColour, before) > 50,
             qPrintable(QStringLiteral("%1 %2").arg(topOf(qualityColour, during)).arg(topOf(qualityColour, before))));
    QCOMPARE(topOf(qualityColour, after), topOf(qualityColour, before));
}

void tst_Plot::telemetryLanes_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("lanes"); // drawn in the first line colour: voltage, current
    QTest::newRow("by default") << QStringList() << 2;
    QTest::newRow("voltage only") << QStringList{"--telemetry", "voltage"} << 1;
    QTest::newRow("none") << QStringList{"--telemetry", "none"} << 0;
}

// CRSF channels with the flight controller's battery: 16.8 V for ten
// seconds, then 12.0 V; 12.3 A throughout. The voltage's lane lies under
// the interval, its line lower after the drop.
void tst_Plot::telemetryLanes()
{
    QFETCH(QStringList, options);
    QFETCH(int, lanes);
    if (qgetenv("QT_QPA_PLATFORM") == "minimal")
        QSKIP("the minimal platform of the sanitized build lays lanes out with made-up font metrics");
    // Each battery record goes after the channel record of its time.
    QByteArrayList lines = jsonLines(20, 1e9, 1e9, 1e9, 1e9, "CRSF").split('\n');
    for (int i = 0, at = 0; i < 100; ++i) {
        const double t = i * 0.2 + 0.001;
        while (at < lines.size() && (lines.at(at).isEmpty() || lines.at(at).mid(5, lines.at(at).indexOf(',') - 5).toDouble() < t))
            ++at;
        const QByteArray body = QByteArray::fromHex("08") + char(0) + char(i < 50 ? 168 : 120) + QByteArray::fromHex("007b0004d243");
        lines.insert(at, record(t, "CRSF", QByteArray::fromHex("c80a") + body + char(crc8DvbS2(body.constData(), body.size())))
                             .trimmed());
    }
    QVERIFY(writeFile(path("battery.jsonl"), lines.join('\n')));
    QByteArray errors;
    QCOMPARE(run(QStringList{path("battery.jsonl"), "-o", path("battery.png")} + options, &errors), 0);
    const QImage image(path("battery.png"));
    const QRgb lineColour = qRgb(20, 90, 200);
    // The rows of a colour in a column, each run of them once.
    const auto runsOf = [&](int x) {
        QVector<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (lineColour & 0xFFFFFF) && (rows.isEmpty() || rows.last() != y - 1))
                rows << y;
            else if ((image.pixel(x, y) & 0xFFFFFF) == (lineColour & 0xFFFFFF))
                rows.last() = y;
        }
        return rows;
    };
    const QVector<int> before = runsOf(columnAt(5 / 19.99)), after = runsOf(columnAt(15 / 19.99));
    QCOMPARE(before.size(), lanes);
    QCOMPARE(after.size(), lanes);
    if (lanes == 0)
        return;
    // Under the channels and the interval, over the events.
    QVERIFY2(before.first() > 300 && before.last() < 720, qPrintable(QStringLiteral("%1 %2").arg(before.first()).arg(before.last())));
    QVERIFY2(after.first() - before.first() > 20, qPrintable(QStringLiteral("%1 %2").arg(before.first()).arg(after.first())));
    if (lanes != 2)
        return;
    QCOMPARE(after.last(), before.last());
    // A picture too small for them names the lanes it leaves out.
    QCOMPARE(run({path("battery.jsonl"), "-o", path("small.svg"), "--size", "400x300"}, &errors), 0);
    const QStringList texts = svgTexts(path("small.svg"));
    QVERIFY2(std::any_of(texts.cbegin(), texts.cend(),
                         [](const QString &t) { return t.startsWith(QLatin1String("no room for the lanes voltage (V), cur")); }),
             qPrintable(texts.join('|')));
}

void tst_Plot::svgAndPdfHoldThePicture()
{
    QVERIFY(writeFile(path("damaged.jsonl"), jsonLines(5, 2, 3, 4, 5)));
    QCOMPARE(run({path("damaged.jsonl"), "-o", path("run.svg")}), 0);
    QFile svg(path("run.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&svg);
    QStringList texts;
    QString root, title;
    int shapes = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (root.isEmpty())
            root = xml.name().toString();
        if (xml.name() == QLatin1String("title"))
            title = xml.readElementText();
        else if (xml.name() == QLatin1String("text"))
            texts << xml.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
        else if (xml.name() == QLatin1String("path") || xml.name() == QLatin1String("polyline"))
            ++shapes;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(root, QStringLiteral("svg"));
    QCOMPARE(title, QStringLiteral("damaged.jsonl — HOTT 400 — 400 frames — 5.0 s"));
    QVERIFY(texts.contains(QStringLiteral("CRC failures")));
    // The sanitized build runs on Qt's minimal platform, whose made-up font
    // metrics leave the legend too narrow for its label.
    if (qgetenv("QT_QPA_PLATFORM") != "minimal")
        QVERIFY(texts.contains(QStringLiteral("failsafe")));
    QVERIFY(shapes > 10);

    QCOMPARE(run({path("damaged.jsonl"), "-o", path("run.pdf")}), 0);
    QFile pdf(path("run.pdf"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY(bytes.trimmed().endsWith("%%EOF"));
    if (qgetenv("QT_QPA_PLATFORM") == "minimal")
        QSKIP("the minimal platform of the sanitized build has no fonts to draw the PDF's text with");
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed to read the PDF's text");
    QProcess text;
    text.start(pdftotext, {path("run.pdf"), "-"});
    QVERIFY(text.waitForFinished(30000));
    const QString words = QString::fromUtf8(text.readAllStandardOutput());
    // Text that reads back says the glyphs were there to draw it.
    QVERIFY2(words.contains(QStringLiteral("CRC failures")) && words.contains(QStringLiteral("interval (ms)")),
             qPrintable(words));
}

// Qt Charts cuts labels it finds too little room for to "…": every size
// from 640x480 up keeps the time axis's ticks and title, and the side
// axes' labels.
void tst_Plot::smallPicturesKeepTheirLabels_data()
{
    QTest::addColumn<QString>("size");
    for (const char *size : {"1600x900", "1280x720", "1600x720", "1000x600", "640x480"})
        QTest::newRow(size) << QString::fromLatin1(size);
}

void tst_Plot::smallPicturesKeepTheirLabels()
{
    QFETCH(QString, size);
    if (qgetenv("QT_QPA_PLATFORM") == "minimal")
        QSKIP("the minimal platform of the sanitized build measures text with made-up font metrics");
    QVERIFY(writeFile(path("labels.jsonl"), jsonLines(20, 8, 9, 1e9, 1e9)));
    QCOMPARE(run({path("labels.jsonl"), "--size", size, "-o", path("labels.svg")}), 0);
    // The heading, last, may end in "…" when it is long.
    QStringList texts = svgTexts(path("labels.svg"));
    QVERIFY(!texts.isEmpty() && texts.last().startsWith(QLatin1String("labels.jsonl")));
    texts.removeLast();
    const QString all = texts.join(QLatin1Char('|'));
    QVERIFY2(texts.contains(QStringLiteral("time (s from the first frame)")), qPrintable(all));
    for (const char *tick : {"0", "4", "8", "12", "16"})
        QVERIFY2(texts.contains(QLatin1String(tick)), qPrintable(all));
    QVERIFY2(!all.contains(QChar(0x2026)), qPrintable(all));
    // The channels' µs and the intervals' ms have labels too.
    QVERIFY2(texts.contains(QStringLiteral("1500")), qPrintable(all));
    QVERIFY2(texts.contains(QStringLiteral("500")) || texts.contains(QStringLiteral("1000")), qPrintable(all));
}

// Channel 1 goes from 1000 to 2000 µs across a time without its values:
// where that time is a silence, no line crosses it, as if the stick had
// moved.
void tst_Plot::linesBreakWhereValuesStop_data()
{
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<double>("from"); // s: no channel value in between
    QTest::addColumn<double>("to");
    QTest::addColumn<bool>("crossed");
    const auto hott = [](double gapFrom, double gapTo) {
        QByteArray text;
        for (int i = 0; i < 2000; ++i) {
            const double t = i / 100.0;
            QVector<quint16> words(8, hottWord(1500));
            words[0] = hottWord(t < gapFrom ? 1000 : 2000);
            if (t < gapFrom || t >= gapTo)
                text += record(t, "HOTT", hottFrame(words, false));
        }
        return text;
    };
    QTest::newRow("dropout of 0.7 s") << hott(8, 8.7) << 8.0 << 8.7 << false;
    QTest::newRow("pause of 0.3 s: no silence") << hott(8, 8.3) << 8.0 << 8.3 << true;
    // A CRSF receiver in failsafe stops its channel frames and goes on
    // with link statistics: frames come, the channels' values do not.
    QByteArray crsf;
    for (int i = 0; i < 2000; ++i) {
        const double t = i / 100.0;
        FrameRequest request;
        request.wire = QVector<int>(16, 992);
        request.wire[0] = t < 8 ? 172 : 1811;
        if (t < 8 || t >= 8.8)
            crsf += record(t, "CRSF", familyNamed(QStringLiteral("crsf"))->encode(request));
        crsf += record(t + 0.005, "CRSF", crsfLink(t < 8 || t >= 8.8 ? 100 : 0));
    }
    QTest::newRow("CRSF failsafe: link frames only for 0.8 s") << crsf << 8.0 << 8.8 << false;
}

void tst_Plot::linesBreakWhereValuesStop()
{
    QFETCH(QByteArray, records);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(bool, crossed);
    QVERIFY(writeFile(path("gap.jsonl"), records));
    QByteArray errors;
    QCOMPARE(run({path("gap.jsonl"), "--channels", "1", "-o", path("gap.png")}, &errors), 0);
    const QImage image(path("gap.png"));
    // The times run from 0 to 19.99 s (20.005 with CRSF's last link frame);
    // the columns well inside the gap, in the channels' panel.
    const double end = records.contains("CRSF") ? 19.995 : 19.99;
    int lineColumns = 0;
    for (int x = columnAt(from / end) + 3; x <= columnAt(to / end) - 3; ++x) {
        for (int y = 0; y < image.height() / 2; ++y) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (channelOneColour & 0xFFFFFF)) {
                ++lineColumns;
                break;
            }
        }
    }
    QVERIFY2(crossed ? lineColumns > 0 : lineColumns == 0, qPrintable(QString::number(lineColumns)));
}

// A port read until Ctrl-C: the run ends and the picture is drawn.
// A recording of two sources, as linkscope-dump SRC1 SRC2 writes it: HOTT
// from A in failsafe from 12 to 14 s, SBUS from B silent from 5 to 6 s.
// Each shows in its own group, under its name, and nowhere else.
void tst_Plot::twoSourcesDrawnAsGroups()
{
    const double none = 1e9;
    QByteArrayList lines;
    for (const auto &source : {qMakePair(QByteArray("A"), jsonLines(20, none, none, 12, 14)),
                               qMakePair(QByteArray("B 2"), jsonLines(20, 5, 6, none, none, "SBUS"))}) {
        for (QByteArray line : source.second.split('\n')) {
            line.chop(1);
            if (!line.isEmpty())
                lines << line + ",\"src\":\"" + source.first + "\"}";
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const QByteArray &a, const QByteArray &b) {
        return a.mid(5, a.indexOf(',') - 5).toDouble() < b.mid(5, b.indexOf(',') - 5).toDouble();
    });
    QVERIFY(writeFile(path("two.jsonl"), lines.join('\n') + '\n'));
    QByteArray errors;
    QCOMPARE(run({path("two.jsonl"), "-o", path("two.png")}, &errors), 0);
    QVERIFY2(errors.contains("  A: 2000 frames, 0 CRC failures, 0 stray bytes, 0 silences\n")
                 && errors.contains("  B 2: 1900 frames, 0 CRC failures, 0 stray bytes, 1 silence\n"),
             errors.constData());
    const QImage image(path("two.png"));
    // Each group about the height of one source's picture.
    QCOMPARE(image.size(), QSize(1600, 1500));
    const int half = image.height() / 2;
    QCOMPARE(columnsWith(image, failsafeColour, half, image.height()).first, -1);
    QCOMPARE(columnsWith(image, silenceColour, 0, half).first, -1);
    const QPair<int, int> failsafe = columnsWith(image, failsafeColour, 0, half);
    const QPair<int, int> silence = columnsWith(image, silenceColour, half, image.height());
    QVERIFY2(qAbs(failsafe.first - columnAt(12 / 19.99)) <= 3 && qAbs(failsafe.second - columnAt(14 / 19.99)) <= 3,
             qPrintable(QStringLiteral("%1 %2").arg(failsafe.first).arg(failsafe.second)));
    QVERIFY2(qAbs(silence.first - columnAt(5 / 19.99)) <= 3 && qAbs(silence.second - columnAt(6 / 19.99)) <= 3,
             qPrintable(QStringLiteral("%1 %2").arg(silence.first).arg(silence.second)));
    if (qgetenv("QT_QPA_PLATFORM") == "minimal")
        QSKIP("the minimal platform of the sanitized build shortens texts by made-up font metrics");
    QCOMPARE(run({path("two.jsonl"), "-o", path("two.svg")}), 0);
    const QStringList texts = svgTexts(path("two.svg"));
    QVERIFY2(texts.contains(QStringLiteral("two.jsonl — A: HOTT 2000; B 2: SBUS 1900 — 3900 frames — 20.0 s"))
                 && texts.contains(QStringLiteral("1. A — HOTT 2000, 0 CRC failures, 0 stray bytes, 0 silences"))
                 && texts.contains(QStringLiteral("2. B 2 — SBUS 1900, 0 CRC failures, 0 stray bytes, 1 silence"))
                 && texts.count(QStringLiteral("CRC failures")) == 2,
             qPrintable(texts.join('|')));
}

void tst_Plot::portIsDrawnWhenCtrlCEndsTheRun()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QProcess plot;
    plot.start(QStringLiteral(LINKSCOPE_PLOT), {pty.slavePath(), "-o", path("port.png"), "--duration", "60"});
    QVERIFY(plot.waitForStarted());
    // Bytes written once it holds the port are read. It inherits the test's
    // own descriptor of the port, so the port is its own at the second.
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(plot.processId()));
    const auto holdsPort = [&] {
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        return std::count_if(entries.cbegin(), entries.cend(), [&](const QString &fd) {
                   return QFile::symLinkTarget(fds.filePath(fd)) == pty.slavePath();
               }) >= 2;
    };
    QTRY_VERIFY_WITH_TIMEOUT(holdsPort(), 10000);
    QByteArray frames;
    for (int i = 0; i < 50; ++i)
        frames += mpx(1000 + 10 * i);
    QVERIFY(pty.write(frames));
    ::kill(pid_t(plot.processId()), SIGINT);
    QVERIFY(plot.waitForFinished(30000));
    const QByteArray errors = plot.readAllStandardError();
    QVERIFY2(errors.contains("port.png: 50 frames"), errors.constData());
    QCOMPARE(plot.exitCode(), 0);
    QCOMPARE(QImage(path("port.png")).size(), QSize(1600, 900));
}

// While a port is recorded, a terminal on standard error sees the frames
// and seconds so far, each over the last; a file sees no such lines.
void tst_Plot::recordingShowsProgressOnATerminal_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("standard error a terminal") << true;
    QTest::newRow("standard error a file") << false;
}

void tst_Plot::recordingShowsProgressOnATerminal()
{
    QFETCH(bool, terminal);
    PseudoTerminal port, errorTerminal;
    QVERIFY(port.isValid() && errorTerminal.isValid());
    QProcess plot;
    plot.setStandardErrorFile(terminal ? errorTerminal.slavePath() : path("errors.txt"));
    plot.start(QStringLiteral(LINKSCOPE_PLOT), {port.slavePath(), "-o", path("progress.svg"), "--duration", "60"});
    QVERIFY(plot.waitForStarted());
    QByteArray said;
    QElapsedTimer sending;
    sending.start();
    // Frames keep coming for 2.5 s, the progress ticking every second meanwhile.
    while (sending.elapsed() < 2500) {
        QVERIFY(port.write(mpx(1500)));
        said += errorTerminal.read(20);
    }
    ::kill(pid_t(plot.processId()), SIGINT);
    QVERIFY(plot.waitForFinished(30000));
    QCOMPARE(plot.exitCode(), 0);
    said += errorTerminal.read(200);
    // The title names the port as given, not its last part ("0" of /dev/pts/0).
    QFile svg(path("progress.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    const QByteArray picture = svg.readAll();
    QVERIFY2(picture.contains("<title>" + port.slavePath().toUtf8() + " — MPX"), picture.left(600).constData());
    if (!terminal) {
        QFile file(path("errors.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        said = file.readAll();
        QVERIFY2(!said.contains("recording"), said.constData());
        QVERIFY2(said.contains("progress.svg: "), said.constData());
        return;
    }
    const QRegularExpression progress(
        QStringLiteral("linkscope-plot: recording: ([1-9][0-9]*) frames, ([0-9]+) s\033\\[K\r"));
    const QRegularExpressionMatch match = progress.match(QString::fromUtf8(said));
    QVERIFY2(match.hasMatch() && match.captured(2).toInt() >= 1, said.constData());
    QVERIFY2(said.contains("progress.svg: "), said.constData());
}

void tst_Plot::badInput_data()
{
    QTest::addColumn<QByteArray>("content"); // of the source
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<bool>("drawn");
    QByteArray backwards = "Time [s],Value,Parity Error,Framing Error\n";
    const QByteArray frame = mpx(1500);
    for (int i = 0; i < 3 * frame.size(); ++i) {
        // The second frame's bytes are stamped before the first's.
        const double t = (i / frame.size() == 1 ? 0.0005 : 1.0) + i * 0.0001;
        backwards += QByteArray::number(t, 'f', 7) + ",0x" + QByteArray::number(quint8(frame.at(i % frame.size())), 16) + ",,\n";
    }
    QTest::newRow("empty source: empty axes") << QByteArray() << QStringList() << 1 << QByteArray("no frames") << true;
    QTest::newRow("noise only: empty axes") << QByteArray(500, '\x00') << QStringList() << 1 << QByteArray("no frames") << true;
    QTest::newRow("unknown suffix") << mpx(1500) << QStringList{"-o", "picture.gif"} << 2 << QByteArray("picture.gif")
                                    << false;
    QTest::newRow("folder that is not there") << mpx(1500) << QStringList{"-o", "/nonexistent/picture.png"} << 1
                                              << QByteArray("cannot write /nonexistent/picture.png") << false;
    QTest::newRow("full disk") << mpx(1500) << QStringList{"-o", "full.png"} << 1
                               << QByteArray("cannot write full.png: No space left on device") << false;
    QTest::newRow("full disk, SVG") << mpx(1500) << QStringList{"-o", "full.svg"} << 1
                                    << QByteArray("cannot write full.svg: No space left on device") << false;
    QTest::newRow("full disk, PDF") << mpx(1500) << QStringList{"-o", "full.pdf"} << 1
                                    << QByteArray("cannot write full.pdf: No space left on device") << false;
    QTest::newRow("times going backwards") << backwards << QStringList() << 0
                                           << QByteArray("in file order") << true;
    // A recording's times are its run's own: no other source shares them.
    QVERIFY(writeFile(path("other.csv"), backwards));
    QTest::newRow("a recording beside another source")
        << "{\"t\":0.1,\"raw\":\"" + frame.toHex() + "\"}\n" << QStringList{path("other.csv")} << 2
        << QByteArray("cannot merge") << false;
    QTest::newRow("backward window") << mpx(1500) << QStringList{"--from", "5", "--to", "2"} << 2
                                     << QByteArray("--from") << false;
    QTest::newRow("unknown telemetry lane") << mpx(1500) << QStringList{"--telemetry", "voltage,fuel"} << 2
                                            << QByteArray("no telemetry lane 'fuel': give a list of voltage,current,")
                                            << false;
    QTest::newRow("empty telemetry lane") << mpx(1500) << QStringList{"--telemetry", "voltage,,rssi"} << 2
                                          << QByteArray("an empty name in the lanes 'voltage,,rssi'") << false;
    QTest::newRow("none among telemetry lanes") << mpx(1500) << QStringList{"--telemetry", "none,voltage"} << 2
                                                << QByteArray("no telemetry lane 'none'") << false;
    QTest::newRow("bad channel list") << mpx(1500) << QStringList{"--channels", "4-1"} << 2
                                      << QByteArray("runs backwards") << false;
    // Families are chosen with linkscope-dump's own option.
    FrameRequest request;
    request.wire = QVector<int>(16, 992);
    const QByteArray crsf = familyNamed(QStringLiteral("crsf"))->encode(request).repeated(3);
    // Bytes, but no frame of the families looked for: the way out is named.
    QTest::newRow("CRSF without --family: empty axes")
        << crsf << QStringList() << 1
        << QByteArray("no frames of MPX, MPX_V2, NORDAX, HOTT or SPEKTRUM in 78 bytes; --family auto finds which "
                      "family they are") << true;
    QTest::newRow("one frame") << mpx(1500) << QStringList() << 0
                               << QByteArray("source.png: 1 frame (no times), 0 CRC failures, 0 stray bytes, 0 silences")
                               << true;
    QTest::newRow("CRSF with --family crsf") << crsf << QStringList{"--family", "crsf"} << 0
                                             << QByteArray("source.png: 3 frames") << true;
    QTest::newRow("src no text") << QByteArray("{\"t\":0.5,\"src\":2,\"family\":\"MPX\",\"raw\":\"") + mpx(1500).toHex() + "\"}\n"
                                 << QStringList() << 1 << QByteArray("line 1: \"src\" is no text") << false;
    QTest::newRow("unknown family") << mpx(1500) << QStringList{"--family", "xbus2"} << 2 << QByteArray("xbus2")
                                    << false;
}

void tst_Plot::badInput()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QByteArray, said);
    QFETCH(bool, drawn);
    QDir::setCurrent(folder.path());
    QFile::remove(path("source.png"));
    for (const char *suffix : {"png", "svg", "pdf"})
        QFile::link(QStringLiteral("/dev/full"), path(QStringLiteral("full.%1").arg(QLatin1String(suffix))));
    QVERIFY(writeFile(path("source.bin"), content));
    QByteArray errors;
    QCOMPARE(run(QStringList{path("source.bin")} + options, &errors), status);
    QVERIFY2(errors.contains(said), errors.constData());
    QCOMPARE(QImage(path("source.png")).size(), drawn ? QSize(1600, 900) : QSize(0, 0));
}

// Started without standard input, "-" is said to be closed; no descriptor
// the program opens since is taken for it.
void tst_Plot::standardInputClosed()
{
    QProcess plot;
    plot.setWorkingDirectory(folder.path());
    plot.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" - -o closed.png <&-"),
                                           QStringLiteral(LINKSCOPE_PLOT)});
    const bool finished = plot.waitForFinished(30000);
    if (!finished) {
        plot.kill();
        plot.waitForFinished();
    }
    QVERIFY(finished);
    const QByteArray errors = plot.readAllStandardError();
    QCOMPARE(plot.exitCode(), 1);
    QVERIFY2(errors.contains("standard input is closed"), errors.constData());
}

QTEST_GUILESS_MAIN(tst_Plot)
#include "tst_plot.moc"
