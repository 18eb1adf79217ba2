// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing/streamframer.h"


#include <algorithm>

namespace {

// With a quiet line before it, fewer frames back to back show a form.
constexpr int agreeFramesAfterGap = 2;
// Frames in step in a row that may break the rules before the stream is
// looked for afresh.
constexpr int missesBeforeLost = 8;
// The frames over which a lock's offset is told from its neighbours'.
constexpr int longestRun = 8;
// Without times, how far after an SBUS frame a frame that keeps the rules
// shows it was one: noise or damaged frames between them.
constexpr int mostBytesBetween = 64;
// ... or how many damaged frames between them.
constexpr int mostFramesBetween = 8;
// Without times, frames before where a stream is found that are still
// taken in step.
constexpr int lookbackFrames = 64;

} // namespace

GapFramer::GapFramer(const FamilyDescriptor &family)
    : family(family), familyIndex(quint8(allFamilies().indexOf(&family)))
{
}

void GapFramer::feed(const char *data, int size, double quietMs, QVector<AssembledFrame> &found)
{
    if (size <= 0)
        return;
    if (quietMs >= family.gapMs) {
        gaps.push_back(bytesFed());
        timed = true;
    }
    kept.append(data, size);
    scan(found, false);
}

void GapFramer::flush(QVector<AssembledFrame> &found)
{
    scan(found, true);
    clear();
}

void GapFramer::clear()
{
    keptOffset += kept.size();
    kept.clear();
    gaps.clear();
    scanAt = takenEnd = 0;
    syncAt = -1;
    misses = 0;
    slotFrame.clear();
    lastFrame.clear();
}

bool GapFramer::gapAt(qint64 offset) const
{
    return std::binary_search(gaps.begin(), gaps.end(), offset);
}

qint64 GapFramer::nextGapFrom(qint64 offset) const
{
    const auto it = std::lower_bound(gaps.begin(), gaps.end(), offset);
    return it == gaps.end() ? -1 : *it;
}

bool GapFramer::spansGap(int pos, int bytes) const
{
    if (gaps.empty())
        return false;
    const qint64 gap = nextGapFrom(keptOffset + pos + 1);
    return gap >= 0 && gap < keptOffset + pos + bytes;
}

GapFramer::Lock GapFramer::agreementAt(int pos, int frames, unsigned forms, bool final) const
{
    const char *data = kept.constData();
    const int size = kept.size();
    const int n = family.frameBytes;
    const char *blocks[16] = {};
    frames = qMin(frames, 16);
    int at = pos;
    for (int i = 0; i < frames; ++i) {
        if (i > 0) {
            // Where the line was quiet, the next frame starts after the quiet.
            const qint64 gap = nextGapFrom(keptOffset + at);
            if (gap >= 0 && gap - keptOffset < size)
                at = int(gap - keptOffset);
        }
        if (size - at < n)
            return Lock{final ? noLock : needBytes};
        forms &= family.fits(data + at);
        if (!forms || spansGap(at, n))
            return Lock{noLock};
        blocks[i] = data + at;
        at += n;
    }
    Lock lock{pos, family.agree(blocks, frames, forms)};
    for (int i = 0; lock.form && family.ids && i < frames; ++i)
        lock.ids |= family.ids(blocks[i], lock.form);
    return lock.form ? lock : Lock{noLock};
}

