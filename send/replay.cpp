// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/replay.h"

#include "decode/streamframer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

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

bool startsWithJsonObject(const QByteArray &text)
{
    const QByteArray first = text.left(text.indexOf('\n')).trimmed();
    return first.startsWith('{') && QJsonDocument::fromJson(first).isObject();
}

} // namespace

Recording piecesOfCapture(const QByteArray &capture, const QVector<const FamilyDescriptor *> &families)
{
    // Fed in the reads linkscope-dump makes of a file, so that both find the
    // same frames.
    constexpr int readSize = 1 << 16;
    StreamFramer assembler(families);
    QVector<AssembledFrame> frames;
    for (int at = 0; at < capture.size(); at += readSize) {
        const int size = qMin(readSize, capture.size() - at);
        frames += assembler.feed(QByteArray::fromRawData(capture.constData() + at, size));
    }
    frames += assembler.flush();

    Recording pieces;
    qint64 sent = 0;
    for (const AssembledFrame &frame : qAsConst(frames)) {
        const qint64 end = frame.offset + frame.bytes.size();
        // Frames of families of both kinds may overlap: each byte goes once.
        if (end <= sent)
            continue;
        pieces.append({capture.mid(int(sent), int(end - sent)), ReplayPiece::unknown});
        sent = end;
    }
    if (sent < capture.size())
        pieces.append({capture.mid(int(sent)), ReplayPiece::unknown});
    return pieces;
}

bool piecesOfJsonLines(const QByteArray &text, Recording &pieces, QString &error)
{
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const auto fail = [&](const QString &why) {
            error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return false;
        };
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject())
            return fail(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                       : QStringLiteral("not a JSON object"));
        const QJsonObject record = document.object();
        const QString raw = record.value(QLatin1String("raw")).toString();
        if (raw.isEmpty() || !isHex(raw))
            return fail(QStringLiteral("no \"raw\" bytes in hexadecimal"));
        const QJsonValue t = record.value(QLatin1String("t"));
        // Bytes that waited when linkscope-dump started have times before it.
        if (!t.isNull() && !t.isUndefined() && (!t.isDouble() || !std::isfinite(t.toDouble())))
            return fail(QStringLiteral("\"t\" is no time in seconds"));
        pieces.append({QByteArray::fromHex(raw.toLatin1()), t.isDouble() ? t.toDouble() : ReplayPiece::unknown});
    }
    return true;
}

Recording piecesOfTimedBytes(const QByteArray &bytes, const QVector<double> &times, qint32 baud)
{
    const double together = 1.5 * 10.0 / baud;
    Recording pieces;
    for (int from = 0, to = 1; from < bytes.size(); from = to++) {
        while (to < bytes.size() && times.at(to) - times.at(to - 1) <= together)
            ++to;
        pieces.append({bytes.mid(from, to - from), times.at(from)});
    }
    return pieces;
}

bool readRecording(const QString &path, CaptureReader::Input input, qint32 baud,
                   const QVector<const FamilyDescriptor *> &families, Recording &pieces,
                   QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (input == CaptureReader::Detect && startsWithJsonObject(content)) {
        if (!piecesOfJsonLines(content, pieces, error)) {
            error = QStringLiteral("%1, %2").arg(path, error);
            return false;
        }
    } else {
        CaptureReader reader(input);
        if (!reader.readAll(content)) {
            error = QStringLiteral("%1: %2").arg(path, reader.errorString());
            return false;
        }
        const QByteArray bytes = reader.takeBytes();
        pieces = reader.hasTimes() ? piecesOfTimedBytes(bytes, reader.takeTimes(), baud)
                                     : piecesOfCapture(bytes, families);
    }
    if (pieces.isEmpty()) {
        error = QStringLiteral("%1 holds nothing to send").arg(path);
        return false;
    }
    return true;
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

ReplaySource::ReplaySource(const Recording &pieces, double rate, double speed, bool loop)
    : pieces(pieces), rate(rate), speed(speed), loop(loop)
{
    Timeline pass;
    double last = 0;
    for (const ReplayPiece &piece : pieces) {
        last = pass.place(piece, rate, speed);
        passBytes += piece.bytes.size();
    }
    passSeconds = last + 1 / rate;
}

bool ReplaySource::next(Outgoing &out)
{
    if (at == pieces.size()) {
        if (!loop)
            return false;
        at = 0;
    }
    const ReplayPiece &piece = pieces[at++];
    out.bytes = piece.bytes;
    out.due = timeline.place(piece, rate, speed);
    out.kind = Outgoing::Replayed;
    return true;
}

double ReplaySource::bytesPerPiece() const
{
    return double(passBytes) / pieces.size();
}

double ReplaySource::secondsPerPiece() const
{
    return passSeconds / pieces.size();
}
