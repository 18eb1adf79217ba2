// SPDX-License-Identifier: GPL-3.0-or-later
// Driving a shown window over a pseudo-terminal as a user and a device would.
#ifndef LINKSCOPE_TEST_WINDOW_H
#define LINKSCOPE_TEST_WINDOW_H

#include <QByteArray>

class LinkScope;
class PseudoTerminal;

// Picks the pty's port in the selector and clicks Connect; true once the
// button reads "Disconnect".
bool connectToPty(LinkScope &window, const PseudoTerminal &pty);
// Writes bytes as one burst and waits until the window has read them all.
bool deliver(LinkScope &window, PseudoTerminal &pty, const QByteArray &bytes);

#endif