GapFramer::Lock GapFramer::lockAt(int pos, bool final, int &score, int &run) const
{
    const char *data = kept.constData();
    const int size = kept.size();
    const int n = family.frameBytes;
    const int frames = qMin(family.agreeFrames, longestRun);
    const char *blocks[longestRun] = {};
    unsigned forms = ~0u;
    for (int i = 0; i < frames; ++i) {
        const int at = pos + i * n;
        if (size - at < n)
            return Lock{final ? noLock : needBytes};
        // The cheaper test first.
        if (i > 0 && family.follows && !family.follows(blocks[i - 1], data + at))
            return Lock{noLock};
        forms &= family.fits(data + at);
        if (!forms || spansGap(at, n))
            return Lock{noLock};
        blocks[i] = data + at;
    }
    Lock lock{pos, family.agree(blocks, frames, forms)};
    if (!lock.form)
        return Lock{noLock};
    for (int i = 0; family.ids && i < frames; ++i)
        lock.ids |= family.ids(blocks[i], lock.form);
    // How long frames go on keeping the form, the ids and each other.
    for (run = frames; run < longestRun; ++run) {
        const int at = pos + run * n;
        if (size - at < n) {
            if (!final)
                return Lock{needBytes};
            break;
        }
        const char *next = data + at;
        if (!(family.fits(next) & lock.form) || spansGap(at, n)
            || (family.ids && family.ids(next, lock.form) & ~lock.ids)
            || (family.follows && !family.follows(blocks[run - 1], next)))
            break;
        blocks[run] = next;
    }
    score = family.alignment ? family.alignment(blocks, run, lock.form) : 0;
    return lock;
}

GapFramer::Lock GapFramer::bestLock(int from, int to, bool fromFirst, bool final) const
{
    const int size = kept.size();
    Lock best{noLock};
    int bestScore = -1, bestRun = 0;
    for (int pos = from; pos < to; ++pos) {
        if (size - pos < family.frameBytes)
            return Lock{final ? best.at : needBytes, best.form, best.ids};
        if (!family.fits(kept.constData() + pos))
            continue;
        int score = 0, run = 0;
        const Lock lock = lockAt(pos, final, score, run);
        if (lock.at == needBytes || (fromFirst && pos == from && lock.at < 0))
            return lock;
        if (lock.at >= 0 && (score > bestScore || (score == bestScore && run > bestRun))) {
            best = lock;
            bestScore = score;
            bestRun = run;
        }
    }
    return best;
}

bool GapFramer::keepsForm(const char *frame) const
{
    if (!family.ids)
        return family.fits(frame) & form;
    // No ids where the frame breaks the form's rules.
    const quint32 ids = family.ids(frame, form);
    return ids && !(ids & ~streamIds);
}

int GapFramer::slotRun(int pos, bool final) const
{
    if (!family.slotAt)
        return 0;
    const char *data = kept.constData();
    const int size = kept.size();
    const int after = pos + family.frameBytes;
    int at = after;
    for (int next = 0; at < size;) {
        const int slot = family.slotAt(data + pos, quint8(data[at]));
        if (slot < next)
            break;
        if (size - at < family.slotBytes)
            return final ? at - after : -1;
        if (spansGap(at, family.slotBytes))
            break;
        at += family.slotBytes;
        next = slot + 1;
    }
    return at - after;
}

int GapFramer::followedByFrame(int pos, bool final) const
{
    const char *data = kept.constData();
    const int size = kept.size();
    const int n = family.frameBytes;
    const int slotted = slotRun(pos, final);
    if (slotted < 0)
        return -1;
    const int next = pos + n + slotted;
    // A frame right after, or after damaged frames, each a frame's start
    // byte a frame after the one before. A capture may end in one.
    for (int at = next, frames = 0; frames <= mostFramesBetween; at += n, ++frames) {
        if (at >= size)
            return final ? 1 : -1;
        if (!family.startBytes.contains(data[at]))
            break;
        if (size - at < n)
            return final ? 1 : -1;
        if (family.fits(data + at))
            return 1;
    }
    // Or one after a few bytes of noise; or, where the data ends first, a
    // frame's start byte.
    for (int at = next + 1; at <= next + mostBytesBetween; ++at) {
        if (size - at < n && !final)
            return -1;
        if (size - at < n) {
            for (; at < size; ++at) {
                if (family.startBytes.contains(data[at]))
                    return 1;
            }
            return 0;
        }
        if (family.fits(data + at))
            return 1;
    }
    return 0;
}

