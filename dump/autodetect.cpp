// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/autodetect.h"

namespace {

// TBS's figure for the families that ExpressLRS runs at 420000.
constexpr qint32 tbsBaud = 416666;
constexpr qint32 expressLrsBaud = 420000;

} // namespace

FamilyDetector::FamilyDetector()
{
    // The table's own settings, fastest first, with TBS's figure after 420000.
    for (const FamilyDescriptor *family : allFamilies()) {
        QVector<LineSettings> lines{family->line};
        if (family->line.baud == expressLrsBaud) {
            LineSettings tbs = family->line;
            tbs.baud = tbsBaud;
            lines << tbs;
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
    listenAt(0);
}

void FamilyDetector::listenAt(int index)
{
    at = index;
    framer = std::make_unique<StreamFramer>(tried.at(index).families);
    passed.clear();
}

void FamilyDetector::feed(const QByteArray &bytes, qint64 nowMs, double quietMs)
{
    for (const AssembledFrame &frame : framer->feed(bytes, nowMs, quietMs)) {
        if (!frame.crcOk)
            continue;
        auto it = std::find_if(passed.begin(), passed.end(), [&](const auto &entry) { return entry.first == frame.family(); });
        if (it == passed.end())
            passed.append({frame.family(), 1});
        else
            ++it->second;
    }
}

const FamilyDescriptor *FamilyDetector::found() const
{
    // Noise passes a CRC-8 now and then, a few times a second on a busy
    // line; five frames of one family in a listening time it does not.
    const FamilyDescriptor *best = nullptr;
    int most = framesToFind - 1;
    for (const auto &entry : passed) {
        if (entry.second > most) {
            best = entry.first;
            most = entry.second;
        }
    }
    return best;
}

QString FamilyDetector::settingsText() const
{
    QStringList lines;
    for (const Setting &setting : tried)
        lines << setting.line.text();
    const QString last = lines.takeLast();
    return lines.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}
