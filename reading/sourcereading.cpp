// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/sourcereading.h"

#include "cli/messages.h"
#include "reading/familydetector.h"
#include "reading/source.h"
#include "serial/lowlatency.h"

#include <cmath>
#include <limits>

namespace {

// What --family auto keeps of a capture while it looks for the family, to
// read it again once found; a capture's byte times take eight times more.
constexpr qint64 keptWhileLooking = 32 << 20;
constexpr qint64 keptWhileLookingTimed = 4 << 20;

} // namespace

SourceReading::SourceReading(int id, const ReadOptions &options, const QElapsedTimer &clock, RunLimits &limits)
    : id(id), options(options), clock(clock), limits(limits), families(options.families), line(options.line),
      stage(options.families), remedy(LowLatencyMode().remedy())
{
    reading.memory = &telemetryMemory;
}

void SourceReading::begin(const Source &source)
{
    live = source.kind != Source::File;
    lineTimed = source.kind == Source::Port || source.terminal;
    onPort = source.kind == Source::Port;
    // What comes from a port or terminal is the line's own bytes.
    if (source.kind != Source::Port && !source.terminal)
        capture = std::make_unique<CaptureForm>(options.input, live, clock, options.source);
    if (capture && options.captureClock)
        capture->keepCaptureClock();
    if (capture)
        capture->setChannel(options.channel);
    // A capture is looked through for every family; a port at each setting in turn.
    if (options.autoDetect && !onPort)
        startLooking(options.families);
}

void SourceReading::setFrameSink(FrameSink *to)
{
    sink = to;
    if (sink)
        sink->setFamilies(id, families);
}

LinePace SourceReading::pace() const
{
    LinePace pace;
    pace.byteMs = line.bitsPerByte() * 1000.0 / line.baud;
    for (const FamilyDescriptor *family : families) {
        if (family->gapMs > 0 && (pace.shortestGapMs == 0 || family->gapMs < pace.shortestGapMs))
            pace.shortestGapMs = family->gapMs;
    }
    return pace;
}

bool SourceReading::read(const char *data, int size)
{
    if (!capture) {
        const qint64 now = live ? clock.elapsed() : 0;
        return take({data, size, now, now});
    }
    return capture->feed(data, size, pace(), [this](const TimedBytes &bytes) { return take(bytes); });
}

void SourceReading::endOfCapture()
{
    if (capture)
        capture->finish(pace(), [this](const TimedBytes &bytes) { return take(bytes); });
}

bool SourceReading::takeRead(const QByteArray &bytes)
{
    const qint64 now = clock.elapsed();
    return take({bytes.constData(), int(bytes.size()), now, now});
}

// Bytes that arrived from fromMs to toMs. Returns false when the run should end.
bool SourceReading::take(const TimedBytes &bytes)
{
    // Bytes read again once the family is found were taken when they came.
    if (!readingAgain && bytesTo && !bytesTo->takeBytes(id, bytes.data, bytes.size))
        return false;
    if (search)
        return look(bytes);
    const bool byWallClock = wallTimed();
    const double now = !byWallClock ? 0.0 : bytes.arrivedAt >= 0 ? bytes.arrivedAt : double(clock.nsecsElapsed()) / 1e9;
    show(stage.take(bytes, byWallClock, lineTimed, now, pace()));
    if (sink)
        sink->setStrayBytes(id, stage.stream().strayBytes());
    tellBunching();
    const qint64 keptFrom = stage.forgetSettled();
    if (capture)
        capture->forgetBefore(offsetBase + keptFrom);
    if (sink && !sink->readDone(live))
        limits.ended = true;
    return !limits.stopNow() && !pastDuration;
}

void SourceReading::settle()
{
    show(stage.settle(clock.elapsed()));
    if (sink)
        sink->setStrayBytes(id, stage.stream().strayBytes());
    if (sink && !sink->readDone(true))
        limits.ended = true;
}

void SourceReading::show(const QVector<AssembledFrame> &found)
{
    for (const AssembledFrame &frame : found) {
        if (limits.ended || pastDuration)
            return;
        double readAt = -1;
        const double t = frameTime(frame, &readAt);
        // Where the time came from: a capture's own, or the read that
        // brought the frame, for the first frame of each read.
        const char *timeFrom = std::isnan(t) ? nullptr
            : capturedTimes()                ? "capture"
            : stage.firstOfRead(readAt)      ? "read"
                                             : "wire";
        // A capture's --duration is measured in its own times.
        if (!live && options.duration > 0 && t - options.durationFrom > options.duration) {
            // Of captures merged by time this one is over; the others read on to the end.
            pastDuration = true;
            limits.ended = limits.ended || !options.captureClock;
            return;
        }
        readAssembled(frame, reading);
        pairing.take(reading, frame.bytes.size(), t * 1000, line.bitsPerByte() * 1000.0 / line.baud);
        stats.count(reading, t);
        if (sink)
            sink->take(Frame{id, reading, t, timeFrom, offsetBase + frame.offset, frame.bytes});
        if (sink && (reading.pollKey >= 0 || reading.replyKey >= 0))
            sink->setPairing(id, pairing);
        if (++limits.frames == options.count)
            limits.ended = true;
    }
}

