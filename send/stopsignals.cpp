// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/stopsignals.h"

#include <csignal>
#include <ctime>
#include <poll.h>

namespace {

volatile std::sig_atomic_t stopFlag = 0;
sigset_t waitMask;

void onStopSignal(int)
{
    stopFlag = 1;
}

} // namespace

void holdStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A terminal that closes stops the run as Ctrl-C would.
    ::sigaction(SIGHUP, &action, nullptr);
    // A closed pipe is told by the write that meets it (EPIPE).
    std::signal(SIGPIPE, SIG_IGN);

    sigset_t held;
    sigemptyset(&held);
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, stop);
    ::sigprocmask(SIG_BLOCK, &held, &waitMask);
    for (int stop : {SIGINT, SIGTERM, SIGHUP})
        sigdelset(&waitMask, stop);
}

bool stopRequested()
{
    return stopFlag != 0;
}

int waitForEvents(pollfd *fds, int count, qint64 timeoutNs)
{
    timespec timeout{time_t(timeoutNs / 1000000000), long(timeoutNs % 1000000000)};
    return ::ppoll(fds, nfds_t(count), timeoutNs < 0 ? nullptr : &timeout, &waitMask);
}
