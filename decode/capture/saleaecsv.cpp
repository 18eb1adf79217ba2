// SPDX-License-Identifier: GPL-3.0-or-later
// Saleae async-serial CSV rows: split by hand and numbers read without the
// locale, since exports run to tens of MB.
#include "decode/capture/saleaecsv.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

// More columns than any export has; a line with more is no header.
constexpr int maxColumns = 64;

struct Field
{
    const char *begin = nullptr;
    const char *end = nullptr;
    bool quoted = false;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void trim(const char *&begin, const char *&end)
{
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && (isBlank(end[-1]) || end[-1] == '\r'))
        --end;
}

enum { QuoteOpen = -1, TextAfterQuote = -2 };

// Splits one record into fields, keeping the first max of them, and returns
// how many it has (or QuoteOpen, TextAfterQuote). A quoted field loses its
// quotes; one with doubled quotes is copied into scratch without them.
int splitRecord(const char *p, const char *e, char separator, Field *fields, int max, std::string &scratch)
{
    if (p < e && e[-1] == '\r')
        --e;
    scratch.clear();
    scratch.reserve(size_t(e - p)); // so that fields in scratch never move
    int count = 0;
    for (;;) {
        Field field;
        const char *q = p;
        while (q < e && isBlank(*q) && *q != separator)
            ++q;
        if (q < e && *q == '"') {
            ++q;
            auto close = static_cast<const char *>(std::memchr(q, '"', size_t(e - q)));
            if (!close)
                return QuoteOpen;
            if (close + 1 < e && close[1] == '"') {
                const size_t from = scratch.size();
                while (close + 1 < e && close[1] == '"') {
                    scratch.append(q, close + 1);
                    q = close + 2;
                    close = static_cast<const char *>(std::memchr(q, '"', size_t(e - q)));
                    if (!close)
                        return QuoteOpen;
                }
                scratch.append(q, close);
                field = {scratch.data() + from, scratch.data() + scratch.size(), true};
            } else {
                field = {q, close, true};
            }
            p = close + 1;
            while (p < e && isBlank(*p) && *p != separator)
                ++p;
            if (p < e && *p != separator)
                return TextAfterQuote;
        } else {
            auto comma = static_cast<const char *>(std::memchr(p, separator, size_t(e - p)));
            field = {p, comma ? comma : e, false};
            p = field.end;
        }
        if (count < max)
            fields[count] = field;
        ++count;
        if (p >= e)
            return count;
        ++p; // the comma
    }
}

bool isNamed(const Field &field, const char *name)
{
    const char *b = field.begin, *e = field.end;
    trim(b, e);
    const size_t n = std::strlen(name);
    if (size_t(e - b) != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = b[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != name[i])
            return false;
    }
    return true;
}

bool contains(const Field &field, const char *word)
{
    const size_t n = std::strlen(word);
    for (const char *p = field.begin; p + n <= field.end; ++p) {
        size_t i = 0;
        while (i < n && (p[i] | 0x20) == word[i])
            ++i;
        if (i == n)
            return true;
    }
    return false;
}

bool isEmpty(const Field &field)
{
    const char *b = field.begin, *e = field.end;
    trim(b, e);
    return b == e;
}

// Where the columns the rows are read by stand.
struct Columns
{
    char separator = ',';
    int count = 0;
    int time = -1;
    int value = -1;
    int type = -1; // -1 where every row is a data row
    int name = -1; // the analyser's name; -1 where rows have none
    int errors[maxColumns];
    int errorCount = 0;
};

