// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/statistics.h"

#include "cli/messages.h"

#include "decode/families/framereading.h"

#include <QStringList>

#include <cmath>

QString RunStatistics::framesText() const
{
    QStringList families;
    for (const auto &entry : qAsConst(perFamily))
        families << QStringLiteral("%1 %2").arg(QLatin1String(entry.first)).arg(entry.second);
    families.sort();
    QString text = QStringLiteral("frames: %1").arg(total);
    if (!families.isEmpty())
        text += QStringLiteral(" (%1)").arg(families.join(QStringLiteral(", ")));
    if (!perType.isEmpty()) {
        QStringList types;
        for (const auto &entry : qAsConst(perType))
            types << QStringLiteral("%1 %2 %3")
                         .arg(QLatin1String(entry.first.first), QLatin1String(entry.first.second))
                         .arg(entry.second);
        types.sort();
        text += QStringLiteral("\nframe types: %1").arg(types.join(QStringLiteral(", ")));
    }
    text += QStringLiteral("\nCRC failures: %1").arg(crcFailures);
    if (uncheckedFrames > 0)
        text += QStringLiteral(" (%1 without a check: SBUS, DSM and SUMH carry none)")
                    .arg(counted(uncheckedFrames, "frame", "frames"));
    text += QStringLiteral("\nfailsafe frames: %1\n").arg(failsafeFrames);
    if (frameLostFlags)
        text += QStringLiteral("frames flagged lost: %1\n").arg(lostFrames);
    return text;
}

QString RunStatistics::rateText(bool timedSource) const
{
    // The rate while frames came, as the intervals between them tell it.
    if (gaps > 0) {
        const double seconds = lastAt - firstAt;
        // Under 10 s, to the millisecond: 3 frames over 20 ms is no "0.0 s".
        return QStringLiteral("frame rate: %1/s over %2 s\n")
                   .arg(seconds > 0 ? double(gaps) / seconds : 0.0, 0, 'f', 1)
                   .arg(seconds, 0, 'f', seconds < 10 ? 3 : 1)
            + QStringLiteral("interval between frames: min %1 / mean %2 / max %3 ms\n")
                  .arg(shortest * 1000, 0, 'f', 1)
                  .arg(seconds * 1000 / double(gaps), 0, 'f', 1)
                  .arg(longest * 1000, 0, 'f', 1);
    }
    if (timedSource && total < 2)
        return QStringLiteral("frame rate: 0.0/s (fewer than two frames)\n");
    return QString();
}
