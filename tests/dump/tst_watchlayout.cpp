// SPDX-License-Identifier: GPL-3.0-or-later
// The live view laid out for terminals of every size: what fits, what is
// hidden and said to be, where the bar puts its marks, and the telemetry.
#include "dump/watchfigures.h"
#include "dump/watchlayout.h"

#include <QRegularExpression>
#include <QtTest>

class tst_WatchLayout : public QObject
{
    Q_OBJECT

private slots:
    void fitsEveryTerminal();
    void barMarksValueLowestHighestAndCentre();
    void telemetryFitsAndCountsTheRest_data();
    void telemetryFitsAndCountsTheRest();
    void sourcesShareTheScreen_data();
    void sourcesShareTheScreen();
};

namespace {

WatchSnapshot busyView()
{
    WatchSnapshot view;
    view.source = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    view.family = "HOTT";
    view.upSeconds = 98765;
    view.framesLastSecond = 311;
    view.intervalMin = 123.4, view.intervalMean = 2345.6, view.intervalMax = 9999.9;
    view.crcFailures = 1234567, view.crcFailuresRecent = 89, view.strayBytes = 12345678, view.failsafeFrames = 4321;
    view.failsafe = true, view.silentFor = 12.3, view.paused = true;
    for (int k = 0; k < 16; ++k)
        view.channels.push_back({900 + 80 * k, 850 + 80 * k, 1000 + 80 * k, k % 3 != 0});
    return view;
}

} // namespace

void tst_WatchLayout::fitsEveryTerminal()
{
    const WatchSnapshot view = busyView();
    const QRegularExpression whole(QStringLiteral("^ *\\d+ +\\d+ \\[[-.|<>#]+\\] +\\d+ +\\d+$"));
    const QRegularExpression hidden(QStringLiteral("^(\\d+) (channels? )?hidden"));
    const QStringList items{"HOTT", "up 27:26:05", "311 frames/s", "interval min 123.4 mean 2345.6 max 9999.9 ms",
                            "CRC failures 1234567 (89 in 10 s)", "stray bytes 12345678", "failsafe frames 4321"};
    for (int width = 1; width <= 250; ++width) {
        for (int height = 1; height <= 80; ++height) {
            const std::vector<WatchLine> lines = layOutWatch(view, width, height);
            const QString where = QStringLiteral("%1x%2").arg(width).arg(height);
            QVERIFY2(int(lines.size()) <= height, qPrintable(where));
            int banners = 0, channels = 0, hiddenCount = -1;
            QString text;
            for (const WatchLine &line : lines) {
                const QString shown = QString::fromStdString(line.text);
                QVERIFY2(shown.size() <= width, qPrintable(where + ": " + shown));
                banners += line.style >= WatchLine::Failsafe;
                const bool channel = shown.startsWith(QString::asprintf("%3d ", channels + 1));
                channels += channel;
                // From 40 columns up, the bars shrink and nothing else.
                const WatchChannel &c = view.channels[std::size_t(qMax(0, channels - 1))];
                QVERIFY2(!channel || width < 40
                             || (whole.match(shown).hasMatch() && shown.startsWith(QString::asprintf("%3d %5d [", channels, c.value))
                                 && shown.endsWith(QString::asprintf("] %5d %5d", c.low, c.high))),
                         qPrintable(where + ": " + shown));
                QVERIFY2(!channel || width < 40 || width >= 94 || shown.size() == width, qPrintable(where));
                if (hidden.match(shown).hasMatch())
                    hiddenCount = hidden.match(shown).captured(1).toInt();
                text += shown + ' ';
            }
            QCOMPARE(banners, qMin(3, height));
            if (height > banners && width >= 10)
                QCOMPARE(channels + qMax(0, hiddenCount), 16);
            if (width >= 40 && height >= 12) {
                const QString joined = text.simplified();
                for (const QString &item : items)
                    QVERIFY2(joined.contains(item), qPrintable(where + ": " + item + " not in " + joined));
            }
        }
    }
}

