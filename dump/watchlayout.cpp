// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/watchlayout.h"

#include "dump/watchfigures.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {

// A channel line is the number, the value, the bar in brackets, and the
// lowest and highest value: "%3d %5s [bar] %5s %5s".
constexpr int aroundBar = 24;
// Wider bars show nothing more that a person can read off.
constexpr int widestBar = 70;
// Below this, the line goes without a bar.
constexpr int narrowestBar = 4;

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char *pattern, ...)
{
    char text[256];
    va_list arguments;
    va_start(arguments, pattern);
    const int n = std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return std::string(text, std::size_t(std::clamp(n, 0, int(sizeof text) - 1)));
}

std::string number(int value)
{
    return value == WatchChannel::none ? std::string("-") : std::to_string(value);
}

std::string cut(std::string text, int width)
{
    if (int(text.size()) > width)
        text.resize(std::size_t(width));
    return text;
}

// Items side by side two spaces apart, on as many lines as the width needs;
// an item wider than a line is broken between words, and a word wider than
// a line cut.
void flow(const std::vector<std::string> &items, int width, std::vector<std::string> &lines)
{
    std::string line;
    for (std::string item : items) {
        if (!line.empty() && int(line.size() + 2 + item.size()) > width) {
            lines.push_back(line);
            line.clear();
        }
        while (line.empty() && int(item.size()) > width) {
            const std::size_t space = item.rfind(' ', std::size_t(width));
            if (space == std::string::npos || space == 0) {
                lines.push_back(item.substr(0, std::size_t(width)));
                const std::size_t next = item.find(' ', std::size_t(width));
                item = next == std::string::npos ? std::string() : item.substr(next + 1);
            } else {
                lines.push_back(item.substr(0, space));
                item.erase(0, space + 1);
            }
        }
        line += line.empty() ? item : "  " + item;
    }
    if (!line.empty())
        lines.push_back(line);
}

