// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/recording.h"

#include "cli/messages.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool Recording::open(const QString &shown, const QByteArray &path, bool force)
{
    name = shown;
    if (name.isEmpty())
        return true;
    struct stat info;
    if (::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        complain(QStringLiteral("cannot record to %1: it is a directory").arg(name));
        return false;
    }
    // Without --force an existing file is never touched.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (force ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            complain(QStringLiteral("%1 exists; give --force to overwrite it").arg(name));
        else
            complain(QStringLiteral("cannot record to %1: %2").arg(name, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        complain(QStringLiteral("cannot record to %1: %2").arg(name, file.errorString()));
        ::close(fd);
        return false;
    }
    return true;
}

bool Recording::takeBytes(int source, const char *data, int size)
{
    Q_UNUSED(source)
    if (!file.isOpen() || file.write(data, size) == size)
        return true;
    complain(QStringLiteral("cannot write %1: %2").arg(name, file.errorString()));
    writeFailed = true;
    return false;
}

bool Recording::finish()
{
    if (!file.isOpen() || file.flush())
        return true;
    complain(QStringLiteral("cannot write %1: %2").arg(name, file.errorString()));
    writeFailed = true;
    return false;
}
