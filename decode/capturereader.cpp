// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the form of a capture file from its start and cuts text forms into
// lines for their readers, whatever the blocks the file arrives in.
#include "decode/capturereader.h"

#include "decode/capturelines.h"
#include "decode/hexdump.h"
#include "decode/saleaecsv.h"

#include <cstring>

namespace {

// A hex dump is only taken for one when this much of its start (or all of
// it) is plain text: a binary capture has a byte over 127 in every frame.
constexpr int detectWindow = 4096;
// A CSV record whose quoted field runs over line ends may be this long.
constexpr int longestRecord = 4096;
const char byteOrderMark[] = "\xEF\xBB\xBF";

bool hasNonText(const char *p, const char *end)
{
    for (; p < end; ++p) {
        const quint8 c = quint8(*p);
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r')
            return true;
    }
    return false;
}

bool isBlankLine(const char *p, const char *end)
{
    for (; p < end; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r')
            return false;
    }
    return true;
}

} // namespace

QString quoteText(const char *begin, const char *end)
{
    constexpr int longest = 40;
    QString text = QStringLiteral("\"");
    for (const char *p = begin; p < end && p - begin < longest; ++p) {
        const quint8 c = quint8(*p);
        if (c >= 0x20 && c < 0x7F)
            text += QLatin1Char(char(c));
        else
            text += QStringLiteral("\\x") + QString::number(c, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return text + (end - begin > longest ? QStringLiteral("...\"") : QStringLiteral("\""));
}

CaptureReader::CaptureReader(Input input) : input(input) {}

CaptureReader::~CaptureReader() = default;

bool CaptureReader::inputFromName(const QString &name, Input &result)
{
    if (name == QLatin1String("raw"))
        result = ForceRaw;
    else if (name == QLatin1String("hex"))
        result = ForceHex;
    else if (name == QLatin1String("saleae"))
        result = ForceSaleae;
    else
        return false;
    return true;
}

QString CaptureReader::formName(Form form)
{
    switch (form) {
    case Undecided: break;
    case Raw: return QStringLiteral("raw bytes");
    case SaleaeTimeValue: return QStringLiteral("Saleae CSV (Time [s],Value,...)");
    case SaleaeNameType: return QStringLiteral("Saleae CSV (name,type,start_time,...)");
    case HexPairs: return QStringLiteral("hex pairs");
    case Xxd: return QStringLiteral("xxd dump");
    case HexdumpC: return QStringLiteral("hexdump -C dump");
    }
    return QStringLiteral("not yet known");
}

bool CaptureReader::feed(const char *data, int size)
{
    if (failed() || ended || size <= 0)
        return !failed();
    if (decided == Raw) {
        rawBytes.append(data, size);
    } else if (decided != Undecided) {
        readText(data, size);
    } else {
        // A block that settles the form on its own is read where it lies.
        if (!head.isEmpty()) {
            head.append(data, size);
            data = head.constData();
            size = int(head.size());
        }
        Form form;
        int textStart;
        if (decide(data, size, false, form, textStart))
            start(form, data, size, textStart);
        else if (head.isEmpty())
            head = QByteArray(data, size);
        if (decided != Undecided || failed())
            head = QByteArray();
    }
    return !failed();
}

bool CaptureReader::finish()
{
    if (ended || failed())
        return !failed();
    ended = true;
    if (decided == Undecided) {
        Form form;
        int textStart;
        decide(head.constData(), int(head.size()), true, form, textStart);
        start(form, head.constData(), int(head.size()), textStart);
        head = QByteArray();
    }
    if (failed() || !lines)
        return !failed();
    if (!carry.isEmpty()) {
        const QByteArray last = carry;
        carry.clear();
        takeLine(last.constData(), last.constData() + last.size());
    }
    if (!failed() && !record.isEmpty())
        fail(recordLine, QStringLiteral("a quoted field opened on this line is not closed"));
    lines->inputRead = offset;
    if (!failed() && !lines->finish())
        fail(lines->brokenLine, lines->what);
    return !failed();
}

bool CaptureReader::readAll(const QByteArray &contents)
{
    Form form;
    int textStart;
    // A raw file is handed back as it is, without a copy.
    if (decided == Undecided && head.isEmpty() && !ended
        && decide(contents.constData(), int(contents.size()), true, form, textStart) && form == Raw) {
        decided = Raw;
        rawBytes = contents;
    } else {
        feed(contents.constData(), int(contents.size()));
    }
    return finish();
}

QByteArray CaptureReader::takeBytes()
{
    QByteArray taken;
    taken.swap(lines ? lines->bytes : rawBytes);
    return taken;
}

QVector<double> CaptureReader::takeTimes()
{
    QVector<double> taken;
    if (lines)
        taken.swap(lines->times);
    return taken;
}

qint64 CaptureReader::leftOutBytes() const
{
    return lines ? lines->leftOut : 0;
}

qint64 CaptureReader::skippedRows() const
{
    return lines ? lines->skipped : 0;
}

QString CaptureReader::errorString() const
{
    if (!failed())
        return QString();
    static const char *const inputNames[] = {"", "raw", "hex", "saleae"};
    const QString form = decided != Undecided ? formName(decided) : QStringLiteral("Saleae CSV");
    const QString how = forced() ? QStringLiteral("as the input was given as %1").arg(QLatin1String(inputNames[input]))
                                 : QStringLiteral("recognised by its content");
    return QStringLiteral("line %1: %2 (read as %3, %4)").arg(errorAt).arg(errorWhat, form, how);
}

void CaptureReader::fail(qint64 line, const QString &what)
{
    errorAt = qMax<qint64>(line, 1);
    errorWhat = what;
}

// Decides the form once no byte still to come could change the answer: a
// CSV header on the first line settles it at once; otherwise a hex dump must
// look like one on its first line that is not blank and be plain text
// through the window.
bool CaptureReader::decide(const char *p, int n, bool atEnd, Form &form, int &textStart) const
{
    form = Undecided;
    textStart = 0;
    if (input == ForceRaw) {
        form = Raw;
        return true;
    }
    const int bomBytes = qMin(n, 3);
    if (std::memcmp(p, byteOrderMark, size_t(bomBytes)) == 0) {
        if (bomBytes < 3 && !atEnd)
            return false;
        textStart = bomBytes == 3 ? 3 : 0;
    }
    const char *window = p + textStart;
    const bool windowFull = n - textStart >= detectWindow;
    const char *windowEnd = window + qMin(n - textStart, detectWindow);
    const bool seenAll = atEnd || windowFull;

    auto firstEnd = static_cast<const char *>(std::memchr(window, '\n', size_t(windowEnd - window)));
    if (!firstEnd && atEnd && !windowFull)
        firstEnd = windowEnd;
    // Until line 1 is whole it may still turn out to be a header.
    if (!firstEnd && !windowFull)
        return false;
    if (firstEnd && input != ForceHex) {
        const SaleaeHeader header = saleaeHeader(window, firstEnd);
        if (header != SaleaeHeader::None) {
            form = header == SaleaeHeader::TimeValue ? SaleaeTimeValue : SaleaeNameType;
            return true;
        }
    }
    if (input == ForceSaleae)
        return true; // and no form: the header is missing
    if (input == Detect && hasNonText(window, windowEnd)) {
        form = Raw;
        textStart = 0;
        return true;
    }

    const char *line = window;
    const char *lineEnd = nullptr;
    bool lineKnown = false;
    while (line < windowEnd) {
        auto newline = static_cast<const char *>(std::memchr(line, '\n', size_t(windowEnd - line)));
        const char *end = newline ? newline : windowEnd;
        if (!isBlankLine(line, end)) {
            lineEnd = end;
            lineKnown = newline || seenAll;
            break;
        }
        line = newline ? newline + 1 : windowEnd;
    }
    if (!lineEnd) {
        if (!seenAll)
            return false;
        form = input == ForceHex ? HexPairs : Raw;
        textStart = input == ForceHex ? textStart : 0;
        return true;
    }
    if (!lineKnown)
        return false;
    const Form hex = hexDumpForm(line, lineEnd);
    if (input == ForceHex) {
        form = hex == Undecided ? HexPairs : hex;
        return true;
    }
    if (hex == Undecided) {
        form = Raw;
        textStart = 0;
        return true;
    }
    if (!seenAll)
        return false;
    form = hex;
    return true;
}

void CaptureReader::start(Form form, const char *data, int size, int textStart)
{
    decided = form;
    if (form == Undecided) {
        fail(1, QStringLiteral("not a Saleae async-serial header (\"Time [s],Value,Parity Error,Framing Error\" "
                               "or \"name,type,start_time,duration,data\")"));
    } else if (form == Raw) {
        rawBytes.append(data, size);
    } else {
        if (form == SaleaeTimeValue || form == SaleaeNameType)
            lines = makeSaleaeCsvLines();
        else
            lines = makeHexDumpLines(form);
        offset = textStart;
        readText(data + textStart, size - textStart);
    }
}

void CaptureReader::readText(const char *data, int size)
{
    const char *p = data;
    const char *end = data + size;
    while (p < end && !failed()) {
        auto newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!newline) {
            carry.append(p, int(end - p));
            offset += end - p;
            return;
        }
        offset += newline + 1 - p;
        if (carry.isEmpty()) {
            takeLine(p, newline);
        } else {
            carry.append(p, int(newline - p));
            takeLine(carry.constData(), carry.constData() + carry.size());
            carry.resize(0);
        }
        p = newline + 1;
    }
}

void CaptureReader::takeLine(const char *begin, const char *end)
{
    ++lineNumber;
    lines->lineNumber = lineNumber;
    lines->inputRead = offset;
    const bool continued = !record.isEmpty();
    if (continued) {
        record.append('\n');
        record.append(begin, int(end - begin));
        begin = record.constData();
        end = begin + record.size();
    } else {
        recordLine = lineNumber;
    }
    const CaptureLines::Outcome outcome = lines->line(begin, end);
    if (outcome == CaptureLines::Broken) {
        fail(recordLine, lines->what);
    } else if (outcome == CaptureLines::Unfinished) {
        if (!continued)
            record = QByteArray(begin, int(end - begin));
        if (record.size() > longestRecord)
            fail(recordLine, QStringLiteral("a quoted field opened on this line is not closed"));
        return;
    }
    record.clear();
}