void GapFramer::takeBefore(int pos, QVector<AssembledFrame> &found)
{
    const int n = family.frameBytes;
    const char *data = kept.constData();
    std::vector<int> before;
    const char *after = data + pos;
    for (int at = pos - n, missed = 0; at >= takenEnd && keptOffset + at >= lookBackFloor && missed < missesBeforeLost; at -= n) {
        if (keepsForm(data + at) && (!family.follows || family.follows(data + at, after)) && !spansGap(at, n)) {
            before.push_back(at);
            after = data + at;
            missed = 0;
        } else {
            ++missed;
        }
    }
    for (auto at = before.rbegin(); at != before.rend(); ++at) {
        take(*at, form, found);
        ++untimedFrames;
        stray -= n;
    }
}

void GapFramer::take(int pos, unsigned frameForm, QVector<AssembledFrame> &found)
{
    AssembledFrame frame;
    frame.bytes = QByteArray(kept.constData() + pos, family.frameBytes);
    frame.offset = keptOffset + pos;
    frame.crcOk = true;
    frame.familyIndex = familyIndex;
    frame.variant = quint8(frameForm);
    takenEnd = pos + family.frameBytes;
    lastFrame = frame.bytes;
    if (family.slotAt) {
        slotFrame = frame.bytes;
        nextSlot = 0;
    }
    found.append(frame);
}

bool GapFramer::stepByStart(int &pos, bool quietBefore, bool final, QVector<AssembledFrame> &found)
{
    if (family.fits(kept.constData() + pos)) {
        const int follows = quietBefore ? 1 : followedByFrame(pos, final);
        if (follows < 0)
            return false;
        if (follows > 0) {
            take(pos, 0, found);
            untimedFrames += !quietBefore;
            pos += family.frameBytes;
            return true;
        }
    }
    ++stray;
    ++pos;
    return true;
}

bool GapFramer::stepByAgreement(int &pos, bool quietBefore, bool final, QVector<AssembledFrame> &found)
{
    const char *data = kept.constData();
    const int n = family.frameBytes;
    const bool inStep = pos == syncAt;
    // In step, a frame follows the one before (DSM: its header does); after
    // a quiet line anything may have changed.
    const bool follows = quietBefore || lastFrame.isEmpty() || !family.follows
        || family.follows(lastFrame.constData(), data + pos);
    if (form && (inStep || quietBefore) && follows && keepsForm(data + pos)) {
        take(pos, form, found);
        untimedFrames += !quietBefore;
        pos += n;
        syncAt = pos;
        misses = 0;
        return true;
    }
    if (inStep) {
        // A frame that breaks the rules in step: damaged; or the header
        // moved on, where frames from here agree again; or the stream
        // slipped, where frames agree at another offset in this frame and
        // show a frame's start better than those in step from the next on.
        Lock moved = bestLock(pos, pos + n, false, final);
        if (moved.at == needBytes)
            return false;
        if (moved.at > pos) {
            int score = 0, run = 0, stepScore = 0, stepRun = 0;
            lockAt(moved.at, final, score, run);
            const Lock step = lockAt(pos + n, final, stepScore, stepRun);
            if (step.at == needBytes)
                return false;
            if (step.at >= 0 && (stepScore > score || (stepScore == score && stepRun >= run)))
                moved.at = noLock;
        }
        if (moved.at >= 0) {
            stray += moved.at - pos;
            pos = syncAt = moved.at;
            form = moved.form;
            streamIds = moved.ids;
            misses = 0;
            lastFrame.clear();
            return true;
        }
        stray += n;
        pos += n;
        syncAt = ++misses < missesBeforeLost ? pos : -1;
        misses = syncAt < 0 ? 0 : misses;
        return true;
    }
    // Without a quiet line, frames whose headers do not follow are no
    // stream; the cheaper test first.
    const bool mayStart = quietBefore || !family.follows || kept.size() - pos < 2 * n
        || family.follows(data + pos, data + pos + n);
    if (mayStart && family.fits(data + pos)) {
        // After a quiet line a frame starts here; without one, at the
        // offset from here on that shows frames start best.
        const Lock lock = quietBefore ? agreementAt(pos, agreeFramesAfterGap, family.fits(data + pos), final)
                                      : bestLock(pos, pos + n, true, final);
        if (lock.at == needBytes)
            return false;
        if (lock.at >= 0) {
            stray += lock.at - pos;
            pos = syncAt = lock.at;
            form = lock.form;
            streamIds = lock.ids;
            misses = 0;
            lastFrame.clear();
            if (!quietBefore)
                takeBefore(pos, found);
            return true;
        }
    }
    ++stray;
    ++pos;
    return true;
}

