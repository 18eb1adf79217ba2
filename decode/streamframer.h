// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the frames of any families in a byte stream: those with a checksum
// through the frame assembler, those without (SBUS, DSM) by the quiet
// before a frame where it is known, else by their period and rules.
#ifndef LINKSCOPE_STREAMFRAMER_H
#define LINKSCOPE_STREAMFRAMER_H

#include "decode/families/familyset.h"
#include "decode/frameassembler.h"

#include <deque>
#include <memory>
#include <vector>

struct FrameReading;

// Frames of one family without a checksum. A frame of frameBytes is taken
// where its bytes keep the family's rules and either the line was quiet
// for gapMs before it, or, without times, what follows shows where frames
// are: the next frame's start byte (SBUS), or agreeFrames frames back to
// back whose ids agree on one form (DSM). Once a DSM stream is found, each
// frame that keeps its form in step is taken; a frame that breaks the rules
// is stray bytes, never a damaged frame: nothing can tell one.
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
    qint64 bytesFed() const { return keptOffset + kept.size(); }
    qint64 strayBytes() const { return stray; }
    // Frames taken by the rules alone, without a quiet to start them.
    qint64 framedWithoutTimes() const { return untimedFrames; }

private:
    void scan(QVector<AssembledFrame> &found, bool final);
    bool gapAt(qint64 offset) const;
    qint64 nextGapFrom(qint64 offset) const;
    // The form agreeFrames frames from pos agree on, 0 where they do not,
    // -1 while bytes are missing.
    int agreementAt(const char *data, int size, int pos, int frames, unsigned forms, bool final) const;
    void take(const char *data, int pos, unsigned form, QVector<AssembledFrame> &found);

    const FamilyDescriptor &family;
    const quint8 familyIndex;
    QByteArray kept;
    qint64 keptOffset = 0;
    std::vector<qint64> gaps; // stream offsets of bytes after a quiet line, rising
    int syncAt = -1;          // in kept: where the last frame ended, if in step
    unsigned form = 0;        // the form the stream agreed on (families with agree)
    bool onProbation = false; // in step, after one frame that broke the rules
    qint64 stray = 0;
    qint64 untimedFrames = 0;
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