void tst_WatchLayout::barMarksValueLowestHighestAndCentre()
{
    WatchSnapshot view;
    // A channel at 1650 µs that has been from 1000 to 2000; 14 cells of 100 µs.
    view.channels.push_back({1650, 1000, 2000, true});
    view.channels.push_back({WatchChannel::none, WatchChannel::none, WatchChannel::none, false});
    const std::vector<WatchLine> lines = layOutWatch(view, 38, 24);
    QStringList shown;
    for (const WatchLine &line : lines)
        shown << QString::fromStdString(line.text);
    QVERIFY2(shown.contains(" ch    us [800  1500 2200]   low  high"), qPrintable(shown.join('\n')));
    QVERIFY2(shown.contains("  1  1650 [..<----|#--->.]  1000  2000"), qPrintable(shown.join('\n')));
    QVERIFY2(shown.contains("  2     - [.......|......]     -     -"), qPrintable(shown.join('\n')));
}

void tst_WatchLayout::telemetryFitsAndCountsTheRest_data()
{
    QTest::addColumn<int>("values");
    QTest::addColumn<int>("channels");
    QTest::newRow("three values, no channels") << 3 << 0;
    QTest::newRow("three values, 16 channels") << 3 << 16;
    QTest::newRow("forty values, 16 channels") << 40 << 16;
    QTest::newRow("forty values, no channels") << 40 << 0;
}

// At every size, each value shown is whole, and those left out are counted:
// shown and counted come to all. On 80x24 the channels keep most rows, and
// the telemetry at least a third.
void tst_WatchLayout::telemetryFitsAndCountsTheRest()
{
    QFETCH(int, values);
    QFETCH(int, channels);
    WatchSnapshot view = busyView();
    view.failsafe = false, view.silentFor = -1, view.paused = false;
    view.channels.resize(std::size_t(channels));
    for (int i = 0; i < values; ++i)
        view.telemetry.push_back({"v" + std::to_string(i), std::to_string(1000 + i), i % 2 ? "V" : "", 0.25 * i});
    const QRegularExpression cell(QStringLiteral("^v(\\d+) (\\d+)( V)? (\\d+\\.\\ds|\\d+s)$"));
    const QRegularExpression more(QStringLiteral("^\\+(\\d+) more$"));
    for (int width = 1; width <= 120; ++width) {
        for (int height = 1; height <= 40; ++height) {
            const std::vector<WatchLine> lines = layOutWatch(view, width, height);
            const QString where = QStringLiteral("%1x%2").arg(width).arg(height);
            QVERIFY2(int(lines.size()) <= height, qPrintable(where));
            int shown = 0, counted = 0, rows = 0, channelRows = 0;
            bool inBlock = false, titleOnly = false;
            for (const WatchLine &line : lines) {
                const QString text = QString::fromStdString(line.text);
                QVERIFY2(text.size() <= width, qPrintable(where + ": " + text));
                channelRows += line.style != WatchLine::Title && text.startsWith(QString::asprintf("%3d ", channelRows + 1));
                if (line.style == WatchLine::Title && text.startsWith(QLatin1String("telemetry"))) {
                    inBlock = true;
                    titleOnly = text == QStringLiteral("telemetry: %1 values").arg(values).left(width);
                    ++rows;
                    continue;
                }
                if (!inBlock || line.style != WatchLine::Plain)
                    continue;
                ++rows;
                for (const QString &part : text.split(QRegularExpression(QStringLiteral(" {2,}")), Qt::SkipEmptyParts)) {
                    const QRegularExpressionMatch value = cell.match(part);
                    if (value.hasMatch()) {
                        const int i = value.captured(1).toInt();
                        QCOMPARE(value.captured(2).toInt(), 1000 + i);
                        QCOMPARE(!value.captured(3).isEmpty(), i % 2 == 1);
                        ++shown;
                    } else if (more.match(part).hasMatch()) {
                        counted += more.match(part).captured(1).toInt();
                    } else {
                        // Cut at the edge only where the terminal is narrower than a value.
                        QVERIFY2(width < 20, qPrintable(where + ": " + part));
                    }
                }
            }
            if (width >= 20 && rows >= 2)
                QVERIFY2(shown + counted == values, qPrintable(QStringLiteral("%1: %2 + %3").arg(where).arg(shown).arg(counted)));
            if (width >= 20 && height >= 12) {
                QVERIFY2(rows >= 2 || titleOnly, qPrintable(where));
            }
            if (width == 80 && height == 24) {
                // Header 4 lines, footer 1: 19 rows to share. Forty values
                // take 10 rows of 4 and a title, or a third of the 19.
                QCOMPARE(rows, values <= 3 ? 2 : channels ? 6 : 11);
                QCOMPARE(channelRows, qMin(channels, 19 - rows - 1));
            }
        }
    }
}

