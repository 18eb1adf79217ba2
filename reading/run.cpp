// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/run.h"

#include "cli/messages.h"
#include "cli/stopsignals.h"
#include "decode/capture/jsonlines.h"
#include "reading/jsonframes.h"
#include "reading/timeline.h"

#include <QEventLoop>
#include <QFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace {

// The first block of a file, read without moving on.
QByteArray headOf(int fd)
{
    QByteArray head(1 << 16, Qt::Uninitialized);
    const ssize_t n = ::pread(fd, head.data(), size_t(head.size()), 0);
    head.truncate(int(qMax<ssize_t>(n, 0)));
    return head;
}

// The time of a capture's first byte (of its analyser's rows), read ahead
// without moving on; NaN where it holds none.
double firstTimeOf(int fd, const ReadOptions &options)
{
    CaptureReader probe(options.input);
    probe.setChannel(options.channel);
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, block.data(), size_t(block.size()), at);
        if (n <= 0 || !probe.feed(block.constData(), int(n)))
            break;
        at += n;
        const QVector<double> times = probe.takeTimes();
        if (!times.isEmpty())
            return times.first();
        probe.takeBytes();
    }
    probe.finish();
    const QVector<double> times = probe.takeTimes();
    return times.isEmpty() ? std::numeric_limits<double>::quiet_NaN() : times.first();
}

} // namespace

ReadingRun::ReadingRun(const ReadOptions &given) : ReadingRun(QVector<ReadOptions>{given})
{
}

ReadingRun::ReadingRun(const QVector<ReadOptions> &sources) : options(sources.first())
{
    for (const ReadOptions &given : sources) {
        auto wire = std::make_unique<Wire>();
        wire->options = given;
        wire->reading = std::make_unique<SourceReading>(int(wires.size()), wire->options, runClock, limits);
        wires.push_back(std::move(wire));
    }
}

ReadingRun::~ReadingRun() = default;

QString ReadingRun::sourceName(int index) const
{
    const QString &name = wires.at(size_t(index))->options.source;
    return name == QLatin1String("-") ? QStringLiteral("standard input") : name;
}

QStringList ReadingRun::sourceNames() const
{
    QStringList names;
    for (int i = 0; i < sourceCount(); ++i)
        names << sourceName(i);
    return names;
}

qint64 ReadingRun::frames() const
{
    qint64 n = 0;
    for (const auto &wire : wires)
        n += wire->reading->frames();
    return n;
}

int ReadingRun::open()
{
    catchStopSignals();
    for (const auto &wire : wires) {
        wire->opened = openSource(wire->options.source, wire->options.sourcePath, wire->options.stdinClosed);
        if (wire->opened.kind != Source::Invalid)
            continue;
        for (const auto &other : wires) {
            if (other->opened.fd > STDIN_FILENO)
                ::close(other->opened.fd);
            other->opened.fd = -1;
        }
        // Stopped while waiting for a FIFO's writer: nothing came, nothing failed.
        if (wire->opened.interrupted)
            return 0;
        complain(wire->opened.error);
        return 1;
    }
    return -1;
}

bool ReadingRun::live() const
{
    return wires.front()->opened.kind != Source::File;
}

bool ReadingRun::allWiresDone() const
{
    for (const auto &wire : wires) {
        if (!wire->done)
            return false;
    }
    return true;
}

int ReadingRun::refuse() const
{
    // One file under two names would be read twice, one FIFO or port split
    // between two readers; one export's two analysers are two sources.
    for (int i = 1; i < sourceCount(); ++i) {
        const Wire &first = *wires.front(), &other = *wires.at(size_t(i));
        if (first.opened.inode != 0 && other.opened.inode == first.opened.inode
            && other.opened.device == first.opened.device && other.options.channel == first.options.channel) {
            complain(QStringLiteral("%1 and %2 are the same file; give two different sources")
                         .arg(sourceName(0), sourceName(i)));
            return 2;
        }
    }
    for (int i = 0; i < sourceCount(); ++i) {
        const Wire &wire = *wires.at(size_t(i));
        const bool line = wire.opened.kind == Source::Port || wire.opened.terminal;
        // Only a line has settings for the families to agree on.
        if (!wire.options.lineConflict.isEmpty() && line) {
            complain(wire.options.lineConflict);
            return 2;
        }
        if (wire.options.inputGiven && line) {
            complain(QStringLiteral("--input is for capture files and streams; %1 is a port").arg(wire.options.source));
            return 2;
        }
        // A capture's times are its own; a live source's are the run's.
        if ((wire.opened.kind == Source::File) != !live()) {
            const int file = wire.opened.kind == Source::File ? i : 0;
            complain(QStringLiteral("cannot put %1 and %2 in one timeline: %3 is a capture file, timed by its own "
                                    "clock, and %4 is read live; give two ports or streams, or two captures")
                         .arg(sourceName(0), sourceName(i), sourceName(file), sourceName(file == 0 ? i : 0)));
            return 2;
        }
        // Each setting is tried for a while, which two ports cannot share.
        if (sourceCount() > 1 && wire.options.autoDetect && wire.opened.kind == Source::Port) {
            complain(QStringLiteral("--family auto reads one port at a time; give %1 its families, as %1@crsf")
                         .arg(wire.options.source));
            return 2;
        }
    }
    return -1;
}

