// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/autodetect.h"

#include <algorithm>

namespace {

// TBS's figure for the families that ExpressLRS runs at 420000.
constexpr qint32 tbsBaud = 416666;
constexpr qint32 expressLrsBaud = 420000;
// FastSBUS: SBUS at twice the speed, which flight controllers scan for too.
constexpr qint32 sbusBaud = 100000;
constexpr qint32 fastSbusBaud = 200000;

} // namespace

FamilyDetector::FamilyDetector()
{
    // The table's own settings, fastest first, with the other figures
    // receivers use for the same frames.
    for (const FamilyDescriptor *family : autoFamilies()) {
        QVector<LineSettings> lines{family->line};
        LineSettings other = family->line;
        if (family->line.baud == expressLrsBaud) {
            other.baud = tbsBaud;
            lines << other;
        } else if (family->line.baud == sbusBaud && family->line.parity == 'E') {
            other.baud = fastSbusBaud;
            lines << other;
        }
        for (const LineSettings &line : lines) {
            auto it = std::find_if(tried.begin(), tried.end(), [&](const Setting &s) { return s.line == line; });
            if (it == tried.end())
                tried.append({line, {family}});
            else
                it->families << family;
        }
    }
    std::stable_sort(tried.begin(), tried.end(),
                     [](const Setting &a, const Setting &b) { return a.line.baud > b.line.baud; });
}

QString FamilyDetector::settingsText() const
{
    QStringList lines;
    for (const Setting &setting : tried)
        lines << setting.line.text();
    const QString last = lines.takeLast();
    return lines.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}
