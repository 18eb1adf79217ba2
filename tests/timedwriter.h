// SPDX-License-Identifier: GPL-3.0-or-later
// A receiver behind an adapter, played on a pseudo-terminal's master from a
// thread of its own: frames fall due at a steady period, and are written
// either each when due, or together at the ticks of a latency timer, as an
// FTDI chip hands them over.
#ifndef LINKSCOPE_TEST_TIMEDWRITER_H
#define LINKSCOPE_TEST_TIMEDWRITER_H

#include <QByteArray>

#include <atomic>
#include <thread>

class TimedWriter
{
public:
    // Writes frame on masterFd every periodMs for seconds; with tickMs > 0,
    // the frames due are held and written together at every tick.
    TimedWriter(int masterFd, const QByteArray &frame, double periodMs, double tickMs, double seconds);
    ~TimedWriter();
    TimedWriter(const TimedWriter &) = delete;
    TimedWriter &operator=(const TimedWriter &) = delete;

    bool done() const { return finished; }
    long long framesWritten() const { return written; }
    // The share of writes that the machine let this thread make more than
    // 3 ms after their time: a machine too busy to play a steady timer.
    double lateShare() const;

private:
    void run(int fd, QByteArray frame, double periodMs, double tickMs, double seconds);

    std::atomic<bool> finished{false};
    std::atomic<bool> stop{false};
    std::atomic<long long> written{0};
    std::atomic<long long> writes{0};
    std::atomic<long long> lateWrites{0};
    std::thread worker;
};

#endif
