// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump's JSON lines read back, one record at a time so that
// memory stays small: each record's raw frame in hexadecimal, its time t in
// seconds (null where the source told none) and whatever else it holds.
#ifndef LINKSCOPE_DECODE_CAPTURE_JSONLINES_H
#define LINKSCOPE_DECODE_CAPTURE_JSONLINES_H

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <limits>

class QFileDevice;

struct JsonRecord
{
    QByteArray raw;
    double t = std::numeric_limits<double>::quiet_NaN();
    QJsonObject fields; // the whole record: family, format, t_from, offset, ...
};

// Text as people and programs write it: no control bytes but tab and line
// ends, and not empty.
bool isText(const QByteArray &bytes);
// The number (from 1) and text of the first line of head that is not
// blank, or 0 where there is none.
qint64 firstLineOf(const QByteArray &head, QByteArray &text);
// Whether head, the start of a file, is JSON lines: text whose first line
// that is not blank opens an object.
bool looksLikeJsonLines(const QByteArray &head);

class JsonLinesReader
{
public:
    // A longer line is no record linkscope-dump writes.
    static constexpr qint64 longestLine = 1 << 20;

    // name: the file as messages show it.
    JsonLinesReader(QFileDevice &file, const QString &name);

    // The next record, blank lines skipped; false at the end, or where a
    // line is no record or the file cannot be read (error() then says
    // which line and why).
    bool next(JsonRecord &record);
    QString error() const { return why; }
    // Where a record read is nonetheless no use: "name, line 3: what".
    QString errorHere(const QString &what) const;

private:
    bool fail(const QString &what);

    QFileDevice &file;
    const QString name;
    qint64 lineNumber = 0;
    QString why;
};

#endif