// The time a frame's last byte arrived: the time of the read that brought
// it, less, on a line, the bytes that came after it in that read at ten
// bits a byte. A capture that has the time of each byte tells it exactly,
// counted from its first byte; a hex dump, like a file, tells none.
double SourceReading::frameTime(const AssembledFrame &frame, double *readAt) const
{
    const qint64 end = frame.offset + frame.bytes.size();
    if (capturedTimes())
        return capture->timeOf(offsetBase + end - 1);
    if (!wallTimed())
        return std::numeric_limits<double>::quiet_NaN();
    const double t = stage.readTime(end, lineTimed, line, readAt);
    // Bytes that waited before the run began, or that a read brought faster
    // than the line carries them, are no earlier than what came before.
    return qMax(t, stats.timed() ? stats.lastTime() : 0.0);
}

// The live view and the picture learn when reads start or stop coming in
// bunches, and at what period.
void SourceReading::tellBunching()
{
    const ReadBunching &reads = stage.reads();
    const double period = reads.bunched() ? double(qRound(reads.readPeriodMs())) : 0.0;
    if (!sink || period == bunchingTold)
        return;
    bunchingTold = period;
    sink->setBunching(id, period, remedy);
}

void SourceReading::listenAt(const LineSettings &setting, const QVector<const FamilyDescriptor *> &candidates)
{
    line = setting;
    startLooking(candidates);
}

void SourceReading::startLooking(const QVector<const FamilyDescriptor *> &candidates)
{
    // What came at another line setting is no help at this one.
    const qint64 looked = search ? search->keptBytes() : 0;
    offsetBase += looked;
    triedBytes += looked;
    search = std::make_unique<FamilySearch>(candidates);
}

// Bytes of --family auto while the family is not known: taken already,
// looked through, and kept to be read again once it is.
bool SourceReading::look(TimedBytes bytes)
{
    if (wallTimed() && bytes.arrivedAt < 0)
        bytes.arrivedAt = double(clock.nsecsElapsed()) / 1e9;
    QVector<double> times;
    if (!onPort && capturedTimes())
        times = capture->timesOf(offsetBase + search->keptBytes(), bytes.size);
    if (search->look(bytes, onPort, times, pace()))
        return lockOn();
    // A long capture without frames is not kept whole: the oldest goes.
    const qint64 gone = search->keepAtMost(capturedTimes() ? keptWhileLookingTimed : keptWhileLooking);
    if (gone > 0) {
        offsetBase += gone;
        notKeptBytes += gone;
        if (capture)
            capture->forgetBefore(offsetBase);
    }
    return !limits.stopNow();
}

// The family is known: from now on it alone is read, from the first byte kept.
bool SourceReading::lockOn()
{
    const FamilyFinder &finder = search->finder();
    families = finder.families();
    if (!onPort)
        line = families.first()->line;
    stage.restart(families);
    if (sink)
        sink->setFamilies(id, families);
    const QString where = onPort ? line.text()
        : std::isnan(finder.time()) ? QStringLiteral("offset %1").arg(finder.offset())
                                    : QStringLiteral("%1 s").arg(finder.time(), 0, 'f', 6);
    complain(QStringLiteral("found %1%2 at %3%4")
                 .arg(finder.name(), options.named ? QStringLiteral(" in ") + options.source : QString(), where,
                      families.size() > 1 ? QStringLiteral("; reading the window's five families") : QString()));
    kept = search->takeKept();
    search.reset();
    // The live view, once it has started, shows the frames that decided.
    if (options.liveView && !sink) {
        readLater = true;
        return !limits.stopNow();
    }
    return readKeptAgain();
}

bool SourceReading::readKeptAgain()
{
    readLater = false;
    const QVector<FamilySearch::Kept> chunks = std::move(kept);
    kept.clear();
    readingAgain = true;
    bool more = true;
    for (const FamilySearch::Kept &chunk : chunks) {
        more = take(chunk.timed());
        if (!more)
            break;
    }
    readingAgain = false;
    return more;
}

