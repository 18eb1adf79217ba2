// SPDX-License-Identifier: GPL-3.0-or-later
// The stop signals of linkscope-dump and linkscope-send, set up in one place.
#include "cli/stopsignals.h"

#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

namespace {

volatile std::sig_atomic_t stopFlag = 0;
int wakePipe[2] = {-1, -1};

void onStopSignal(int)
{
    const int savedErrno = errno;
    stopFlag = 1;
    if (wakePipe[1] >= 0) {
        const char byte = 0;
        // Non-blocking: a full pipe is readable enough.
        [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

void catchStopSignals()
{
    if (wakePipe[0] < 0 && ::pipe(wakePipe) == 0) {
        for (int end : wakePipe) {
            ::fcntl(end, F_SETFD, FD_CLOEXEC);
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        }
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a reader that stopped returns.
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) // a terminal that closes stops as Ctrl-C does
        ::sigaction(stop, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stops;
    sigemptyset(&stops);
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stops, stop);
    ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

bool stopRequested()
{
    return stopFlag != 0;
}

int stopWakeDescriptor()
{
    return wakePipe[0];
}

int pollOrStop(pollfd *fds, int count, qint64 timeoutNs)
{
    std::vector<pollfd> all(fds, fds + count);
    all.push_back({wakePipe[0], POLLIN, 0});
    for (;;) {
        // The flag first: a signal before the wake pipe existed wrote nothing.
        if (stopRequested())
            return 0;
        timespec timeout{time_t(timeoutNs / 1000000000), long(timeoutNs % 1000000000)};
        const int ready = ::ppoll(all.data(), nfds_t(all.size()), timeoutNs < 0 ? nullptr : &timeout, nullptr);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return ready;
        int withEvents = 0;
        for (int i = 0; i < count; ++i) {
            fds[i].revents = all[size_t(i)].revents;
            withEvents += fds[i].revents != 0;
        }
        return withEvents;
    }
}

qint64 msSinceStop()
{
    static QElapsedTimer since;
    if (!since.isValid())
        since.start();
    return since.elapsed();
}
