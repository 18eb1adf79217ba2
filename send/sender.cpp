// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/sender.h"

#include "decode/families/familyset.h"
#include "decode/frameassembler.h"
#include "decode/microseconds.h"
#include "send/generator.h"
#include "send/output.h"
#include "send/replay.h"
#include "send/stopsignals.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;

void complain(const QString &text)
{
    std::fprintf(stderr, "linkscope-send: %s\n", qPrintable(text));
}

class Sender
{
public:
    enum End {
        Done,
        Quiet, // standard output was closed: nothing more to say
        Failed,
    };

    Sender(const SendOptions &options, OutgoingSource &source, Output &output)
        : options(options), source(source), output(output) {}
    End run();
    void summarise(bool replay);
    QString failure() const { return why; }

private:
    enum Wake { Due, Stop, Lost };
    Clock::time_point at(double seconds) const;
    Wake waitUntil(Clock::time_point deadline, bool stoppable);
    bool inDropout(double due) const;
    bool runIsOver() const;
    End endFrom(Output::Result result);
    End send(const Outgoing &piece);
    void count(const Outgoing &piece);
    void countFrames(const QVector<AssembledFrame> &frames);
    void warnIfTooFast();

    const SendOptions &options;
    OutgoingSource &source;
    Output &output;
    Clock::time_point start;
    Output::Result lostAs = Output::Written;
    QString why;

    qint64 pieces = 0, live = 0, failsafe = 0, damaged = 0, dropped = 0;
    double lastDue = 0; // of the last piece sent
    // What a replay sent, read back as linkscope-dump would read it, in
    // whichever family it is.
    FamilySet everyFamily{allFamilies()};
    FrameAssembler sentFrames{everyFamily};
    FrameReading reading;
};

