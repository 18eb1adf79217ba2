// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/recordingfile.h"

#include "cli/commandline.h"
#include "cli/messages.h"

#include <unistd.h>

RecordingFile::RecordingFile(const QString &path, CaptureReader::Input input)
    : path(path), name(path == QLatin1String("-") ? QStringLiteral("standard input") : path), input(input)
{
}

bool RecordingFile::fail(const QString &text)
{
    why = text;
    return false;
}

bool RecordingFile::open()
{
    file.close();
    records.reset();
    reader = std::make_unique<CaptureReader>(input);
    warnings.clear();
    why.clear();
    // The name's bytes as given, which need be no text in the locale's encoding.
    QString reason;
    const bool opened = path == QLatin1String("-") ? file.open(STDIN_FILENO, QIODevice::ReadOnly)
                                                   : openByBytes(file, argumentBytes(path), QIODevice::ReadOnly, reason);
    if (!opened)
        return fail(QStringLiteral("cannot read %1: %2").arg(name, reason.isEmpty() ? file.errorString() : reason));
    start = file.peek(blockSize);
    if (input == CaptureReader::Detect && looksLikeJsonLines(start))
        records = std::make_unique<JsonLinesReader>(file, name);
    return true;
}

bool RecordingFile::nextRecord(JsonRecord &record)
{
    if (!records || !why.isEmpty())
        return false;
    if (records->next(record))
        return true;
    why = records->error();
    return false;
}

bool RecordingFile::nextBlock(QByteArray &bytes, QVector<double> &times, bool &atEnd)
{
    QByteArray block(blockSize, Qt::Uninitialized);
    const qint64 size = file.read(block.data(), blockSize);
    if (size < 0)
        return fail(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
    atEnd = size == 0;
    if (!(atEnd ? reader->finish() : reader->feed(block.constData(), int(size))))
        return fail(QStringLiteral("%1: %2").arg(name, reader->errorString()));
    for (const QString &warning : reader->takeWarnings())
        warnings.append(QStringLiteral("%1: %2").arg(name, warning));
    if (atEnd && reader->otherChannelRows() > 0)
        warnings.append(QStringLiteral("%1: left out %2 of other analysers (%3): the bytes of one wire are read, %4's")
                            .arg(name, counted(reader->otherChannelRows(), "row", "rows"),
                                 reader->otherChannels().join(QStringLiteral(", ")), QString::fromUtf8(reader->channel())));
    bytes = reader->takeBytes();
    times = reader->takeTimes();
    return true;
}

QStringList RecordingFile::takeWarnings()
{
    QStringList taken;
    taken.swap(warnings);
    return taken;
}
