// SPDX-License-Identifier: GPL-3.0-or-later
// Turns the contents of a capture file into the bytes it holds, told apart by
// content: raw bytes, a Saleae async-serial CSV export (with the time of every
// byte), or a hex dump (plain pairs, xxd, xxd -p, hexdump -C).
#ifndef LINKSCOPE_CAPTUREREADER_H
#define LINKSCOPE_CAPTUREREADER_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class CaptureLines;

// Fed the file in blocks of any size (or whole, with readAll), it holds back
// the first few KB until the form is certain, then decodes line by line. What
// it keeps is the held-back start, one unfinished line and what has been
// decoded but not yet taken.
class CaptureReader
{
public:
    // What the user asks for: tell by content, or take the file as one form.
    enum Input { Detect, ForceRaw, ForceHex, ForceSaleae };
    enum Form {
        Undecided,
        Raw,
        SaleaeTimeValue, // header "Time [s],Value,Parity Error,Framing Error"
        SaleaeNameType,  // header "name,type,start_time,duration,data", maybe with more columns
        HexPairs,        // "A8 01 08", "a80108", "0xA8, 0x01", xxd -p, xxd -i
        Xxd,
        HexdumpC,
        XxdInclude, // xxd -i: a C array with its declaration lines
    };

    explicit CaptureReader(Input input = Detect);
    ~CaptureReader();
    CaptureReader(const CaptureReader &) = delete;
    CaptureReader &operator=(const CaptureReader &) = delete;

    // "raw", "hex" or "saleae"; false for any other name.
    static bool inputFromName(const QString &name, Input &input);
    static QString formName(Form form);

    // The next block of the file. False once the content broke its form;
    // what was decoded before the broken line can still be taken.
    bool feed(const char *data, int size);
    // The file ended: decodes what was held back and the last line.
    bool finish();
    // A whole file in memory: feed and finish; a raw file comes back shared, not copied.
    bool readAll(const QByteArray &contents);

    // Decoded since the last take. For a CSV, takeTimes() gives the time of
    // each byte in seconds as the file states it; otherwise it stays empty.
    QByteArray takeBytes();
    QVector<double> takeTimes();

    Form form() const { return decided; }
    QString formName() const { return formName(decided); }
    bool forced() const { return input != Detect; }
    bool hasTimes() const { return decided == SaleaeTimeValue || decided == SaleaeNameType; }
    // CSV rows left out for a parity or framing error, one byte each.
    qint64 leftOutBytes() const;
    // What was read but is worth a word, such as CSV times that ran
    // backwards, each naming its line; taken once.
    QStringList takeWarnings();
    // CSV rows that hold no data byte (other record types).
    qint64 skippedRows() const;
    // Of a CSV whose rows name their analyser: the one read (set before
    // the first block; else the first row's), and the rows of the others,
    // left out, with their names.
    void setChannel(const QByteArray &name) { wantedChannel = name; }
    QByteArray channel() const;
    qint64 otherChannelRows() const;
    QStringList otherChannels() const;

    bool failed() const { return errorAt > 0; }
    qint64 errorLine() const { return errorAt; }
    // For example: line 12: value "256" is over 255 (read as Saleae CSV
    // (Time [s],Value,...), recognised by its content)
    QString errorString() const;

private:
    struct Detection
    {
        Form form = Undecided;
        int textStart = 0;      // where the form's text begins, after a byte order mark
        qint64 linesBefore = 0; // title and blank lines before a CSV header
        qint64 badLine = 0;     // with form Undecided: the line that is no form, and why
        QString bad;
    };
    // False while bytes still to come could change the answer.
    bool decide(const char *data, int size, bool atEnd, Detection &d) const;
    void start(const Detection &d, const char *data, int size);
    void readText(const char *data, int size);
    void takeLine(const char *begin, const char *end);
    void fail(qint64 line, const QString &what);

    Input input;
    QByteArray wantedChannel;
    Form decided = Undecided;
    std::unique_ptr<CaptureLines> lines;
    QByteArray head;    // the start of the file while the form is not yet certain
    QByteArray carry;   // a line whose end has not arrived yet
    QByteArray record;  // a CSV record whose quoted field runs over line ends
    qint64 recordLine = 0;
    qint64 lineNumber = 0;
    qint64 offset = 0;  // of the next byte readText gets, in the file
    QByteArray rawBytes;
    qint64 errorAt = 0;
    QString errorWhat;
    bool ended = false;
    bool afterCr = false; // the last block ended in a '\r'
};

#endif
