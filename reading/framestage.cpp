// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/framestage.h"

FrameStage::FrameStage(const QVector<const FamilyDescriptor *> &families) : framer(families)
{
}

void FrameStage::restart(const QVector<const FamilyDescriptor *> &families)
{
    framer = StreamFramer(families);
}

QVector<AssembledFrame> FrameStage::take(const TimedBytes &bytes, bool wallTimed, bool lineTimed, double nowS,
                                         const LinePace &pace)
{
    QVector<AssembledFrame> found;
    double quietMs = bytes.quietMs;
    if (wallTimed) {
        // On a line, the quiet before a read is at most the time since the
        // one before less the time its bytes took: where that is long, a
        // frame without a checksum may start here.
        if (lineTimed && !marks.isEmpty())
            quietMs = (nowS - lastReadAt) * 1000 - double(bytes.size) * pace.byteMs;
        lastReadAt = nowS;
        marks.append({framer.bytesFed() + bytes.size, nowS});
        bunching.addRead(nowS);
        // However long this program took to read them, the bytes were on
        // their way: only the settle timer, which sees no byte waiting,
        // tells a pause on the line.
        framer.stillArriving(bytes.toMs);
    } else {
        found = framer.dropStale(bytes.fromMs);
    }
    // The bytes run from fromMs to toMs with no pause in them: the first
    // byte's time decides whether what was kept went stale, and the last
    // byte's time is when the framer last heard of the stream.
    found += framer.feed(QByteArray::fromRawData(bytes.data, bytes.size), bytes.fromMs, quietMs);
    framer.stillArriving(bytes.toMs);
    return found;
}

qint64 FrameStage::forgetSettled()
{
    // Frames still to come end after the bytes the framer keeps.
    const qint64 keptFrom = framer.bytesFed() - framer.keptBytes();
    int done = 0;
    while (done < marks.size() - 1 && marks.at(done).end <= keptFrom)
        ++done;
    marks.remove(0, done);
    return keptFrom;
}

double FrameStage::readTime(qint64 end, bool lineTimed, const LineSettings &line, double *readAt) const
{
    double t = marks.isEmpty() ? 0.0 : marks.last().t;
    if (readAt)
        *readAt = t;
    for (const ReadMark &mark : marks) {
        if (mark.end >= end) {
            t = mark.t - (lineTimed ? double(mark.end - end) * line.bitsPerByte() / line.baud : 0.0);
            if (readAt)
                *readAt = mark.t;
            break;
        }
    }
    return t;
}
