// SPDX-License-Identifier: GPL-3.0-or-later
// The names of the serial ports present on this machine.
#ifndef LINKSCOPE_PORTNAMES_H
#define LINKSCOPE_PORTNAMES_H

#include <QStringList>

QStringList availablePortNames();

#endif
