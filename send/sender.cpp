// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/sender.h"

#include "cli/messages.h"
#include "cli/stopsignals.h"
#include "decode/framing/streamframer.h"
#include "decode/framing/frameassembler.h"
#include "decode/families/framereading.h"
#include "send/answerer.h"
#include "send/generator.h"
#include "send/output.h"
#include "send/replay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <poll.h>

namespace {

// Every family with a checksum, and those without one that a replay names:
// SBUS and DSM are only looked for where they are expected.
QVector<const FamilyDescriptor *> countedFamilies(const SendOptions &options)
{
    QVector<const FamilyDescriptor *> families;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->framing == FamilyDescriptor::ByChecksum || options.replayFamilies.contains(family))
            families << family;
    }
    return families;
}

using Clock = std::chrono::steady_clock;

class Sender
{
public:
    enum End {
        Done,
        Quiet, // standard output was closed: no error to tell
        Failed,
    };

    // counted tells, once the first piece is read, the families a replay's
    // frames are counted in.
    Sender(const SendOptions &options, OutgoingSource &source, Output &output,
           const std::function<QVector<const FamilyDescriptor *>()> &counted)
        : options(options), source(source), output(output), counted(counted), sentFrames(countedFamilies(options)) {}
    End run();
    // What the port still held at the end, once it was waited for.
    void drained(const Output::Drained &port);
    void summarise(bool replay);
    QString failure() const { return why; }
    qint64 framesSent() const { return live + failsafe + damaged; }
    qint64 replayedBytes() const { return sentFrames.bytesFed(); }

private:
    enum Wake { Due, Stop, Lost };
    Clock::time_point at(double seconds) const;
    Wake waitUntil(Clock::time_point deadline);
    bool isLate(double due) const;
    bool inDropout(double due) const;
    bool runIsOver() const;
    End endFrom(Output::Result result);
    End send(const Outgoing &piece);
    void count(const Outgoing &piece);
    void countFrames(const QVector<AssembledFrame> &frames);
    void warnIfTooFast();
    void tellWarnings();

    const SendOptions &options;
    OutgoingSource &source;
    Output &output;
    Clock::time_point start;
    Output::Result lostAs = Output::Written;
    QString why;

    qint64 pieces = 0, live = 0, failsafe = 0, damaged = 0, dropped = 0, late = 0;
    // The run of sending: from the first write to the end of the last.
    Clock::time_point firstSent, lastSent;
    // When the sender last was where it could send: the start, or the end
    // of the last write.
    Clock::time_point ready;
    // The line stopped taking bytes this long before the end (s), or held
    // this many unsent at the end: what was sent may never have been read.
    double stalledFor = -1;
    int unsent = 0;
    // What a replay sent, read back as linkscope-dump would read it, in
    // whichever family it is.
    const std::function<QVector<const FamilyDescriptor *>()> counted;
    bool countingChosen = false;
    StreamFramer sentFrames;
    FrameReading reading;
};

