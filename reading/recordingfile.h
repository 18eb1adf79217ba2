// SPDX-License-Identifier: GPL-3.0-or-later
// A recording pulled from its start as the reader goes, so that memory
// stays bounded whatever its size: a file named by its bytes, or standard
// input; linkscope-dump's JSON lines record by record, any other capture
// block by block through the capture reader, in the reads linkscope-dump
// makes of a file. linkscope-send --replay reads its recording so; a
// merger of sources would pull each so, in time order.
#ifndef LINKSCOPE_READING_RECORDINGFILE_H
#define LINKSCOPE_READING_RECORDINGFILE_H

#include "decode/capture/jsonlines.h"
#include "decode/capture/capturereader.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class RecordingFile
{
public:
    // The reads linkscope-dump makes of a file, so that both find the same frames.
    static constexpr int blockSize = 1 << 16;

    // path: "-" for standard input, else a name as given on the command
    // line; input: how a capture is read (JSON lines only where Detect).
    RecordingFile(const QString &path, CaptureReader::Input input);

    // Opens it from the start again, and tells JSON lines from a capture by
    // its start; false with error() set.
    bool open();
    // "standard input", or the name.
    QString shownName() const { return name; }
    bool isJsonLines() const { return bool(records); }
    // The start of the file as opened, up to a block, and the file's size
    // where it is one.
    const QByteArray &head() const { return start; }
    qint64 size() const { return file.size(); }

    // JSON lines: the next record; false at the end or on an error.
    bool nextRecord(JsonRecord &record);
    // A capture: the next block's decoded bytes, with their times where the
    // capture tells them; atEnd once the file ended. False on an error.
    bool nextBlock(QByteArray &bytes, QVector<double> &times, bool &atEnd);
    const CaptureReader &capture() const { return *reader; }
    // What the capture reader found worth a word, each after the file's name; taken once.
    QStringList takeWarnings();
    QString error() const { return why; }

private:
    bool fail(const QString &text);

    const QString path, name;
    const CaptureReader::Input input;
    QFile file;
    QByteArray start;
    std::unique_ptr<JsonLinesReader> records;
    std::unique_ptr<CaptureReader> reader;
    QStringList warnings;
    QString why;
};

#endif
