// SPDX-License-Identifier: GPL-3.0-or-later
// A choice of channels as people write it on a command line, "1-4,7", for
// linkscope-dump's records and live view and for linkscope-plot.
#ifndef LINKSCOPE_CHANNELLIST_H
#define LINKSCOPE_CHANNELLIST_H

#include <QString>
#include <QVector>

class ChannelList
{
public:
    // Every channel: nothing is left out.
    ChannelList() = default;

    // Numbers and ranges from 1 to 255 separated by commas, "1-4,7"; they
    // come out in ascending order, each once. False with why in error for
    // anything else: an empty item, 0, a range that runs backwards.
    static bool parse(const QString &text, ChannelList &list, QString &error);

    bool all() const { return numbers.isEmpty(); }
    // Channel numbers, counted from 1, in ascending order; empty for all.
    const QVector<int> &chosen() const { return numbers; }
    bool contains(int channel) const;
    // As given to parse, tidied: "1-4,7".
    QString text() const;

private:
    QVector<int> numbers;
};

#endif
