// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/linkhealth.h"

LinkHealth::LinkHealth(qint64 startMs)
{
    samples.append({startMs, 0});
}

void LinkHealth::frameShown(bool crcOk, bool failsafeSent)
{
    ++frames;
    ++(crcOk ? ok : bad);
    inFailsafe = crcOk && failsafeSent;
    if (inFailsafe)
        ++failsafe;
}

void LinkHealth::failsafeFrame()
{
    ++frames;
    ++failsafe;
    inFailsafe = true;
}

QString LinkHealth::alert() const
{
    return inFailsafe ? QStringLiteral("RECEIVER IN FAILSAFE") : QString();
}

QString LinkHealth::figures(qint64 nowMs, qint64 strayBytes)
{
    const qint64 total = frames;
    samples.append({nowMs, total});
    while (samples.size() > 2 && samples.at(1).ms <= nowMs - 1000)
        samples.removeFirst();
    const Sample &since = samples.first();
    const qint64 span = nowMs - since.ms;
    const double rate = span > 0 ? double(total - since.frames) * 1000.0 / double(span) : 0.0;

    // Kept short: it shares the status bar with the messages about the port.
    QString line = QStringLiteral("OK %1 · FALSE %2 · %3/s · stray %4 B")
                       .arg(ok).arg(bad).arg(rate, 0, 'f', 0).arg(strayBytes);
    if (failsafe > 0)
        line += QStringLiteral(" · failsafe %1").arg(failsafe);
    return line;
}
