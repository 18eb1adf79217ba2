// SPDX-License-Identifier: GPL-3.0-or-later
#include "relay.h"

PtyRelay::PtyRelay(PseudoTerminal &from, PseudoTerminal &to)
    : from(from), to(to), notifier(from.masterDescriptor(), QSocketNotifier::Read)
{
    QObject::connect(&notifier, &QSocketNotifier::activated, [this] {
        const QByteArray bytes = this->from.read();
        all += bytes;
        this->to.write(bytes);
    });
}
