// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linesettings.h"

#include <QSerialPort>

#include <sys/stat.h>
#include <sys/sysmacros.h>

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

bool isPseudoTerminal(const QSerialPort &port)
{
    struct stat info;
    // Unix 98 pty slaves have majors 136 to 143.
    return ::fstat(int(port.handle()), &info) == 0 && S_ISCHR(info.st_mode) && major(info.st_rdev) >= 136
        && major(info.st_rdev) <= 143;
}

QString applyLineSettings(QSerialPort &port, const LineSettings &line, QString *warning)
{
    if (!port.setBaudRate(line.baud, QSerialPort::AllDirections))
        return QStringLiteral("baud rate %1").arg(line.baud);
    if (!port.setDataBits(QSerialPort::DataBits(line.dataBits)))
        return QStringLiteral("data bits %1").arg(line.dataBits);
    if (!port.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop))
        return QStringLiteral("stop bits %1").arg(line.stopBits);
    if (!port.setFlowControl(QSerialPort::NoFlowControl))
        return QStringLiteral("flow control");
    // Parity last: a pseudo-terminal refuses it alone, and would drop it
    // silently along with any setting after it.
    const QSerialPort::Parity parity = line.parity == 'E' ? QSerialPort::EvenParity
        : line.parity == 'O'                              ? QSerialPort::OddParity
                                                          : QSerialPort::NoParity;
    if (!port.setParity(parity)) {
        if (parity == QSerialPort::NoParity || !isPseudoTerminal(port))
            return QStringLiteral("parity %1").arg(QLatin1Char(line.parity));
        port.clearError();
        if (warning)
            *warning = QStringLiteral("%1 is a pseudo-terminal, which keeps no parity: the line runs without it")
                           .arg(port.portName());
    }
    return QString();
}
