// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/replay.h"

#include "cli/commandline.h"
#include "cli/messages.h"

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The start of a raw capture read ahead to learn its pace.
constexpr qint64 rawSample = 1 << 20;

} // namespace

RecordingReader::RecordingReader(const QString &path, CaptureReader::Input input, qint32 baud,
                                 const QVector<const FamilyDescriptor *> &families, bool findFamily)
    : path(path), input(input), together(1.5 * 10.0 / baud), file(path, input), familyList(families),
      assembler(families), findFamily(findFamily)
{
}

bool RecordingReader::fail(const QString &text)
{
    why = text;
    return false;
}

bool RecordingReader::rewind()
{
    opened = file.open();
    if (!opened)
        return fail(file.error());
    ended = false;
    firstSource = QString();
    otherSources.clear();
    otherRecords = 0;
    unassembled.clear();
    assembler = StreamFramer(familyList);
    // Looked for once: every pass reads with what the first found.
    finder.reset();
    if (findFamily && !decided)
        finder = std::make_unique<FamilyFinder>(autoFamilies());
    lookedAt.clear();
    unsent.clear();
    sent = 0;
    open = ReplayPiece();
    ready.clear();
    why.clear();
    if (input != CaptureReader::Detect || file.isJsonLines())
        return true;
    // Blank lines before the first record are no bytes to send.
    const QByteArray &head = file.head();
    QByteArray first;
    const qint64 line = firstLineOf(head, first);
    if (!isText(head))
        return true;
    if (line == 0 && file.size() <= head.size())
        return fail(QStringLiteral("%1 holds nothing to send: blank lines only").arg(shownName()));
    // Text in no form the reader knows is no capture either.
    CaptureReader probe(input);
    probe.feed(head.constData(), head.size());
    if (file.size() <= head.size())
        probe.finish();
    if (probe.form() == CaptureReader::Raw)
        return fail(QStringLiteral("%1, line %2: text in no form linkscope-send replays (jsonl records, a hex dump "
                                   "or a Saleae CSV export); give --input raw to send it as it is")
                        .arg(shownName()).arg(qMax<qint64>(line, 1)));
    return true;
}

bool RecordingReader::next(ReplayPiece &piece)
{
    while (ready.empty()) {
        if (!why.isEmpty() || ended || !(file.isJsonLines() ? fillJson() : fillCapture()))
            return false;
    }
    piece = std::move(ready.front());
    ready.pop_front();
    return true;
}

bool RecordingReader::fillJson()
{
    JsonRecord record;
    while (ready.empty()) {
        if (!file.nextRecord(record)) {
            if (!file.error().isEmpty())
                return fail(file.error());
            ended = true;
            if (otherRecords > 0)
                warnings << QStringLiteral("%1: left out %2 of %3: a replay sends one wire, %4's")
                                .arg(shownName(), counted(otherRecords, "record", "records"),
                                     otherSources.join(QStringLiteral(", ")), firstSource);
            return true;
        }
        // A recording of two sources holds both wires' frames: the first one's are sent.
        const QJsonValue src = record.fields.value(QStringLiteral("src"));
        if (src.isString() && firstSource.isNull())
            firstSource = src.toString();
        if (src.isString() && src.toString() != firstSource) {
            ++otherRecords;
            if (!otherSources.contains(src.toString()))
                otherSources << src.toString();
            continue;
        }
        ready.push_back({record.raw, record.t});
    }
    return true;
}

bool RecordingReader::fillCapture()
{
    QByteArray bytes;
    QVector<double> times;
    bool atEnd = false;
    if (!file.nextBlock(bytes, times, atEnd))
        return fail(file.error());
    takeDecoded(bytes, times, atEnd);
    ended = atEnd;
    return true;
}

QStringList RecordingReader::takeWarnings()
{
    QStringList taken = file.takeWarnings() + warnings;
    warnings.clear();
    return taken;
}