int ReadingRun::read(FrameSink *to, ByteSink *bytes)
{
    sink = to;
    runClock.start();
    const bool several = wires.size() > 1;
    if (several && to) {
        timeline = std::make_unique<Timeline>(*to, sourceCount(), live(), runClock, options.count,
                                              [this] { limits.ended = true; });
        sink = timeline.get();
        timeline->onHanding([this](const Frame &frame) { wires.at(size_t(frame.source))->reading->handedOn(frame); });
    }
    for (const auto &wire : wires) {
        // The timeline counts the frames it hands on, earliest first.
        if (timeline) {
            wire->options.count = -1;
            wire->reading->countHandedOn();
        }
        // Captures of one clock line up by its own times.
        wire->options.captureClock = several && !live();
        wire->options.named = several;
        wire->reading->begin(wire->opened);
        wire->reading->setByteSink(bytes);
        // A live view takes the frames once it has started.
        if (!options.liveView)
            wire->reading->setFrameSink(sink);
    }
    const int status = live() ? readLive() : readCaptures();
    for (const auto &wire : wires)
        endWire(*wire);
    stopWatching();
    for (const auto &wire : wires) {
        if (wire->opened.fd > STDIN_FILENO)
            ::close(wire->opened.fd);
    }
    return status;
}

// The source is done: what its end settles goes to the sink, and the other
// sources' frames wait for it no more.
void ReadingRun::endWire(Wire &wire)
{
    if (wire.done)
        return;
    wire.done = true;
    wire.reading->end();
    if (timeline)
        timeline->endSource(wire.reading->source());
}

QString ReadingRun::summary(const QString &sinkLines) const
{
    if (wires.size() == 1)
        return wires.front()->reading->summary(sinkLines);
    // Each source's figures under its name, then what became of the records.
    QString text;
    for (int i = 0; i < sourceCount(); ++i) {
        text += QStringLiteral("%1:\n").arg(sourceName(i));
        const QStringList lines = wires.at(size_t(i))->reading->summary(QString()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines)
            text += QStringLiteral("  ") + line + QLatin1Char('\n');
    }
    return text + (timeline ? timeline->ownLines() : QString()) + sinkLines;
}

int ReadingRun::finish(int status, bool failed, const QString &sinkLines)
{
    QStringList lost, errors;
    bool summed = status == 0;
    for (const auto &wire : wires) {
        if (wire->lastError.isEmpty())
            wire->lastError = wire->reading->captureError();
        if (!wire->lost.isEmpty())
            lost << wire->lost;
        if (!wire->lastError.isEmpty())
            errors << wire->lastError;
    }
    // A source that could not be opened or read has said why; the records
    // it gave still go out.
    summed = summed || !lost.isEmpty();
    failed = failed || !errors.isEmpty();
    // Standard error still takes the summary when standard output was closed (| head).
    if (summed && options.summary)
        tell(summary(sinkLines).toLocal8Bit());
    // Bytes came, but nothing of the families looked for: a failure, not a
    // quiet success, and the way out is named.
    bool noFrames = false;
    for (int i = 0; summed && i < sourceCount(); ++i) {
        const SourceReading &reading = *wires.at(size_t(i))->reading;
        if (reading.framesRead() > 0 || reading.bytesRead() == 0 || reading.durationOver())
            continue;
        noFrames = true;
        complain(wires.size() == 1 ? reading.noFramesText()
                                   : QStringLiteral("%1: %2").arg(sourceName(i), reading.noFramesText()));
    }
    for (int i = 0; i < sourceCount(); ++i) {
        const Wire &wire = *wires.at(size_t(i));
        if (wire.opened.kind == Source::File && options.duration > 0 && !wire.reading->capturedTimes()
            && wire.reading->frames() > 0)
            complain(QStringLiteral("--duration was not applied: %1 holds no times (only a Saleae CSV export does)")
                         .arg(wire.options.source));
    }
    // Said last, where a person looks first.
    for (const QString &why : lost)
        complain(why);
    for (const QString &why : errors)
        complain(why);
    return status != 0 ? status : failed || (noFrames && options.noFramesFail) ? 1 : 0;
}

