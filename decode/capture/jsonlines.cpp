// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/capture/jsonlines.h"

#include <QFileDevice>
#include <QJsonDocument>

#include <cmath>

namespace {

bool isHex(const QByteArray &text)
{
    if (text.isEmpty() || text.size() % 2)
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

} // namespace

bool isText(const QByteArray &bytes)
{
    for (char c : bytes) {
        const quint8 byte = quint8(c);
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7F)
            return false;
    }
    return !bytes.isEmpty();
}

qint64 firstLineOf(const QByteArray &head, QByteArray &text)
{
    qint64 number = 0;
    for (const QByteArray &line : head.split('\n')) {
        ++number;
        text = line.trimmed();
        if (!text.isEmpty())
            return number;
    }
    return 0;
}

bool looksLikeJsonLines(const QByteArray &head)
{
    QByteArray first;
    return isText(head) && firstLineOf(head, first) > 0 && first.startsWith('{');
}

JsonLinesReader::JsonLinesReader(QFileDevice &file, const QString &name) : file(file), name(name)
{
}

bool JsonLinesReader::fail(const QString &what)
{
    why = errorHere(what);
    return false;
}

QString JsonLinesReader::errorHere(const QString &what) const
{
    return QStringLiteral("%1, line %2: %3").arg(name).arg(lineNumber).arg(what);
}

bool JsonLinesReader::next(JsonRecord &record)
{
    for (;;) {
        const QByteArray read = file.readLine(longestLine + 1);
        if (read.isEmpty()) {
            if (file.error() != QFileDevice::NoError)
                why = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
            return false;
        }
        ++lineNumber;
        if (read.size() > longestLine)
            return fail(QStringLiteral("longer than any record (1 MiB)"));
        const QByteArray line = read.trimmed();
        if (line.isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject())
            return fail(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                      : QStringLiteral("not a JSON object"));
        record.fields = document.object();
        const QByteArray hex = record.fields.value(QLatin1String("raw")).toString().toLatin1();
        if (!isHex(hex))
            return fail(QStringLiteral("no \"raw\" bytes in hexadecimal"));
        const QJsonValue t = record.fields.value(QLatin1String("t"));
        // Bytes that waited when linkscope-dump started have times before it.
        if (!t.isNull() && !t.isUndefined() && (!t.isDouble() || !std::isfinite(t.toDouble())))
            return fail(QStringLiteral("\"t\" is no time in seconds"));
        record.raw = QByteArray::fromHex(hex);
        record.t = t.isDouble() ? t.toDouble() : std::numeric_limits<double>::quiet_NaN();
        return true;
    }
}
