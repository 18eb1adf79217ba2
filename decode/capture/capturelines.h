// SPDX-License-Identifier: GPL-3.0-or-later
// What the capture reader asks of each text form: take the file one line at
// a time and turn it into bytes, or say why a line breaks the form.
#ifndef LINKSCOPE_CAPTURELINES_H
#define LINKSCOPE_CAPTURELINES_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class CaptureLines
{
public:
    enum Outcome {
        Taken,
        Unfinished, // a quoted field goes on past the line end: hand over the record with the next line joined
        Broken,     // why is in what
    };

    virtual ~CaptureLines() = default;
    // One line without its '\n'; a '\r' before it is still there.
    virtual Outcome line(const char *begin, const char *end) = 0;
    // The file ended. False (with what and brokenLine set) if it ended
    // where the form does not allow.
    virtual bool finish() { return true; }

    // Decoded and not yet taken; times holds one per byte for forms that carry them.
    QByteArray bytes;
    QVector<double> times;
    // Set by the reader before each line: its number, and how much of the
    // file has been read up to its end (which bounds what a line may expand to).
    qint64 lineNumber = 0;
    qint64 inputRead = 0;
    qint64 leftOut = 0; // rows left out for a line error
    qint64 skipped = 0; // rows that hold no data
    QStringList warnings; // each names its line
    // A CSV whose rows name the analyser that read them: the one whose
    // bytes are taken (empty: the first row's), and the rows of others,
    // left out, with their names.
    QByteArray channel;
    qint64 otherChannelRows = 0;
    QStringList otherChannels;
    QString what;
    qint64 brokenLine = 0; // the line finish() blames
};

// A short, printable quote of a field or token for an error message.
QString quoteText(const char *begin, const char *end);

#endif