SaleaeHeader readHeaderWith(char separator, const char *begin, const char *end, Columns &columns)
{
    Field fields[maxColumns];
    std::string scratch;
    const int n = splitRecord(begin, end, separator, fields, maxColumns, scratch);
    if (n > maxColumns)
        return SaleaeHeader::None;
    columns.separator = separator;
    static const char *const timeValue[] = {"time [s]", "value", "parity error", "framing error"};
    static const char *const nameType[] = {"name", "type", "start_time", "duration", "data"};
    SaleaeHeader header = SaleaeHeader::None;
    int named = 0;
    if (n >= 4 && isNamed(fields[0], timeValue[0])) {
        for (named = 1; named < 4 && isNamed(fields[named], timeValue[named]);)
            ++named;
        if (named == 4) {
            header = SaleaeHeader::TimeValue;
            columns.time = 0;
            columns.value = 1;
            columns.errors[columns.errorCount++] = 2;
            columns.errors[columns.errorCount++] = 3;
        }
    } else if (n >= 5 && isNamed(fields[0], nameType[0])) {
        for (named = 1; named < 5 && isNamed(fields[named], nameType[named]);)
            ++named;
        if (named == 5) {
            header = SaleaeHeader::NameType;
            columns.name = 0;
            columns.type = 1;
            columns.time = 2;
            columns.value = 4;
        }
    }
    if (header == SaleaeHeader::None)
        return header;
    columns.count = n;
    // Further columns that report errors ("error" in Logic 2) mark bytes the
    // analyser did not receive cleanly.
    for (int i = named; i < n; ++i) {
        if (contains(fields[i], "error"))
            columns.errors[columns.errorCount++] = i;
    }
    return header;
}

// The separators Saleae Logic writes: ',' and, for other locales, ';' or a tab.
SaleaeHeader readHeader(const char *begin, const char *end, Columns &columns)
{
    for (char separator : {',', ';', '\t'}) {
        columns = Columns();
        const SaleaeHeader header = readHeaderWith(separator, begin, end, columns);
        if (header != SaleaeHeader::None)
            return header;
    }
    return SaleaeHeader::None;
}

int digitValue(char c, int base)
{
    int value = 99;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        value = (c | 0x20) - 'a' + 10;
    return value < base ? value : -1;
}

class SaleaeCsvLines : public CaptureLines
{
public:
    Outcome line(const char *begin, const char *end) override;
    bool finish() override;

private:
    // Names at most this many lines whose time runs backwards, then counts them.
    static constexpr int backwardsNamed = 3;
    Outcome fault(const QString &text)
    {
        what = text;
        return Broken;
    }
    int readByte(const Field &field);
    int readCharacter(const char *begin, const char *end, const char *fieldBegin, const char *fieldEnd);

    bool haveHeader = false;
    double lastSeconds = 0;
    bool timed = false;
    qint64 backwards = 0;
    Columns columns;
    Field fields[maxColumns];
    std::string scratch;
};

