// SPDX-License-Identifier: GPL-3.0-or-later
// The line settings of every connection: 115200 baud (unless told otherwise),
// 8N1, no flow control; or a family's own settings for the command-line
// programs.
#ifndef LINKSCOPE_LINESETTINGS_H
#define LINKSCOPE_LINESETTINGS_H

#include "decode/families/linesettings.h"

#include <QString>

class QSerialPort;

// Applies the settings to an open port in a fixed order and stops at the first
// one that fails. Returns the name of the failed setting, or an empty string.
QString applyLineSettings(QSerialPort &port, qint32 baudRate = 115200);

// The same for any baud, data bits, parity and stop bits. A Linux
// pseudo-terminal keeps no parity: there a parity it refuses is no failure,
// and warning says so in one line, naming the port as name (as the user gave
// it; the port's own name where empty).
QString applyLineSettings(QSerialPort &port, const LineSettings &line, QString *warning,
                          const QString &name = QString());

// The port is a pseudo-terminal's slave, as tests and simulators use.
bool isPseudoTerminal(const QSerialPort &port);

#endif
