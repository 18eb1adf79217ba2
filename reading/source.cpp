// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/source.h"

#include "serial/portaccess.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether a character device is a terminal, as serial ports are. Asked of
// sysfs, since opening a serial device only to ask would toggle its modem
// lines, which resets some boards.
bool isTerminalDevice(const struct stat &info)
{
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major(info.st_rdev), minor(info.st_rdev));
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    // Without sysfs to ask, a device is taken for a port.
    if (n < 0)
        return true;
    target[n] = '\0';
    const char *base = std::strrchr(target, '/');
    return std::strcmp(base ? base + 1 : target, "tty") == 0;
}

Source invalid(const QString &error)
{
    Source source;
    source.error = error;
    return source;
}

Source opened(int fd, const struct stat &info)
{
    Source source;
    source.kind = S_ISREG(info.st_mode) ? Source::File : Source::Stream;
    source.fd = fd;
    source.terminal = ::isatty(fd) == 1;
    source.device = info.st_dev;
    source.inode = info.st_ino;
    return source;
}

} // namespace

Source openSource(const QString &name, const QByteArray &path, bool stdinClosed)
{
    struct stat info;
    if (name == QLatin1String("-")) {
        if (stdinClosed || ::fstat(STDIN_FILENO, &info) != 0)
            return invalid(QStringLiteral("standard input is closed; give a file, a port, or some input"));
        if (S_ISDIR(info.st_mode))
            return invalid(QStringLiteral("standard input is a directory, not a capture or a stream"));
        return opened(STDIN_FILENO, info);
    }

    QByteArray target = path;
    if (::stat(target.constData(), &info) != 0) {
        const int error = errno;
        // A port may be named without its folder, as ttyUSB0.
        if (error == ENOENT && !path.contains('/')) {
            target = "/dev/" + path;
            if (::stat(target.constData(), &info) != 0) {
                Source port;
                port.kind = Source::Port;
                port.portPath = portDevicePath(QFile::decodeName(path));
                return port;
            }
        } else {
            // A port named by its full path is as likely mistyped or unplugged.
            const QString hint = error == ENOENT && path.startsWith("/dev/") ? portListHint() : QString();
            return invalid(QStringLiteral("cannot open %1: %2%3").arg(name, systemError(error), hint));
        }
    }
    if (S_ISDIR(info.st_mode))
        return invalid(QStringLiteral("%1 is a directory, not a capture file, a stream or a port").arg(name));
    if (S_ISCHR(info.st_mode) && isTerminalDevice(info)) {
        Source port;
        port.kind = Source::Port;
        port.portPath = portDevicePath(QFile::decodeName(target));
        port.terminal = true;
        port.device = info.st_dev;
        port.inode = info.st_ino;
        return port;
    }
    // A FIFO opens once a writer comes; a stop signal ends the wait.
    const int fd = ::open(target.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == EINTR) {
        Source stopped;
        stopped.interrupted = true;
        return stopped;
    }
    if (fd < 0)
        return invalid(QStringLiteral("cannot open %1: %2").arg(name, systemError(errno)));
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return invalid(QStringLiteral("cannot open %1: %2").arg(name, systemError(error)));
    }
    return opened(fd, info);
}

bool isSameFile(const Source &source, const QByteArray &path)
{
    struct stat info;
    return source.inode != 0 && ::stat(path.constData(), &info) == 0 && info.st_dev == source.device
        && info.st_ino == source.inode;
}
