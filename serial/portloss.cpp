// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/portloss.h"

#include "serial/portaccess.h"

QString PortLoss::lostBecause(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    // After a hang-up the driver's error text is incidental; say what happened.
    if (error == QSerialPort::ResourceError)
        return deviceHungUp(port) ? hungUpReason() : port.errorString();
    if (error != QSerialPort::ReadError)
        return QString();
    ++readErrors;
    if (deviceHungUp(port))
        return hungUpReason();
    if (readErrors >= readErrorsTolerated)
        return QStringLiteral("reading keeps failing (%1)").arg(port.errorString());
    return QString();
}
