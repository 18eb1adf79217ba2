// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/frameassembler.h"

#include "decode/crc16.h"
#include "decode/framing.h"

namespace {

// Where the first frame with a matching CRC starts at or after from, or -1.
// Frames that end within the first checkedEnd bytes were looked at before.
int nextFrameWithCrc(const char *data, int size, int from, int checkedEnd)
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
    scan(found);
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
    // After a pause nothing says the next byte starts a frame.
    syncAt = -1;
    if (!kept.isEmpty()) {
        stray += kept.size();
        dropKept();
    }
    return {};
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
// using; a failsafe frame is only ever taken on its CRC.
int FrameAssembler::lengthAtSync(const char *data, const int *lengths, int count) const
{
    if (count <= 0 || isFailsafeFrame(data, lengths[0]))
        return 0;
    for (int i = 0; i < count; ++i) {
        if (lengths[i] == lastLength)
            return lengths[i];
    }
    return lengths[0];
}

void FrameAssembler::scan(QVector<AssembledFrame> &found)
{
    const char *data = kept.constData();
    const int size = kept.size();
    int pos = 0;
    const int checkedBefore = checkedEnd;
    checkedEnd = 0;
    while (pos < size) {
        int lengths[2];
        const int count = candidateFrameLengths(data + pos, size - pos, lengths);
        bool waiting = count < 0;
        int take = 0;
        bool crcOk = false;
        for (int i = 0; i < count && take == 0; ++i) {
            if (pos + lengths[i] > size)
                waiting = true;
            else if (frameCrcMatches(data + pos, lengths[i]))
                take = lengths[i], crcOk = true;
        }
        if (take == 0 && !waiting && pos == syncAt)
            take = lengthAtSync(data + pos, lengths, count);

        if (take > 0) {
            if (pos != shownAt || take != shownLength)
                found.append({QByteArray(data + pos, take), keptOffset + pos, crcOk, isFailsafeFrame(data + pos, take)});
            pos += take;
            syncAt = pos;
            lastLength = take;
        } else if (waiting) {
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