void SourceReading::end()
{
    // Frames the end of the bytes settles, as when a damaged frame came
    // last; a stop signal or a limit leaves the partial frame it cut unsettled.
    if (search && !cutShort()) {
        search->finder().finish();
        if (search->finder().found())
            lockOn();
    }
    if (!cutShort())
        show(stage.flush());
    if (sink)
        sink->setStrayBytes(id, unframedBytes());
    pairing.finish();
    if (sink && pairing.counts().any())
        sink->setPairing(id, pairing);
}

qint64 SourceReading::bytesRead() const
{
    return offsetBase + (search ? search->keptBytes() : stage.stream().bytesFed());
}

qint64 SourceReading::unframedBytes() const
{
    const StreamFramer &stream = stage.stream();
    return search ? offsetBase + search->keptBytes()
                  : stream.strayBytes() + (cutShort() ? 0 : stream.keptBytes());
}

QString SourceReading::summary(const QString &sinkLines) const
{
    const StreamFramer &stream = stage.stream();
    QString text = summed().framesText();
    text += QStringLiteral("stray bytes: %1\n").arg(unframedBytes());
    // Bytes that --family auto read but records do not count from.
    if (!search && triedBytes > 0)
        text += QStringLiteral("read at other line settings while looking for the family: %1\n")
                    .arg(counted(triedBytes, "byte", "bytes"));
    if (!search && notKeptBytes > 0)
        text += QStringLiteral("read while looking for the family and not kept to read again: %1\n")
                    .arg(counted(notKeptBytes, "byte", "bytes"));
    // A frame a stop signal cut short is no stray bytes.
    if (stopRequested() && stream.keptBytes() > 0)
        text += QStringLiteral("unfinished at the stop: %1\n").arg(counted(stream.keptBytes(), "byte", "bytes"));
    if (stream.framedWithoutTimes() > 0)
        text += QStringLiteral("framed without byte times: %1, by their period and rules\n")
                    .arg(counted(stream.framedWithoutTimes(), "frame", "frames"));
    if (stream.telemetrySlots() > 0)
        text += QStringLiteral("SBUS2 telemetry slots: %1 (%2 bytes, not stray)\n")
                    .arg(stream.telemetrySlots())
                    .arg(stream.telemetrySlotBytes());
    if (pairing.counts().any())
        text += pairing.summary() + QLatin1Char('\n');
    text += sinkLines;
    if (pastDuration)
        text += QStringLiteral("stopped at --duration %1 s of the capture's time\n").arg(options.duration);
    if (capture && capture->reader().form() != CaptureReader::Undecided)
        text += QStringLiteral("read as: %1%2%3\n")
                    .arg(capture->reader().formName(),
                         capture->reader().channel().isEmpty()
                             ? QString()
                             : QStringLiteral(", the rows of analyser %1").arg(QString::fromUtf8(capture->reader().channel())),
                         capture->reader().forced() ? QStringLiteral(" (as --input says)") : QString());
    // Never silently: another analyser's bytes are another source.
    if (capture && capture->reader().otherChannelRows() > 0 && options.channel.isEmpty())
        text += QStringLiteral("left out: %1 of other analysers (%2); give each its own run, or the file alone to "
                               "read two of them in one timeline\n")
                    .arg(counted(capture->reader().otherChannelRows(), "row", "rows"),
                         capture->reader().otherChannels().join(QStringLiteral(", ")));
    if (capturedTimes())
        text += QStringLiteral("left out for line errors: %1\n")
                    .arg(counted(capture->reader().leftOutBytes(), "byte", "bytes"));
    text += summed().rateText(live || capturedTimes());
    if (stage.reads().everBunched())
        text += ReadBunching::note(stage.reads().bunchedPeriodMs()) + QStringLiteral("; remedy: ") + remedy
                + QLatin1Char('\n');
    return text;
}

QString SourceReading::noFramesText() const
{
    if (search && onPort)
        return QStringLiteral("no family found in %1 bytes at %2").arg(bytesRead()).arg(FamilyDetector().settingsText());
    if (search) {
        QString text = QStringLiteral("no family found in %1 bytes: no family gave %2 good frames in a row")
                           .arg(bytesRead())
                           .arg(FamilyFinder::framesInRow);
        const QString run = search->finder().longestRun();
        if (!run.isEmpty())
            text += QStringLiteral(" (the longest run: %1)").arg(run);
        return text;
    }
    QStringList names;
    for (const FamilyDescriptor *family : families)
        names << QLatin1String(family->recordName);
    const QString last = names.takeLast();
    const QString looked = names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
    return QStringLiteral("no frames of %1 in %2 bytes%3; --family auto %4")
        .arg(looked)
        .arg(stage.stream().bytesFed())
        .arg(onPort ? QStringLiteral(" at ") + line.text() : QString(),
             onPort ? QStringLiteral("tries every family's line settings until one family's frames come")
                    : QStringLiteral("finds which family they are"));
}
