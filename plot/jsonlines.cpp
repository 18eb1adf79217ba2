// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot/jsonlines.h"

#include "cli/commandline.h"
#include "cli/stopsignals.h"
#include "decode/families/familytable.h"
#include "decode/families/framereading.h"
#include "decode/readbunching.h"
#include "dump/framesink.h"
#include "serial/lowlatency.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace {

// A record's raw frame, read by the family it names; the window's five are
// told by their own bytes, as linkscope-dump tells them.
bool readRecord(const QByteArray &raw, const QJsonObject &record, FrameReading &reading)
{
    const FamilyDescriptor *family = familyNamed(record.value(QLatin1String("family")).toString());
    if (!family || family->srxl || family->frameLength(raw.constData(), raw.size()) != raw.size()) {
        // Nothing of the record before may stay: an SBUS record's missing check among them.
        reading.clearExtras();
        return readFrame(raw.constData(), raw.size(), reading);
    }
    reading = FrameReading();
    if (family->hasForms()) {
        // Of the forms the frame fits, the one the record was read in.
        const unsigned forms = family->fits(raw.constData());
        const int format = record.value(QLatin1String("format")).toInt();
        bool read = false;
        for (unsigned form = 1; form != 0 && form <= forms; form <<= 1) {
            if (!(forms & form))
                continue;
            FrameReading candidate;
            family->readVariant(raw.constData(), raw.size(), int(form), candidate);
            if (!read || candidate.format == format) {
                reading = candidate;
                read = true;
            }
        }
        if (!read)
            return false;
    } else {
        family->read(raw.constData(), raw.size(), reading);
    }
    reading.crcOk = family->check(raw.constData(), raw.size());
    return true;
}

} // namespace

bool looksLikeJsonLines(const QByteArray &path)
{
    QFile file;
    QString reason;
    if (!openByBytes(file, path, QIODevice::ReadOnly, reason))
        return false;
    for (int i = 0; i < 16 && !file.atEnd(); ++i) {
        const QByteArray line = file.readLine(1 << 16).trimmed();
        if (line.isEmpty())
            continue;
        return line.startsWith('{') && QJsonDocument::fromJson(line).isObject();
    }
    return false;
}

bool readJsonLines(const QByteArray &path, const QString &name, FrameSink &sink, QString &error)
{
    QFile file;
    QString reason;
    if (!openByBytes(file, path, QIODevice::ReadOnly, reason)) {
        error = QStringLiteral("cannot read %1: %2").arg(name, reason);
        return false;
    }
    FrameReading reading;
    qint64 number = 0;
    // The reads of a live run, told by t_from: each begins with a "read"
    // frame, and arrived when its last frame ended.
    ReadBunching bunching;
    int readFrames = 0;
    double readEnd = 0, told = 0;
    const auto readOver = [&] {
        if (readFrames == 0)
            return;
        bunching.addRead(readEnd);
        for (; readFrames > 0; --readFrames)
            bunching.addFrame(readEnd);
        const double period = bunching.bunched() ? double(qRound(bunching.readPeriodMs())) : 0.0;
        if (period != told)
            sink.setBunching(period, LowLatencyMode().remedy());
        told = period;
    };
    // Ctrl-C ends the reading as the end of the file would; what was read is drawn.
    catchStopSignals();
    while (!file.atEnd() && !stopRequested()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.isEmpty())
            continue;
        const auto fail = [&](const QString &why) {
            error = QStringLiteral("%1, line %2: %3").arg(name).arg(number).arg(why);
            return false;
        };
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject())
            return fail(parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                       : QStringLiteral("not a JSON object"));
        const QJsonObject record = document.object();
        const QByteArray hex = record.value(QLatin1String("raw")).toString().toLatin1();
        const QByteArray raw = QByteArray::fromHex(hex);
        if (hex.isEmpty() || raw.size() * 2 != hex.size() || raw.toHex() != hex.toLower())
            return fail(QStringLiteral("no \"raw\" frame in hexadecimal"));
        const QJsonValue t = record.value(QLatin1String("t"));
        if (!t.isNull() && !t.isUndefined() && (!t.isDouble() || !std::isfinite(t.toDouble())))
            return fail(QStringLiteral("\"t\" is no time in seconds"));
        if (!readRecord(raw, record, reading))
            return fail(QStringLiteral("\"raw\" holds no frame of a known family"));
        const QString from = record.value(QLatin1String("t_from")).toString();
        if (t.isDouble() && (from == QLatin1String("read") || from == QLatin1String("wire"))) {
            if (from == QLatin1String("read"))
                readOver();
            ++readFrames;
            readEnd = t.toDouble();
        }
        sink.take(reading, t.isDouble() ? t.toDouble() : std::numeric_limits<double>::quiet_NaN());
    }
    readOver();
    if (file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
        return false;
    }
    return true;
}
