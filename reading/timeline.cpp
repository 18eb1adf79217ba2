// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/timeline.h"

#include "cli/messages.h"

#include <cmath>

Timeline::Timeline(FrameSink &to, int sources, bool live, const QElapsedTimer &clock, qint64 count,
                   std::function<void()> reached)
    : to(to), queues(size_t(sources)), live(live), clock(clock), count(count), reached(std::move(reached))
{
}

void Timeline::take(const Frame &frame)
{
    queues[size_t(frame.source)].frames.push_back(
        Held{frame.reading, frame.t, frame.timeFrom, frame.offset, frame.bytes});
    release(false);
}

bool Timeline::readDone(bool isLive)
{
    release(false);
    return to.readDone(isLive);
}

void Timeline::stop()
{
    drain();
    to.stop();
}

void Timeline::endSource(int source)
{
    queues[size_t(source)].ended = true;
    release(false);
}

void Timeline::drain()
{
    release(true);
}

qint64 Timeline::held() const
{
    qint64 n = 0;
    for (const Queue &queue : queues)
        n += qint64(queue.frames.size());
    return n;
}

// The earliest frame waiting goes while no source still reading could bring
// an earlier one: each has a frame waiting, or has ended; live, a frame
// that waited holdS goes anyway. A frame without a time cannot wait for one.
void Timeline::release(bool all)
{
    const double now = double(clock.nsecsElapsed()) / 1e9;
    for (;;) {
        int first = -1;
        bool someoneEmpty = false;
        for (size_t i = 0; i < queues.size(); ++i) {
            const Queue &queue = queues[i];
            if (queue.frames.empty()) {
                someoneEmpty = someoneEmpty || !queue.ended;
                continue;
            }
            const double t = queue.frames.front().t;
            if (first < 0 || std::isnan(t) || t < queues[size_t(first)].frames.front().t)
                first = int(i);
            if (std::isnan(t))
                break;
        }
        if (first < 0)
            return;
        const double t = queues[size_t(first)].frames.front().t;
        if (!all && someoneEmpty && !std::isnan(t) && !(live && now - t > holdS))
            return;
        handOn(first);
    }
}

void Timeline::handOn(int source)
{
    Queue &queue = queues[size_t(source)];
    const Held &held = queue.frames.front();
    // --count counts the earliest frames, of whichever source.
    if (count >= 0 && handedOn >= count) {
        queue.frames.pop_front();
        return;
    }
    if (++handedOn == count && reached)
        reached();
    if (!std::isnan(held.t)) {
        if (held.t < lastOut)
            ++lateFrames;
        lastOut = qMax(lastOut, held.t);
    }
    const Frame frame{source, held.reading, held.t, held.timeFrom, held.offset, held.bytes};
    if (handing)
        handing(frame);
    to.take(frame);
    queue.frames.pop_front();
}

QString Timeline::ownLines() const
{
    QString text;
    if (lateFrames > 0)
        text += QStringLiteral("out of time order: %1, read more than %2 s after they came\n")
                    .arg(counted(lateFrames, "frame", "frames"))
                    .arg(holdS);
    return text;
}
