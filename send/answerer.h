// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-send --answer: the flight controller's side of a wire that a
// receiver polls. The port is read as it comes; each poll of the family
// that passes its check gets the family's answer, written a moment after
// the poll was read, as firmware answers within 0.5 to 2 ms.
#ifndef LINKSCOPE_SEND_ANSWERER_H
#define LINKSCOPE_SEND_ANSWERER_H

#include "send/options.h"

// How long after the read that brought a poll its answer goes: the poll
// had ended by then, so the answer starts at least this long after it.
constexpr double answerAfterMs = 0.6;

// Returns the exit status: 0, or 1 when the port failed.
int runAnswer(const SendOptions &options);

#endif
