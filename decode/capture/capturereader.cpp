// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the form of a capture file from its start and cuts text forms into
// lines for their readers, whatever the blocks the file arrives in.
#include "decode/capture/capturereader.h"

#include "decode/capture/capturelines.h"
#include "decode/capture/hexdump.h"
#include "decode/capture/saleaecsv.h"

#include <cstring>

namespace {

// A hex dump is only taken for one when this much of its start (or all of
// it) is plain text: a binary capture has a byte over 127 in every frame.
constexpr int detectWindow = 4096;
// A CSV record whose quoted field runs over line ends may be this long.
constexpr int longestRecord = 4096;
const char byteOrderMark[] = "\xEF\xBB\xBF";

// Whether [p, end) holds a byte that is no text, with text in UTF-8 (as a
// CSV header or title may have it). A character cut by end is text unless
// complete says that nothing follows. Raw frames begin with a byte that
// starts no UTF-8 character.
bool hasNonUtf8Text(const char *p, const char *end, bool complete)
{
    while (p < end) {
        const quint8 b = quint8(*p);
        if (b < 0x80) {
            if ((b < 0x20 || b == 0x7F) && b != '\t' && b != '\n' && b != '\r')
                return true;
            ++p;
            continue;
        }
        const int follow = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
        if (follow < 0)
            return true;
        for (int i = 1; i <= follow; ++i) {
            if (p + i >= end)
                return complete;
            if ((quint8(p[i]) & 0xC0) != 0x80)
                return true;
        }
        p += follow + 1;
    }
    return false;
}

// A line ends at '\n', '\r\n' or a lone '\r', as old Mac exports end theirs.
const char *lineEnd(const char *p, const char *end)
{
    auto newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
    auto cr = static_cast<const char *>(std::memchr(p, '\r', size_t((newline ? newline : end) - p)));
    return cr ? cr : newline;
}

const char *nextLine(const char *eol, const char *end)
{
    return *eol == '\r' && eol + 1 < end && eol[1] == '\n' ? eol + 2 : eol + 1;
}

// Lines that may stand before a CSV header, as a title or a blank line.
constexpr int linesBeforeHeader = 3;

// "unsigned char capture_bin[] = {", the line xxd -i opens its array with.
bool isArrayStart(const char *p, const char *end)
{
    while (end > p && (end[-1] == ' ' || end[-1] == '\t'))
        --end;
    return end > p && end[-1] == '{' && std::memchr(p, '[', size_t(end - p)) && std::memchr(p, '=', size_t(end - p));
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
    case XxdInclude: return QStringLiteral("xxd -i dump");
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
        Detection d;
        if (decide(data, size, false, d))
            start(d, data, size);
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
        Detection d;
        decide(head.constData(), int(head.size()), true, d);
        start(d, head.constData(), int(head.size()));
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
    Detection d;
    // A raw file is handed back as it is, without a copy.
    if (decided == Undecided && head.isEmpty() && !ended
        && decide(contents.constData(), int(contents.size()), true, d) && d.form == Raw) {
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

QStringList CaptureReader::takeWarnings()
{
    QStringList taken;
    if (lines)
        taken.swap(lines->warnings);
    return taken;
}

QByteArray CaptureReader::channel() const
{
    return lines ? lines->channel : wantedChannel;
}

qint64 CaptureReader::otherChannelRows() const
{
    return lines ? lines->otherChannelRows : 0;
}

QStringList CaptureReader::otherChannels() const
{
    return lines ? lines->otherChannels : QStringList();
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
    if (decided == Undecided && input == Detect)
        return QStringLiteral("line %1: %2").arg(errorAt).arg(errorWhat);
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

// Decides the form once no byte still to come could change the answer. Raw
// frames start with a byte that is no text, and the text forms with text:
// a byte that is no text before the form is known settles it as raw at once.
// A CSV header may follow blank and title lines; a hex dump must look like
// one on its first line that is not blank and be plain text through the
// window. Text that is neither is no capture: its first line is named.
bool CaptureReader::decide(const char *p, int n, bool atEnd, Detection &d) const
{
    d = Detection();
    if (input == ForceRaw) {
        d.form = Raw;
        return true;
    }
    const int bomBytes = qMin(n, 3);
    if (std::memcmp(p, byteOrderMark, size_t(bomBytes)) == 0) {
        if (bomBytes < 3 && !atEnd)
            return false;
        d.textStart = bomBytes == 3 ? 3 : 0;
    }
    const char *window = p + d.textStart;
    const bool windowFull = n - d.textStart >= detectWindow;
    const char *windowEnd = window + qMin(n - d.textStart, detectWindow);
    const bool seenAll = atEnd || windowFull;
    const auto raw = [&] {
        d.form = Raw;
        d.textStart = 0;
        return true;
    };

    const char *first = nullptr, *firstEnd = nullptr;
    qint64 firstNumber = 0, number = 0;
    int nonBlank = 0;
    for (const char *line = window; line < windowEnd && nonBlank <= linesBeforeHeader;) {
        const char *eol = lineEnd(line, windowEnd);
        const char *stop = eol ? eol : windowEnd;
        if (input == Detect && hasNonUtf8Text(line, stop, eol || seenAll))
            return raw();
        if (!eol && !seenAll)
            return false;
        ++number;
        if (!isBlankLine(line, stop)) {
            const SaleaeHeader header = input != ForceHex ? saleaeHeader(line, stop) : SaleaeHeader::None;
            if (header != SaleaeHeader::None) {
                d.form = header == SaleaeHeader::TimeValue ? SaleaeTimeValue : SaleaeNameType;
                d.textStart = int(line - p);
                d.linesBefore = number - 1;
                return true;
            }
            if (!first) {
                first = line;
                firstEnd = stop;
                firstNumber = number;
            }
            ++nonBlank;
        }
        line = eol ? nextLine(eol, windowEnd) : windowEnd;
    }
    if (input == ForceSaleae) {
        if (!seenAll && nonBlank <= linesBeforeHeader)
            return false;
        d.badLine = qMax<qint64>(firstNumber, 1);
        d.bad = QStringLiteral("not a Saleae async-serial header (\"Time [s],Value,Parity Error,Framing Error\" "
                               "or \"name,type,start_time,duration,data\")");
        return true;
    }
    if (input == Detect && hasNonUtf8Text(window, windowEnd, atEnd && !windowFull))
        return raw();
    if (!seenAll)
        return false;
    if (!first) {
        if (input != ForceHex)
            return raw();
        d.form = HexPairs;
        return true;
    }
    const Form hex = isArrayStart(first, firstEnd) ? XxdInclude : hexDumpForm(first, firstEnd);
    if (hex != Undecided || input == ForceHex) {
        d.form = hex == Undecided ? HexPairs : hex;
        return true;
    }
    d.badLine = firstNumber;
    d.bad = QStringLiteral("%1 is text, but neither a Saleae CSV header nor a hex dump line (give --input raw to "
                           "read the file as raw bytes)")
                .arg(quoteText(first, firstEnd));
    return true;
}

void CaptureReader::start(const Detection &d, const char *data, int size)
{
    const Form form = d.form;
    const int textStart = d.textStart;
    decided = form;
    if (form == Undecided) {
        fail(d.badLine, d.bad);
    } else if (form == Raw) {
        rawBytes.append(data, size);
    } else {
        if (form == SaleaeTimeValue || form == SaleaeNameType) {
            lines = makeSaleaeCsvLines();
            lines->channel = wantedChannel;
        }
        else
            lines = makeHexDumpLines(form);
        offset = textStart;
        lineNumber = d.linesBefore;
        readText(data + textStart, size - textStart);
    }
}

void CaptureReader::readText(const char *data, int size)
{
    const char *p = data;
    const char *end = data + size;
    // The '\n' of a "\r\n" that the block boundary split.
    if (afterCr && p < end && *p == '\n') {
        ++p;
        ++offset;
    }
    afterCr = false;
    while (p < end && !failed()) {
        const char *eol = lineEnd(p, end);
        if (!eol) {
            carry.append(p, int(end - p));
            offset += end - p;
            return;
        }
        const char *next = nextLine(eol, end);
        afterCr = *eol == '\r' && next == end;
        offset += next - p;
        if (carry.isEmpty()) {
            takeLine(p, eol);
        } else {
            carry.append(p, int(eol - p));
            takeLine(carry.constData(), carry.constData() + carry.size());
            carry.resize(0);
        }
        p = next;
    }
}

void CaptureReader::takeLine(const char *begin, const char *end)
{
    ++lineNumber;
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
    // A record over several lines is named by its first.
    lines->lineNumber = recordLine;
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
