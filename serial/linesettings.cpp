// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linesettings.h"

#include <QSerialPort>

#include <sys/stat.h>
#include <termios.h>
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

QString applyLineSettings(QSerialPort &port, const LineSettings &line, QString *warning, const QString &name)
{
    if (!port.setBaudRate(line.baud, QSerialPort::AllDirections))
        return QStringLiteral("baud rate %1").arg(line.baud);
    if (!port.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop))
        return QStringLiteral("stop bits %1").arg(line.stopBits);
    if (!port.setFlowControl(QSerialPort::NoFlowControl))
        return QStringLiteral("flow control");
    // Data bits and parity last: a pseudo-terminal refuses some of them
    // alone, and drops them silently along with any setting after them.
    const QSerialPort::Parity parity = line.parity == 'E' ? QSerialPort::EvenParity
        : line.parity == 'O'                              ? QSerialPort::OddParity
                                                          : QSerialPort::NoParity;
    const bool pty = isPseudoTerminal(port);
    const bool dataSet = port.setDataBits(QSerialPort::DataBits(line.dataBits));
    if (!dataSet && !pty)
        return QStringLiteral("data bits %1").arg(line.dataBits);
    const bool paritySet = port.setParity(parity);
    if (!paritySet && !pty)
        return QStringLiteral("parity %1").arg(QLatin1Char(line.parity));
    // What the terminal holds, which a pty may have changed without a word.
    termios held;
    if (::tcgetattr(int(port.handle()), &held) != 0)
        return QStringLiteral("line settings (they cannot be read back)");
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    const bool dataHeld = (held.c_cflag & CSIZE) == sizes[line.dataBits - 5];
    const bool parityHeld = line.parity == 'N' ? !(held.c_cflag & PARENB)
                                               : (held.c_cflag & PARENB) && bool(held.c_cflag & PARODD) == (line.parity == 'O');
    if (dataHeld && parityHeld)
        return QString();
    if (!pty)
        return dataHeld ? QStringLiteral("parity %1").arg(QLatin1Char(line.parity))
                        : QStringLiteral("data bits %1").arg(line.dataBits);
    port.clearError();
    if (warning)
        *warning = QStringLiteral("%1 is a pseudo-terminal, which keeps no parity and only its own data bits: "
                                  "%2 runs as %3")
                       .arg(name.isEmpty() ? port.portName() : name, line.frameText())
                       .arg(QStringLiteral("%1%2%3")
                                .arg((held.c_cflag & CSIZE) == CS8 ? 8 : (held.c_cflag & CSIZE) == CS7 ? 7
                                         : (held.c_cflag & CSIZE) == CS6                               ? 6
                                                                                                       : 5)
                                .arg(held.c_cflag & PARENB ? (held.c_cflag & PARODD ? 'O' : 'E') : 'N')
                                .arg(line.stopBits));
    return QString();
}