std::vector<std::string> header(const WatchSnapshot &view, int width)
{
    const long seconds = long(view.upSeconds);
    std::string interval = "interval -";
    if (view.intervalMin >= 0)
        interval = format("interval min %.1f mean %.1f max %.1f ms", view.intervalMin, view.intervalMean,
                          view.intervalMax);
    std::vector<std::string> lines;
    // Bytes that keep coming without a frame are of another family, or at
    // other line settings, more often than noise.
    std::string family = view.family;
    if (family.empty())
        family = view.strayBytes >= 256 ? format("no frame in %lld bytes: try --family auto", view.strayBytes)
                                        : std::string("no frame yet");
    flow({view.source, family,
          format("up %ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60)},
         width, lines);
    flow({format("%d frames/s", view.framesLastSecond), interval}, width, lines);
    std::vector<std::string> counts{format("CRC failures %lld (%lld in 10 s)", view.crcFailures,
                                           view.crcFailuresRecent),
                                    format("stray bytes %lld", view.strayBytes),
                                    format("failsafe frames %lld", view.failsafeFrames)};
    if (view.lostFrames >= 0)
        counts.push_back(view.flaggingFrames > 0
                             ? format("frames lost %lld (%.1f %%)", view.lostFrames,
                                      100.0 * double(view.lostFrames) / double(view.flaggingFrames))
                             : format("frames lost %lld", view.lostFrames));
    if (!view.link.empty())
        flow({view.link}, width, lines);
    flow(counts, width, lines);
    const PollPairing::Counts &pairs = view.pairing;
    if (pairs.any())
        flow({format("polls %lld", pairs.polls),
              format("replies %lld (late %lld, over %.1f ms)", pairs.replies, pairs.late, PollPairing::lateAfterMs),
              format("missing replies %lld", pairs.missing), format("replies without a poll %lld", pairs.unpaired)},
             width, lines);
    // One line, however narrow: it tells how far to trust the interval line.
    if (!view.bunching.empty())
        lines.push_back(cut(view.bunching, width));
    return lines;
}

WatchLine banner(const std::string &text, WatchLine::Style style, int width)
{
    const int pad = std::max(0, (width - int(text.size())) / 2);
    std::string line = cut(std::string(std::size_t(pad), ' ') + text, width);
    line.resize(std::size_t(width), ' ');
    return {line, style};
}

// Where value falls among width cells spanning low to high.
int cell(int value, int low, int high, int width)
{
    if (high <= low)
        return width / 2;
    const long long at = (static_cast<long long>(value) - low) * width / (static_cast<long long>(high) - low);
    return int(std::clamp<long long>(at, 0, width - 1));
}

std::string bar(const WatchSnapshot &view, const WatchChannel &channel, int width)
{
    std::string cells(std::size_t(width), '.');
    const auto at = [&](int value) { return std::size_t(cell(value, view.scaleLow, view.scaleHigh, width)); };
    if (channel.low != WatchChannel::none) {
        for (std::size_t i = at(channel.low); i <= at(channel.high); ++i)
            cells[i] = '-';
    }
    if (view.scaleMark != WatchChannel::none)
        cells[at(view.scaleMark)] = '|';
    if (channel.low != WatchChannel::none) {
        cells[at(channel.low)] = '<';
        cells[at(channel.high)] = '>';
    }
    if (channel.value != WatchChannel::none)
        cells[at(channel.value)] = '#';
    return cells;
}

// The bar's scale: its ends, and the mark where it fits between them.
std::string scale(const WatchSnapshot &view, int width)
{
    std::string cells(std::size_t(width), ' ');
    const std::string low = std::to_string(view.scaleLow), high = std::to_string(view.scaleHigh);
    if (int(low.size() + high.size()) + 1 > width)
        return cells;
    cells.replace(0, low.size(), low);
    cells.replace(cells.size() - high.size(), high.size(), high);
    if (view.scaleMark != WatchChannel::none) {
        const std::string mark = std::to_string(view.scaleMark);
        const int from = cell(view.scaleMark, view.scaleLow, view.scaleHigh, width) - int(mark.size()) / 2;
        if (from > int(low.size()) && from + int(mark.size()) < width - int(high.size()))
            cells.replace(std::size_t(from), mark.size(), mark);
    }
    return cells;
}

// "16.80 V 0.3s": a value's age in tenths of a second while it is fresh,
// then in seconds, minutes and hours.
std::string ageText(double age)
{
    if (age < 9.95)
        return format("%d.%ds", int(age + 0.05), int((age + 0.05) * 10) % 10);
    if (age < 99.5)
        return format("%ds", int(age + 0.5));
    if (age < 5999.5)
        return format("%dm", int(age / 60 + 0.5));
    return format("%.0fh", std::min(age / 3600, 9e6));
}

std::string telemetryCell(const WatchTelemetry &value)
{
    return value.label + ' ' + value.value + (value.unit.empty() ? "" : " " + value.unit) + ' ' + ageText(value.age);
}

// The telemetry values side by side in columns as wide as the widest,
// on at most rows lines; where they do not all fit, the last cell says how
// many more there are.
std::vector<std::string> telemetryGrid(const std::vector<WatchTelemetry> &values, int width, int rows, int &needed)
{
    std::vector<std::string> cells;
    std::size_t widest = 0;
    for (const WatchTelemetry &value : values) {
        cells.push_back(cut(telemetryCell(value), width));
        widest = std::max(widest, cells.back().size());
    }
    const int columns = std::max(1, (width + 2) / (int(widest) + 2));
    needed = (int(cells.size()) + columns - 1) / columns;
    std::vector<std::string> lines;
    if (rows <= 0)
        return lines;
    if (int(cells.size()) > rows * columns) {
        const int shown = rows * columns - 1;
        cells.resize(std::size_t(shown + 1));
        cells.back() = cut(format("+%d more", int(values.size()) - shown), width);
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i % std::size_t(columns) == 0)
            lines.emplace_back();
        else
            lines.back() += "  ";
        std::string cell = cells[i];
        // The last column needs no padding.
        if ((i + 1) % std::size_t(columns) != 0 && i + 1 < cells.size())
            cell.resize(widest, ' ');
        lines.back() += cell;
    }
    return lines;
}

// A line per sensor that answered or was answered for, then one for the
// ids polled and never answered, as the summary has them.
std::vector<std::string> sensorLines(const WatchSnapshot &view, int width)
{
    std::vector<std::string> lines;
    for (const auto &sensor : view.sensors) {
        const PollPairing::Counts &c = sensor.second;
        lines.push_back(cut(format("  0x%02X %7lld %7lld %5lld %7lld %7lld", sensor.first, c.polls, c.replies, c.late,
                                   c.missing, c.unpaired),
                            width));
    }
    if (!view.silentSensors.empty()) {
        std::string ids;
        for (const int id : view.silentSensors)
            ids += format(" 0x%02X", id);
        lines.push_back(cut(format("  polled, never answered: %d (", int(view.silentSensors.size())) + ids.substr(1) + ")",
                            width));
    }
    return lines;
}

// One source's lines: header, banners, channels, sensors and telemetry in
// height rows. The footer names the keys where keys is true; otherwise it
// is there only to count hidden channels.
std::vector<WatchLine> layOutBlock(const WatchSnapshot &view, int width, int height, bool keys)
{
    std::vector<WatchLine> lines;
    if (width <= 0 || height <= 0)
        return lines;
    std::vector<WatchLine> banners;
    if (view.failsafe)
        banners.push_back(banner("RECEIVER IN FAILSAFE", WatchLine::Failsafe, width));
    if (view.channelsStoppedFor >= 0)
        banners.push_back(banner(format("CHANNELS STOPPED %.1f s AGO", view.channelsStoppedFor), WatchLine::Silence,
                                 width));
    if (view.silentFor >= 0)
        banners.push_back(banner(format("NO FRAMES FOR %.1f s", view.silentFor), WatchLine::Silence, width));
    if (view.paused)
        banners.push_back(banner("PAUSED", WatchLine::Paused, width));
    const std::vector<std::string> top = header(view, width);

    // Banners first, then the footer that counts hidden channels, then the
    // header; the sensors take up to a quarter of the rest that they need,
    // the channels and telemetry share what is left, where each gets at
    // least a third of it that it needs, and the sensors any rows over.
    const int channelCount = int(view.channels.size());
    int telemetryNeeded = 0;
    telemetryGrid(view.telemetry, width, 0, telemetryNeeded);
    // Each block has a title line over it.
    if (telemetryNeeded > 0)
        ++telemetryNeeded;
    const std::vector<std::string> sensorText = sensorLines(view, width);
    const int sensorsNeeded = sensorText.empty() ? 0 : int(sensorText.size()) + 1;
    const int channelsNeeded = channelCount > 0 ? channelCount + 1 : 0;
    int bannerRows = 0, footerRows = 0, headerRows = 0, sensorRows = 0, telemetryRows = 0, titleRows = 0,
        channelRows = 0;
    const auto share = [&](int footerWanted) {
        // Among other sources' blocks, the name comes before all else.
        int left = height;
        const int nameRows = keys ? 0 : std::min({1, int(top.size()), left});
        left -= nameRows;
        bannerRows = std::min(int(banners.size()), left);
        left -= bannerRows;
        footerRows = std::min(footerWanted, left);
        left -= footerRows;
        headerRows = nameRows + std::min(int(top.size()) - nameRows, left);
        left -= headerRows - nameRows;
        const int sensorsKept = std::min({sensorsNeeded, std::max(2, left / 4), left});
        left -= sensorsKept;
        const int telemetryKept = std::min(telemetryNeeded, std::max(2, left / 3));
        const int channelBlock = std::min(channelsNeeded, std::max(0, left - telemetryKept));
        telemetryRows = std::min(telemetryNeeded, left - channelBlock);
        sensorRows = std::min(sensorsNeeded, sensorsKept + left - channelBlock - telemetryRows);
        left = channelBlock;
        titleRows = channelCount > 0 && left >= 2 ? 1 : 0;
        left -= titleRows;
        channelRows = std::min(channelCount, left);
    };
    share(keys ? 1 : 0);
    // Without the keys, the footer takes a row only where channels are hidden.
    if (!keys && channelRows < channelCount)
        share(1);

    // Among other sources' blocks, the first line, the name's, stands out.
    for (int i = 0; i < headerRows; ++i)
        lines.push_back({top[std::size_t(i)], i == 0 && !keys ? WatchLine::Title : WatchLine::Plain});
    lines.insert(lines.end(), banners.begin(), banners.begin() + bannerRows);

    const int barWidth = std::min(width - aroundBar, widestBar);
    const bool withBar = barWidth >= narrowestBar;
    const char *unit = view.words ? "word" : "us";
    if (titleRows > 0) {
        const std::string title = withBar ? format("%3s %5s [%s] %5s %5s", "ch", unit, scale(view, barWidth).c_str(), "low", "high")
                                          : format("%3s %5s %5s %5s", "ch", unit, "low", "high");
        lines.push_back({cut(title, width), WatchLine::Title});
    }
    for (int k = 0; k < channelRows; ++k) {
        const WatchChannel &channel = view.channels[std::size_t(k)];
        const std::string value = number(channel.value), low = number(channel.low), high = number(channel.high);
        const int number = channel.number > 0 ? channel.number : k + 1;
        const std::string text = withBar ? format("%3d %5s [%s] %5s %5s", number, value.c_str(),
                                                  bar(view, channel, barWidth).c_str(), low.c_str(), high.c_str())
                                         : format("%3d %5s %5s %5s", number, value.c_str(), low.c_str(), high.c_str());
        lines.push_back({cut(text, width), channel.carried ? WatchLine::Plain : WatchLine::Dimmed});
    }
    if (sensorRows > 0) {
        lines.push_back({cut("sensor   polls replies  late missing no poll", width), WatchLine::Title});
        // Where not all fit, the last row counts the rest.
        const int room = sensorRows - 1;
        const int shown = int(sensorText.size()) <= room ? room : room - 1;
        for (int i = 0; i < shown && i < int(sensorText.size()); ++i)
            lines.push_back({sensorText[std::size_t(i)], WatchLine::Plain});
        if (shown < int(sensorText.size()) && room > 0) {
            const int hidden = std::max(0, int(view.sensors.size()) - shown);
            std::string more = hidden > 0 ? format("  +%d more sensor%s", hidden, hidden > 1 ? "s" : "") : std::string();
            if (!view.silentSensors.empty())
                more += format("%s%d polled, never answered", hidden > 0 ? ", " : "  ", int(view.silentSensors.size()));
            lines.push_back({cut(more, width), WatchLine::Plain});
        }
    }
    if (telemetryRows > 0) {
        int needed = 0;
        const std::vector<std::string> grid = telemetryGrid(view.telemetry, width, telemetryRows - 1, needed);
        // Without room for a value, the title alone says how many there are.
        lines.push_back({cut(grid.empty() ? format("telemetry: %d values", int(view.telemetry.size()))
                                          : std::string("telemetry (value, age)"),
                             width),
                         WatchLine::Title});
        for (const std::string &line : grid)
            lines.push_back({line, WatchLine::Plain});
    }
    if (footerRows > 0) {
        const int hidden = channelCount - channelRows;
        std::string footer = hidden > 0 ? format("%d channel%s hidden", hidden, hidden > 1 ? "s" : "") : "";
        // However narrow, the count of hidden channels shows.
        if (int(footer.size()) > width)
            footer = format("%d hidden", hidden);
        if (keys)
            footer += footer.empty() ? "q quit  space pause  r reset" : "   q quit  space pause  r reset";
        lines.push_back({cut(footer, width), WatchLine::Title});
    }
    return lines;
}

} // namespace

