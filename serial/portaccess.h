// SPDX-License-Identifier: GPL-3.0-or-later
// Where a port name leads, and why a port could not be opened, told so that
// the user knows what to do: wait for another program, or join a group.
#ifndef LINKSCOPE_PORTACCESS_H
#define LINKSCOPE_PORTACCESS_H

#include <QString>

class QSerialPort;

// The device a port name ("ttyUSB0" or a path) leads to, with symlinks
// resolved, so that two names for one device share one lock.
QString portDevicePath(const QString &name);

// Why port, opened at devicePath, failed to open: "the port is in use by
// linkscope (pid 1234)" when another program holds it, the system's reason
// with the dialout hint when the device node is closed to this user, or the
// system's reason alone.
QString openFailureReason(const QSerialPort &port, const QString &devicePath);
// The reason given for a device that is no terminal, such as a FIFO.
QString notAPortReason();

// The device behind an open port has hung up or gone away, as when a USB
// adapter is pulled out; the driver's error text then explains nothing.
bool deviceHungUp(const QSerialPort &port);
QString hungUpReason();

// Bytes have arrived that nobody has read yet, in the port or still in the
// terminal.
bool bytesUnread(const QSerialPort &port);

#endif