void GapFramer::scan(QVector<AssembledFrame> &found, bool final)
{
    const int n = family.frameBytes;
    int pos = scanAt;
    while (pos < kept.size()) {
        const int size = kept.size();
        const char *data = kept.constData();
        // Telemetry slots after a frame, in rising order: slots, not stray.
        if (!slotFrame.isEmpty()) {
            const int slot = family.slotAt(slotFrame.constData(), quint8(data[pos]));
            if (slot >= nextSlot && size - pos < family.slotBytes && !final)
                break;
            if (slot >= nextSlot && size - pos >= family.slotBytes && !spansGap(pos, family.slotBytes)) {
                ++slotCount;
                AssembledFrame frame;
                frame.bytes = QByteArray(data + pos, family.slotBytes);
                frame.offset = keptOffset + pos;
                frame.crcOk = true;
                frame.familyIndex = familyIndex;
                found.append(frame);
                pos += family.slotBytes;
                takenEnd = pos;
                nextSlot = slot + 1;
                continue;
            }
            slotFrame.clear();
        }
        if (size - pos < n)
            break;
        // A frame never spans a quiet line: the bytes before it are stray.
        if (spansGap(pos, n)) {
            const int to = int(nextGapFrom(keptOffset + pos + 1) - keptOffset);
            stray += to - pos;
            pos = to;
            if (syncAt >= 0)
                syncAt = pos;
            continue;
        }
        const bool quietBefore = !gaps.empty() && gapAt(keptOffset + pos);
        const bool went = family.agree ? stepByAgreement(pos, quietBefore, final, found)
                                       : stepByStart(pos, quietBefore, final, found);
        if (!went)
            break;
    }
    if (final && pos < kept.size()) {
        stray += kept.size() - pos;
        pos = kept.size();
    }
    // Until a stream is found without times, the bytes scanned are kept a
    // while: frames in step before where it was found are taken then.
    const bool lookBack = family.agree && syncAt < 0 && !timed;
    const int floorAt = int(qBound(qint64(0), lookBackFloor - keptOffset, qint64(pos)));
    const int drop = lookBack ? qMin(pos, std::max({takenEnd, pos - lookbackFrames * n, floorAt})) : pos;
    kept.remove(0, drop);
    keptOffset += drop;
    scanAt = pos - drop;
    takenEnd = qMax(0, takenEnd - drop);
    syncAt = syncAt >= drop ? syncAt - drop : -1;
    const auto firstKept = std::lower_bound(gaps.begin(), gaps.end(), keptOffset);
    gaps.erase(gaps.begin(), firstKept);
}

StreamFramer::StreamFramer(const QVector<const FamilyDescriptor *> &families)
{
    QVector<const FamilyDescriptor *> withChecksum;
    for (const FamilyDescriptor *family : families) {
        if (family->framing == FamilyDescriptor::ByGap)
            gapFramers.push_back(std::make_unique<GapFramer>(*family));
        else
            withChecksum << family;
    }
    if (!withChecksum.isEmpty()) {
        checked = std::make_unique<FamilySet>(withChecksum);
        assembler = std::make_unique<FrameAssembler>(*checked);
    }
    lastEnd.assign(size_t(framers()), -1);
    lastChain.assign(size_t(framers()), 0);
    waiting.resize(size_t(framers()));
}

StreamFramer::StreamFramer(StreamFramer &&other) noexcept = default;
StreamFramer &StreamFramer::operator=(StreamFramer &&other) noexcept = default;
StreamFramer::~StreamFramer() = default;

