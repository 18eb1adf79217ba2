// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/frameassembler.h"

#include "decode/crc16.h"
#include "decode/framing.h"

#include <utility>

namespace {

// What the bytes at data say about a frame starting there.
struct Candidate
{
    int lengths[2];
    int count = 0;           // lengths, all there, that a frame starting here may have
    int good = 0;            // one of them whose CRC matches
    bool incomplete = false; // bytes that have not come yet may still make a frame
};

// final: no more bytes are coming, so a frame that needs them is none.
// Inlined: it runs for every position the stream is scanned at.
[[gnu::always_inline]] inline Candidate candidateAt(const char *data, int available, bool final)
{
    Candidate c;
    const int count = candidateFrameLengths(data, available, c.lengths);
    c.incomplete = count < 0 && !final;
    for (int i = 0; i < count; ++i) {
        const int length = c.lengths[i];
        if (length > available) {
            c.incomplete = c.incomplete || !final;
            continue;
        }
        c.lengths[c.count++] = length;
        if (c.good == 0 && frameCrcMatches(data, length))
            c.good = length;
    }
    return c;
}

// Where the first frame with a matching CRC starts at or after from, or -1.
// Frames that end within the first checkedEnd bytes were looked at before.
[[gnu::always_inline]] inline int nextFrameWithCrc(const char *data, int size, int from, int checkedEnd)
{
    for (int pos = from; pos < size; ++pos) {
        int lengths[2];
        const int count = candidateFrameLengths(data + pos, size - pos, lengths);
        for (int i = 0; i < count; ++i) {
            const int end = pos + lengths[i];
            if (end <= size && end > checkedEnd && frameCrcMatches(data + pos, lengths[i]))
                return pos;
        }
    }
    return -1;
}

constexpr int notYetKnown = 0;

// Where a frame with a matching CRC starts inside the span of a frame at pos
// whose own CRC failed: then the failed one was cut short, and the good one
// is the frame. -1 where none does, notYetKnown while one may still arrive.
int goodFrameInside(const char *data, int size, int pos, int length, int checkedEnd, bool final)
{
    bool arriving = false;
    for (int q = pos + 1; q < pos + length; ++q) {
        const Candidate inner = candidateAt(data + q, size - q, final);
        if (inner.good > 0)
            return q;
        arriving = arriving || inner.incomplete;
    }
    // A frame still arriving would overlap any complete frame behind the
    // failed one, so one that is there already rules it out.
    if (!arriving || nextFrameWithCrc(data, size, pos + length, checkedEnd) >= 0)
        return -1;
    return notYetKnown;
}

// Whether frames with a failed CRC chain from data on: depth more of them,
// each starting where the one before ended, no longer than receivers send,
// and with no frame with a matching CRC starting inside one. A frame with
// a matching CRC in the chain counts. Returns the first frame's length, 0
// where no chain starts, or -1 while bytes still to come may make one;
// chain gets the lengths of its depth frames.
int chainAt(const char *data, int size, int pos, int depth, int lastLength, bool final, int *chain)
{
    if (depth == 0)
        return 0;
    if (pos >= size)
        return final ? 0 : -1;
    // A frame longer than receivers send is never waited for.
    const Candidate c = candidateAt(data + pos, size - pos, final);
    if (c.incomplete && size - pos < longestSentFrame)
        return -1;
    int lengths[2];
    int count = 0;
    if (c.good > 0) {
        lengths[count++] = c.good;
    } else {
        // The length the stream has been using is tried first.
        for (int i = 0; i < c.count; ++i) {
            if (c.lengths[i] <= longestSentFrame)
                lengths[count++] = c.lengths[i];
        }
        if (count == 2 && lengths[1] == lastLength)
            std::swap(lengths[0], lengths[1]);
    }
    bool unknown = false;
    for (int i = 0; i < count; ++i) {
        const int length = lengths[i];
        // A good frame starting inside, or one that may when its bytes come.
        bool cut = false, arriving = false;
        for (int q = pos + 1; c.good == 0 && q < pos + length && !cut; ++q) {
            const Candidate inner = candidateAt(data + q, size - q, final);
            cut = inner.good > 0;
            arriving = arriving || (inner.incomplete && size - q < longestSentFrame);
        }
        if (cut)
            continue;
        if (arriving) {
            unknown = true;
            continue;
        }
        const int rest = depth == 1 ? 0 : chainAt(data, size, pos + length, depth - 1, length, final, chain + 1);
        if (depth == 1 || rest > 0) {
            chain[0] = length;
            return length;
        }
        unknown = unknown || rest < 0;
    }
    return unknown ? -1 : 0;
}

} // namespace

