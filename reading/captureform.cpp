// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/captureform.h"

#include "cli/messages.h"
#include "decode/framing/streamframer.h"

#include <cmath>

CaptureForm::CaptureForm(CaptureReader::Input input, bool live, const QElapsedTimer &clock, const QString &name)
    : capture(input), live(live), clock(clock), name(name)
{
}

bool CaptureForm::feed(const char *data, int size, const LinePace &pace, const TakeBytes &take)
{
    const bool undecided = capture.form() == CaptureReader::Undecided;
    capture.feed(data, size);
    if (live && undecided)
        heldBlocks.append({size, double(clock.nsecsElapsed()) / 1e9});
    return takeDecoded(false, pace, take);
}

bool CaptureForm::finish(const LinePace &pace, const TakeBytes &take)
{
    return takeDecoded(true, pace, take);
}

// Raw bytes the capture reader held back while it told the form: each block
// is taken with the time it arrived, not the time the form was known.
bool CaptureForm::takeHeldBack(const QByteArray &bytes, const TakeBytes &take)
{
    int from = 0;
    for (const auto &block : qAsConst(heldBlocks)) {
        const int size = qMin(block.first, int(bytes.size()) - from);
        const qint64 ms = qint64(block.second * 1000);
        if (size > 0 && !take({bytes.constData() + from, size, ms, ms, block.second}))
            return false;
        from += qMax(size, 0);
    }
    heldBlocks.clear();
    if (from >= bytes.size())
        return true;
    const qint64 now = clock.elapsed();
    return take({bytes.constData() + from, int(bytes.size()) - from, now, now});
}

// The bytes the capture reader has decoded. Where the capture tells the
// time of each byte, a pause in it settles a partial frame as a pause on a
// live line would.
bool CaptureForm::takeDecoded(bool atEnd, const LinePace &pace, const TakeBytes &take)
{
    if (atEnd)
        capture.finish();
    const QByteArray bytes = capture.takeBytes();
    const QVector<double> times = capture.takeTimes();
    for (const QString &warning : capture.takeWarnings())
        complain(QStringLiteral("%1: %2").arg(name, warning));
    bool more = true;
    if (capture.form() != CaptureReader::Undecided && !wallTimed())
        heldBlocks.clear();
    if (times.isEmpty() && !heldBlocks.isEmpty()) {
        more = bytes.isEmpty() || takeHeldBack(bytes, take);
    } else if (times.isEmpty()) {
        // A hex dump tells no times: only its end settles a partial frame.
        const qint64 now = wallTimed() ? clock.elapsed() : 0;
        more = bytes.isEmpty() || take({bytes.constData(), int(bytes.size()), now, now});
    } else {
        if (!capturedTimes) {
            firstByteAt = ownClock ? 0.0 : times.first();
            capturedTimes = true;
        }
        byteTimes += times;
        lastByteAt = times.last();
        const auto ms = [&](int i) { return qint64(std::floor((times.at(i) - firstByteAt) * 1000)); };
        // The line's quiet before byte i: the time since the byte before
        // less that byte's own time on the line.
        const auto quiet = [&](int i) {
            const double before = i > 0 ? times.at(i - 1) : lastCapturedAt;
            return std::isnan(before) ? -1.0 : (times.at(i) - before) * 1000 - pace.byteMs;
        };
        const double shortestGap = pace.shortestGapMs;
        for (int from = 0, to = 1; more && from < bytes.size(); from = to++) {
            while (to < bytes.size() && ms(to) - ms(to - 1) <= StreamFramer::staleAfterMs
                   && !(shortestGap > 0 && quiet(to) >= shortestGap))
                ++to;
            more = take({bytes.constData() + from, to - from, ms(from), ms(to - 1), -1, quiet(from)});
        }
        lastCapturedAt = times.last();
    }
    if (more && capture.failed()) {
        why = QStringLiteral("%1: %2").arg(name, capture.errorString());
        return false;
    }
    return more;
}

double CaptureForm::timeOf(qint64 offset) const
{
    const qint64 at = offset - timesFrom;
    return at >= 0 && at < byteTimes.size() ? byteTimes.at(int(at)) - firstByteAt : lastByteAt - firstByteAt;
}

QVector<double> CaptureForm::timesOf(qint64 offset, int count) const
{
    QVector<double> times = byteTimes.mid(int(offset - timesFrom), count);
    for (double &t : times)
        t -= firstByteAt;
    return times;
}

void CaptureForm::forgetBefore(qint64 offset)
{
    const int done = int(qBound<qint64>(0, offset - timesFrom, byteTimes.size()));
    byteTimes.remove(0, done);
    timesFrom += done;
}
