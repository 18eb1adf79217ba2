// SPDX-License-Identifier: GPL-3.0-or-later
// Hex dump lines: the bytes of each, with the offsets of xxd and hexdump -C
// checked so that a line lost in pasting is noticed, and their '*' lines
// (a repeat of the line before) filled in.
#include "decode/capture/hexdump.h"

#include <cstring>

namespace {

// A '*' may not make the bytes read more than this many times the size of
// the dump read so far (plus the slack below): a few bytes of text must not
// be able to ask for gigabytes.
constexpr qint64 repeatFactor = 16;
constexpr qint64 repeatSlack = 64 * 1024;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = char(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isSeparator(char c)
{
    return isBlank(c) || c == ',';
}

QString hexNumber(qint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

class HexDumpLines : public CaptureLines
{
public:
    explicit HexDumpLines(CaptureReader::Form form) : form(form) {}
    Outcome line(const char *begin, const char *end) override;
    bool finish() override;

private:
    Outcome fault(const QString &text)
    {
        what = text;
        return Broken;
    }
    Outcome decodeLine(const char *begin, const char *p, const char *end);
    Outcome arrayLine(const char *p, const char *e);
    Outcome pairs(const char *p, const char *e);
    Outcome offsetLine(const char *p, const char *e);
    bool hexToken(const char *begin, const char *end);
    bool textColumnMatches(const char *line, int size, const char *text, const char *end) const;
    Outcome atOffset(qint64 offset);
    Outcome repeat();

    const CaptureReader::Form form;
    qint64 produced = 0;  // bytes decoded in all
    qint64 expected = -1; // the offset the next line must have
    QByteArray lastLine;  // what a '*' repeats
    qint64 repeatLine = 0; // of a '*' waiting for the offset after the repeat
    bool closed = false;   // hexdump -C's line with the length alone came, or xxd -i's "};"
    bool opened = false;   // xxd -i's declaration line came
    bool lengthGiven = false;
};

CaptureLines::Outcome HexDumpLines::line(const char *begin, const char *end)
{
    while (end > begin && (isBlank(end[-1]) || end[-1] == '\r'))
        --end;
    const char *p = begin;
    while (p < end && isBlank(*p))
        ++p;
    if (p == end)
        return Taken;
    // A broken line gives no byte, not even those before its fault.
    const int before = bytes.size();
    const Outcome outcome = decodeLine(begin, p, end);
    if (outcome == Broken)
        bytes.resize(before);
    return outcome;
}

CaptureLines::Outcome HexDumpLines::decodeLine(const char *begin, const char *p, const char *end)
{
    if (closed && !(form == CaptureReader::XxdInclude && !lengthGiven && end - p > 8 && !std::memcmp(p, "unsigned", 8)))
        return fault(QStringLiteral("a line after the one that gives the dump's length"));
    if (form == CaptureReader::XxdInclude)
        return arrayLine(p, end);
    if (end - p == 1 && *p == '*') {
        if (form == CaptureReader::HexPairs)
            return fault(QStringLiteral("'*' stands for lines left out as repeats of the line before, and a dump "
                                        "without offsets cannot tell how many: make it again with od -v or "
                                        "hexdump -v"));
        return repeat();
    }
    if (form == CaptureReader::HexPairs)
        return pairs(p, end);
    return offsetLine(begin, end);
}

// xxd -i: "unsigned char name[] = {", lines of "0xa8, 0x01,", "};" and
// "unsigned int name_len = 42;", whose length is checked.
CaptureLines::Outcome HexDumpLines::arrayLine(const char *p, const char *e)
{
    if (!opened) {
        opened = true;
        return Taken; // the declaration, which told the form
    }
    if (!closed) {
        if (*p != '}')
            return pairs(p, e);
        closed = true;
        return Taken;
    }
    const char *equals = static_cast<const char *>(std::memchr(p, '=', size_t(e - p)));
    qint64 length = -1;
    if (equals) {
        const char *q = equals + 1;
        while (q < e && isBlank(*q))
            ++q;
        for (length = 0; q < e && *q >= '0' && *q <= '9' && length < (qint64(1) << 50); ++q)
            length = length * 10 + (*q - '0');
        if (q == e || *q != ';')
            length = -1;
    }
    if (length < 0)
        return fault(QStringLiteral("not the \"unsigned int name_len = length;\" line that ends xxd -i's dump"));
    if (length != produced)
        return fault(QStringLiteral("the dump gives its length as %1 bytes, but holds %2").arg(length).arg(produced));
    lengthGiven = true;
    return Taken;
}

// One token of pairs: "a8", "a801082f" or "0xA8".
bool HexDumpLines::hexToken(const char *begin, const char *end)
{
    const char *digits = begin;
    const bool prefixed = end - begin >= 2 && begin[0] == '0' && (begin[1] | 0x20) == 'x';
    if (prefixed)
        digits += 2;
    for (const char *p = digits; p < end; ++p) {
        if (hexValue(*p) < 0) {
            fault(QStringLiteral("%1 holds %2, which is not a hex digit").arg(quoteText(begin, end), quoteText(p, p + 1)));
            return false;
        }
    }
    const qint64 n = end - digits;
    if (prefixed && (n < 1 || n > 2)) {
        fault(QStringLiteral("%1 is not one byte: 0x takes one or two hex digits").arg(quoteText(begin, end)));
        return false;
    }
    if (prefixed && n == 1) {
        bytes.append(char(hexValue(*digits)));
        return true;
    }
    if (n % 2) {
        fault(QStringLiteral("%1 has an odd number of hex digits").arg(quoteText(begin, end)));
        return false;
    }
    for (const char *p = digits; p < end; p += 2)
        bytes.append(char(hexValue(p[0]) << 4 | hexValue(p[1])));
    return true;
}

CaptureLines::Outcome HexDumpLines::pairs(const char *p, const char *e)
{
    const int before = bytes.size();
    for (;;) {
        while (p < e && isSeparator(*p))
            ++p;
        if (p == e)
            break;
        const char *token = p;
        while (p < e && !isSeparator(*p))
            ++p;
        if (!hexToken(token, p))
            return Broken;
    }
    produced += bytes.size() - before;
    return Taken;
}

// "00000010: a801 082f  ../" (xxd) or "00000010  a8 01 08 2f  |../|"
// (hexdump -C): an offset, the bytes, then a text column that is no data.
CaptureLines::Outcome HexDumpLines::offsetLine(const char *p, const char *e)
{
    const char *digits = p;
    qint64 offset = 0;
    for (; p < e && hexValue(*p) >= 0; ++p) {
        if (p - digits == 15)
            return fault(QStringLiteral("the offset has more than 15 hex digits"));
        offset = offset * 16 + hexValue(*p);
    }
    const bool xxd = form == CaptureReader::Xxd;
    if (p == digits || (xxd ? p == e || *p != ':' : p < e && !isBlank(*p)))
        return fault(xxd ? QStringLiteral("the line does not start with an offset and ':'")
                         : QStringLiteral("the line does not start with an offset"));
    if (xxd)
        ++p;
    else if (p == e) { // the length of what was dumped, last of all
        closed = true;
        return atOffset(offset);
    }
    if (atOffset(offset) == Broken)
        return Broken;

    const int before = bytes.size();
    if (xxd) {
        // Groups of bytes one space apart; two spaces begin the text column.
        if (p < e && *p == ' ')
            ++p;
        while (p < e && *p != ' ') {
            const char *group = p;
            while (p < e && *p != ' ')
                ++p;
            if (!hexToken(group, p))
                return Broken;
            if (p < e)
                ++p;
        }
    } else {
        // Pairs up to the bar that opens the text column.
        for (;;) {
            while (p < e && isBlank(*p))
                ++p;
            if (p == e || *p == '|')
                break;
            const char *pair = p;
            while (p < e && !isBlank(*p) && *p != '|')
                ++p;
            if (p - pair != 2 || hexValue(pair[0]) < 0 || hexValue(pair[1]) < 0)
                return fault(QStringLiteral("%1 is not a byte in two hex digits").arg(quoteText(pair, p)));
            bytes.append(char(hexValue(pair[0]) << 4 | hexValue(pair[1])));
        }
    }
    if (bytes.size() == before)
        return fault(QStringLiteral("no bytes after the offset"));
    if (!textColumnMatches(bytes.constData() + before, int(bytes.size()) - before, p, e))
        return fault(QStringLiteral("the bytes do not match the text column beside them (xxd -e and other layouts "
                                    "are not read)"));
    lastLine = bytes.mid(before);
    produced += lastLine.size();
    expected += lastLine.size();
    return Taken;
}

// The text column shows each byte as itself or as '.'. It may be missing
// altogether, and spaces at its end may have been lost in pasting.
bool HexDumpLines::textColumnMatches(const char *line, int size, const char *text, const char *end) const
{
    if (form == CaptureReader::HexdumpC) {
        if (text == end) // no bar: no text column
            return true;
        ++text;
        if (end[-1] == '|' && end > text)
            --end;
    }
    while (text < end && isBlank(end[-1]))
        --end;
    while (size > 0 && line[size - 1] == ' ')
        --size;
    if (text == end)
        return true;
    if (end - text < size)
        return false;
    for (const char *shown = end - size; text < shown; ++text) {
        if (!isBlank(*text) || form == CaptureReader::HexdumpC)
            return false;
    }
    for (int i = 0; i < size; ++i) {
        const quint8 byte = quint8(line[i]);
        if (text[i] != (byte >= 0x20 && byte < 0x7F ? char(byte) : '.'))
            return false;
    }
    return true;
}

CaptureLines::Outcome HexDumpLines::atOffset(qint64 offset)
{
    if (expected < 0) { // a dump may start anywhere in a file (xxd -s)
        expected = offset;
        return Taken;
    }
    if (repeatLine) {
        const qint64 gap = offset - expected;
        const int length = lastLine.size();
        if (gap <= 0 || gap % length)
            return fault(QStringLiteral("the '*' on line %1 stands for %2 bytes, not a whole number of %3-byte lines")
                             .arg(repeatLine).arg(gap).arg(length));
        if (produced + gap > repeatFactor * inputRead + repeatSlack)
            return fault(QStringLiteral("the '*' on line %1 stands for %2 bytes, more than %3 times the dump so far")
                             .arg(repeatLine).arg(gap).arg(repeatFactor));
        for (qint64 i = gap / length; i > 0; --i)
            bytes.append(lastLine);
        produced += gap;
        repeatLine = 0;
    } else if (offset != expected) {
        return fault(QStringLiteral("offset %1 where %2 was expected").arg(hexNumber(offset), hexNumber(expected)));
    }
    expected = offset;
    return Taken;
}

CaptureLines::Outcome HexDumpLines::repeat()
{
    if (lastLine.isEmpty())
        return fault(QStringLiteral("'*' with no line before it to repeat"));
    if (repeatLine)
        return fault(QStringLiteral("a second '*' in a row"));
    repeatLine = lineNumber;
    return Taken;
}

bool HexDumpLines::finish()
{
    if (form == CaptureReader::XxdInclude && !closed) {
        what = QStringLiteral("the dump ends before the \"};\" that closes xxd -i's array");
        brokenLine = lineNumber;
        return false;
    }
    if (!repeatLine)
        return true;
    what = QStringLiteral("'*' is not followed by the offset of the line after the repeat");
    brokenLine = repeatLine;
    return false;
}

} // namespace

CaptureReader::Form hexDumpForm(const char *begin, const char *end)
{
    while (end > begin && (isBlank(end[-1]) || end[-1] == '\r'))
        --end;
    const char *p = begin;
    while (p < end && hexValue(*p) >= 0)
        ++p;
    if (p > begin && p < end && *p == ':')
        return CaptureReader::Xxd;
    if (p - begin >= 4 && end - p >= 2 && p[0] == ' ' && p[1] == ' ' && std::memchr(p, '|', size_t(end - p)))
        return CaptureReader::HexdumpC;
    int digits = 0;
    for (p = begin; p < end; ++p) {
        if (hexValue(*p) >= 0)
            ++digits;
        else if ((*p | 0x20) == 'x' && p > begin && p[-1] == '0' && (p - 1 == begin || isSeparator(p[-2])))
            continue;
        else if (!isSeparator(*p))
            return CaptureReader::Undecided;
    }
    return digits >= 2 ? CaptureReader::HexPairs : CaptureReader::Undecided;
}

std::unique_ptr<CaptureLines> makeHexDumpLines(CaptureReader::Form form)
{
    return std::make_unique<HexDumpLines>(form);
}