CaptureLines::Outcome SaleaeCsvLines::line(const char *begin, const char *end)
{
    const char *b = begin, *e = end;
    trim(b, e);
    if (b == e)
        return Taken;
    if (!haveHeader) {
        haveHeader = readHeader(begin, end, columns) != SaleaeHeader::None;
        return haveHeader ? Taken : fault(QStringLiteral("not a Saleae async-serial header"));
    }
    const int n = splitRecord(begin, end, columns.separator, fields, maxColumns, scratch);
    if (n == QuoteOpen)
        return Unfinished;
    if (n == TextAfterQuote)
        return fault(QStringLiteral("text after a closing quote"));
    if (n != columns.count)
        return fault((n == 1 ? QStringLiteral("1 field") : QStringLiteral("%1 fields").arg(n))
                     + QStringLiteral(" where the header has %1").arg(columns.count));
    for (int i = 0; i < columns.errorCount; ++i) {
        if (!isEmpty(fields[columns.errors[i]])) {
            ++leftOut;
            return Taken;
        }
    }
    if (columns.type >= 0 && !isNamed(fields[columns.type], "data")) {
        ++skipped;
        return Taken;
    }
    // Two analysers' bytes in one stream would make frames of neither.
    if (columns.name >= 0) {
        const Field &name = fields[columns.name];
        const char *nb = name.begin, *ne = name.end;
        trim(nb, ne);
        if (channel.isEmpty())
            channel = QByteArray(nb, int(ne - nb));
        if (ne - nb != channel.size() || std::memcmp(nb, channel.constData(), size_t(channel.size())) != 0) {
            ++otherChannelRows;
            const QString other = QString::fromUtf8(nb, int(ne - nb));
            if (otherChannels.size() < 8 && !otherChannels.contains(other))
                otherChannels << other;
            return Taken;
        }
    }

    const char *tb = fields[columns.time].begin, *te = fields[columns.time].end;
    trim(tb, te);
    if (tb < te && *tb == '+')
        ++tb;
    // Where ',' separates nothing, it may be a decimal comma.
    char copy[64];
    if (columns.separator != ',' && te - tb < qint64(sizeof copy) && std::memchr(tb, ',', size_t(te - tb))) {
        for (qint64 i = 0; i < te - tb; ++i)
            copy[i] = tb[i] == ',' ? '.' : tb[i];
        te = copy + (te - tb);
        tb = copy;
    }
    double seconds = 0;
    const std::from_chars_result read = std::from_chars(tb, te, seconds);
    if (tb == te || read.ec != std::errc() || read.ptr != te || !std::isfinite(seconds))
        return fault(QStringLiteral("%1 is not a time in seconds")
                         .arg(quoteText(fields[columns.time].begin, fields[columns.time].end)));
    const int value = readByte(fields[columns.value]);
    if (value < 0)
        return Broken;
    // Times run forward: one that goes back is held at the one before, so
    // that the capture is read in file order.
    if (timed && seconds < lastSeconds) {
        if (++backwards <= backwardsNamed)
            warnings.append(QStringLiteral("line %1: time %2 s is before the row before it (%3 s); taken as %3 s, "
                                           "in file order")
                                .arg(lineNumber)
                                .arg(seconds, 0, 'f', 9)
                                .arg(lastSeconds, 0, 'f', 9));
        seconds = lastSeconds;
    }
    lastSeconds = seconds;
    timed = true;
    bytes.append(char(value));
    times.append(seconds);
    return Taken;
}

bool SaleaeCsvLines::finish()
{
    if (backwards > backwardsNamed)
        warnings.append(QStringLiteral("times ran backwards on %1 lines in all; each was taken as the time before it")
                            .arg(backwards));
    return true;
}

// A byte as hex (0xA8), decimal (168), binary (0b10101000) or a character,
// quoted ('A', or a CSV-quoted "A") or as a C escape ('\n', '\xA8').
int SaleaeCsvLines::readByte(const Field &field)
{
    const char *b = field.begin, *e = field.end;
    // Inside quotes a lone space is the byte 0x20.
    if (!field.quoted || e - b > 1)
        trim(b, e);
    if (b == e) {
        fault(QStringLiteral("the row has no byte"));
        return -1;
    }
    if (*b == '\'' && e - b >= 3 && e[-1] == '\'')
        return readCharacter(b + 1, e - 1, b, e);
    if (*b == '\\')
        return readCharacter(b, e, b, e);
    int base = 10;
    const char *digits = b;
    if (e - b > 2 && b[0] == '0' && (b[1] | 0x20) == 'x') {
        base = 16;
        digits += 2;
    } else if (e - b > 2 && b[0] == '0' && (b[1] | 0x20) == 'b') {
        base = 2;
        digits += 2;
    } else if (*b < '0' || *b > '9') {
        return readCharacter(b, e, b, e);
    }
    int value = 0;
    for (const char *p = digits; p < e; ++p) {
        const int digit = digitValue(*p, base);
        if (digit < 0) {
            fault(QStringLiteral("%1 is not a byte (0xA8, 168, 0b10101000 or a quoted character)")
                      .arg(quoteText(b, e)));
            return -1;
        }
        value = qMin(value * base + digit, 256);
    }
    if (value > 255) {
        fault(QStringLiteral("value %1 is over 255").arg(quoteText(b, e)));
        return -1;
    }
    return value;
}

