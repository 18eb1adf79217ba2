// SPDX-License-Identifier: GPL-3.0-or-later
// A recorded session played back: a list of pieces to send, each with the
// time it arrived where the recording tells it. Any reader that yields such
// pieces can feed the replay.
#ifndef LINKSCOPE_SEND_REPLAY_H
#define LINKSCOPE_SEND_REPLAY_H

#include "decode/capturereader.h"
#include "decode/families/familytable.h"
#include "send/source.h"

#include <QString>
#include <QVector>

#include <cmath>
#include <limits>

struct ReplayPiece
{
    static constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
    QByteArray bytes;
    double t = unknown; // seconds into the recording
    bool timed() const { return !std::isnan(t); }
};
using Recording = QVector<ReplayPiece>;

// A raw capture: each frame as linkscope-dump finds it, with the stray bytes
// before it; stray bytes after the last frame come last.
Recording piecesOfCapture(const QByteArray &capture, const QVector<const FamilyDescriptor *> &families);
// Bytes that each have a time, as a logic analyser's export gives them:
// bytes that follow each other within a byte time and a half at baud go as
// one piece, at the time of its first byte, so that the gaps between them
// come out as they were.
Recording piecesOfTimedBytes(const QByteArray &bytes, const QVector<double> &times, qint32 baud);
// linkscope-dump's JSON lines: each record's raw bytes at its t.
bool piecesOfJsonLines(const QByteArray &text, Recording &pieces, QString &error);
// linkscope-dump's JSON lines, told by the first line, or a capture in any
// form the capture reader knows (raw bytes, hex dumps, Saleae CSV).
bool readRecording(const QString &path, CaptureReader::Input input, qint32 baud,
                   const QVector<const FamilyDescriptor *> &families, Recording &pieces,
                   QString &error);

// Timed pieces keep their spacing, divided by speed; a piece without a time
// comes 1/rate after the one before. The first piece is due at once.
class ReplaySource : public OutgoingSource
{
public:
    ReplaySource(const Recording &pieces, double rate, double speed, bool loop);

    bool next(Outgoing &out) override;
    double bytesPerPiece() const override;
    double secondsPerPiece() const override;

private:
    // When each piece is due, one after another.
    struct Timeline
    {
        double place(const ReplayPiece &piece, double rate, double speed);

        bool started = false;
        double lastDue = 0, lastT = ReplayPiece::unknown;
        double anchorDue = 0, anchorT = ReplayPiece::unknown; // where the run of timed pieces began
    };

    const Recording &pieces;
    const double rate, speed;
    const bool loop;
    int at = 0;
    Timeline timeline;
    double passSeconds = 0; // one pass, up to where the next would begin
    qint64 passBytes = 0;
};

#endif
