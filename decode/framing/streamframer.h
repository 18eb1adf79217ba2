// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the frames of any families in a byte stream: those with a checksum
// through the frame assembler, those without (SBUS, DSM) by the quiet
// before a frame where it is known, else by their period and rules.
#ifndef LINKSCOPE_STREAMFRAMER_H
#define LINKSCOPE_STREAMFRAMER_H

#include "decode/families/familyset.h"
#include "decode/framing/frameassembler.h"

#include <deque>
#include <memory>
#include <vector>

struct FrameReading;

// Frames of one family without a checksum. A frame of frameBytes is taken
// where its bytes keep the family's rules and either the line was quiet
// for gapMs before it, or, without times, what follows shows where frames
// are: a frame's start byte after it, or a frame that keeps the rules a
// little later (SBUS); or agreeFrames frames back to back whose ids agree
// on one form, at the offset that shows the frames' start best (DSM). A
// frame never spans a quiet line. Once a DSM stream is found, each frame
// in step that keeps its form and ids is taken; a frame that breaks them
// is stray bytes, never a damaged frame: nothing can tell one. Where the
// stream slipped, frames agree at another offset, and the framer moves
// there. Telemetry slots after a frame (SBUS2) are counted as slots and
// handed on as frames of their own, slotBytes long.
class GapFramer
{
public:
    explicit GapFramer(const FamilyDescriptor &family);

    // quietMs: how long the line was quiet before the first of these bytes;
    // negative where nobody knows.
    void feed(const char *data, int size, double quietMs, QVector<AssembledFrame> &found);
    // No more bytes are coming, or not for a while: what is kept is settled.
    void flush(QVector<AssembledFrame> &found);
    void clear();

    qint64 settled() const { return keptOffset; }
    // No frame starts before this but those found by looking back.
    qint64 scanned() const { return keptOffset + scanAt; }
    // Looking back takes no frame that starts before offset, nor keeps
    // bytes for it: others' frames there have gone out.
    void lookBackNoFurther(qint64 offset) { lookBackFloor = offset; }
    qint64 bytesFed() const { return keptOffset + kept.size(); }
    qint64 strayBytes() const { return stray; }
    // Frames taken by the rules alone, without a quiet to start them.
    qint64 framedWithoutTimes() const { return untimedFrames; }
    // Telemetry slots found after frames, and their bytes.
    qint64 telemetrySlots() const { return slotCount; }
    qint64 telemetrySlotBytes() const { return slotCount * family.slotBytes; }

private:
    // Where frames agree, the first at; or needBytes, noLock.
    static constexpr int needBytes = -1;
    static constexpr int noLock = -2;
    struct Lock
    {
        int at = noLock;
        unsigned form = 0;
        quint32 ids = 0; // the ids the frames name
    };

    void scan(QVector<AssembledFrame> &found, bool final);
    // One step of the scan at pos, by start byte (SBUS) or by agreement
    // (DSM); false while bytes are missing.
    bool stepByStart(int &pos, bool quietBefore, bool final, QVector<AssembledFrame> &found);
    bool stepByAgreement(int &pos, bool quietBefore, bool final, QVector<AssembledFrame> &found);
    bool gapAt(qint64 offset) const;
    qint64 nextGapFrom(qint64 offset) const;
    // A quiet line after the first of bytes from pos.
    bool spansGap(int pos, int bytes) const;
    // frames from pos, the next after a quiet line where one follows, in a
    // form of forms.
    Lock agreementAt(int pos, int frames, unsigned forms, bool final) const;
    // agreeFrames frames back to back from pos; score: how well they show
    // that frames start there, run: how many frames go on in step.
    Lock lockAt(int pos, bool final, int &score, int &run) const;
    // Of the offsets from, ..., to - 1, the one that shows frames start
    // best; fromFirst: none unless frames agree at from.
    Lock bestLock(int from, int to, bool fromFirst, bool final) const;
    // Without times, an SBUS frame at pos was one where a frame that keeps
    // the rules starts after it and its slots, or a little later (noise or
    // damaged frames between). 1 yes, 0 no, -1 while bytes are missing.
    int followedByFrame(int pos, bool final) const;
    // The bytes of slots after the frame at pos; -1 while bytes are missing.
    int slotRun(int pos, bool final) const;
    // The frame keeps the stream's form and names only its ids.
    bool keepsForm(const char *frame) const;
    void take(int pos, unsigned form, QVector<AssembledFrame> &found);
    // Frames in step before pos, back to the last frame taken, where a
    // stream was found at pos.
    void takeBefore(int pos, QVector<AssembledFrame> &found);

