// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty.h"

#include <cerrno>
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
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(masterFd, p, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += written;
        left -= written;
    }
    return true;
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
