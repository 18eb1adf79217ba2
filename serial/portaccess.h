// SPDX-License-Identifier: GPL-3.0-or-later
// Where a port name leads, and why a port could not be opened, told so that
// the user knows what to do: wait for another program, or join a group.
#ifndef LINKSCOPE_PORTACCESS_H
#define LINKSCOPE_PORTACCESS_H

#include <QString>

class QSerialPort;

// The device a port name leads to, with symlinks resolved, so that two names
// for one device share one lock: a bare name ("ttyUSB0") is looked up under
// /dev, a name with a slash ("./0", "/dev/ttyUSB0") is the path given.
QString portDevicePath(const QString &name);

// Why port, opened at devicePath, failed to open: "the port is in use by
// linkscope (pid 1234)" when another program holds it, the system's reason
// with the dialout hint when the device node is closed to this user, or the
// system's reason alone. Where no such device exists, the reason ends in
// portListHint(), unless the caller lists the ports itself, as the window's
// selector does.
enum class PortList { Hint, ShownByCaller, NotLikeAPort };
QString openFailureReason(const QSerialPort &port, const QString &devicePath, PortList portList = PortList::Hint);
// Hint for a name that looks like a port (ttyUSB0, rfcomm0, anything under
// /dev/), NotLikeAPort for one that does not (nonexist.bin, ./capture), where
// the list of ports would be no help.
PortList portListFor(const QString &name);
// " (linkscope-dump --list-ports lists the ports present)"
QString portListHint();
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
