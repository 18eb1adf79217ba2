// SPDX-License-Identifier: GPL-3.0-or-later
// --family auto while the family is not known: the bytes are looked
// through for a family whose frames come in a row, and kept with their
// times to be read again as that family's once it is found. A capture
// without frames is not kept whole: the oldest bytes go first.
#ifndef LINKSCOPE_READING_FAMILYSEARCH_H
#define LINKSCOPE_READING_FAMILYSEARCH_H

#include "decode/familyfinder.h"
#include "reading/captureform.h"

class FamilySearch
{
public:
    // Bytes as they came, to be read again.
    struct Kept
    {
        QByteArray bytes;
        qint64 fromMs, toMs;
        double arrivedAt, quietMs;
        TimedBytes timed() const { return {bytes.constData(), int(bytes.size()), fromMs, toMs, arrivedAt, quietMs}; }
    };

    explicit FamilySearch(const QVector<const FamilyDescriptor *> &candidates);

    // Bytes that arrived; onPort, their times are those of the read (at
    // arrivedAt, the last byte's), counted back at pace, else times are
    // their own where a capture tells them. True once a family is found.
    bool look(const TimedBytes &bytes, bool onPort, const QVector<double> &times, const LinePace &pace);
    // Keeps no more than most bytes, the last chunk at least; returns how
    // many of the oldest went.
    qint64 keepAtMost(qint64 most);
    // The bytes kept since the first, to be read again; none are kept after.
    QVector<Kept> takeKept();

    qint64 keptBytes() const { return bytes; }
    FamilyFinder &finder() { return found; }
    const FamilyFinder &finder() const { return found; }

private:
    FamilyFinder found;
    QVector<Kept> kept;
    qint64 bytes = 0;
    double lastAt = -1; // when the last read on a port arrived
};

#endif
