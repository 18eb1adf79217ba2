// SPDX-License-Identifier: GPL-3.0-or-later
// Telling from the errors an open port reports that the device behind it
// went away, and why, in words a user understands: for the window and
// linkscope-dump alike, which each say it their own way.
#ifndef LINKSCOPE_SERIAL_PORTLOSS_H
#define LINKSCOPE_SERIAL_PORTLOSS_H

#include <QSerialPort>
#include <QString>

class PortLoss
{
public:
    // Reads that keep failing without a byte in between mean the line is
    // dead, even where the driver gives no clearer sign.
    static constexpr int readErrorsTolerated = 3;

    // Bytes came: the read errors before them count no more.
    void bytesArrived() { readErrors = 0; }
    // The port reported error: why it is lost (the device hung up, a
    // resource error, or reads that keep failing), or nothing where it is not.
    QString lostBecause(const QSerialPort &port, QSerialPort::SerialPortError error);

private:
    int readErrors = 0;
};

#endif