void tst_WatchLayout::sourcesShareTheScreen_data()
{
    QTest::addColumn<int>("sources");
    QTest::newRow("one source, as it always was") << 1;
    QTest::newRow("two sources") << 2;
    QTest::newRow("three sources") << 3;
}

// Each source in a block headed by its name, at every size within the
// terminal; a block too short for its channels counts those it hides.
void tst_WatchLayout::sourcesShareTheScreen()
{
    QFETCH(int, sources);
    std::vector<WatchSnapshot> views(std::size_t(sources), busyView());
    for (int i = 0; i < sources; ++i) {
        views[std::size_t(i)].source = "source-" + std::to_string(i);
        views[std::size_t(i)].sensors.assign(std::size_t(6 * i), {0x1B, PollPairing::Counts{9, 8, 1, 1, 0}});
        views[std::size_t(i)].silentSensors = {0xA1, 0x22};
    }
    const QRegularExpression hidden(QStringLiteral("^(\\d+) (channels? )?hidden"));
    for (int width = 1; width <= 120; ++width) {
        for (int height = 1; height <= 60; ++height) {
            const QString where = QStringLiteral("%1x%2").arg(width).arg(height);
            QStringList shown;
            for (const WatchLine &line : layOutWatch(views, width, height))
                shown << QString::fromStdString(line.text) + (line.style == WatchLine::Title ? "\t" : "");
            if (sources == 1) {
                QStringList alone;
                for (const WatchLine &line : layOutWatch(views.front(), width, height))
                    alone << QString::fromStdString(line.text) + (line.style == WatchLine::Title ? "\t" : "");
                QCOMPARE(shown, alone);
                continue;
            }
            QVERIFY2(shown.size() <= height, qPrintable(where));
            int block = -1;
            QVector<int> counted(sources, 0);
            for (const QString &text : shown) {
                QVERIFY2(text.size() <= width + 1 && (text.size() <= width || text.endsWith('\t')), qPrintable(where));
                if (width >= 10 && text.startsWith(QStringLiteral("source-%1").arg(block + 1)) && text.endsWith('\t'))
                    ++block;
                else if (block >= 0)
                    counted[block] += text.startsWith(QString::asprintf("%3d ", counted[block] + 1)) && !text.endsWith('\t')
                        ? 1 : hidden.match(text).captured(1).toInt();
            }
            // Paused and the keys take a row each; each block gets an even
            // share of the rest at least: its name, two banners, the count
            // of the channels it hides.
            if (width >= 10) {
                QCOMPARE(block + 1, qMin(sources, qMax(0, height - 2)));
                if ((height - 2) / sources >= 4)
                    QCOMPARE(counted, QVector<int>(sources, 16));
            }
        }
    }
}

QTEST_GUILESS_MAIN(tst_WatchLayout)
#include "tst_watchlayout.moc"
