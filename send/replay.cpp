// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/replay.h"

#include "cli/commandline.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The reads linkscope-dump makes of a file, so that both find the same frames.
constexpr int readSize = 1 << 16;
// The start of a raw capture read ahead to learn its pace.
constexpr qint64 rawSample = 1 << 20;
// A longer line is no record linkscope-dump writes.
constexpr qint64 longestLine = 1 << 20;

bool isHex(const QString &text)
{
    if (text.size() % 2)
        return false;
    for (QChar c : text) {
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return false;
    }
    return true;
}

// Text as people and programs write it: no control bytes but tab and line ends.
bool isText(const QByteArray &bytes)
{
    for (char c : bytes) {
        const quint8 byte = quint8(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7F)
            return false;
    }
    return !bytes.isEmpty();
}

// The number (from 1) and text of the first line that is not blank, or 0.
qint64 firstLine(const QByteArray &head, QByteArray &text)
{
    qint64 number = 0;
    for (const QByteArray &line : head.split('\n')) {
        ++number;
        text = line.trimmed();
        if (!text.isEmpty())
            return number;
    }
    return 0;
}

} // namespace

RecordingReader::RecordingReader(const QString &path, CaptureReader::Input input, qint32 baud,
                                 const QVector<const FamilyDescriptor *> &families, bool findFamily)
    : path(path), name(path == QLatin1String("-") ? QStringLiteral("standard input") : path), input(input),
      together(1.5 * 10.0 / baud), familyList(families), assembler(families), findFamily(findFamily)
{
}

bool RecordingReader::fail(const QString &text)
{
    why = text;
    return false;
}

bool RecordingReader::rewind()
{
    file.close();
    // The name's bytes as given, which need be no text in the locale's encoding.
    QString reason;
    const bool opened = path == QLatin1String("-") ? file.open(STDIN_FILENO, QIODevice::ReadOnly)
                                                   : openByBytes(file, argumentBytes(path), QIODevice::ReadOnly, reason);
    if (!opened)
        return fail(QStringLiteral("cannot read %1: %2").arg(name, reason.isEmpty() ? file.errorString() : reason));
    ended = false;
    lineNumber = 0;
    reader.reset(new CaptureReader(input));
    unassembled.clear();
    assembler = StreamFramer(familyList);
    // Looked for once: every pass reads with what the first found.
    finder.reset();
    if (findFamily && !decided)
        finder = std::make_unique<FamilyFinder>(autoFamilies());
    lookedAt.clear();
    unsent.clear();
    warnings.clear();
    sent = 0;
    open = ReplayPiece();
    ready.clear();
    why.clear();
    json = false;
    if (input != CaptureReader::Detect)
        return true;
    // Blank lines before the first record are no bytes to send.
    const QByteArray head = file.peek(readSize);
    QByteArray first;
    const qint64 line = firstLine(head, first);
    if (!isText(head))
        return true;
    if (line == 0 && file.size() <= head.size())
        return fail(QStringLiteral("%1 holds nothing to send: blank lines only").arg(name));
    json = first.startsWith('{');
    if (json)
        return true;
    // Text in no form the reader knows is no capture either.
    CaptureReader probe(input);
    probe.feed(head.constData(), head.size());
    if (file.size() <= head.size())
        probe.finish();
    if (probe.form() == CaptureReader::Raw)
        return fail(QStringLiteral("%1, line %2: text in no form linkscope-send replays (jsonl records, a hex dump "
                                   "or a Saleae CSV export); give --input raw to send it as it is")
                        .arg(name).arg(qMax<qint64>(line, 1)));
    return true;
}

bool RecordingReader::next(ReplayPiece &piece)
{
    while (ready.empty()) {
        if (!why.isEmpty() || ended || !(json ? fillJson() : fillCapture()))
            return false;
    }
    piece = std::move(ready.front());
    ready.pop_front();
    return true;
}

bool RecordingReader::fillJson()
{
    while (ready.empty()) {
        const QByteArray read = file.readLine(longestLine + 1);
        if (read.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                return fail(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
            ended = true;
            return true;
        }
        ++lineNumber;
        const auto failHere = [&](const QString &what) {
            return fail(QStringLiteral("%1, line %2: %3").arg(name).arg(lineNumber).arg(what));
        };
        if (read.size() > longestLine)
            return failHere(QStringLiteral("longer than any record (1 MiB)"));
        const QByteArray line = read.trimmed();
        if (line.isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject())
            return failHere(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                          : QStringLiteral("not a JSON object"));
        const QJsonObject record = document.object();
        const QString raw = record.value(QLatin1String("raw")).toString();
        if (raw.isEmpty() || !isHex(raw))
            return failHere(QStringLiteral("no \"raw\" bytes in hexadecimal"));
        const QJsonValue t = record.value(QLatin1String("t"));
        // Bytes that waited when linkscope-dump started have times before it.
        if (!t.isNull() && !t.isUndefined() && (!t.isDouble() || !std::isfinite(t.toDouble())))
            return failHere(QStringLiteral("\"t\" is no time in seconds"));
        ready.push_back({QByteArray::fromHex(raw.toLatin1()), t.isDouble() ? t.toDouble() : ReplayPiece::unknown});
    }
    return true;
}

bool RecordingReader::fillCapture()
{
    QByteArray block(readSize, Qt::Uninitialized);
    const qint64 size = file.read(block.data(), readSize);
    if (size < 0)
        return fail(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    const bool atEnd = size == 0;
    if (!(atEnd ? reader->finish() : reader->feed(block.constData(), int(size))))
        return fail(QStringLiteral("%1: %2").arg(name, reader->errorString()));
    for (const QString &warning : reader->takeWarnings())
        warnings.append(QStringLiteral("%1: %2").arg(name, warning));
    takeDecoded(atEnd);
    ended = atEnd;
    return true;
}

QStringList RecordingReader::takeWarnings()
{
    QStringList taken;
    taken.swap(warnings);
    return taken;
}

void RecordingReader::takeDecoded(bool atEnd)
{
    if (reader->hasTimes()) {
        // A capture with times goes by them, whatever its family.
        finder.reset();
        const QByteArray bytes = reader->takeBytes();
        group(bytes, reader->takeTimes(), atEnd);
    } else {
        cutIntoFrames = cutIntoFrames || reader->form() != CaptureReader::Undecided;
        assemble(reader->takeBytes(), atEnd);
    }
}

bool RecordingReader::settleFamily()
{
    while (finder && why.isEmpty() && !ended && !json) {
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
                        .arg(name);
    } else {
        foundSaid = QStringLiteral("no family found in %1 bytes of %2 (no family gave %3 good frames in a row); "
                                   "it goes as the frames of the window's five families and stray bytes")
                        .arg(finder->bytesSeen())
                        .arg(name)
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
    while (unassembled.size() - at >= readSize || (atEnd && at < unassembled.size())) {
        const QByteArray read = unassembled.mid(at, readSize);
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
