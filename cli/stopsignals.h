// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C, SIGTERM and SIGHUP as a request to stop, for the command-line
// programs: a flag to ask, and a descriptor that turns readable, so that no
// wait outlasts the signal whatever else it waits for.
#ifndef LINKSCOPE_CLI_STOPSIGNALS_H
#define LINKSCOPE_CLI_STOPSIGNALS_H

#include <QtGlobal>

struct pollfd;

// Also ignores SIGPIPE: a closed pipe is told by the write that meets it.
// The signals are never held back, so a blocked write returns too (EINTR).
void catchStopSignals();
bool stopRequested();
// Readable from the first stop signal on; for a poll() or QSocketNotifier.
int stopWakeDescriptor();
// poll() on count descriptors that also ends as soon as a stop signal came;
// a timeout below 0 waits for an event or a signal. Returns the descriptors
// with events, 0 on timeout or stop, -1 on error.
int pollOrStop(pollfd *fds, int count, qint64 timeoutNs);
// Milliseconds since the program first asked this after a stop signal: what
// is still on its way gets a moment measured from there.
qint64 msSinceStop();

#endif
