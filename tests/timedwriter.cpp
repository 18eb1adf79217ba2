// SPDX-License-Identifier: GPL-3.0-or-later
#include "timedwriter.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <unistd.h>

namespace {

double secondsNow()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Sleeps until the monotonic clock reads at, however often a signal wakes it.
void sleepUntil(double at)
{
    timespec until{time_t(std::floor(at)), long((at - std::floor(at)) * 1e9)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

} // namespace

TimedWriter::TimedWriter(int masterFd, const QByteArray &frame, double periodMs, double tickMs, double seconds)
    : worker(&TimedWriter::run, this, masterFd, frame, periodMs, tickMs, seconds)
{
}

double TimedWriter::lateShare() const
{
    const long long all = writes;
    return all > 0 ? double(lateWrites) / double(all) : 0.0;
}

TimedWriter::~TimedWriter()
{
    stop = true;
    worker.join();
}

void TimedWriter::run(int fd, QByteArray frame, double periodMs, double tickMs, double seconds)
{
    const double start = secondsNow();
    long long due = 0; // frames that fell due so far
    const double step = (tickMs > 0 ? tickMs : periodMs) / 1000;
    for (long long tick = 0; !stop; ++tick) {
        const double at = start + double(tick) * step;
        if (at - start > seconds)
            break;
        sleepUntil(at);
        // Frames due by now, counted on the schedule, not on when the
        // machine let this thread run.
        const double now = tickMs > 0 ? at - start : double(tick) * periodMs / 1000;
        long long count = 0;
        while (double(due) * periodMs / 1000 <= now + 1e-9) {
            ++due;
            ++count;
        }
        if (count == 0)
            continue;
        const double lateMs = (secondsNow() - at) * 1000;
        if (!writeAll(fd, frame.repeated(int(count))))
            break;
        written += count;
        ++writes;
        lateWrites += lateMs > 3;
    }
    finished = true;
}
