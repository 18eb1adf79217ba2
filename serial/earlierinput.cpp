// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/earlierinput.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Whether a terminal with these settings changes or drops bytes it takes in.
bool changesInput(const termios &tio)
{
    return (tio.c_lflag & (ICANON | ISIG | IEXTEN)) != 0
        || (tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | PARMRK)) != 0;
}

} // namespace

EarlierInput::EarlierInput(const QByteArray &path)
{
    // Held open until the port is closed, so that the settings can be given
    // back; the port's own opening comes second and toggles no modem line.
    fd = ::open(path.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    if (::tcgetattr(fd, &earlier) != 0 || !changesInput(earlier)) {
        ::close(fd);
        fd = -1;
        return;
    }
    termios raw = earlier;
    ::cfmakeraw(&raw);
    if (::tcsetattr(fd, TCSANOW, &raw) != 0)
        return;
    changed = true;
    // Out of canonical mode, every byte held counts, whole lines or not.
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0 && ::tcflush(fd, TCIFLUSH) == 0)
        droppedBytes = waiting;
}

EarlierInput::~EarlierInput()
{
    if (fd < 0)
        return;
    if (changed)
        ::tcsetattr(fd, TCSANOW, &earlier);
    ::close(fd);
}