    const FamilyDescriptor &family;
    const quint8 familyIndex;
    QByteArray kept;          // bytes from keptOffset on
    qint64 keptOffset = 0;
    qint64 lookBackFloor = 0;
    int scanAt = 0;           // in kept: where the scan goes on; before it, bytes kept to look back on
    int takenEnd = 0;         // in kept: the end of the last frame or slot taken
    std::vector<qint64> gaps; // stream offsets of bytes after a quiet line, rising
    bool timed = false;       // a quiet line was ever seen
    int syncAt = -1;          // in kept: where the next frame starts, while in step
    unsigned form = 0;        // the form the stream agreed on (families with agree)
    quint32 streamIds = 0;    // the ids it agreed on
    int misses = 0;           // frames in step in a row that broke the rules
    QByteArray lastFrame;     // the last frame taken, none where a lock came after it
    QByteArray slotFrame;     // the frame whose slots may come next (SBUS2)
    int nextSlot = 0;         // the lowest slot number still to come
    qint64 stray = 0;
    qint64 untimedFrames = 0;
    qint64 slotCount = 0;
};

// The frame assembler's interface, over families of both kinds. Where
// several framers look at the same bytes, a byte still belongs to at most
// one frame: of frames that overlap, the one in the longer chain of its
// framer's good frames (back to back before it, and the one right after)
// wins, else the one that passes by chance more seldom, else the earlier.
// So every byte read is in a frame, stray or kept.
class StreamFramer
{
public:
    static constexpr qint64 staleAfterMs = FrameAssembler::staleAfterMs;

    explicit StreamFramer(const QVector<const FamilyDescriptor *> &families);
    StreamFramer(StreamFramer &&other) noexcept;
    StreamFramer &operator=(StreamFramer &&other) noexcept;
    ~StreamFramer();

    // quietMs, where known, is how long the line was quiet before bytes.
    QVector<AssembledFrame> feed(const QByteArray &bytes, qint64 nowMs = 0, double quietMs = -1);
    QVector<AssembledFrame> flush();
    QVector<AssembledFrame> dropStale(qint64 nowMs);
    void stillArriving(qint64 nowMs);
    void clear();

    // Bytes not settled yet: kept by a framer, or in frames that wait to
    // be weighed against others.
    int keptBytes() const;
    qint64 bytesFed() const { return fed; }
    qint64 strayBytes() const;
    // Frames of families without a checksum found without a quiet before them.
    qint64 framedWithoutTimes() const;
    // Telemetry slots between frames (SBUS2), and their bytes, which come
    // as frames of their own: not stray.
    qint64 telemetrySlots() const;
    qint64 telemetrySlotBytes() const;
    bool findsByGap() const { return !gapFramers.empty(); }

private:
    // A frame one framer found, until no other can find one over its bytes
    // or it has been weighed against those that did.
    struct Pending
    {
        AssembledFrame frame;
        int framer;     // 0 the assembler, else 1 + the gap framer's index
        int before = 0; // good frames of its framer back to back before it, up to chainCounted
        int after = -1; // 1 where a good one starts where it ends, 0 where none does, -1 not known yet
        qint64 end() const { return frame.offset + frame.bytes.size(); }
    };
    // A receiver's frames chain on and on; those bytes pass for by chance
    // hardly ever reach a few.
    static constexpr int chainCounted = 16;

    int framers() const { return int(gapFramers.size()) + 1; }
    qint64 settled() const;
    qint64 settledBy(int framer) const;
    qint64 keptFrom() const;
    void add(const QVector<AssembledFrame> &found, int framer);
    // The framer whose waiting frame starts first, but except, or -1.
    int firstWaiting(int except = -1) const;
    QVector<AssembledFrame> release(bool all);
    void giveOut(QVector<AssembledFrame> &out, const AssembledFrame &frame);
    // Counts the stray bytes before a frame given out.
    void count(const AssembledFrame &frame);

    std::unique_ptr<FamilySet> checked;
    std::unique_ptr<FrameAssembler> assembler;
    std::vector<std::unique_ptr<GapFramer>> gapFramers;
    std::vector<std::deque<Pending>> waiting; // by framer, each in stream order
    // By framer: where its last frame ended, and the good frames back to
    // back up to there (a damaged one among them breaks no chain).
    std::vector<qint64> lastEnd;
    std::vector<int> lastChain;
    qint64 fed = 0;
    qint64 coveredTo = 0; // the end of the last frame given out
    qint64 strayBetween = 0;
    qint64 lastByteAt = 0;
};

// Reads a frame as its family does, in the form its framing told.
void readAssembled(const AssembledFrame &frame, FrameReading &reading);

#endif