qint64 StreamFramer::settledBy(int framer) const
{
    if (framer == 0)
        return assembler ? assembler->bytesFed() - assembler->keptBytes() : fed;
    // Bytes a gap framer keeps only to look back on hold no other's frames
    // (a DSM framer without times keeps a thousand): it looks back no
    // further than the frames given out.
    return gapFramers[size_t(framer - 1)]->scanned();
}

// No framer finds a frame that starts before this any more, but by looking
// back past frames not given out yet.
qint64 StreamFramer::settled() const
{
    qint64 at = fed;
    for (int framer = 0; framer < framers(); ++framer)
        at = qMin(at, settledBy(framer));
    return at;
}

// The first byte some framer still keeps.
qint64 StreamFramer::keptFrom() const
{
    qint64 at = assembler ? assembler->bytesFed() - assembler->keptBytes() : fed;
    for (const auto &framer : gapFramers)
        at = qMin(at, framer->settled());
    return at;
}

int StreamFramer::firstWaiting(int except) const
{
    int first = -1;
    for (int framer = 0; framer < framers(); ++framer) {
        const std::deque<Pending> &queue = waiting[size_t(framer)];
        if (framer != except && !queue.empty()
            && (first < 0 || queue.front().frame.offset < waiting[size_t(first)].front().frame.offset))
            first = framer;
    }
    return first;
}

int StreamFramer::keptBytes() const
{
    const int first = firstWaiting();
    const qint64 from = first < 0 ? keptFrom() : qMin(keptFrom(), waiting[size_t(first)].front().frame.offset);
    return int(fed - from);
}

void StreamFramer::add(const QVector<AssembledFrame> &found, int framer)
{
    std::deque<Pending> &queue = waiting[size_t(framer)];
    qint64 &end = lastEnd[size_t(framer)];
    int &chain = lastChain[size_t(framer)];
    for (const AssembledFrame &frame : found) {
        // The framer's frame before this one learns what follows it.
        if (!queue.empty() && queue.back().after < 0)
            queue.back().after = queue.back().end() == frame.offset && frame.crcOk ? 1 : 0;
        Pending pending{frame, framer};
        pending.before = end == frame.offset ? chain : 0;
        chain = qMin(chainCounted, pending.before + (frame.crcOk ? 1 : 0));
        end = frame.offset + frame.bytes.size();
        queue.push_back(pending);
    }
}

void StreamFramer::giveOut(QVector<AssembledFrame> &out, const AssembledFrame &frame)
{
    count(frame);
    out.append(frame);
}

void StreamFramer::count(const AssembledFrame &frame)
{
    strayBetween += qMax<qint64>(0, frame.offset - coveredTo);
    coveredTo = qMax(coveredTo, frame.offset + frame.bytes.size());
}

// Frames go out in stream order, each once no framer can find another over
// its bytes, and once it has won over those that did; all: no more bytes come.
QVector<AssembledFrame> StreamFramer::release(bool all)
{
    for (std::deque<Pending> &queue : waiting) {
        // A framer that went past a frame's end found nothing there.
        if (!queue.empty() && queue.back().after < 0
            && (all || settledBy(queue.back().framer) > queue.back().end()))
            queue.back().after = 0;
    }
    const qint64 until = all ? fed : settled();
    // How seldom bytes pass for a frame by chance: a 16-bit check, then the
    // rules of SBUS and DSM, then an 8-bit check, then none.
    const auto strength = [](const Pending &p) {
        const FamilyDescriptor *family = p.frame.family();
        return !p.frame.crcOk ? 0 : family->framing == FamilyDescriptor::ByGap ? 2 : family->shortCheck ? 1 : 3;
    };
    QVector<AssembledFrame> out;
    for (int framer = firstWaiting(); framer >= 0; framer = firstWaiting()) {
        std::deque<Pending> &queue = waiting[size_t(framer)];
        const Pending &first = queue.front();
        if (first.end() > until)
            break;
        // Frames of one framer never overlap: a rival is another's.
        const int other = firstWaiting(framer);
        if (other < 0 || waiting[size_t(other)].front().frame.offset >= first.end()) {
            giveOut(out, first.frame);
            queue.pop_front();
            continue;
        }
        std::deque<Pending> &rivals = waiting[size_t(other)];
        const Pending &rival = rivals.front();
        if (first.after < 0 || rival.after < 0)
            break;
        const int chain = first.before + first.after, rivalChain = rival.before + rival.after;
        const bool rivalWins = rivalChain != chain ? rivalChain > chain : strength(rival) > strength(first);
        (rivalWins ? queue : rivals).pop_front();
    }
    return out;
}