QVector<AssembledFrame> FrameAssembler::feed(const QByteArray &bytes, qint64 nowMs, bool alreadyShown)
{
    QVector<AssembledFrame> found = dropStale(nowMs);
    lastByteAt = nowMs;
    if (alreadyShown) {
        shownAt = kept.size();
        shownLength = bytes.size();
    }
    kept.append(bytes);
    scan(found, false);
    return found;
}

void FrameAssembler::realign(int frameLength, qint64 nowMs)
{
    stray += kept.size();
    keptOffset += kept.size() + frameLength;
    kept.clear();
    checkedEnd = 0;
    syncAt = 0;
    shownAt = -1;
    lastLength = frameLength;
    lastByteAt = nowMs;
}

QVector<AssembledFrame> FrameAssembler::flush()
{
    QVector<AssembledFrame> found;
    if (!kept.isEmpty()) {
        scan(found, true);
        stray += kept.size();
        dropKept();
    }
    // After a pause nothing says the next byte starts a frame.
    syncAt = -1;
    return found;
}

QVector<AssembledFrame> FrameAssembler::dropStale(qint64 nowMs)
{
    if (nowMs - lastByteAt <= staleAfterMs)
        return {};
    return flush();
}

void FrameAssembler::clear()
{
    syncAt = -1;
    dropKept();
}

void FrameAssembler::dropKept()
{
    keptOffset += kept.size();
    kept.clear();
    shownAt = -1;
    checkedEnd = 0;
}

// Of several lengths that all fail their CRC, the one the stream has been
// using. A frame longer than receivers send is only ever taken on its CRC:
// waiting for one would hold back all behind it.
int FrameAssembler::lengthAtSync(const int *lengths, int count) const
{
    if (count <= 0)
        return 0;
    int length = lengths[0];
    for (int i = 0; i < count; ++i) {
        if (lengths[i] == lastLength)
            length = lengths[i];
    }
    return length <= longestSentFrame ? length : 0;
}

void FrameAssembler::scan(QVector<AssembledFrame> &found, bool final)
{
    const char *data = kept.constData();
    const int size = kept.size();
    int pos = 0;
    const int checkedBefore = checkedEnd;
    checkedEnd = 0;
    while (pos < size) {
        const Candidate here = candidateAt(data + pos, size - pos, final);
        int take = here.good;
        if (take == 0 && !here.incomplete && pos == syncAt) {
            // In step with the stream, but the CRC fails: a damaged frame,
            // unless it was cut short and a good frame starts inside it.
            const int length = lengthAtSync(here.lengths, here.count);
            const int inside = length > 0 ? goodFrameInside(data, size, pos, length, checkedBefore, final) : -1;
            if (inside == notYetKnown) {
                checkedEnd = size - pos;
                break;
            }
            if (inside > 0) {
                stray += inside - pos;
                pos = inside;
                continue;
            }
            take = length;
        } else if (take == 0 && !here.incomplete && here.count > 0) {
            // Out of step, as before the first good frame of a stream that
            // starts damaged: a chain of frames puts it in step.
            int chain[framesToSync];
            const int chained = chainAt(data, size, pos, framesToSync, lastLength, final, chain);
            if (chained < 0)
                break; // no frame with a matching CRC was looked for behind pos
            // The chain is taken whole, as it was found.
            for (int i = 0; chained > 0 && i < framesToSync; ++i) {
                const int length = chain[i];
                const bool good = frameCrcMatches(data + pos, length);
                if (pos != shownAt || length != shownLength)
                    found.append({QByteArray(data + pos, length), keptOffset + pos, good,
                                  good && isFailsafeFrame(data + pos, length)});
                pos += length;
                syncAt = pos;
                lastLength = length;
            }
            if (chained > 0)
                continue;
        }

        if (take > 0) {
            if (pos != shownAt || take != shownLength)
                found.append({QByteArray(data + pos, take), keptOffset + pos, here.good > 0,
                              here.good > 0 && isFailsafeFrame(data + pos, take)});
            pos += take;
            syncAt = pos;
            lastLength = take;
        } else if (here.incomplete) {
            // A frame that is still arriving must not hold back a complete
            // one behind it, as when noise looks like the start of a long frame.
            const int next = nextFrameWithCrc(data, size, pos + 1, checkedBefore);
            if (next < 0) {
                checkedEnd = size - pos;
                break;
            }
            stray += next - pos;
            pos = next;
        } else {
            ++stray;
            ++pos;
        }
    }
    kept.remove(0, pos);
    keptOffset += pos;
    syncAt = syncAt >= pos ? syncAt - pos : -1;
    shownAt = shownAt >= pos ? shownAt - pos : -1;
}
