// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/familyfinder.h"

#include <algorithm>

FamilyFinder::FamilyFinder(const QVector<const FamilyDescriptor *> &families) : framer(families)
{
    for (const FamilyDescriptor *family : families) {
        if (!family->srxl)
            runs.append({family, Run()});
    }
}

double FamilyFinder::slowestMs(const FamilyDescriptor &family)
{
    // Receivers run slower than the table's rate (CRSF down to 50 Hz, DSM2
    // at 22 ms), and a busy reader hands bytes over late.
    return 3 * family.periodMs + 25;
}

int FamilyFinder::framesNeeded(const FamilyDescriptor &family)
{
    // The frames that showed a family without a check its form say nothing
    // yet: noise agrees on a DSM form about once in 30 MB, and then runs on
    // for four frames.
    return framesInRow + (family.framing == FamilyDescriptor::ByGap ? family.agreeFrames : 0);
}

void FamilyFinder::feed(const QByteArray &bytes, const QVector<double> &times, qint64 nowMs, double quietMs)
{
    if (found() || bytes.isEmpty())
        return;
    if (times.size() == bytes.size()) {
        timed = true;
        byteTimes += times;
    } else if (timed) {
        // Bytes without times among timed ones: no interval can be told.
        timed = false;
    }
    for (const AssembledFrame &frame : framer.feed(bytes, nowMs, quietMs))
        take(frame);
    // Frames still to come start at or after the bytes the framer keeps.
    if (timed) {
        const qint64 keptFrom = framer.bytesFed() - framer.keptBytes();
        const int done = int(qBound<qint64>(0, keptFrom - timesFrom, byteTimes.size()));
        byteTimes.remove(0, done);
        timesFrom += done;
    } else {
        byteTimes.clear();
        timesFrom = framer.bytesFed();
    }
}

void FamilyFinder::finish()
{
    if (found())
        return;
    for (const AssembledFrame &frame : framer.flush())
        take(frame);
}

double FamilyFinder::timeOf(qint64 offset) const
{
    const qint64 at = offset - timesFrom;
    return timed && at >= 0 && at < byteTimes.size() ? byteTimes.at(int(at)) : std::numeric_limits<double>::quiet_NaN();
}

void FamilyFinder::take(const AssembledFrame &frame)
{
    if (found())
        return;
    const FamilyDescriptor *family = frame.family();
    Run *run = &window;
    if (!family->srxl) {
        auto it = std::find_if(runs.begin(), runs.end(), [&](const auto &entry) { return entry.first == family; });
        if (it == runs.end())
            return;
        run = &it->second;
    }
    if (!frame.crcOk) {
        run->count = 0;
        return;
    }
    const qint64 end = frame.offset + frame.bytes.size();
    const double t = timeOf(end - 1);
    bool follows = run->count > 0 && frame.offset >= run->lastEnd && frame.offset - run->lastEnd <= mostBetween;
    if (follows && !std::isnan(t) && !std::isnan(run->lastTime)) {
        // Never faster than the line carries the frame, nor slower than
        // the family sends.
        const double interval = t - run->lastTime;
        const double onLine = frame.bytes.size() * family->line.bitsPerByte() / double(family->line.baud);
        follows = interval >= 0.5 * onLine && interval * 1000 <= slowestMs(*family);
    }
    if (!follows) {
        *run = Run();
        run->firstOffset = frame.offset;
        run->firstTime = t;
    }
    ++run->count;
    run->lastEnd = end;
    run->lastTime = t;
    if (!run->seen.contains(family))
        run->seen.append(family);
    if (run->count > longest.count)
        longest = *run;
    if (run->count < framesNeeded(*family))
        return;
    foundFamilies = family->srxl ? defaultFamilies() : QVector<const FamilyDescriptor *>{family};
    foundName = names(run->seen);
    foundOffset = run->firstOffset;
    foundTime = run->firstTime;
}

QString FamilyFinder::names(const QVector<const FamilyDescriptor *> &seen)
{
    QStringList list;
    for (const FamilyDescriptor *family : seen)
        list << QLatin1String(family->recordName);
    return list.join(QStringLiteral(", "));
}

QString FamilyFinder::longestRun() const
{
    if (longest.count < 2)
        return QString();
    return QStringLiteral("%1 %2 frames at offset %3").arg(longest.count).arg(names(longest.seen)).arg(longest.firstOffset);
}
