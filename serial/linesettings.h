// SPDX-License-Identifier: GPL-3.0-or-later
// The line settings of every connection: 115200 baud (unless told otherwise),
// 8N1, no flow control.
#ifndef LINKSCOPE_LINESETTINGS_H
#define LINKSCOPE_LINESETTINGS_H

#include <QString>

class QSerialPort;

// Applies the settings to an open port in a fixed order and stops at the first
// one that fails. Returns the name of the failed setting, or an empty string.
QString applyLineSettings(QSerialPort &port, qint32 baudRate = 115200);

#endif
