// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/messages.h"

#include "cli/stopsignals.h"

#include <QCoreApplication>
#include <QStringList>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// After a stop signal, what is said on standard error gets until this mark.
constexpr qint64 lastWordsMs = 800;

bool holding = false;
QStringList held;

} // namespace

void tell(const QByteArray &text)
{
    const char *at = text.constData();
    qint64 left = text.size();
    while (left > 0) {
        if (stopRequested()) {
            pollfd room{STDERR_FILENO, POLLOUT, 0};
            if (::poll(&room, 1, int(qMax<qint64>(0, lastWordsMs - msSinceStop()))) <= 0)
                return;
        }
        // Small pieces, so that a terminal with a little room takes them.
        const ssize_t n = ::write(STDERR_FILENO, at, size_t(stopRequested() ? qMin<qint64>(left, 64) : left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        at += n;
        left -= n;
    }
}

void complain(const QString &text)
{
    if (holding)
        held.append(text);
    else
        tell(QCoreApplication::applicationName().toLocal8Bit() + ": " + text.toLocal8Bit() + '\n');
}

void holdMessages(bool hold)
{
    holding = hold;
    if (hold)
        return;
    const QStringList kept = held;
    held.clear();
    for (const QString &message : kept)
        complain(message);
}

QString counted(qint64 n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}
