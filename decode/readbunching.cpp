// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/readbunching.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Judged this often, in s of the reads' own times.
constexpr double judgeEvery = 0.1;
// Reads over at least this long, and so many reads and frames, before a judgement.
constexpr double shortestSpan = 1.0;
constexpr int fewestReads = 12;
constexpr int fewestFrames = 12;
// USB itself polls every millisecond: a grid that fine moves a frame time
// by too little to matter.
constexpr double shortestPeriodMs = 4;
// The share of reads that must fall on the grid: a machine busy with other
// work takes a good part of them late.
constexpr double onGridShare = 0.7;
// Ten reads a millisecond over the whole window.
constexpr std::size_t mostReads = 20000;

// How far from the grid a read may fall: a busy machine's wake-up delays,
// which are longer than the grid's own error.
double slackMs(double periodMs)
{
    return std::max(1.5, 0.2 * periodMs);
}
double lateSlackMs(double periodMs)
{
    return std::max(2.0, 0.3 * periodMs);
}

} // namespace

void ReadBunching::addRead(double t)
{
    reads.push_back({t, 0});
    lastRead = t;
    // The cap keeps a flood of reads, or records that all bear one time,
    // from filling memory.
    while (reads.size() > 1 && (reads.front().t < t - windowSeconds || reads.size() > mostReads))
        reads.pop_front();
    // Judged anew after a tenth of a second, and after a twentieth of the
    // reads kept at least, so that times that jump to and fro, as a file's
    // may, cost no more than steady ones.
    ++readsSinceJudged;
    if (std::isnan(judgedAt) || (std::abs(t - judgedAt) >= judgeEvery && readsSinceJudged >= reads.size() / 20)) {
        judgedAt = t;
        readsSinceJudged = 0;
        judge();
    }
}

bool ReadBunching::addFrame(double readAt)
{
    for (auto read = reads.rbegin(); read != reads.rend() && read->t >= readAt; ++read) {
        if (read->t == readAt) {
            ++read->frames;
            break;
        }
    }
    const bool first = readAt != lastFrameRead;
    lastFrameRead = readAt;
    return first;
}

void ReadBunching::judge()
{
    // The newest reads may still get frames: a frame that ends at a pause
    // is found only when the next read or the quiet shows the pause.
    const int count = int(reads.size()) - 2;
    if (count < fewestReads)
        return;
    const double spanMs = (reads[std::size_t(count - 1)].t - reads.front().t) * 1000;
    if (spanMs < shortestSpan * 1000)
        return;
    std::vector<double> spacings;
    int frames = 0;
    for (int i = 1; i < count; ++i) {
        spacings.push_back((reads[std::size_t(i)].t - reads[std::size_t(i - 1)].t) * 1000);
        frames += reads[std::size_t(i)].frames;
        // Times that run backwards, as a file's may, tell of no line.
        if (!(spacings.back() >= 0))
            return;
    }
    if (frames < fewestFrames)
        return;
    std::vector<double> sorted = spacings;
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    const double median = sorted[sorted.size() / 2];
    if (median < shortestPeriodMs)
        return;
    // The grid's period, told more closely by all the reads on it.
    double spanned = 0, steps = 0;
    for (double d : spacings) {
        const double k = std::round(d / median);
        if (k >= 1 && std::abs(d - k * median) <= slackMs(median)) {
            spanned += d;
            steps += k;
        }
    }
    if (steps <= 0)
        return;
    const double grid = spanned / steps;
    const double framePeriod = spanMs / frames;
    // Several frames a read: a frame falls due in every period, so every
    // period brings a read. Fewer frames than periods: some periods bring
    // none, but each read falls on the grid, off the frames' own period.
    const bool several = framePeriod <= 0.8 * grid;
    const double ratio = framePeriod / grid;
    const bool offGrid = ratio >= 1.15 && std::abs(ratio - std::round(ratio)) >= 0.15;
    if (!several && !offGrid)
        return;
    // Each read against the last one on the grid, so that a read the
    // machine took late counts once, and the grid's small error never adds
    // up. Reads come late, never early: one earlier than the grid says
    // shows that the read it was measured from came late.
    int onGrid = 0, lateReads = 0;
    double anchor = reads.front().t * 1000;
    for (int i = 1; i < count; ++i) {
        const double t = reads[std::size_t(i)].t * 1000;
        const double k = std::max(1.0, std::round((t - anchor) / grid));
        const double late = t - anchor - k * grid;
        if (late > lateSlackMs(grid)) {
            ++lateReads;
            continue;
        }
        // Where a frame falls due in every period, every period brings a
        // read, or one that came late.
        onGrid += late >= -slackMs(grid) && (!several || k <= 1 + lateReads);
        anchor = t;
        lateReads = 0;
    }
    if (onGrid < onGridShare * double(count - 1))
        return;
    // The frames themselves came at a steady period, each read at most one
    // period of the grid after its last frame fell due; a receiver that
    // skips frames now and then drifts far from any steady period.
    double sumC = 0, sumT = 0, n = 0;
    std::vector<std::pair<double, double>> points; // frames so far, read time in ms
    double counted = 0;
    for (int i = 1; i < count; ++i) {
        counted += reads[std::size_t(i)].frames;
        if (reads[std::size_t(i)].frames == 0)
            continue;
        const double t = (reads[std::size_t(i)].t - reads.front().t) * 1000;
        points.push_back({counted, t});
        sumC += counted;
        sumT += t;
        ++n;
    }
    if (n < 3)
        return;
    const double meanC = sumC / n, meanT = sumT / n;
    double cc = 0, ct = 0;
    for (const auto &p : points) {
        cc += (p.first - meanC) * (p.first - meanC);
        ct += (p.first - meanC) * (p.second - meanT);
    }
    if (cc <= 0)
        return;
    const double slope = ct / cc;
    double low = 0, high = 0;
    bool first = true;
    for (const auto &p : points) {
        const double off = p.second - meanT - slope * (p.first - meanC);
        low = first ? off : std::min(low, off);
        high = first ? off : std::max(high, off);
        first = false;
    }
    if (high - low > 1.5 * grid)
        return;
    bunchedAt = reads.back().t;
    periodMs = grid;
    ++seen[int(std::lround(grid))];
}

double ReadBunching::bunchedPeriodMs() const
{
    // A window that held reads of two kinds, as when the adapter changed,
    // may tell a period of neither: the one told most often stands.
    int most = 0, period = 0;
    for (const auto &entry : seen) {
        if (entry.second > most) {
            most = entry.second;
            period = entry.first;
        }
    }
    return period;
}

QString ReadBunching::note(double periodMs)
{
    return QStringLiteral("frame times are bunched by the adapter (reads about every %1 ms): the frame rate is right, "
                          "single intervals are not")
        .arg(qRound(periodMs));
}
