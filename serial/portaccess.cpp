// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/portaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSerialPort>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

QString holderText(qint64 pid, const QString &name)
{
    return QStringLiteral("%1 (pid %2)").arg(name.isEmpty() ? QStringLiteral("another program") : name).arg(pid);
}

// The live holder of a UUCP-style lock file for the device, as Qt's serial
// port and most serial tools write them.
QString lockHolder(const QString &devicePath)
{
    QString lockName = devicePath;
    if (lockName.startsWith(QLatin1String("/dev/")))
        lockName.remove(0, 5);
    lockName.replace(QLatin1Char('/'), QLatin1Char('_')).prepend(QLatin1String("LCK.."));
    const QStringList folders{QStringLiteral("/var/lock"), QStringLiteral("/run/lock"), QStringLiteral("/tmp"),
                              QStringLiteral("/var/tmp"),
                              QStandardPaths::writableLocation(QStandardPaths::TempLocation)};
    for (const QString &folder : folders) {
        QLockFile lock(folder + QLatin1Char('/') + lockName);
        qint64 pid = 0;
        QString host, app;
        if (lock.getLockInfo(&pid, &host, &app) && pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM))
            return holderText(pid, processName(pid).isEmpty() ? app : processName(pid));
    }
    return QString();
}

// A process with the device open, where /proc lets us look.
QString openFileHolder(const QString &devicePath)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool isPid = false;
        const qint64 number = pid.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        const QStringList entries = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == devicePath)
                return holderText(number, processName(number));
        }
    }
    return QString();
}

} // namespace

QString portDevicePath(const QString &name)
{
    const QString path = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString openFailureReason(const QSerialPort &port, const QString &devicePath, PortList portList)
{
    // A mistyped or unplugged port: the names that exist are what helps.
    if (port.error() == QSerialPort::DeviceNotFoundError && portList == PortList::Hint)
        return port.errorString() + portListHint();

    const QByteArray node = QFile::encodeName(devicePath);
    // Only the node itself tells whether joining a group would help; asked
    // for the effective user, the one that opens it.
    if (::faccessat(AT_FDCWD, node.constData(), F_OK, AT_EACCESS) == 0
        && ::faccessat(AT_FDCWD, node.constData(), R_OK | W_OK, AT_EACCESS) != 0)
        return port.errorString() + QStringLiteral(" (add your user to the dialout group and log in again)");

    // A FIFO or /dev/null has no line settings to ask for.
    if (port.errorString() == QString::fromLocal8Bit(std::strerror(ENOTTY)))
        return notAPortReason();

    // Busy means a live lock on the device, or a device opened exclusively.
    QString holder = lockHolder(devicePath);
    if (holder.isEmpty()) {
        if (port.errorString() != QString::fromLocal8Bit(std::strerror(EBUSY)))
            return port.errorString();
        holder = openFileHolder(devicePath);
    }
    return QStringLiteral("the port is in use by ") + (holder.isEmpty() ? QStringLiteral("another program") : holder);
}

PortList portListFor(const QString &name)
{
    if (name.contains(QLatin1Char('/')))
        return name.startsWith(QLatin1String("/dev/")) ? PortList::Hint : PortList::NotLikeAPort;
    for (const char *start : {"tty", "rfcomm", "cu."}) {
        if (name.startsWith(QLatin1String(start)))
            return PortList::Hint;
    }
    return PortList::NotLikeAPort;
}

QString portListHint()
{
    return QStringLiteral(" (linkscope-dump --list-ports lists the ports present)");
}

QString notAPortReason()
{
    return QStringLiteral("it is not a serial port (no terminal device)");
}

bool deviceHungUp(const QSerialPort &port)
{
    pollfd pfd{int(port.handle()), POLLIN, 0};
    return ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL));
}

QString hungUpReason()
{
    return QStringLiteral("the device hung up or went away");
}

bool bytesUnread(const QSerialPort &port)
{
    int waiting = 0;
    return port.bytesAvailable() > 0 || (ioctl(int(port.handle()), FIONREAD, &waiting) == 0 && waiting > 0);
}
