// SPDX-License-Identifier: GPL-3.0-or-later
// One run of linkscope-send: each piece of the source written when it is
// due on a steady clock, with dropouts and cut-up writes, until a limit, a
// signal or the end of the source; then a summary.
#ifndef LINKSCOPE_SEND_SENDER_H
#define LINKSCOPE_SEND_SENDER_H

#include "send/options.h"

// Returns the exit status: 0, or 1 when the target failed.
int runSend(const SendOptions &options);

#endif