Clock::time_point Sender::at(double seconds) const
{
    // Past a few years the deadline is as good as never.
    if (!(seconds < 1e8))
        return Clock::time_point::max();
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

Sender::Wake Sender::waitUntil(Clock::time_point deadline, bool stoppable)
{
    for (;;) {
        if (stoppable && stopRequested())
            return Stop;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return Due;
        const qint64 left = deadline == Clock::time_point::max()
            ? -1 : std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
        // No events asked for: poll() tells a hang-up or an error all the same.
        pollfd watch{output.descriptor(), 0, 0};
        if (waitForEvents(&watch, 1, left) > 0 && watch.revents) {
            lostAs = output.lost(watch.revents);
            return Lost;
        }
    }
}

// From every dropoutEvery seconds on, for dropoutFor; a nanosecond's
// leeway keeps frames due right at its end out of it.
bool Sender::inDropout(double due) const
{
    return options.dropoutEvery > 0 && due >= options.dropoutEvery
        && std::fmod(due, options.dropoutEvery) < options.dropoutFor - 1e-9;
}

bool Sender::runIsOver() const
{
    return stopRequested() || (options.duration >= 0 && Clock::now() >= at(options.duration));
}

Sender::End Sender::endFrom(Output::Result result)
{
    why = output.failure();
    return result == Output::Closed ? Quiet : Failed;
}

// The whole piece, in chunks where asked; a stop waits until it is out.
Sender::End Sender::send(const Outgoing &piece)
{
    const Clock::time_point began = Clock::now();
    const int step = options.chunk > 0 ? options.chunk : piece.bytes.size();
    for (int done = 0, part = 0; done < piece.bytes.size(); done += step, ++part) {
        if (part > 0) {
            const auto gap = std::chrono::duration<double>(options.chunkGap * part);
            if (waitUntil(began + std::chrono::duration_cast<Clock::duration>(gap), false) == Lost)
                return endFrom(lostAs);
        }
        int written = 0;
        const Output::Result result = output.write(piece.bytes.constData() + done,
                                                   qMin(step, piece.bytes.size() - done),
                                                   [this] { return runIsOver(); }, written);
        if (result == Output::GaveUp && done + written == 0) {
            // Nothing of this frame went out: the run ends before it.
            complain(output.failure() + QStringLiteral("; stopped before the next frame"));
            return Done;
        }
        if (result == Output::GaveUp) {
            why = QStringLiteral("stopped with a frame half written: ") + output.failure();
            return Failed;
        }
        if (result != Output::Written)
            return endFrom(result);
    }
    ++pieces;
    lastDue = piece.due;
    count(piece);
    return Done;
}

void Sender::count(const Outgoing &piece)
{
    switch (piece.kind) {
    case Outgoing::Live:
        ++live;
        break;
    case Outgoing::Failsafe:
        ++failsafe;
        break;
    case Outgoing::Damaged:
        ++damaged;
        break;
    case Outgoing::Replayed:
        countFrames(sentFrames.feed(piece.bytes));
        break;
    }
}

void Sender::countFrames(const QVector<AssembledFrame> &frames)
{
    for (const AssembledFrame &frame : frames) {
        // Read as linkscope-dump reads it: Spektrum's failsafe is in its mode byte.
        frame.family()->read(frame.bytes.constData(), frame.bytes.size(), reading);
        const bool inFailsafe = frame.crcOk && reading.failsafe == 1;
        live += frame.crcOk && !inFailsafe;
        failsafe += inFailsafe;
        damaged += !frame.crcOk;
    }
}

void Sender::warnIfTooFast()
{
    const double period = source.secondsPerPiece();
    const double bytes = source.bytesPerPiece();
    if (output.isPort() && bytes * options.line.bitsPerByte() / options.baud > period)
        complain(QStringLiteral("%1 bytes every %2 ms are more than the %3 bytes a second that %4 baud carries "
                                "(%5 bits a byte); sending back to back")
                     .arg(bytes, 0, 'g', 4).arg(period * 1000, 0, 'g', 4).arg(options.baud / 10.0, 0, 'g', 6)
                     .arg(options.baud).arg(options.line.bitsPerByte()));
    if (options.chunk > 0 && std::ceil(bytes / options.chunk - 1) * options.chunkGap > period)
        complain(QStringLiteral("pieces of %1 bytes %2 ms apart take longer than the %3 ms between frames; sending "
                                "back to back").arg(options.chunk).arg(options.chunkGap * 1000, 0, 'g', 4)
                     .arg(period * 1000, 0, 'g', 4));
}

Sender::End Sender::run()
{
    warnIfTooFast();
    start = Clock::now();
    Outgoing piece;
    while (!stopRequested() && source.next(piece)) {
        const bool beyondEnd = options.duration >= 0 && piece.due >= options.duration;
        if (!beyondEnd && inDropout(piece.due)) {
            ++dropped;
            continue;
        }
        const Wake wake = waitUntil(at(beyondEnd ? options.duration : piece.due), true);
        if (wake == Lost)
            return endFrom(lostAs);
        if (wake == Stop || beyondEnd)
            break;
        const End end = send(piece);
        if (end != Done || pieces == options.count || runIsOver())
            return end;
    }
    return Done;
}

void Sender::summarise(bool replay)
{
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (replay)
        countFrames(sentFrames.flush());
    std::fprintf(stderr, "frames sent: %lld (live %lld, failsafe %lld, damaged %lld)\n", live + failsafe + damaged,
                 live, failsafe, damaged);
    if (replay)
        std::fprintf(stderr, "pieces sent: %lld, stray bytes among them: %lld\n", pieces,
                     sentFrames.strayBytes() + sentFrames.keptBytes());
    if (dropped > 0)
        std::fprintf(stderr, "frames dropped out: %lld\n", dropped);
    std::fprintf(stderr, "time: %.3f s\n", seconds);
    // Over the whole run: silence, dropouts and a line that took its time
    // all count. The last frame holds the line for its period too, or n
    // frames on time would read as n over n - 1 periods.
    const double span = pieces > 0 ? std::max(seconds, lastDue + source.secondsPerPiece()) : seconds;
    if (span > 0)
        std::fprintf(stderr, "rate achieved: %.2f frames/s\n", double(live + failsafe + damaged) / span);
    if (options.corrupt > 0)
        std::fprintf(stderr, "seed: %u\n", options.seed);
}

} // namespace

int runSend(const SendOptions &options)
{
    Recording recording;
    std::unique_ptr<OutgoingSource> source;
    if (!options.replayPath.isEmpty()) {
        QString error;
        if (!readRecording(options.replayPath, options.input, options.baud, options.replayFamilies, recording, error)) {
            complain(error);
            return 1;
        }
        source.reset(new ReplaySource(recording, options.rate, options.speed, options.loop));
    } else {
        source.reset(new FrameGenerator(options));
    }

    holdStopSignals();
    Output output;
    if (!output.open(options.target, options.line)) {
        complain(output.failure());
        return 1;
    }
    Sender sender(options, *source, output);
    const Sender::End end = sender.run();
    if (end == Sender::Done)
        output.drain();
    output.close();
    // Whoever closed standard output wants no more of it.
    if (end == Sender::Quiet)
        return 0;
    if (!options.quiet)
        sender.summarise(!options.replayPath.isEmpty());
    if (end == Sender::Failed) {
        complain(sender.failure());
        return 1;
    }
    return 0;
}
