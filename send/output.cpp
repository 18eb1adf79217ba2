// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/output.h"

#include "cli/stopsignals.h"
#include "serial/linesettings.h"
#include "serial/portaccess.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// After a stop, what the line has not taken by then is given up.
constexpr qint64 giveUpAfterMs = 100;
bool standardOutputClosed = false;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

void guardStandardOutput()
{
    if (::fcntl(STDOUT_FILENO, F_GETFD) >= 0)
        return;
    standardOutputClosed = true;
    ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

bool Output::open(const QString &name, const LineSettings &line, bool lowLatency, bool say, bool readToo)
{
    target = name;
    if (name == QLatin1String("-")) {
        target = QStringLiteral("standard output");
        if (standardOutputClosed) {
            why = QStringLiteral("standard output is closed");
            return false;
        }
        fd = STDOUT_FILENO;
        return true;
    }
    const QString device = portDevicePath(name);
    // A port name never leads to a regular file; a capture is written by
    // redirecting standard output.
    const QFileInfo meant(QFileInfo::exists(device) ? device : name);
    if (meant.isFile()) {
        why = QStringLiteral("cannot open %1: it is a file, not a serial port (give - and redirect standard output "
                             "to write a capture)").arg(name);
        return false;
    }
    // A FIFO or the like here, where a port name leads nowhere.
    if (!QFileInfo::exists(device) && meant.exists()) {
        why = QStringLiteral("cannot open %1: %2; give - and redirect standard output to write anywhere else")
                  .arg(name, notAPortReason());
        return false;
    }
    port.setPortName(device);
    if (!port.open(readToo ? QIODevice::ReadWrite : QIODevice::WriteOnly)) {
        const QString reason = openFailureReason(port, device, portListFor(name));
        why = QStringLiteral("cannot open %1: %2").arg(name, reason);
        if (reason == notAPortReason())
            why += QStringLiteral("; give - and redirect standard output to write anywhere else");
        return false;
    }
    if (lowLatency)
        latency.set(int(port.handle()), device, isPseudoTerminal(port));
    if (say && !latency.said().isEmpty())
        std::fprintf(stderr, "linkscope-send: %s\n", qPrintable(latency.said()));
    QString warning;
    const QString failedSetting = applyLineSettings(port, line, &warning, name);
    if (!warning.isEmpty())
        std::fprintf(stderr, "linkscope-send: %s\n", qPrintable(warning));
    if (!failedSetting.isEmpty()) {
        why = QStringLiteral("cannot set the %1 of %2: %3").arg(failedSetting, name, port.errorString());
        latency.restore();
        port.close();
        return false;
    }
    fd = int(port.handle());
    return true;
}

Output::Result Output::write(const char *data, int size, const std::function<bool()> &stopping, int &written)
{
    QElapsedTimer sinceStop;
    written = 0;
    while (written < size) {
        // The line takes bytes at its pace; only a run that should end
        // anyway stops waiting for it. Waiting for room first keeps a write
        // from blocking on a reader that stopped.
        pollfd ready{fd, POLLOUT, 0};
        int events = 0;
        if (stopping()) {
            if (!sinceStop.isValid())
                sinceStop.start();
            const qint64 waitMs = giveUpAfterMs - sinceStop.elapsed();
            if (waitMs <= 0) {
                why = QStringLiteral("%1 did not take the frame within %2 ms of the stop").arg(target)
                          .arg(giveUpAfterMs);
                return GaveUp;
            }
            events = ::poll(&ready, 1, int(waitMs));
        } else {
            events = pollOrStop(&ready, 1, 100000000);
        }
        if (events <= 0)
            continue;
        // A pipe with room takes this much at once.
        const ssize_t n = ::write(fd, data + written, size_t(qMin(size - written, PIPE_BUF)));
        if (n > 0)
            written += int(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            return fail(errno);
    }
    return Written;
}

Output::Result Output::lost(short revents)
{
    if (revents & POLLNVAL)
        return fail(EBADF);
    // Standard output's reader went away (a pipe), or the device did.
    return isPort() ? fail(EIO) : fail(EPIPE);
}

Output::Result Output::fail(int error)
{
    if (!isPort()) {
        if (error == EPIPE)
            return Closed;
        why = QStringLiteral("cannot write to standard output: %1").arg(systemText(error));
        return Failed;
    }
    if (deviceHungUp(port) || error == EIO)
        why = QStringLiteral("lost %1: %2").arg(target, hungUpReason());
    else
        why = QStringLiteral("cannot write to %1: %2").arg(target, systemText(error));
    return Failed;
}

Output::Drained Output::drain()
{
    Drained result;
    int queued = 0;
    if (!isPort() || ::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
        return result;
    result.waited = true;
    // A second more than the queued bytes need at the baud rate.
    const qint64 timeoutMs = 1000 + qint64(queued) * 12000 / port.baudRate();
    QElapsedTimer waited;
    waited.start();
    // A stop leaves the line what it takes in giveUpAfterMs.
    while (::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && waited.elapsed() < timeoutMs
           && !(stopRequested() && waited.elapsed() > giveUpAfterMs)) {
        ::poll(nullptr, 0, 2);
    }
    result.left = qMax(queued, 0);
    return result;
}

void Output::close()
{
    latency.restore();
    if (isPort())
        port.close();
    fd = -1;
}