void RecordingReader::takeDecoded(const QByteArray &bytes, const QVector<double> &times, bool atEnd)
{
    if (file.capture().hasTimes()) {
        // A capture with times goes by them, whatever its family.
        finder.reset();
        group(bytes, times, atEnd);
    } else {
        cutIntoFrames = cutIntoFrames || file.capture().form() != CaptureReader::Undecided;
        assemble(bytes, atEnd);
    }
}

bool RecordingReader::settleFamily()
{
    while (finder && why.isEmpty() && !ended && !file.isJsonLines()) {
        if (!fillCapture())
            return false;
    }
    return why.isEmpty();
}

// The start of the capture, up to longestLook, is looked through for the
// family before any of it is cut into frames.
void RecordingReader::assemble(const QByteArray &bytes, bool atEnd)
{
    if (!finder) {
        assembleFound(bytes, atEnd);
        return;
    }
    finder->feed(bytes);
    lookedAt += bytes;
    if (atEnd)
        finder->finish();
    if (!finder->found() && !atEnd && lookedAt.size() < longestLook)
        return;
    decide();
    const QByteArray looked = std::move(lookedAt);
    lookedAt.clear();
    assembleFound(looked, atEnd);
}

void RecordingReader::decide()
{
    if (finder->found()) {
        familyList = finder->families();
        found = familyList.size() == 1 ? familyList.first() : nullptr;
        foundSaid = QStringLiteral("found %1 at offset %2 of %3")
                        .arg(finder->name())
                        .arg(finder->offset())
                        .arg(shownName());
    } else {
        foundSaid = QStringLiteral("no family found in %1 bytes of %2 (no family gave %3 good frames in a row); "
                                   "it goes as the frames of the window's five families and stray bytes")
                        .arg(finder->bytesSeen())
                        .arg(shownName())
                        .arg(FamilyFinder::framesInRow);
    }
    assembler = StreamFramer(familyList);
    finder.reset();
    decided = true;
}

void RecordingReader::assembleFound(const QByteArray &bytes, bool atEnd)
{
    unassembled += bytes;
    int from = 0; // in unsent, of stream offset sent
    const auto take = [&](qint64 end) {
        const int size = int(end - sent);
        ready.push_back({unsent.mid(from, size), ReplayPiece::unknown});
        from += size;
        sent = end;
    };
    const auto takeFrames = [&](const QVector<AssembledFrame> &frames) {
        // Frames of families of both kinds may overlap: each byte goes once.
        for (const AssembledFrame &frame : frames) {
            if (frame.offset + frame.bytes.size() > sent)
                take(frame.offset + frame.bytes.size());
        }
    };
    int at = 0;
    while (unassembled.size() - at >= RecordingFile::blockSize || (atEnd && at < unassembled.size())) {
        const QByteArray read = unassembled.mid(at, RecordingFile::blockSize);
        at += read.size();
        unsent += read;
        takeFrames(assembler.feed(read));
        // Bytes no frame can use any more go in parts, never all at once.
        const qint64 settled = assembler.bytesFed() - assembler.keptBytes();
        while (settled - sent >= RecordingReader::longestPiece)
            take(sent + RecordingReader::longestPiece);
    }
    unassembled.remove(0, at);
    if (atEnd) {
        takeFrames(assembler.flush());
        while (from < unsent.size())
            take(sent + qMin(unsent.size() - from, RecordingReader::longestPiece));
    }
    unsent.remove(0, from);
}

void RecordingReader::group(const QByteArray &bytes, const QVector<double> &times, bool atEnd)
{
    for (int i = 0; i < bytes.size(); ++i) {
        if (!open.bytes.isEmpty() && (times.at(i) - openLast > together || open.bytes.size() >= longestPiece)) {
            ready.push_back(std::move(open));
            open = ReplayPiece();
        }
        if (open.bytes.isEmpty())
            open.t = times.at(i);
        open.bytes += bytes.at(i);
        openLast = times.at(i);
    }
    if (atEnd && !open.bytes.isEmpty()) {
        ready.push_back(std::move(open));
        open = ReplayPiece();
    }
}

