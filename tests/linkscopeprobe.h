// SPDX-License-Identifier: GPL-3.0-or-later
// Lets tests reach the window's form and port the way its own code does.
#ifndef LINKSCOPE_TEST_PROBE_H
#define LINKSCOPE_TEST_PROBE_H

#include "app/linkscope.h"
#include "display/healthline.h"
#include "display/portmessage.h"

struct LinkScopeProbe
{
    static Ui::LinkScopeClass &ui(LinkScope &window) { return window.ui; }
    static QSerialPort *port(LinkScope &window) { return window.serialPort; }
    static const LinkHealth &health(LinkScope &window) { return window.health; }
    static const FrameAssembler &assembler(LinkScope &window) { return window.readPolicy.assembler(); }
    static QLabel *healthLabel(LinkScope &window) { return window.healthLabel; }
    static QLabel *portMessage(LinkScope &window) { return window.portMessage; }
    // How many connections the port's readyRead() has.
    static int readyReadReceivers(LinkScope &window);
};

// QObject::receivers() is protected; naming it through a subclass gives a
// member pointer that works on any object.
struct ReceiverCount : QObject
{
    static int of(const QObject *object, const char *signal)
    {
        return (object->*(&ReceiverCount::receivers))(signal);
    }
};

inline int LinkScopeProbe::readyReadReceivers(LinkScope &window)
{
    return ReceiverCount::of(window.serialPort, SIGNAL(readyRead()));
}

#endif