Clock::time_point Sender::at(double seconds) const
{
    // Past a few years the deadline is as good as never.
    if (!(seconds < 1e8))
        return Clock::time_point::max();
    return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

Sender::Wake Sender::waitUntil(Clock::time_point deadline)
{
    for (;;) {
        if (stopRequested())
            return Stop;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return Due;
        const qint64 left = deadline == Clock::time_point::max()
            ? -1 : std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
        // No events asked for: poll() tells a hang-up or an error all the same.
        pollfd watch{output.descriptor(), 0, 0};
        if (pollOrStop(&watch, 1, left) > 0) {
            lostAs = output.lost(watch.revents);
            return Lost;
        }
    }
}

// A frame is late when the sender could not run for a while after it fell
// due, as under SIGSTOP or on a busy machine: a receiver never sends the
// frames it missed in a burst. A line that takes its time is no reason, as
// the sender was writing meanwhile.
bool Sender::isLate(double due) const
{
    const auto slack = std::chrono::duration<double>(std::max(3 * source.secondsPerPiece(), 0.1));
    return Clock::now() - std::max(at(due), ready) > slack;
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

// The whole piece, in chunks where asked; after a stop the chunks left go
// without their gaps, so that the frame is out at once.
Sender::End Sender::send(const Outgoing &piece)
{
    const Clock::time_point began = Clock::now();
    if (pieces == 0)
        firstSent = began;
    const int step = options.chunk > 0 ? options.chunk : piece.bytes.size();
    for (int done = 0, part = 0; done < piece.bytes.size(); done += step, ++part) {
        if (part > 0) {
            const auto gap = std::chrono::duration<double>(options.chunkGap * part);
            if (waitUntil(began + std::chrono::duration_cast<Clock::duration>(gap)) == Lost)
                return endFrom(lostAs);
        }
        int written = 0;
        const Output::Result result = output.write(piece.bytes.constData() + done,
                                                   qMin(step, piece.bytes.size() - done),
                                                   [this] { return runIsOver(); }, written);
        if (result == Output::GaveUp && done + written == 0) {
            // Nothing of this frame went out: the run ends before it.
            complain(output.failure() + QStringLiteral("; stopped before the next frame"));
            stalledFor = std::chrono::duration<double>(Clock::now() - (pieces > 0 ? lastSent : began)).count();
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
    lastSent = Clock::now();
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
        if (!countingChosen) {
            sentFrames = StreamFramer(counted());
            countingChosen = true;
        }
        countFrames(sentFrames.feed(piece.bytes));
        break;
    }
}

void Sender::countFrames(const QVector<AssembledFrame> &frames)
{
    for (const AssembledFrame &frame : frames) {
        // Read as linkscope-dump reads it: Spektrum's failsafe is in its mode byte.
        readAssembled(frame, reading);
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
                     .arg(bytes, 0, 'g', 4).arg(period * 1000, 0, 'g', 4).arg(options.baud / double(options.line.bitsPerByte()), 0, 'g', 6)
                     .arg(options.baud).arg(options.line.bitsPerByte()));
    if (options.chunk > 0 && std::ceil(bytes / options.chunk - 1) * options.chunkGap > period)
        complain(QStringLiteral("pieces of %1 %2 %3 ms apart take longer than the %4 ms between frames; sending "
                                "back to back").arg(options.chunk)
                     .arg(options.chunk == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"))
                     .arg(options.chunkGap * 1000, 0, 'g', 4).arg(period * 1000, 0, 'g', 4));
}

void Sender::tellWarnings()
{
    for (const QString &warning : source.takeWarnings())
        complain(warning);
}

Sender::End Sender::run()
{
    // --rate max asks for no pace, so none is too fast.
    if (!options.unpaced)
        warnIfTooFast();
    start = ready = Clock::now();
    Outgoing piece;
    for (;;) {
        // Time spent waiting for a pipe's input is no stall of the sender:
        // what comes late goes as soon as it is here.
        const Clock::time_point asked = Clock::now();
        if (stopRequested() || !source.next(piece))
            break;
        ready += Clock::now() - asked;
        tellWarnings();
        const bool beyondEnd = options.duration >= 0 && piece.due >= options.duration;
        if (!beyondEnd && inDropout(piece.due)) {
            ++dropped;
            continue;
        }
        // Unpaced, nothing more comes where the schedule says never.
        if (options.unpaced && (beyondEnd || piece.due == Outgoing::never))
            break;
        const Wake wake = options.unpaced ? Due : waitUntil(at(beyondEnd ? options.duration : piece.due));
        if (wake == Lost)
            return endFrom(lostAs);
        if (wake == Stop || beyondEnd)
            break;
        if (!options.unpaced && isLate(piece.due)) {
            ++late;
            continue;
        }
        const End end = send(piece);
        ready = Clock::now();
        if (end != Done || pieces == options.count || runIsOver())
            return end;
    }
    tellWarnings();
    if (!stopRequested() && !source.error().isEmpty()) {
        why = source.error();
        return Failed;
    }
    return Done;
}

void Sender::drained(const Output::Drained &port)
{
    unsent = port.left;
    // The frames went out only now that the port has sent them.
    if (port.waited && port.left == 0 && pieces > 0)
        lastSent = Clock::now();
}

void Sender::summarise(bool replay)
{
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (replay)
        countFrames(sentFrames.flush());
    const qint64 frames = live + failsafe + damaged;
    std::fprintf(stderr, "frames sent: %lld (live %lld, failsafe %lld, damaged %lld)\n", frames, live, failsafe,
                 damaged);
    if (replay)
        std::fprintf(stderr, "pieces sent: %lld, stray bytes among them: %lld\n", pieces,
                     sentFrames.strayBytes() + sentFrames.keptBytes());
    if (dropped > 0)
        std::fprintf(stderr, "frames dropped out: %lld\n", dropped);
    if (late > 0)
        std::fprintf(stderr, "frames skipped: %lld (late)\n", late);
    std::fprintf(stderr, "time: %.3f s\n", seconds);
    // While sending only: silence after failsafe or at the end is no
    // slowness. Paced, the last frame holds the line for its period too, or
    // n frames on time would read as n over n - 1 periods.
    double sending = std::chrono::duration<double>(lastSent - firstSent).count();
    if (!options.unpaced)
        sending += source.secondsPerPiece();
    // Frames that went into a buffer nobody empties have no rate to tell.
    if (frames > 0 && unsent > 0)
        std::fprintf(stderr, "rate while sending: not known: %d %s still waited to go out at the end, so the frames "
                     "may not have been read (is anything reading the line?)\n", unsent, unsent == 1 ? "byte" : "bytes");
    else if (frames > 0 && stalledFor >= 0)
        std::fprintf(stderr, "rate while sending: not known: the line took nothing for the last %.3f s, so the frames "
                     "may not have been read (is anything reading it?)\n", stalledFor);
    else if (frames > 0 && sending > 0)
        std::fprintf(stderr, "rate while sending: %.2f frames/s\n", double(frames) / sending);
    if (options.corrupt > 0)
        std::fprintf(stderr, "seed: %u\n", options.seed);
}

} // namespace

int runSend(const SendOptions &given)
{
    if (given.answer)
        return runAnswer(given);
    SendOptions options = given;
    std::unique_ptr<OutgoingSource> source;
    const RecordingReader *replayed = nullptr;
    if (!options.replayPath.isEmpty()) {
        auto replay = std::make_unique<ReplaySource>(options.replayPath, options.input, options.baud,
                                                     options.replayFamilies, options.findReplayFamily,
                                                     options.rate, options.speed, options.loop);
        QString error;
        if (!replay->open(error)) {
            complain(error);
            return 1;
        }
        const RecordingReader &recording = replay->recording();
        replayed = &recording;
        // The family found sets the port's line, unless it was given.
        const FamilyDescriptor *found = recording.foundFamily();
        QString said = recording.foundText();
        if (found && !options.lineGiven && options.target != QLatin1String("-")) {
            options.line = found->line;
            options.baud = found->line.baud;
            said += QStringLiteral("; sending at %1").arg(found->line.text());
        }
        if (!said.isEmpty())
            complain(said);
        source = std::move(replay);
    } else {
        source.reset(new FrameGenerator(options));
    }

    catchStopSignals();
    Output output;
    if (!output.open(options.target, options.line, options.lowLatency, !options.quiet, options.stdoutClosed)) {
        complain(output.failure());
        return 1;
    }
    // A capture cut into frames counts them as they went, by the families it
    // was cut by; records and timed bytes by every family, as dump finds them.
    const auto counted = [&] {
        return replayed && replayed->framed() ? replayed->families() : countedFamilies(options);
    };
    Sender sender(options, *source, output, counted);
    const Sender::End end = sender.run();
    if (end == Sender::Done)
        sender.drained(output.drain());
    output.close();
    // Whoever closed standard output wants no error, but the summary still
    // tells what went out, as linkscope-dump's does.
    if (!options.quiet)
        sender.summarise(!options.replayPath.isEmpty());
    // Bytes went, but no frame of the families named: say why.
    if (replayed && replayed->framed() && !options.findReplayFamily && sender.framesSent() == 0
        && sender.replayedBytes() > 0) {
        QStringList names;
        for (const FamilyDescriptor *family : replayed->families())
            names << QLatin1String(family->recordName);
        complain(QStringLiteral("no frames of %1 in %2 bytes of %3; --family auto finds which family they are")
                     .arg(names.join(QStringLiteral(", ")))
                     .arg(sender.replayedBytes())
                     .arg(options.replayPath == QLatin1String("-") ? QStringLiteral("standard input")
                                                                   : options.replayPath));
    }
    if (end == Sender::Failed) {
        complain(sender.failure());
        return 1;
    }
    return 0;
}