double ReplaySource::Timeline::place(const ReplayPiece &piece, double rate, double speed)
{
    // A timed piece goes at its time, counted from the first timed piece of
    // its run, and never before the piece ahead of it; one that goes back in
    // time begins a new run, as where a second session follows. A piece
    // without a time follows the one before at the rate.
    const double next = started ? lastDue + 1 / rate : 0;
    double due = next;
    if (piece.timed()) {
        if (std::isnan(anchorT) || piece.t < lastT) {
            anchorDue = next;
            anchorT = piece.t;
        }
        due = qMax(started ? lastDue : 0.0, anchorDue + (piece.t - anchorT) / speed);
        lastT = piece.t;
    }
    started = true;
    lastDue = due;
    return due;
}

ReplaySource::ReplaySource(const QString &path, CaptureReader::Input input, qint32 baud,
                           const QVector<const FamilyDescriptor *> &families, bool findFamily, double rate,
                           double speed, bool loop)
    : reader(path, input, baud, families, findFamily), rate(rate), speed(speed), loop(loop)
{
}

bool ReplaySource::open(QString &error)
{
    // A pipe is read once, as it is sent: only as far as its family tells.
    struct stat info;
    if (reader.fileName() == QLatin1String("-") || ::stat(argumentBytes(reader.fileName()).constData(), &info) != 0
        || !S_ISREG(info.st_mode)) {
        if (loop) {
            error = QStringLiteral("--loop reads %1 again and again, which a pipe cannot be").arg(reader.shownName());
            return false;
        }
        if (reader.rewind() && reader.settleFamily())
            return true;
        error = reader.error();
        return false;
    }
    Timeline pass;
    double last = 0;
    ReplayPiece piece;
    bool fine = reader.rewind();
    // Raw bytes cannot be broken and have no times: their start tells
    // their pace, and a file of any size starts at once.
    while (fine && !(reader.isRaw() && passBytes >= rawSample) && reader.next(piece)) {
        last = pass.place(piece, rate, speed);
        passBytes += piece.bytes.size();
        ++passPieces;
    }
    checkWarnings = reader.takeWarnings();
    checked = true;
    fine = fine && reader.error().isEmpty() && reader.rewind();
    if (!fine) {
        error = reader.error();
        return false;
    }
    if (passPieces == 0) {
        error = QStringLiteral("%1 holds nothing to send").arg(reader.shownName());
        return false;
    }
    passSeconds = last + 1 / rate;
    return true;
}

bool ReplaySource::next(Outgoing &out)
{
    ReplayPiece piece;
    if (!reader.next(piece)) {
        // A file that holds nothing was refused in open(); a pipe tells only now.
        if (given == 0 && reader.error().isEmpty()) {
            empty = QStringLiteral("%1 holds nothing to send").arg(reader.shownName());
            return false;
        }
        if (!loop || !reader.error().isEmpty() || !reader.rewind() || !reader.next(piece))
            return false;
        timeline.newPass();
    }
    out.bytes = piece.bytes;
    out.due = timeline.place(piece, rate, speed);
    out.kind = Outgoing::Replayed;
    ++given;
    return true;
}

QString ReplaySource::error() const
{
    return empty.isEmpty() ? reader.error() : empty;
}

QStringList ReplaySource::takeWarnings()
{
    // A file's warnings came in the check, and come again with every pass.
    if (!checked)
        return reader.takeWarnings();
    reader.takeWarnings();
    QStringList taken;
    taken.swap(checkWarnings);
    return taken;
}

// A pipe, not read ahead, is taken as paced by the rate.
double ReplaySource::bytesPerPiece() const
{
    return passPieces ? double(passBytes) / passPieces : 0;
}

double ReplaySource::secondsPerPiece() const
{
    return passPieces ? passSeconds / passPieces : 1 / rate;
}
