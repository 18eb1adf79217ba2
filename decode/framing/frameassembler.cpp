// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/framing/frameassembler.h"

#include "decode/families/familyset.h"

#include <utility>

namespace {

// What the bytes at data say about a frame starting there.
struct Candidate
{
    int lengths[FamilySet::maxCandidates];
    const FamilyDescriptor *families[FamilySet::maxCandidates];
    int count = 0;           // lengths, all there, that a frame starting here may have
    int good = 0;            // one of them whose CRC matches
    const FamilyDescriptor *goodFamily = nullptr;
    bool incomplete = false; // bytes that have not come yet may still make a frame
    bool arriving = false;   // one no longer than receivers send, worth waiting for
    int arrivingLength = 0;  // the longest such of known length
};

// final: no more bytes are coming, so a frame that needs them is none.
// Inlined: it runs for every position the stream is scanned at.
[[gnu::always_inline]] inline Candidate candidateAt(const FamilySet &set, const char *data, int available,
                                                   bool final)
{
    Candidate c;
    bool undecided = false;
    const int count = set.candidates(data, available, c.lengths, c.families, undecided);
    c.incomplete = c.arriving = undecided && !final;
    for (int i = 0; i < count; ++i) {
        const int length = c.lengths[i];
        if (length > available) {
            c.incomplete = c.incomplete || !final;
            if (!final && length <= set.longestSent()) {
                c.arriving = true;
                c.arrivingLength = qMax(c.arrivingLength, length);
            }
            continue;
        }
        c.families[c.count] = c.families[i];
        c.lengths[c.count++] = length;
        if (c.good == 0 && c.families[i]->checksumPasses(data, length)) {
            c.good = length;
            c.goodFamily = c.families[i];
        }
    }
    return c;
}

// The family of a frame of length taken at c: one whose check passes, else
// the first with that length.
const FamilyDescriptor *familyOfLength(const Candidate &c, int length, const char *data)
{
    const FamilyDescriptor *first = nullptr;
    for (int i = 0; i < c.count; ++i) {
        if (c.lengths[i] != length)
            continue;
        if (c.families[i]->checksumPasses(data, length))
            return c.families[i];
        first = first ? first : c.families[i];
    }
    return first;
}

quint8 familyIndexOf(const FamilyDescriptor *family)
{
    return quint8(allFamilies().indexOf(family));
}

// Where the first frame with a matching CRC starts at or after from, or -1.
// Frames that end within the first checkedEnd bytes were looked at before.
[[gnu::always_inline]] inline int nextFrameWithCrc(const FamilySet &set, const char *data, int size, int from,
                                                  int checkedEnd)
{
    for (int pos = from; pos < size; ++pos) {
        int lengths[FamilySet::maxCandidates];
        const FamilyDescriptor *families[FamilySet::maxCandidates];
        bool undecided = false;
        const int count = set.candidates(data + pos, size - pos, lengths, families, undecided);
        for (int i = 0; i < count; ++i) {
            const int end = pos + lengths[i];
            if (end <= size && end > checkedEnd && families[i]->checksumPasses(data + pos, lengths[i]))
                return pos;
        }
    }
    return -1;
}

constexpr int notYetKnown = 0;

// Whether a frame with a matching check starts at pos: 1, 0, or -1 while
// bytes still to come may make one.
int goodFrameAt(const FamilySet &set, const char *data, int size, int pos, bool final)
{
    if (pos >= size)
        return final ? 0 : -1;
    const Candidate c = candidateAt(set, data + pos, size - pos, final);
    return c.good > 0 ? 1 : c.arriving ? -1 : 0;
}

// Whether another frame follows one of family and length bytes that ends
// at pos: a frame with a matching check, or a damaged one of the same
// family and length that such a frame follows, as in a stream of like
// frames with a damaged one in it. 1, 0, or -1 while bytes still to come
// may tell. seen, where given, gets what starts at pos.
int followedAt(const FamilySet &set, const char *data, int size, int pos, const FamilyDescriptor *family, int length,
               bool final, Candidate *seen = nullptr)
{
    if (pos >= size)
        return final ? 0 : -1;
    const Candidate c = candidateAt(set, data + pos, size - pos, final);
    if (seen)
        *seen = c;
    if (c.good > 0)
        return 1;
    bool unknown = c.arriving;
    for (int i = 0; i < c.count; ++i) {
        if (c.lengths[i] != length || c.families[i] != family)
            continue;
        const int next = goodFrameAt(set, data, size, pos + length, final);
        if (next == 1)
            return 1;
        unknown = unknown || next < 0;
    }
    return unknown ? -1 : 0;
}

bool usualStart(const FamilyDescriptor *family, char first)
{
    return family->usualStartBytes.isEmpty() || family->usualStartBytes.contains(first);
}

// Whether a frame starting inside another, both with matching checks, is
// the frame rather than the one it starts in. Firmware takes a frame that
// another follows, and of CRSF frames those addressed as receivers send
// them: an outer frame followed by another is kept; else an inner one
// followed by another wins, and where neither is, one with a usual start
// over one without. Each of outer and inner says 1 (followed), 0 or -1
// (not known yet); returns 1, 0, or -1 while the answer depends on bytes
// still to come.
int innerWins(int outer, int inner, bool outerUsual, bool innerUsual)
{
    const auto wins = [&](int o, int i) { return o == 0 && (i == 1 || (i == 0 && innerUsual && !outerUsual)); };
    bool some = false, all = true;
    for (int o = 0; o <= 1; ++o) {
        for (int i = 0; i <= 1; ++i) {
            if ((outer >= 0 && o != outer) || (inner >= 0 && i != inner))
                continue;
            const bool w = wins(o, i);
            some = some || w;
            all = all && w;
        }
    }
    return all ? 1 : some ? -1 : 0;
}

// Of lengths at pos whose checks all pass, as 0xA2 may start a 35-byte
// MPX_V2 frame and an 18-byte Spektrum one, the one another frame follows.
void preferFollowed(const FamilySet &set, const char *data, int size, int pos, Candidate &c, bool final)
{
    if (followedAt(set, data, size, pos + c.good, c.goodFamily, c.good, final) == 1)
        return;
    for (int i = 0; i < c.count; ++i) {
        const int length = c.lengths[i];
        if (length != c.good && c.families[i]->checksumPasses(data + pos, length)
            && followedAt(set, data, size, pos + length, c.families[i], length, final) == 1) {
            c.good = length;
            c.goodFamily = c.families[i];
            return;
        }
    }
}

// What to make of a frame with a matching check at pos, of length bytes:
// take it (returns pos), give way to a frame that starts inside it and wins
// over it (returns where that starts), or wait for bytes that may tell
// (returns -1). A frame whose check is 16 bits, which bytes pass by chance
// one time in 65536, and one followed by another are taken at once; only
// one with an 8-bit check that is not is weighed against the frames
// starting inside it. seen and seenAt get what starts where it ends.
int settleGoodFrame(const FamilySet &set, const char *data, int size, int pos, int length,
                    const FamilyDescriptor *family, bool final, Candidate &seen, int &seenAt)
{
    if (!family->shortCheck)
        return pos;
    const int followed = followedAt(set, data, size, pos + length, family, length, final, &seen);
    seenAt = pos + length < size ? pos + length : -1;
    if (followed == 1)
        return pos;
    const bool usual = usualStart(family, data[pos]);
    for (int q = pos + 1; q < pos + length; ++q) {
        const Candidate inner = candidateAt(set, data + q, size - q, final);
        if (inner.good > 0) {
            const int innerFollowed =
                followedAt(set, data, size, q + inner.good, inner.goodFamily, inner.good, final);
            const int verdict = innerWins(followed, innerFollowed, usual, usualStart(inner.goodFamily, data[q]));
            if (verdict != 0)
                return verdict > 0 ? q : -1;
        } else if (inner.arriving) {
            // It may yet pass its check and win.
            return -1;
        }
    }
    return pos;
}

constexpr int weighing = -2;

// Where a frame with a matching CRC starts inside the span of a frame at pos
// whose own CRC failed: then the failed one was cut short, and the good one
// is the frame, unless its check is short, the failed one is of the family
// of the frame before it, another good frame follows it and none the good
// one, which then passed by chance inside a damaged frame. -1 where none
// does, notYetKnown while one may still arrive, weighing while bytes still
// to come tell which of the two is the frame.
int goodFrameInside(const FamilySet &set, const char *data, int size, int pos, int length,
                    const FamilyDescriptor *family, bool likeLast, int checkedEnd, bool final)
{
    bool arriving = false;
    const int followed = followedAt(set, data, size, pos + length, family, length, final);
    for (int q = pos + 1; q < pos + length; ++q) {
        const Candidate inner = candidateAt(set, data + q, size - q, final);
        if (inner.good > 0) {
            const int innerFollowed =
                followedAt(set, data, size, q + inner.good, inner.goodFamily, inner.good, final);
            if (!inner.goodFamily->shortCheck || !likeLast || followed == 0 || innerFollowed == 1)
                return q;
            if (followed < 0 || innerFollowed < 0)
                return weighing;
            continue;
        }
        arriving = arriving || inner.incomplete;
    }
    // A frame still arriving would overlap any complete frame behind the
    // failed one, so one that is there already rules it out.
    if (!arriving || nextFrameWithCrc(set, data, size, pos + length, checkedEnd) >= 0)
        return -1;
    return notYetKnown;
}

// Whether frames with a failed CRC chain from data on: depth more of them,
// each starting where the one before ended, no longer than receivers send,
// and with no frame with a matching CRC starting inside one. A frame with
// a matching CRC in the chain counts. Returns the first frame's length, 0
// where no chain starts, or -1 while bytes still to come may make one;
// chain gets the lengths of its depth frames.
int chainAt(const FamilySet &set, const char *data, int size, int pos, int depth, int lastLength, bool final,
            int *chain)
{
    if (depth == 0)
        return 0;
    if (pos >= size)
        return final ? 0 : -1;
    // A frame longer than receivers send is never waited for.
    const Candidate c = candidateAt(set, data + pos, size - pos, final);
    if (c.incomplete && size - pos < set.longestSent())
        return -1;
    int lengths[FamilySet::maxCandidates];
    int count = 0;
    if (c.good > 0) {
        lengths[count++] = c.good;
    } else {
        // The length the stream has been using is tried first.
        for (int i = 0; i < c.count; ++i) {
            if (c.lengths[i] <= set.longestSent())
                lengths[count++] = c.lengths[i];
        }
        for (int i = 1; i < count; ++i) {
            if (lengths[i] == lastLength)
                std::swap(lengths[0], lengths[i]);
        }
    }
    bool unknown = false;
    for (int i = 0; i < count; ++i) {
        const int length = lengths[i];
        // A good frame starting inside, or one that may when its bytes come.
        bool cut = false, arriving = false;
        for (int q = pos + 1; c.good == 0 && q < pos + length && !cut; ++q) {
            const Candidate inner = candidateAt(set, data + q, size - q, final);
            cut = inner.good > 0;
            arriving = arriving || (inner.incomplete && size - q < set.longestSent());
        }
        if (cut)
            continue;
        if (arriving) {
            unknown = true;
            continue;
        }
        const int rest = depth == 1 ? 0 : chainAt(set, data, size, pos + length, depth - 1, length, final, chain + 1);
        if (depth == 1 || rest > 0) {
            chain[0] = length;
            return length;
        }
        unknown = unknown || rest < 0;
    }
    return unknown ? -1 : 0;
}

} // namespace

