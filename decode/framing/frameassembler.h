// SPDX-License-Identifier: GPL-3.0-or-later
// Finds whole frames in a byte stream that arrives in reads of any size: a
// frame cut over several reads, several frames in one read, frames in noise.
#ifndef LINKSCOPE_FRAMEASSEMBLER_H
#define LINKSCOPE_FRAMEASSEMBLER_H

#include <QByteArray>
#include <QVector>

class FamilySet;
class FamilyDescriptor;

struct AssembledFrame
{
    QByteArray bytes;
    qint64 offset = 0; // of its first byte, counted from the start of the stream
    bool crcOk = false;
    // Its check passing, the frame says its receiver sent it in failsafe,
    // where a byte or two of its family tell it (HoTT's status, Spektrum's mode).
    bool failsafe = false;
    // Whose start, length and check it has, by its place in allFamilies():
    // a byte, so that the frames of a large read fit as many in as before.
    quint8 familyIndex = 0;
    const FamilyDescriptor *family() const;
    // The form its framing told, where the bytes alone may not: a bit of FamilyDescriptor::fits.
    quint8 variant = 0;
};

// A frame is taken where its CRC matches, or with a failed CRC where it
// starts exactly where the frame before it ended, is no longer than
// receivers send, and no frame with a matching CRC starts inside it, so that
// a frame cut short never hides the good one after it. Out of step, as when
// a stream starts with damaged frames, a failed frame is taken only at the
// head of a chain of framesToSync such frames, each starting where the one
// before ended: random bytes then pass as a frame well under once per MB.
// Bytes that no frame can use are dropped and counted; what is kept is
// always shorter than a damaged frame and the longest frame together.
class FrameAssembler
{
public:
    // A partial frame that has had no new byte for this long is dropped, so
    // that it cannot glue onto whatever arrives after a pause.
    static constexpr qint64 staleAfterMs = 50;
    // Chained frames that put a stream in step without a matching CRC.
    static constexpr int framesToSync = 4;

    // Looks for the frames of families, which must outlive the assembler;
    // by default those of the window's five.
    FrameAssembler();
    explicit FrameAssembler(const FamilySet &families);

    // Adds the bytes of one read and returns the frames they complete, in
    // order. alreadyShown says the read is itself one whole frame that its
    // reader has handled: it is never returned as a frame again.
    QVector<AssembledFrame> feed(const QByteArray &bytes, qint64 nowMs = 0, bool alreadyShown = false);
    // The reader took a read of frameLength bytes as one whole frame with a
    // matching CRC: whatever was kept is dropped, and the stream is aligned.
    void realign(int frameLength, qint64 nowMs = 0);
    // No more bytes are coming, as at the end of a capture: settles what is
    // kept, returns the frames that settles, and counts the rest as stray.
    QVector<AssembledFrame> flush();
    // Settles the kept bytes as flush() does if none has arrived for
    // staleAfterMs, and returns the frames that settles.
    QVector<AssembledFrame> dropStale(qint64 nowMs);
    // Bytes are known to have arrived by nowMs and wait to be fed, however
    // long their reader took to get to them: the kept ones are not stale.
    void stillArriving(qint64 nowMs) { lastByteAt = qMax(lastByteAt, nowMs); }
    // Forgets the kept bytes without counting them, as when the port closes.
    void clear();

    const FamilySet &familySet() const { return *families; }
    int keptBytes() const { return kept.size(); }
    // Bytes fed so far: the stream offset the next read starts at.
    qint64 bytesFed() const { return keptOffset + kept.size(); }
    // Bytes that belonged to no frame: noise, and partial frames dropped.
    qint64 strayBytes() const { return stray; }

private:
    void scan(QVector<AssembledFrame> &found, bool final);
    int lengthAtSync(const int *lengths, int count) const;
    void dropKept();

    const FamilySet *families;
    QByteArray kept;
    qint64 keptOffset = 0; // stream offset of kept's first byte
    int syncAt = -1;       // where in kept the last frame ended, if it did
    int shownAt = -1, shownLength = 0;
    int lastLength = 0;
    const FamilyDescriptor *lastFamily = nullptr; // of the last frame taken, where known
    int checkedEnd = 0; // frames ending before this were looked for already
    qint64 lastByteAt = 0;
    qint64 stray = 0;
};

#endif
