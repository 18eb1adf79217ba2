// SPDX-License-Identifier: GPL-3.0-or-later
// A recorded session played back: the file read piece by piece as it is
// sent, each piece with the time it arrived where the recording tells it, so
// that memory stays bounded whatever the file's size.
#ifndef LINKSCOPE_SEND_REPLAY_H
#define LINKSCOPE_SEND_REPLAY_H

#include "decode/familyfinder.h"
#include "decode/framing/streamframer.h"
#include "reading/recordingfile.h"
#include "send/source.h"

#include <QString>
#include <QVector>

#include <cmath>
#include <deque>
#include <limits>
#include <memory>

struct ReplayPiece
{
    static constexpr double unknown = std::numeric_limits<double>::quiet_NaN();
    QByteArray bytes;
    double t = unknown; // seconds into the recording
    bool timed() const { return !std::isnan(t); }
};

// Reads a recording from its start, one piece at a time, as the reading
// library pulls it (RecordingFile):
// - a raw capture or hex dump: each frame as linkscope-dump finds it, with
//   the stray bytes before it; long runs of stray bytes go in parts. Where
//   no family is named, the start is looked through for the family first,
//   as linkscope-dump --family auto does;
// - a logic analyser's export, whose bytes each have a time: bytes that
//   follow each other within a byte time and a half at baud go as one piece,
//   at the time of its first byte, so that the gaps come out as they were;
// - linkscope-dump's JSON lines (told by the first line that is not blank):
//   each record's raw bytes at its t.
// "-" is standard input.
class RecordingReader
{
public:
    // A raw capture or hex dump is cut into the frames of families, or of
    // the family found, where findFamily; families where none is.
    RecordingReader(const QString &path, CaptureReader::Input input, qint32 baud,
                    const QVector<const FamilyDescriptor *> &families, bool findFamily = false);
    // From the start of the file again; false with error() set.
    bool rewind();
    // The next piece; false at the end or on an error (error() not empty).
    bool next(ReplayPiece &piece);
    QString error() const { return why; }
    QString fileName() const { return path; }
    QString shownName() const { return file.shownName(); }
    // What the capture reader found worth a word since the last take, each
    // after the file's name.
    QStringList takeWarnings();
    // Raw bytes, as far as read: every piece untimed, none ever broken.
    bool isRaw() const { return !file.isJsonLines() && opened && file.capture().form() == CaptureReader::Raw; }
    // Cut into frames by families(), rather than sent by its records or times.
    bool framed() const { return cutIntoFrames; }
    // Reads ahead until the family is found or found to be none, where it
    // is looked for; false on an error.
    bool settleFamily();
    const QVector<const FamilyDescriptor *> &families() const { return familyList; }
    // The family found, where one was looked for and found.
    const FamilyDescriptor *foundFamily() const { return found; }
    // What looking for it found, to be said once; empty where nothing was looked for.
    QString foundText() const { return foundSaid; }

    // The most of a capture looked through for its family.
    static constexpr int longestLook = 4 << 20;

    // The longest piece a run of stray bytes or of timed bytes makes.
    static constexpr int longestPiece = 1 << 16;

private:
    bool fillJson();
    bool fillCapture();
    void takeDecoded(const QByteArray &bytes, const QVector<double> &times, bool atEnd);
    void assemble(const QByteArray &bytes, bool atEnd);
    void assembleFound(const QByteArray &bytes, bool atEnd);
    void decide();
    void group(const QByteArray &bytes, const QVector<double> &times, bool atEnd);
    bool fail(const QString &text);

    const QString path;
    const CaptureReader::Input input;
    const double together; // seconds between bytes of one timed piece
    RecordingFile file;
    bool opened = false, ended = false;
    QByteArray unassembled; // decoded bytes waiting for a whole read's worth
    QVector<const FamilyDescriptor *> familyList;
    StreamFramer assembler; // SBUS and DSM too, as linkscope-dump finds them
    const bool findFamily;
    bool decided = false;
    bool cutIntoFrames = false; // known once the form is
    std::unique_ptr<FamilyFinder> finder; // while looking
    QByteArray lookedAt;                  // the bytes it looked through
    const FamilyDescriptor *found = nullptr;
    // Of a recording of two sources: the one sent, and what was left out.
    QString firstSource;
    QStringList otherSources;
    qint64 otherRecords = 0;
    QStringList warnings;
    QString foundSaid;
    QByteArray unsent;      // from stream offset sent on
    qint64 sent = 0;
    ReplayPiece open;       // timed bytes still gathering
    double openLast = 0;    // time of its last byte
    std::deque<ReplayPiece> ready;
    QString why;
};

// Timed pieces keep their spacing, divided by speed; a piece without a time
// comes 1/rate after the one before. The first piece is due at once, and
// every pass of a loop begins a period after the last piece of the one
// before, so that a loop takes at least one period.
class ReplaySource : public OutgoingSource
{
public:
    ReplaySource(const QString &path, CaptureReader::Input input, qint32 baud,
                 const QVector<const FamilyDescriptor *> &families, bool findFamily, double rate, double speed,
                 bool loop);
    // Reads the file through once to check it and learn its pace (a pipe
    // is read only as it is sent); false with the reason.
    bool open(QString &error);

    bool next(Outgoing &out) override;
    double bytesPerPiece() const override;
    double secondsPerPiece() const override;
    QString error() const override;
    QStringList takeWarnings() override;
    const RecordingReader &recording() const { return reader; }

private:
    // When each piece is due, one after another.
    struct Timeline
    {
        double place(const ReplayPiece &piece, double rate, double speed);
        void newPass() { anchorT = ReplayPiece::unknown; }

        bool started = false;
        double lastDue = 0, lastT = ReplayPiece::unknown;
        double anchorDue = 0, anchorT = ReplayPiece::unknown; // where the run of timed pieces began
    };

    RecordingReader reader;
    const double rate, speed;
    const bool loop;
    Timeline timeline;
    qint64 passPieces = 0, passBytes = 0;
    bool checked = false; // read through once in open(): its warnings are told once
    QStringList checkWarnings;
    qint64 given = 0;
    QString empty; // a pipe that ended before its first piece
    double passSeconds = 0; // one pass, up to where the next would begin
};

#endif