const FamilyDescriptor *AssembledFrame::family() const
{
    return allFamilies().at(familyIndex);
}

FrameAssembler::FrameAssembler() : families(&FamilySet::defaults()) {}

FrameAssembler::FrameAssembler(const FamilySet &families) : families(&families) {}

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
    lastFamily = nullptr;
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
    return length <= families->longestSent() ? length : 0;
}

void FrameAssembler::scan(QVector<AssembledFrame> &found, bool final)
{
    const char *data = kept.constData();
    const int size = kept.size();
    int pos = 0;
    const int checkedBefore = checkedEnd;
    checkedEnd = 0;
    Candidate seen;
    int seenAt = -1;
    while (pos < size) {
        // What settling the frame before looked at already.
        Candidate here = pos == seenAt ? seen : candidateAt(*families, data + pos, size - pos, final);
        if (here.good > 0 && here.count > 1)
            preferFollowed(*families, data, size, pos, here, final);
        int take = here.good;
        if (take == 0 && !here.incomplete && pos == syncAt) {
            // In step with the stream, but the CRC fails: a damaged frame,
            // unless it was cut short and a good frame starts inside it.
            const int length = lengthAtSync(here.lengths, here.count);
            const FamilyDescriptor *family = length > 0 ? familyOfLength(here, length, data + pos) : nullptr;
            const int inside = length > 0 ? goodFrameInside(*families, data, size, pos, length, family,
                                                            family == lastFamily, checkedBefore, final)
                                          : -1;
            if (inside == notYetKnown || inside == weighing) {
                checkedEnd = inside == notYetKnown ? size - pos : 0;
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
            const int chained = chainAt(*families, data, size, pos, framesToSync, lastLength, final, chain);
            if (chained < 0)
                break; // no frame with a matching CRC was looked for behind pos
            // The chain is taken whole, as it was found.
            for (int i = 0; chained > 0 && i < framesToSync; ++i) {
                const int length = chain[i];
                const FamilyDescriptor *family =
                    familyOfLength(candidateAt(*families, data + pos, size - pos, final), length, data + pos);
                const bool good = family->checksumPasses(data + pos, length);
                if (pos != shownAt || length != shownLength)
                    found.append({QByteArray(data + pos, length), keptOffset + pos, good,
                                  good && family->sentInFailsafe(data + pos, length), familyIndexOf(family)});
                pos += length;
                syncAt = pos;
                lastLength = length;
                lastFamily = family;
            }
            if (chained > 0)
                continue;
        }

        if (here.good > 0) {
            const int settled =
                settleGoodFrame(*families, data, size, pos, here.good, here.goodFamily, final, seen, seenAt);
            if (settled < 0)
                break;
            if (settled > pos) {
                stray += settled - pos;
                pos = settled;
                continue;
            }
        }
        if (take > 0) {
            const FamilyDescriptor *family = here.good > 0 ? here.goodFamily : familyOfLength(here, take, data + pos);
            if (pos != shownAt || take != shownLength)
                found.append({QByteArray(data + pos, take), keptOffset + pos, here.good > 0,
                              here.good > 0 && family->sentInFailsafe(data + pos, take), familyIndexOf(family)});
            pos += take;
            syncAt = pos;
            lastLength = take;
            lastFamily = family;
        } else if (here.incomplete) {
            // A frame that is still arriving must not hold back a complete
            // one behind it, as when noise looks like the start of a long frame.
            const int next = nextFrameWithCrc(*families, data, size, pos + 1, checkedBefore);
            if (next < 0) {
                checkedEnd = size - pos;
                break;
            }
            // In step, the frame still arriving is most likely the next
            // one: a good frame inside its span (RJ01's Mode B frame, or
            // bytes that pass a check by chance) waits until it is whole.
            if (next < pos + here.arrivingLength)
                break;
            // Unless another follows the complete one, the frame still
            // arriving may pass its check and win over it, where that one's
            // check is short.
            if (here.arriving) {
                const Candidate there = candidateAt(*families, data + next, size - next, final);
                if (there.goodFamily->shortCheck
                    && followedAt(*families, data, size, next + there.good, there.goodFamily, there.good, final) != 1)
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