int SaleaeCsvLines::readCharacter(const char *begin, const char *end, const char *fieldBegin, const char *fieldEnd)
{
    const qint64 n = end - begin;
    const quint8 first = quint8(*begin);
    if (n == 1)
        return first;
    // One character of U+0080 to U+00FF, as an export in UTF-8 writes a byte over 127.
    if (n == 2 && (first == 0xC2 || first == 0xC3) && (quint8(begin[1]) & 0xC0) == 0x80)
        return ((first & 0x1F) << 6) | (quint8(begin[1]) & 0x3F);
    if (first == '\\') {
        static const char escapes[] = "0\0a\ab\bt\tn\nv\vf\fr\re\x1b\\\\''\"\"";
        for (size_t i = 0; n == 2 && i + 1 < sizeof escapes; i += 2) {
            if (begin[1] == escapes[i])
                return quint8(escapes[i + 1]);
        }
        if ((n == 3 || n == 4) && (begin[1] | 0x20) == 'x') {
            int value = 0;
            for (const char *p = begin + 2; p < end && value >= 0; ++p)
                value = digitValue(*p, 16) < 0 ? -1 : value * 16 + digitValue(*p, 16);
            if (value >= 0)
                return value;
        }
    }
    const bool quoted = end != fieldEnd || begin != fieldBegin;
    fault(quoted ? QStringLiteral("%1 is more than one character").arg(quoteText(fieldBegin, fieldEnd))
                 : QStringLiteral("%1 is not a byte (0xA8, 168, 0b10101000 or a quoted character)")
                       .arg(quoteText(fieldBegin, fieldEnd)));
    return -1;
}

} // namespace

SaleaeHeader saleaeHeader(const char *begin, const char *end)
{
    Columns columns;
    return readHeader(begin, end, columns);
}

std::unique_ptr<CaptureLines> makeSaleaeCsvLines()
{
    return std::make_unique<SaleaeCsvLines>();
}

QByteArrayList saleaeChannels(const QByteArray &head)
{
    QByteArrayList names;
    addSaleaeChannels(head, names);
    return names;
}

bool addSaleaeChannels(const QByteArray &text, QByteArrayList &names)
{
    Columns columns;
    const char *p = text.constData(), *end = p + text.size();
    bool haveHeader = false;
    Field fields[maxColumns];
    std::string scratch;
    while (p < end && names.size() < 8) {
        const char *eol = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        // A line cut by the end of the text says nothing.
        if (!eol)
            break;
        const char *b = p, *e = eol;
        p = eol + 1;
        trim(b, e);
        if (b == e)
            continue;
        if (!haveHeader) {
            if (readHeader(b, e, columns) != SaleaeHeader::NameType)
                return false;
            haveHeader = true;
            continue;
        }
        // A row of a name already known needs no splitting: exports run to
        // hundreds of MB.
        const char *q = b + (*b == '"');
        bool known = false;
        for (int i = 0; i < names.size() && !known; ++i) {
            const QByteArray &name = names.at(i);
            const char *after = q + name.size();
            known = e - q > name.size() && std::memcmp(q, name.constData(), size_t(name.size())) == 0
                && (q == b || *after++ == '"') && after < e && *after == columns.separator;
        }
        if (known)
            continue;
        const int n = splitRecord(b, e, columns.separator, fields, maxColumns, scratch);
        if (n != columns.count || (columns.type >= 0 && !isNamed(fields[columns.type], "data")))
            continue;
        const char *nb = fields[columns.name].begin, *ne = fields[columns.name].end;
        trim(nb, ne);
        // Bytes, not text: two names that are no UTF-8 must not become one.
        const QByteArray name(nb, int(ne - nb));
        if (!names.contains(name))
            names << name;
    }
    return haveHeader && names.size() < 8;
}