QVector<AssembledFrame> StreamFramer::feed(const QByteArray &bytes, qint64 nowMs, double quietMs)
{
    QVector<AssembledFrame> found = dropStale(nowMs);
    // After a pause long enough to settle what was kept, the line was quiet.
    if (quietMs < 0 && fed > 0 && nowMs - lastByteAt > staleAfterMs)
        quietMs = double(nowMs - lastByteAt);
    lastByteAt = nowMs;
    fed += bytes.size();
    if ((assembler ? 1 : 0) + gapFramers.size() == 1 && firstWaiting() < 0) {
        // One framer: its frames never overlap, and go out as it finds them.
        QVector<AssembledFrame> more;
        if (assembler)
            more = assembler->feed(bytes, nowMs);
        else
            gapFramers.front()->feed(bytes.constData(), bytes.size(), quietMs, more);
        for (const AssembledFrame &frame : qAsConst(more))
            count(frame);
        if (found.isEmpty())
            return more;
        return found += more;
    }
    if (assembler)
        add(assembler->feed(bytes, nowMs), 0);
    for (size_t i = 0; i < gapFramers.size(); ++i) {
        QVector<AssembledFrame> more;
        gapFramers[i]->lookBackNoFurther(coveredTo);
        gapFramers[i]->feed(bytes.constData(), bytes.size(), quietMs, more);
        add(more, int(i) + 1);
    }
    found += release(false);
    return found;
}

QVector<AssembledFrame> StreamFramer::flush()
{
    if (assembler)
        add(assembler->flush(), 0);
    for (size_t i = 0; i < gapFramers.size(); ++i) {
        QVector<AssembledFrame> more;
        gapFramers[i]->lookBackNoFurther(coveredTo);
        gapFramers[i]->flush(more);
        add(more, int(i) + 1);
    }
    return release(true);
}

QVector<AssembledFrame> StreamFramer::dropStale(qint64 nowMs)
{
    if (nowMs - lastByteAt <= staleAfterMs || keptBytes() == 0)
        return {};
    return flush();
}

void StreamFramer::stillArriving(qint64 nowMs)
{
    lastByteAt = qMax(lastByteAt, nowMs);
    if (assembler)
        assembler->stillArriving(nowMs);
}

void StreamFramer::clear()
{
    if (assembler)
        assembler->clear();
    for (const auto &framer : gapFramers)
        framer->clear();
    for (std::deque<Pending> &queue : waiting)
        queue.clear();
    std::fill(lastEnd.begin(), lastEnd.end(), -1);
    std::fill(lastChain.begin(), lastChain.end(), 0);
    coveredTo = fed;
}

qint64 StreamFramer::strayBytes() const
{
    // Telemetry slots come as frames of their own.
    return qMax<qint64>(0, strayBetween + qMax<qint64>(0, fed - keptBytes() - coveredTo));
}

qint64 StreamFramer::framedWithoutTimes() const
{
    qint64 frames = 0;
    for (const auto &framer : gapFramers)
        frames += framer->framedWithoutTimes();
    return frames;
}

qint64 StreamFramer::telemetrySlots() const
{
    qint64 count = 0;
    for (const auto &framer : gapFramers)
        count += framer->telemetrySlots();
    return count;
}

qint64 StreamFramer::telemetrySlotBytes() const
{
    qint64 bytes = 0;
    for (const auto &framer : gapFramers)
        bytes += framer->telemetrySlotBytes();
    return bytes;
}

void readAssembled(const AssembledFrame &frame, FrameReading &reading)
{
    frame.family()->readVariant(frame.bytes.constData(), frame.bytes.size(), frame.variant, reading);
}
