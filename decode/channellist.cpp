// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/channellist.h"

#include "decode/families/framereading.h"

#include <QStringList>

#include <algorithm>

namespace {

bool channelNumber(const QString &text, int &number)
{
    bool ok = false;
    // Digits only: toInt would take "+3" and " 3".
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    number = text.toInt(&ok);
    return ok && number >= 1 && number <= FrameReading::maxChannels;
}

} // namespace

bool ChannelList::parse(const QString &text, ChannelList &list, QString &error)
{
    QVector<bool> wanted(FrameReading::maxChannels + 1, false);
    const QStringList items = text.split(QLatin1Char(','));
    for (const QString &item : items) {
        const int dash = item.indexOf(QLatin1Char('-'));
        int first = 0, last = 0;
        const bool ok = dash < 0 ? channelNumber(item, first) && channelNumber(item, last)
                                 : channelNumber(item.left(dash), first) && channelNumber(item.mid(dash + 1), last);
        if (!ok) {
            error = QStringLiteral("bad channel list '%1': '%2' is no channel or range of channels from 1 to %3")
                        .arg(text, item)
                        .arg(FrameReading::maxChannels);
            return false;
        }
        if (first > last) {
            error = QStringLiteral("bad channel list '%1': the range '%2' runs backwards").arg(text, item);
            return false;
        }
        std::fill(wanted.begin() + first, wanted.begin() + last + 1, true);
    }
    list.numbers.clear();
    for (int channel = 1; channel <= FrameReading::maxChannels; ++channel) {
        if (wanted.at(channel))
            list.numbers.append(channel);
    }
    return true;
}

bool ChannelList::contains(int channel) const
{
    return all() || std::binary_search(numbers.cbegin(), numbers.cend(), channel);
}

QString ChannelList::text() const
{
    QStringList parts;
    for (int i = 0; i < numbers.size();) {
        int j = i;
        while (j + 1 < numbers.size() && numbers.at(j + 1) == numbers.at(j) + 1)
            ++j;
        parts << (j == i ? QString::number(numbers.at(i))
                         : QStringLiteral("%1-%2").arg(numbers.at(i)).arg(numbers.at(j)));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}
