// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/familysearch.h"

FamilySearch::FamilySearch(const QVector<const FamilyDescriptor *> &candidates) : found(candidates)
{
}

bool FamilySearch::look(const TimedBytes &timed, bool onPort, const QVector<double> &captured, const LinePace &pace)
{
    Kept chunk{QByteArray(timed.data, timed.size), timed.fromMs, timed.toMs, timed.arrivedAt, timed.quietMs};
    QVector<double> times = captured;
    double quiet = timed.quietMs;
    const int size = timed.size;
    if (onPort) {
        // As the framer times them: the read's time, less the bytes after
        // each at the line's pace, and the quiet before them likewise.
        times.resize(size);
        for (int i = 0; i < size; ++i)
            times[i] = chunk.arrivedAt - (size - 1 - i) * pace.byteMs / 1000;
        quiet = lastAt < 0 ? -1 : (chunk.arrivedAt - lastAt) * 1000 - size * pace.byteMs;
        lastAt = chunk.arrivedAt;
    }
    found.feed(chunk.bytes, times, timed.fromMs, quiet);
    kept.append(std::move(chunk));
    bytes += size;
    return found.found();
}

qint64 FamilySearch::keepAtMost(qint64 most)
{
    int gone = 0;
    qint64 goneBytes = 0;
    while (gone < kept.size() - 1 && bytes - goneBytes > most)
        goneBytes += kept.at(gone++).bytes.size();
    kept.remove(0, gone);
    bytes -= goneBytes;
    return goneBytes;
}

QVector<FamilySearch::Kept> FamilySearch::takeKept()
{
    QVector<Kept> taken = std::move(kept);
    kept.clear();
    bytes = 0;
    return taken;
}
