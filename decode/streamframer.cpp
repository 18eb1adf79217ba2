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
}

StreamFramer::StreamFramer(StreamFramer &&other) noexcept = default;
StreamFramer &StreamFramer::operator=(StreamFramer &&other) noexcept = default;
StreamFramer::~StreamFramer() = default;

qint64 StreamFramer::settled() const
{
    qint64 at = fed;
    if (assembler)
        at = qMin(at, assembler->bytesFed() - assembler->keptBytes());
    for (const auto &framer : gapFramers)
        at = qMin(at, framer->settled());
    return at;
}

// Frames go out in stream order: those that start before every framer's
// settled bytes, or all of them.
QVector<AssembledFrame> StreamFramer::release(QVector<AssembledFrame> &&found, bool all)
{
    const bool single = (assembler ? 1 : 0) + gapFramers.size() == 1;
    QVector<AssembledFrame> out;
    if (single && waiting.isEmpty()) {
        out = std::move(found);
    } else {
        waiting += found;
        std::stable_sort(waiting.begin(), waiting.end(),
                         [](const AssembledFrame &a, const AssembledFrame &b) { return a.offset < b.offset; });
        const qint64 until = all ? fed : settled();
        int ready = 0;
        while (ready < waiting.size() && waiting.at(ready).offset < until)
            ++ready;
        out = waiting.mid(0, ready);
        waiting.remove(0, ready);
    }
    for (const AssembledFrame &frame : qAsConst(out)) {
        strayBetween += qMax<qint64>(0, frame.offset - coveredTo);
        coveredTo = qMax(coveredTo, frame.offset + frame.bytes.size());
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
    QVector<AssembledFrame> more;
    if (assembler)
        more = assembler->feed(bytes, nowMs);
    for (const auto &framer : gapFramers)
        framer->feed(bytes.constData(), bytes.size(), quietMs, more);
    fed += bytes.size();
    found += release(std::move(more), false);
    return found;
}

QVector<AssembledFrame> StreamFramer::flush()
{
    QVector<AssembledFrame> more;
    if (assembler)
        more = assembler->flush();
    for (const auto &framer : gapFramers)
        framer->flush(more);
    return release(std::move(more), true);
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
    waiting.clear();
    coveredTo = fed;
}

qint64 StreamFramer::strayBytes() const
{
    const qint64 until = waiting.isEmpty() ? settled() : qMin(settled(), waiting.first().offset);
    return strayBetween + qMax<qint64>(0, until - coveredTo);
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
