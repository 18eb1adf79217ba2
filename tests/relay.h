// SPDX-License-Identifier: GPL-3.0-or-later
// Two pseudo-terminals joined as a null-modem cable joins two adapters: what
// one program writes on the first slave, another reads on the second.
#ifndef LINKSCOPE_TEST_RELAY_H
#define LINKSCOPE_TEST_RELAY_H

#include "pty.h"

#include <QSocketNotifier>

class PtyRelay
{
public:
    // Passes bytes on in the event loop, each read as it comes.
    PtyRelay(PseudoTerminal &from, PseudoTerminal &to);

    // Everything passed on so far.
    QByteArray passed() const { return all; }

private:
    PseudoTerminal &from, &to;
    QSocketNotifier notifier;
    QByteArray all;
};

#endif
