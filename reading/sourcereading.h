// SPDX-License-Identifier: GPL-3.0-or-later
// One source's way from the bytes read to frames: the capture form, the
// search for the family (--family auto), the framer and the frames' times,
// each frame counted and handed to the sink with its source, time and place.
// The run's loops feed it; several could feed one sink.
#ifndef LINKSCOPE_READING_SOURCEREADING_H
#define LINKSCOPE_READING_SOURCEREADING_H

#include "cli/stopsignals.h"
#include "decode/families/framereading.h"
#include "decode/framing/pollpairing.h"
#include "decode/families/telemetry.h"
#include "reading/captureform.h"
#include "reading/familysearch.h"
#include "reading/framesink.h"
#include "reading/framestage.h"
#include "reading/readoptions.h"
#include "reading/statistics.h"

#include <memory>

struct Source;

// What ends a run, over all its sources.
struct RunLimits
{
    bool ended = false; // a limit was reached, or nothing is left to do
    qint64 frames = 0;  // of every source
    // The run ends now: a stop signal, or ended.
    bool stopNow() const { return stopRequested() || ended; }
};

class SourceReading
{
public:
    SourceReading(int id, const ReadOptions &options, const QElapsedTimer &clock, RunLimits &limits);

    // Which of the run's sources, counted from 0.
    int source() const { return id; }
    // The source is open: what it is decides how its bytes are timed.
    void begin(const Source &source);
    // Where frames go (none until a live view starts) and where the bytes go.
    void setFrameSink(FrameSink *sink);
    void setByteSink(ByteSink *sink) { bytesTo = sink; }
    FrameSink *frameSink() const { return sink; }

    // A block read from a file or stream, through the capture form where
    // there is one. False when the run should end.
    bool read(const char *data, int size);
    // The file or stream ended.
    void endOfCapture();
    // Bytes from a port or terminal, read now.
    bool takeRead(const QByteArray &bytes);
    // Nothing came for a while on a live source, and no byte waits.
    void settle();
    // Bytes are timed by the wall clock: a port, or raw bytes from a stream.
    bool wallTimed() const { return capture ? capture->wallTimed() : live; }

    // --family auto at each of a port's line settings in turn.
    void listenAt(const LineSettings &setting, const QVector<const FamilyDescriptor *> &families);
    bool looking() const { return bool(search); }
    // The family was found while no live view took the frames yet: the
    // bytes that told are read again once it has started.
    bool readAgainLater() const { return readLater; }
    bool readKeptAgain();
    // The driver's remedy for bunched reads, once the port is open.
    void setRemedy(const QString &text) { remedy = text; }

    // The source is done: frames the end of its bytes settles, unless the
    // run was cut short, the sink told of the stray bytes, and a poll still
    // waiting goes missing.
    void end();

    // Bytes read, and whether a frame came of them.
    qint64 bytesRead() const;
    qint64 frames() const { return summed().frames(); }
    // Of sources merged in one timeline, the frames are counted as it hands
    // them on, so that the summary tells of those given, not of those that
    // --count left.
    void countHandedOn() { handingCounts = true; }
    void handedOn(const Frame &frame) { handed.count(frame.reading, frame.t); }
    qint64 framesRead() const { return stats.frames(); }
    bool durationOver() const { return pastDuration; }
    bool capturedTimes() const { return capture && capture->timed(); }
    // A capture whose form is known and tells no times (raw bytes, a hex dump).
    bool untimedCapture() const
    {
        const CaptureReader::Form form = capture ? capture->reader().form() : CaptureReader::Undecided;
        return form != CaptureReader::Undecided && form != CaptureReader::SaleaeTimeValue
            && form != CaptureReader::SaleaeNameType;
    }
    // Why the capture could not be read to its end; empty where it could.
    QString captureError() const { return capture ? capture->errorText() : QString(); }
    // The run's summary, with the sink's lines where they belong.
    QString summary(const QString &sinkLines) const;
    // Bytes came, but no frame: why, and what to try.
    QString noFramesText() const;

private:
    bool take(const TimedBytes &bytes);
    void startLooking(const QVector<const FamilyDescriptor *> &candidates);
    bool look(TimedBytes bytes);
    bool lockOn();
    void show(const QVector<AssembledFrame> &found);
    double frameTime(const AssembledFrame &frame, double *readAt) const;
    void tellBunching();
    LinePace pace() const;
    // Bytes in no frame; --family auto counts what it looked through
    // without finding a family as such.
    qint64 unframedBytes() const;
    bool cutShort() const { return limits.stopNow(); }

    const int id;
    const ReadOptions &options;
    const QElapsedTimer &clock;
    RunLimits &limits;
    bool live = false;
    bool lineTimed = false; // bytes come from a line at the baud rate
    bool onPort = false;
    // The families looked for and the line's settings: those --family auto found.
    QVector<const FamilyDescriptor *> families;
    LineSettings line;
    std::unique_ptr<CaptureForm> capture; // a capture file or stream in any of the forms people exchange
    std::unique_ptr<FamilySearch> search; // --family auto, while the family is not known
    QVector<FamilySearch::Kept> kept;     // what told the family, until it is read again
    FrameStage stage;
    RunStatistics stats; // of every frame read, which frame times keep in order
    RunStatistics handed;
    bool handingCounts = false;
    const RunStatistics &summed() const { return handingCounts ? handed : stats; }
    FrameReading reading;
    PollPairing pairing;             // telemetry requests and answers on the wire
    TelemetryMemory telemetryMemory; // what earlier frames on the line told
    FrameSink *sink = nullptr;
    ByteSink *bytesTo = nullptr;
    // Bytes before the first the framer counts from: read at other line
    // settings, or beyond what a capture keeps while looking.
    qint64 offsetBase = 0, triedBytes = 0, notKeptBytes = 0;
    bool readLater = false;
    bool readingAgain = false;
    bool pastDuration = false; // a capture's own times passed --duration
    double bunchingTold = 0;
    QString remedy;
};

#endif