int ReadingRun::readCaptures()
{
    if (wires.size() == 1)
        return readFile(*wires.front());
    // Each capture must tell its times, or there is no order to merge them in.
    for (int i = 0; i < sourceCount(); ++i) {
        Wire &wire = *wires.at(size_t(i));
        const QByteArray head = headOf(wire.opened.fd);
        // An empty capture has nothing to be out of time with.
        if (head.isEmpty())
            continue;
        if (wire.options.jsonLines && !wire.options.inputGiven && looksLikeJsonLines(head)) {
            complain(QStringLiteral("cannot merge %1 with another source: its records' times count from the start "
                                    "of the run that wrote them, a clock no other source shares; record both in one "
                                    "run (linkscope-dump SRC1 SRC2 --format jsonl) and read that alone")
                         .arg(sourceName(i)));
            return 2;
        }
        CaptureReader probe(wire.options.input);
        probe.feed(head.constData(), head.size());
        if (head.size() < (1 << 16))
            probe.finish();
        if (probe.form() != CaptureReader::Undecided && !probe.hasTimes()) {
            complain(QStringLiteral("cannot merge %1 and %2 by time: %3 holds no times (it reads as %4; only a "
                                    "Saleae CSV export tells each byte's time); read each alone")
                         .arg(sourceName(0), sourceName(1), sourceName(i), probe.formName()));
            return 2;
        }
    }
    // --duration counts from the earliest first byte of both.
    if (options.duration > 0) {
        double from = std::numeric_limits<double>::infinity();
        for (const auto &wire : wires) {
            const double first = firstTimeOf(wire->opened.fd, wire->options);
            if (first < from)
                from = first;
        }
        for (const auto &wire : wires)
            wire->options.durationFrom = std::isfinite(from) ? from : 0;
    }
    // The source whose frames run out first is read on, a block at a time,
    // so that no capture is held whole.
    int status = 0;
    while (!limits.stopNow()) {
        Wire *next = nullptr;
        for (const auto &wire : wires) {
            if (!wire->done && (!next || (timeline && !timeline->hasFrames(wire->reading->source()))))
                next = wire.get();
            if (next && (!timeline || !timeline->hasFrames(next->reading->source())))
                break;
        }
        if (!next)
            break;
        if (readBlock(*next, status))
            continue;
        if (limits.stopNow())
            break;
        endWire(*next);
    }
    return status;
}

// One block of a capture into its reading. False where no more comes of
// it: its end, a read error (status 1), a capture that broke its form, or
// the end of the run.
bool ReadingRun::readBlock(Wire &wire, int &status)
{
    static char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(wire.opened.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR && !limits.stopNow())
            continue;
        if (n < 0) {
            if (errno != EINTR) {
                complain(QStringLiteral("cannot read %1: %2")
                             .arg(wire.options.source, QString::fromLocal8Bit(std::strerror(errno))));
                status = 1;
            }
            return false;
        }
        if (n == 0) {
            if (!limits.stopNow())
                wire.reading->endOfCapture();
            return false;
        }
        return wire.reading->read(buffer, int(n));
    }
}

int ReadingRun::readFile(Wire &wire)
{
    // A run of linkscope-dump's records is read as its frames, where asked.
    if (wire.options.jsonLines && sink && !wire.options.inputGiven && wire.options.source != QLatin1String("-")
        && looksLikeJsonLines(headOf(wire.opened.fd)))
        return readJson(wire);
    int status = 0;
    while (!limits.stopNow() && readBlock(wire, status)) {
    }
    return status;
}

int ReadingRun::readJson(Wire &wire)
{
    QFile file;
    if (!file.open(wire.opened.fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        wire.lastError = QStringLiteral("cannot read %1: %2").arg(wire.options.source, file.errorString());
        return 1;
    }
    QString error;
    if (readJsonFrames(file, wire.options.source, *sink, error, wire.options.sourceNamed))
        return 0;
    wire.lastError = error;
    return 1;
}

// The view takes over the terminal once the sources are open, so that a
// port that will not open says so on a plain terminal.
bool ReadingRun::startWatching(QEventLoop &loop)
{
    if (!options.liveView || !sink || limits.stopNow())
        return true;
    QString error;
    if (!sink->start(&error, [&loop] { loop.quit(); })) {
        sink = nullptr;
        complain(error);
        return false;
    }
    for (const auto &wire : wires)
        wire->reading->setFrameSink(sink);
    watching = true;
    holdMessages(true);
    return true;
}

void ReadingRun::stopWatching()
{
    FrameSink *active = wires.front()->reading->frameSink();
    if (!active)
        return;
    active->stop();
    if (watching)
        holdMessages(false);
    watching = false;
}
