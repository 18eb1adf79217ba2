// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/output.h"

#include "cli/stopsignals.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

// How often a waiting caller asks whether to give up.
constexpr auto checkEvery = std::chrono::milliseconds(50);

} // namespace

struct OutputStream::Shared
{
    struct Block
    {
        std::string text;
        qint64 records;
    };

    int fd;
    std::size_t limit;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<Block> queue;
    std::size_t queuedBytes = 0;
    qint64 inFlightRecords = 0; // of the block being written
    bool threaded = true;
    bool writing = false;
    bool quit = false;
    State state = Open;
    int error = 0;
    qint64 dropped = 0;
    qint64 cut = 0; // records a stop signal kept from being written

    void run();
    bool writeAll(const std::string &text, const std::function<bool()> &giveUp = {});
    void failed();
};

void OutputStream::Shared::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return quit || !queue.empty(); });
        if (queue.empty())
            return;
        Block block = std::move(queue.front());
        queue.pop_front();
        queuedBytes -= block.text.size();
        inFlightRecords = block.records;
        writing = true;
        changed.notify_all();
        guard.unlock();
        const bool written = writeAll(block.text);
        guard.lock();
        writing = false;
        inFlightRecords = 0;
        if (!written)
            failed();
        changed.notify_all();
        if (!written)
            return;
    }
}

void OutputStream::Shared::failed()
{
    state = errno == EPIPE ? PipeClosed : Failed;
    error = errno;
    queue.clear();
    queuedBytes = 0;
}

// giveUp is asked before each write: a stop signal cuts a blocked write
// short, and what is left of the text is not written then.
bool OutputStream::Shared::writeAll(const std::string &text, const std::function<bool()> &giveUp)
{
    const char *at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        if (giveUp && giveUp()) {
            errno = EINTR;
            return false;
        }
        // After a stop, a reader that takes nothing must not hold the run:
        // wait for room in short steps, so that giveUp is asked again, and
        // write no more than a pipe with any room takes without blocking.
        std::size_t piece = left;
        if (stopRequested()) {
            pollfd room{fd, POLLOUT, 0};
            if (::poll(&room, 1, 50) == 0)
                continue;
            piece = std::min<std::size_t>(left, 512);
        }
        const ssize_t n = ::write(fd, at, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        at += n;
        left -= std::size_t(n);
    }
    return true;
}

OutputStream::OutputStream(int fd, bool threaded, std::size_t limit)
    : shared(std::make_shared<Shared>())
{
    shared->fd = fd;
    shared->limit = limit;
    shared->threaded = threaded;
    if (!threaded)
        return;
    // Stop signals go to the reading thread, whose waits they cut short.
    sigset_t stops, previous;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    std::thread([state = shared] { state->run(); }).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

OutputStream::~OutputStream()
{
    // The writer holds its own share of the state: one blocked on a reader
    // that never reads again is left to end with the process.
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->quit = true;
    shared->changed.notify_all();
}

bool OutputStream::put(std::string &&text, qint64 records, bool waitForRoom, const std::function<bool()> &giveUp)
{
    std::unique_lock<std::mutex> guard(shared->lock);
    if (!shared->threaded) {
        // Written here and now; a stop signal may cut it short.
        if (shared->state != Open)
            return false;
        if (shared->writeAll(text, giveUp))
            return true;
        if (errno == EINTR)
            shared->cut += records;
        else
            shared->failed();
        return false;
    }
    const auto fits = [&] {
        return shared->state != Open || shared->queue.empty()
            || shared->queuedBytes + text.size() <= shared->limit;
    };
    while (waitForRoom && !fits() && !giveUp())
        shared->changed.wait_for(guard, checkEvery);
    if (shared->state != Open)
        return false;
    if (!fits()) {
        // Where the source waits for the reader, only a stop gives up.
        (waitForRoom ? shared->cut : shared->dropped) += records;
        return false;
    }
    shared->queuedBytes += text.size();
    shared->queue.push_back({std::move(text), records});
    shared->changed.notify_all();
    return true;
}

bool OutputStream::drain(const std::function<bool()> &giveUp)
{
    std::unique_lock<std::mutex> guard(shared->lock);
    const auto done = [&] { return shared->state != Open || (shared->queue.empty() && !shared->writing); };
    while (!done() && !giveUp())
        shared->changed.wait_for(guard, checkEvery);
    if (done())
        return shared->state == Open;
    for (const Shared::Block &block : shared->queue)
        shared->cut += block.records;
    shared->cut += shared->inFlightRecords;
    shared->inFlightRecords = 0;
    shared->queue.clear();
    shared->queuedBytes = 0;
    return false;
}

OutputStream::State OutputStream::state() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->state;
}

QString OutputStream::errorText() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return QString::fromLocal8Bit(std::strerror(shared->error));
}

qint64 OutputStream::droppedRecords() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->dropped;
}

qint64 OutputStream::cutRecords() const
{
    std::lock_guard<std::mutex> guard(shared->lock);
    return shared->cut;
}
