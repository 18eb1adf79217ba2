// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    char name[256] = {};
    if (::openpty(&masterFd, &slave, name, nullptr, nullptr) != 0) {
        masterFd = slave = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    // The master side passes bytes through untouched, as a device would.
    termios tio;
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (slave >= 0)
        ::close(slave);
}

bool PseudoTerminal::write(const QByteArray &data)
{
    return write(data, -1);
}

bool PseudoTerminal::write(const QByteArray &data, int timeoutMs)
{
    // Without blocking, so that a line with a little room takes a little.
    const int flags = ::fcntl(masterFd, F_GETFL);
    ::fcntl(masterFd, F_SETFL, flags | O_NONBLOCK);
    const char *p = data.constData();
    qint64 left = data.size();
    bool taken = true;
    while (left > 0 && taken) {
        pollfd room{masterFd, POLLOUT, 0};
        if (::poll(&room, 1, timeoutMs) == 0) {
            taken = false;
            break;
        }
        const ssize_t written = ::write(masterFd, p, size_t(left));
        if (written < 0) {
            taken = errno == EINTR || errno == EAGAIN;
            continue;
        }
        p += written;
        left -= written;
    }
    ::fcntl(masterFd, F_SETFL, flags);
    return taken;
}

QByteArray PseudoTerminal::read(int waitMs)
{
    QByteArray bytes;
    pollfd ready{masterFd, POLLIN, 0};
    while (::poll(&ready, 1, bytes.isEmpty() ? waitMs : 0) > 0 && (ready.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, int(n));
    }
    return bytes;
}

void PseudoTerminal::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}
