// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/streamframer.h"

#include "decode/microseconds.h"

#include <algorithm>

namespace {

// With a quiet line before it, fewer frames back to back show a form.
constexpr int agreeFramesAfterGap = 2;

} // namespace

GapFramer::GapFramer(const FamilyDescriptor &family)
    : family(family), familyIndex(quint8(allFamilies().indexOf(&family)))
{
}

void GapFramer::feed(const char *data, int size, double quietMs, QVector<AssembledFrame> &found)
{
    if (size <= 0)
        return;
    if (quietMs >= family.gapMs)
        gaps.push_back(bytesFed());
    kept.append(data, size);
    scan(found, false);
}

void GapFramer::flush(QVector<AssembledFrame> &found)
{
    scan(found, true);
    stray += kept.size();
    keptOffset += kept.size();
    kept.clear();
    gaps.clear();
    syncAt = -1;
    onProbation = false;
}

void GapFramer::clear()
{
    keptOffset += kept.size();
    kept.clear();
    gaps.clear();
    syncAt = -1;
    onProbation = false;
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

int GapFramer::agreementAt(const char *data, int size, int pos, int frames, unsigned forms, bool final) const
{
    const int n = family.frameBytes;
    const char *blocks[16];
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
            return final ? 0 : -1;
        forms &= family.fits(data + at);
        if (!forms)
            return 0;
        blocks[i] = data + at;
        at += n;
    }
    return int(family.agree(blocks, frames, forms));
}

void GapFramer::take(const char *data, int pos, unsigned frameForm, QVector<AssembledFrame> &found)
{
    AssembledFrame frame;
    frame.bytes = QByteArray(data + pos, family.frameBytes);
    frame.offset = keptOffset + pos;
    frame.crcOk = true;
    frame.familyIndex = familyIndex;
    frame.variant = quint8(frameForm);
    found.append(frame);
}

void GapFramer::scan(QVector<AssembledFrame> &found, bool final)
{
    const char *data = kept.constData();
    const int size = kept.size();
    const int n = family.frameBytes;
    const bool byStart = family.agree == nullptr;
    int pos = 0;
    while (pos < size) {
        if (size - pos < n)
            break;
        const bool quietBefore = !gaps.empty() && gapAt(keptOffset + pos);
        const unsigned forms = family.fits(data + pos) & (form ? form : ~0u);
        if (byStart) {
            if (forms) {
                if (quietBefore) {
                    take(data, pos, 0, found);
                    pos += n;
                    continue;
                }
                if (size - pos == n && !final)
                    break;
                if (size - pos == n || family.startBytes.contains(data[pos + n])) {
                    take(data, pos, 0, found);
                    ++untimedFrames;
                    pos += n;
                    continue;
                }
            }
            ++stray;
            ++pos;
            continue;
        }

        const bool inStep = pos == syncAt;
        if (forms && (inStep || (quietBefore && form))) {
            take(data, pos, form, found);
            untimedFrames += !quietBefore;
            pos += n;
            syncAt = pos;
            onProbation = false;
            continue;
        }
        const qint64 nextGap = gaps.empty() ? -1 : nextGapFrom(keptOffset + pos + 1);
        if (inStep && nextGap >= 0 && nextGap - keptOffset < pos + n) {
            // Bytes between frames: the next frame starts after the quiet.
            const int to = int(nextGap - keptOffset);
            stray += to - pos;
            pos = to;
            continue;
        }
        if (inStep && !onProbation) {
            // One frame that breaks the rules in a stream that keeps them:
            // its bytes are stray, and the next frame is looked for in step.
            stray += n;
            pos += n;
            syncAt = pos;
            onProbation = true;
            continue;
        }
        if (forms) {
            const int agreed = agreementAt(data, size, pos, quietBefore ? agreeFramesAfterGap : family.agreeFrames,
                                           forms, final);
            if (agreed < 0)
                break;
            if (agreed > 0) {
                form = unsigned(agreed);
                syncAt = pos;
                onProbation = false;
                continue;
            }
        }
        ++stray;
        ++pos;
    }
    if (final && pos < size) {
        stray += size - pos;
        pos = size;
    }
    kept.remove(0, pos);
    keptOffset += pos;
    syncAt = syncAt >= pos ? syncAt - pos : -1;
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
    return gapFramers[size_t(framer - 1)]->settled();
}

// No framer finds a frame that starts before this any more.
qint64 StreamFramer::settled() const
{
    qint64 at = fed;
    for (int framer = 0; framer < framers(); ++framer)
        at = qMin(at, settledBy(framer));
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
    const qint64 from = first < 0 ? settled() : qMin(settled(), waiting[size_t(first)].front().frame.offset);
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
    return strayBetween + qMax<qint64>(0, fed - keptBytes() - coveredTo);
}

qint64 StreamFramer::framedWithoutTimes() const
{
    qint64 frames = 0;
    for (const auto &framer : gapFramers)
        frames += framer->framedWithoutTimes();
    return frames;
}

void readAssembled(const AssembledFrame &frame, FrameReading &reading)
{
    const FamilyDescriptor *family = frame.family();
    if (family->readVariant)
        family->readVariant(frame.bytes.constData(), frame.bytes.size(), frame.variant, reading);
    else
        family->read(frame.bytes.constData(), frame.bytes.size(), reading);
}
