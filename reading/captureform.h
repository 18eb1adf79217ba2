// SPDX-License-Identifier: GPL-3.0-or-later
// The capture form of a file or stream: its blocks, as read, through the
// capture reader into the bytes the capture holds, each run of them with
// its time. A capture that tells the time of each byte (a Saleae CSV
// export) is timed by it; raw bytes from a live stream by when each block
// arrived; a hex dump, like any file, not at all.
#ifndef LINKSCOPE_READING_CAPTUREFORM_H
#define LINKSCOPE_READING_CAPTUREFORM_H

#include "decode/capture/capturereader.h"

#include <QElapsedTimer>
#include <QPair>
#include <QString>
#include <QVector>

#include <functional>
#include <limits>

// Bytes with no pause in them, as the framer takes them.
struct TimedBytes
{
    const char *data;
    int size;
    qint64 fromMs, toMs;   // when the first and the last arrived, on the run's clock or the capture's
    double arrivedAt = -1; // when the read that brought them arrived (s), where that was not just now
    double quietMs = -1;   // how long the line was quiet before them, where known
};
// Takes bytes on; false when the run should end.
using TakeBytes = std::function<bool(const TimedBytes &)>;

// What the bytes' timing depends on, which --family auto may change.
struct LinePace
{
    double byteMs = 0;        // a byte's time on the line
    double shortestGapMs = 0; // the shortest quiet that starts a frame of the families looked for; 0 where none does
};

class CaptureForm
{
public:
    // live: a stream, whose blocks arrive over time; name: the source as messages show it.
    CaptureForm(CaptureReader::Input input, bool live, const QElapsedTimer &clock, const QString &name);

    // One block as read; the bytes decoded so far go to take. False when
    // the run should end: take said so, or the capture broke its form
    // (failed() then tells why).
    bool feed(const char *data, int size, const LinePace &pace, const TakeBytes &take);
    // The end of the file or stream.
    bool finish(const LinePace &pace, const TakeBytes &take);

    // Times count from the capture's own zero, not from its first byte, so
    // that captures of one clock line up.
    void keepCaptureClock() { ownClock = true; }
    // Of an export whose rows name their analyser, the one to read.
    void setChannel(const QByteArray &name) { capture.setChannel(name); }

    const CaptureReader &reader() const { return capture; }
    // Whether the wall clock times the bytes: raw bytes from a stream.
    bool wallTimed() const { return live && capture.form() == CaptureReader::Raw; }
    // Whether the capture tells each byte's time.
    bool timed() const { return capturedTimes; }
    // The time of the byte at offset among all the capture's bytes, in s
    // from its first byte; of the last byte where it is no longer kept.
    double timeOf(qint64 offset) const;
    // The times of count bytes from offset on, likewise.
    QVector<double> timesOf(qint64 offset, int count) const;
    // The times of the bytes before offset are needed no more.
    void forgetBefore(qint64 offset);

    bool failed() const { return !why.isEmpty(); }
    // "name: line 12: value ..."
    QString errorText() const { return why; }

private:
    bool takeDecoded(bool atEnd, const LinePace &pace, const TakeBytes &take);
    bool takeHeldBack(const QByteArray &bytes, const TakeBytes &take);

    CaptureReader capture;
    const bool live;
    const QElapsedTimer &clock;
    const QString name;
    // Blocks of a stream the capture reader holds while it tells the form:
    // how long each is and when it arrived.
    QVector<QPair<int, double>> heldBlocks;
    // The capture's own time of each byte, from offset timesFrom on.
    QVector<double> byteTimes;
    qint64 timesFrom = 0;
    bool capturedTimes = false;
    bool ownClock = false;
    double firstByteAt = 0, lastByteAt = 0;
    double lastCapturedAt = std::numeric_limits<double>::quiet_NaN();
    QString why;
};

#endif
