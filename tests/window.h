// SPDX-License-Identifier: GPL-3.0-or-later
// Driving a window as a user and a device would: picking a port, pressing
// the button, and a pseudo-terminal delivering bytes.
#ifndef LINKSCOPE_TEST_WINDOW_H
#define LINKSCOPE_TEST_WINDOW_H

#include <QByteArray>
#include <QString>

class LinkScope;
class PseudoTerminal;

// Adds name to the selector and picks it.
void selectPort(LinkScope &window, const QString &name);
void pressConnect(LinkScope &window);
// Picks the port and clicks Connect; true once the button reads "Disconnect".
bool connectTo(LinkScope &window, const QString &name);
bool connectToPty(LinkScope &window, const PseudoTerminal &pty);
// Writes bytes as one burst and waits until the window has read them all.
bool deliver(LinkScope &window, PseudoTerminal &pty, const QByteArray &bytes);

#endif
