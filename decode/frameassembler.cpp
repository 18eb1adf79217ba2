// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/frameassembler.h"

#include "decode/families/familyset.h"
#include "decode/framing.h"

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
};

// final: no more bytes are coming, so a frame that needs them is none.
// Inlined: it runs for every position the stream is scanned at.
[[gnu::always_inline]] inline Candidate candidateAt(const FamilySet &set, const char *data, int available,
                                                   bool final)
{
    Candidate c;
    bool undecided = false;
    const int count = set.candidates(data, available, c.lengths, c.families, undecided);
    c.incomplete = undecided && !final;
    for (int i = 0; i < count; ++i) {
        const int length = c.lengths[i];
        if (length > available) {
            c.incomplete = c.incomplete || !final;
            continue;
        }
        c.families[c.count] = c.families[i];
        c.lengths[c.count++] = length;
        if (c.good == 0 && c.families[i]->check(data, length)) {
            c.good = length;
            c.goodFamily = c.families[i];
        }
    }
    return c;
}

// The family of a frame taken at its length without a matching check.
const FamilyDescriptor *familyOfLength(const Candidate &c, int length)
{
    for (int i = 0; i < c.count; ++i) {
        if (c.lengths[i] == length)
            return c.families[i];
    }
    return nullptr;
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
            if (end <= size && end > checkedEnd && families[i]->check(data + pos, lengths[i]))
                return pos;
        }
    }
    return -1;
}

constexpr int notYetKnown = 0;

// Where a frame with a matching CRC starts inside the span of a frame at pos
// whose own CRC failed: then the failed one was cut short, and the good one
// is the frame. -1 where none does, notYetKnown while one may still arrive.
int goodFrameInside(const FamilySet &set, const char *data, int size, int pos, int length, int checkedEnd,
                    bool final)
{
    bool arriving = false;
    for (int q = pos + 1; q < pos + length; ++q) {
        const Candidate inner = candidateAt(set, data + q, size - q, final);
        if (inner.good > 0)
            return q;
        arriving = arriving || inner.incomplete;
    }
    // A frame still arriving would overlap any complete frame behind the
    // failed one, so one that is there already rules it out.
    if (!arriving || nextFrameWithCrc(set, data, size, pos + length, checkedEnd) >= 0)
        return -1;
    return notYetKnown;
}

quint8 familyIndexOf(const FamilyDescriptor *family)
{
    return quint8(allFamilies().indexOf(family));
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
        const Candidate here = candidateAt(*families, data + pos, size - pos, final);
        int take = here.good;
        if (take == 0 && !here.incomplete && pos == syncAt) {
            // In step with the stream, but the CRC fails: a damaged frame,
            // unless it was cut short and a good frame starts inside it.
            const int length = lengthAtSync(here.lengths, here.count);
            const int inside =
                length > 0 ? goodFrameInside(*families, data, size, pos, length, checkedBefore, final) : -1;
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
        }

        if (take > 0) {
            if (pos != shownAt || take != shownLength)
                found.append({QByteArray(data + pos, take), keptOffset + pos, here.good > 0,
                              here.good > 0 && isFailsafeFrame(data + pos, take),
                              familyIndexOf(here.good > 0 ? here.goodFamily : familyOfLength(here, take))});
            pos += take;
            syncAt = pos;
            lastLength = take;
        } else if (here.incomplete) {
            // A frame that is still arriving must not hold back a complete
            // one behind it, as when noise looks like the start of a long frame.
            const int next = nextFrameWithCrc(*families, data, size, pos + 1, checkedBefore);
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
