// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/answerer.h"

#include "cli/stopsignals.h"
#include "decode/families/framereading.h"
#include "decode/framing/streamframer.h"
#include "send/output.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <QRandomGenerator>

#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class Answerer
{
public:
    Answerer(const SendOptions &options, Output &port)
        : options(options), port(port), framer({options.family}), random(options.seed)
    {
    }
    // Until a stop, the duration, the count of answers (true), or a failure
    // (false), said in why.
    bool run();
    void summarise() const;
    QString failure() const { return why; }

private:
    // The answers to the polls among frames, read at readAt; false once done.
    bool answer(const QVector<AssembledFrame> &frames, Clock::time_point readAt);
    // A poll whose family waits for the next byte to be sure of it
    // (SmartPort's 7E ID): answered now, as firmware does, not once the
    // next poll has come.
    bool answerHeld(Clock::time_point readAt);
    // Answers one poll, bytes long, unless the wire has passed it (bytes
    // came after it, so an answer now would fall into the next poll's
    // turn); false once done.
    bool answerPoll(const QByteArray &poll, Clock::time_point readAt, bool passed);

    const SendOptions &options;
    Output &port;
    StreamFramer framer;
    FrameReading reading;
    QRandomGenerator random; // which polls --answer-miss leaves
    // On one wire the port reads back what it wrote: that is no poll.
    QByteArray ownEcho;
    QByteArray recent; // the last bytes read, for the ones the framer holds
    qint64 heldPollAt = -1; // the stream offset of a poll answered early
    Clock::time_point start = Clock::now();
    qint64 polls = 0, answers = 0, missed = 0, tooLate = 0;
    double shortestMs = 0, longestMs = 0, totalMs = 0;
    QString why;
};

bool Answerer::run()
{
    char buffer[4096];
    for (;;) {
        const double elapsedMs = msBetween(start, Clock::now());
        if (stopRequested() || (options.duration >= 0 && elapsedMs >= options.duration * 1000))
            return true;
        // A line that goes quiet settles a partial frame in time.
        qint64 waitNs = 20000000;
        if (options.duration >= 0)
            waitNs = qMin(waitNs, qint64((options.duration * 1000 - elapsedMs) * 1e6) + 1);
        pollfd ready{port.descriptor(), POLLIN, 0};
        const int events = pollOrStop(&ready, 1, waitNs);
        const Clock::time_point readAt = Clock::now();
        const qint64 nowMs = qint64(msBetween(start, readAt));
        if (events <= 0) {
            if (!answer(framer.dropStale(nowMs), readAt))
                return why.isEmpty();
            continue;
        }
        if (!(ready.revents & POLLIN)) {
            port.lost(ready.revents);
            why = port.failure();
            return false;
        }
        const ssize_t n = ::read(port.descriptor(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0) {
            // A device that went away reads as nothing, or as EIO.
            port.lost(POLLHUP);
            why = port.failure();
            return false;
        }
        recent.append(buffer, int(n));
        if (recent.size() > 1024)
            recent.remove(0, recent.size() - 256);
        // A write that failed ends the run as a failure, not as done.
        if (!answer(framer.feed(QByteArray(buffer, int(n)), nowMs), readAt) || !answerHeld(readAt))
            return why.isEmpty();
    }
}

bool Answerer::answer(const QVector<AssembledFrame> &frames, Clock::time_point readAt)
{
    for (const AssembledFrame &frame : frames) {
        if (!frame.crcOk)
            continue;
        if (frame.offset == heldPollAt)
            continue;
        if (!ownEcho.isEmpty() && frame.bytes == ownEcho) {
            ownEcho.clear();
            continue;
        }
        ownEcho.clear();
        readAssembled(frame, reading);
        const bool passed = frame.offset + frame.bytes.size() < framer.bytesFed();
        if (reading.pollKey >= 0 && !answerPoll(frame.bytes, readAt, passed))
            return false;
    }
    return true;
}

bool Answerer::answerHeld(Clock::time_point readAt)
{
    const int held = framer.keptBytes();
    const qint64 at = framer.bytesFed() - held;
    if (held <= 0 || held > recent.size() || at == heldPollAt)
        return true;
    const FamilyDescriptor &family = *options.family;
    const QByteArray bytes = recent.right(held);
    // Whole where the next frame could start right after it.
    const QByteArray followed = bytes + family.startBytes.left(1);
    if (family.startBytes.isEmpty() || family.frameLength(followed.constData(), followed.size()) != held
        || !family.check(bytes.constData(), held))
        return true;
    family.read(bytes.constData(), held, reading);
    if (reading.pollKey < 0)
        return true;
    heldPollAt = at;
    return answerPoll(bytes, readAt, false);
}

bool Answerer::answerPoll(const QByteArray &poll, Clock::time_point readAt, bool passed)
{
    ++polls;
    const QByteArray reply = options.family->answer(poll.constData(), poll.size(), answers + missed);
    if (reply.isEmpty())
        return true;
    if (options.answerMiss > 0 && random.generateDouble() < options.answerMiss) {
        ++missed;
        return true;
    }
    // Firmware answers only the poll it has just read. One read late (a
    // busy machine, reads held back by an adapter) or held up past the
    // next poll's first byte (--answer-late beyond the poll interval) is
    // left: that poll's turn has begun.
    if (!passed)
        std::this_thread::sleep_until(readAt + std::chrono::microseconds(qint64(options.answerAfterMs * 1000)));
    pollfd waiting{port.descriptor(), POLLIN, 0};
    if (passed || (::poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN))) {
        ++tooLate;
        return true;
    }
    const double afterMs = msBetween(readAt, Clock::now());
    int written = 0;
    if (port.write(reply.constData(), reply.size(), [] { return stopRequested(); }, written) != Output::Written) {
        why = port.failure();
        return false;
    }
    ownEcho = reply;
    shortestMs = answers == 0 ? afterMs : qMin(shortestMs, afterMs);
    longestMs = qMax(longestMs, afterMs);
    totalMs += afterMs;
    if (++answers == options.count)
        return false;
    return true;
}

void Answerer::summarise() const
{
    std::fprintf(stderr, "polls read: %lld, answered: %lld\n", polls, answers);
    if (tooLate > 0)
        std::fprintf(stderr, "left unanswered as the next poll had begun: %lld\n", tooLate);
    if (options.answerMiss > 0)
        std::fprintf(stderr, "left unanswered on purpose (--answer-miss): %lld; seed: %u\n", missed, options.seed);
    if (answers > 0)
        std::fprintf(stderr, "answers began after the read that brought their poll: min %.3f / mean %.3f / max %.3f ms\n",
                     shortestMs, totalMs / double(answers), longestMs);
    std::fprintf(stderr, "time: %.3f s\n", msBetween(start, Clock::now()) / 1000);
}

} // namespace

int runAnswer(const SendOptions &options)
{
    catchStopSignals();
    Output port;
    if (!port.open(options.target, options.line, options.lowLatency, !options.quiet, options.stdoutClosed, true)) {
        std::fprintf(stderr, "linkscope-send: %s\n", qPrintable(port.failure()));
        return 1;
    }
    Answerer answerer(options, port);
    const bool ok = answerer.run();
    if (ok)
        port.drain();
    port.close();
    if (!options.quiet)
        answerer.summarise();
    if (!ok) {
        std::fprintf(stderr, "linkscope-send: %s\n", qPrintable(answerer.failure()));
        return 1;
    }
    return 0;
}
