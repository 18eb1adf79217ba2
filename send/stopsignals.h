// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C and SIGTERM ask the run to stop. They are held back except while
// the program waits, so that they never cut a write short.
#ifndef LINKSCOPE_SEND_STOPSIGNALS_H
#define LINKSCOPE_SEND_STOPSIGNALS_H

#include <QtGlobal>

struct pollfd;

void holdStopSignals();
bool stopRequested();
// poll() that lets the held signals in while it waits; a timeout below 0
// waits for an event or a signal. Returns as poll() does.
int waitForEvents(pollfd *fds, int count, qint64 timeoutNs);

#endif