std::vector<WatchLine> layOutWatch(const WatchSnapshot &view, int width, int height)
{
    return layOutBlock(view, width, height, true);
}

std::vector<WatchLine> layOutWatch(const std::vector<WatchSnapshot> &views, int width, int height)
{
    if (views.size() == 1)
        return layOutWatch(views.front(), width, height);
    std::vector<WatchLine> lines;
    if (width <= 0 || height <= 0 || views.empty())
        return lines;
    // Paused holds every source: one banner over all, and the keys once
    // under all. The rows between go to the sources: each gets all it
    // needs where that is no more than an even share, and those that need
    // more share what is left evenly, showing fewer channels.
    if (views.front().paused)
        lines.push_back(banner("PAUSED", WatchLine::Paused, width));
    const int footerRows = int(lines.size()) < height ? 1 : 0;
    int rows = height - int(lines.size()) - footerRows;
    const int count = int(views.size());
    std::vector<WatchSnapshot> blocks(views);
    std::vector<int> needed, given(std::size_t(count), -1);
    for (WatchSnapshot &view : blocks) {
        view.paused = false;
        needed.push_back(int(layOutBlock(view, width, 1 << 20, false).size()));
    }
    for (int open = count; open > 0;) {
        bool settled = false;
        for (int i = 0; i < count; ++i) {
            if (given[std::size_t(i)] < 0 && needed[std::size_t(i)] <= rows / open) {
                given[std::size_t(i)] = needed[std::size_t(i)];
                rows -= needed[std::size_t(i)];
                --open;
                settled = true;
            }
        }
        if (settled)
            continue;
        for (int i = 0, k = 0; i < count; ++i) {
            if (given[std::size_t(i)] < 0)
                given[std::size_t(i)] = rows / open + (k++ < rows % open ? 1 : 0);
        }
        break;
    }
    for (int i = 0; i < count; ++i) {
        const std::vector<WatchLine> block = layOutBlock(blocks[std::size_t(i)], width, given[std::size_t(i)], false);
        lines.insert(lines.end(), block.begin(), block.end());
    }
    if (footerRows > 0)
        lines.push_back({cut("q quit  space pause  r reset", width), WatchLine::Title});
    return lines;
}
