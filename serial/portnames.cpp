// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/portnames.h"

#include <QSerialPortInfo>

QStringList availablePortNames()
{
    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        names.append(info.portName());
    return names;
}
