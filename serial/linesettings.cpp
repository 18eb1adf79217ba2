// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linesettings.h"

#include <QSerialPort>

QString applyLineSettings(QSerialPort &port, qint32 baudRate)
{
    if (!port.setBaudRate(baudRate, QSerialPort::AllDirections))
        return QStringLiteral("baud rate");
    if (!port.setDataBits(QSerialPort::Data8))
        return QStringLiteral("data bits");
    if (!port.setParity(QSerialPort::NoParity))
        return QStringLiteral("parity");
    if (!port.setStopBits(QSerialPort::OneStop))
        return QStringLiteral("stop bits");
    if (!port.setFlowControl(QSerialPort::NoFlowControl))
        return QStringLiteral("flow control");
    return QString();
}
