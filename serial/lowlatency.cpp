// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/lowlatency.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The last part of where a sysfs link leads: the driver's or the bus's name.
QString linkName(const QString &path)
{
    char target[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target - 1);
    if (n <= 0)
        return QString();
    const QString full = QFile::decodeName(QByteArray(target, int(n)));
    return full.mid(full.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QString sysfsRoot()
{
    const QString root = qEnvironmentVariable("LINKSCOPE_SYSFS_ROOT");
    return root.isEmpty() ? QStringLiteral("/sys") : root;
}

PortDriver portDriver(const QString &ttyName)
{
    PortDriver driver;
    const QString name = ttyName.mid(ttyName.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty())
        return driver;
    const QString device = sysfsRoot() + QStringLiteral("/class/tty/") + name + QStringLiteral("/device");
    driver.name = linkName(device + QStringLiteral("/driver"));
    const QString bus = linkName(device + QStringLiteral("/subsystem"));
    driver.usb = bus == QLatin1String("usb-serial") || bus == QLatin1String("usb");
    QFile timer(device + QStringLiteral("/latency_timer"));
    if (timer.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int ms = timer.read(16).trimmed().toInt(&ok);
        if (ok && ms >= 0)
            driver.latencyTimerMs = ms;
    }
    return driver;
}

QString ftdiUdevRule()
{
    return QStringLiteral("ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"");
}

void LowLatencyMode::leave(const QString &devicePath, bool pseudoTerminal)
{
    restore();
    info = portDriver(devicePath);
    pty = pseudoTerminal;
    result = NotTried;
}

void LowLatencyMode::set(int descriptor, const QString &devicePath, bool pseudoTerminal)
{
    leave(devicePath, pseudoTerminal);
    serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    // Only the flag changes: what is written back is what was read, which
    // any user who may open the port may write.
    if (::ioctl(descriptor, TIOCGSERIAL, &serial) != 0) {
        result = pseudoTerminal ? NoneOnPty : Refused;
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    const int before = serial.flags;
    if (before & ASYNC_LOW_LATENCY) {
        result = On;
        return;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(descriptor, TIOCSSERIAL, &serial) != 0) {
        result = Refused;
        reason = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    struct stat opened;
    if (::fstat(descriptor, &opened) == 0) {
        fd = descriptor;
        device = quint64(opened.st_rdev);
    }
    savedFlags = before;
    // Some drivers take the settings and keep none of them.
    std::memset(&serial, 0, sizeof serial);
    result = ::ioctl(descriptor, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) ? On : Refused;
    // The timer as the driver has set it now.
    if (result == On && info.latencyTimerMs >= 0)
        info = portDriver(devicePath);
}

void LowLatencyMode::restore()
{
    if (fd < 0)
        return;
    // A descriptor that was closed meanwhile may be another file's by now.
    struct stat now;
    if (::fstat(fd, &now) != 0 || quint64(now.st_rdev) != device || !S_ISCHR(now.st_mode)) {
        fd = -1;
        return;
    }
    serial_struct serial;
    std::memset(&serial, 0, sizeof serial);
    // Only the flag that was set goes back; a hung-up device answers
    // neither call, and that is no error.
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && (serial.flags & ASYNC_LOW_LATENCY) != (savedFlags & ASYNC_LOW_LATENCY)) {
        serial.flags = (serial.flags & ~ASYNC_LOW_LATENCY) | (savedFlags & ASYNC_LOW_LATENCY);
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    fd = -1;
}

QString LowLatencyMode::said() const
{
    if (result == NotTried)
        return QString();
    return text(result, info, reason);
}

QString LowLatencyMode::text(Outcome outcome, const PortDriver &driver, const QString &reason)
{
    switch (outcome) {
    case NotTried:
        return QString();
    case NoneOnPty:
        return QStringLiteral("low-latency mode: none on a pseudo-terminal, which holds no bytes back");
    case On:
        if (driver.name.isEmpty())
            return QStringLiteral("low-latency mode: on");
        if (driver.isFtdi() && driver.latencyTimerMs >= 0)
            return QStringLiteral("low-latency mode: on (%1, latency timer %2 ms)").arg(driver.name).arg(driver.latencyTimerMs);
        // Other USB drivers take the flag and do nothing with it.
        if (driver.usb && !driver.isFtdi())
            break;
        return QStringLiteral("low-latency mode: on (%1)").arg(driver.name);
    case Refused:
        if (driver.usb && !driver.isFtdi())
            break;
        return QStringLiteral("low-latency mode: refused by %1 (%2)%3")
            .arg(driver.name.isEmpty() ? QStringLiteral("the driver") : driver.name,
                 reason.isEmpty() ? QStringLiteral("not kept") : reason,
                 driver.usb ? QStringLiteral("; reads may come in bunches") : QString());
    }
    return QStringLiteral("%1 ignores low-latency mode; reads may come in bunches").arg(driver.name);
}

QString LowLatencyMode::remedy() const
{
    const QString rule = QStringLiteral("the udev rule ") + ftdiUdevRule();
    if (info.isFtdi() && result == NotTried)
        return QStringLiteral("leave out --no-low-latency, or set the latency timer to 1 ms with ") + rule;
    if (info.isFtdi())
        return QStringLiteral("set the latency timer to 1 ms with ") + rule;
    if (info.usb && !info.name.isEmpty())
        return QStringLiteral("%1 has no latency setting; an FTDI adapter in low-latency mode delivers each frame as "
                              "it comes")
            .arg(info.name);
    return QStringLiteral("on an FTDI adapter, low-latency mode (set unless --no-low-latency) or ") + rule;
}
