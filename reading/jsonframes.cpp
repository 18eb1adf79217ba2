// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/jsonframes.h"

#include "cli/stopsignals.h"
#include "decode/capture/jsonlines.h"
#include "decode/families/familytable.h"
#include "decode/families/framereading.h"
#include "decode/readbunching.h"
#include "reading/framesink.h"
#include "serial/lowlatency.h"

#include <QFile>

#include <cmath>
#include <deque>

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
    // What earlier frames told (an iBUS sensor's type) outlives the reset.
    TelemetryMemory *memory = reading.memory;
    reading = FrameReading();
    reading.memory = memory;
    if (family->hasForms()) {
        // Of the forms the frame fits, the one the record was read in.
        const unsigned forms = family->fits(raw.constData());
        const int format = record.value(QLatin1String("format")).toInt();
        bool read = false;
        for (unsigned form = 1; form != 0 && form <= forms; form <<= 1) {
            if (!(forms & form))
                continue;
            FrameReading candidate;
            candidate.memory = memory;
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

// The record's t_from as the frames of a run carry it.
const char *timeFrom(const QString &from)
{
    for (const char *known : {"read", "wire", "capture"}) {
        if (from == QLatin1String(known))
            return known;
    }
    return nullptr;
}

// A name as messages and the picture may show it: a file's control
// characters (an escape sequence for the terminal) as U+FFFD.
QString shownName(QString name)
{
    for (QChar &c : name) {
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    }
    return name;
}

} // namespace

bool readJsonFrames(QFile &file, const QString &name, FrameSink &sink, QString &error,
                    const std::function<void(int source, const QString &name)> &named)
{
    JsonLinesReader records(file, name);
    JsonRecord record;
    FrameReading reading;
    // The reads of a live run, told by t_from: each begins with a "read"
    // frame, and arrived when its last frame ended.
    struct Source
    {
        QString name;
        bool hasName;
        // What earlier frames of the same wire told (an iBUS sensor's type).
        TelemetryMemory memory;
        ReadBunching bunching;
        int readFrames = 0;
        double readEnd = 0, told = 0;
    };
    // Grown at the end only, so that reading.memory stays where it points.
    std::deque<Source> sources;
    const auto readOver = [&](int id) {
        Source &source = sources[size_t(id)];
        if (source.readFrames == 0)
            return;
        source.bunching.addRead(source.readEnd);
        for (; source.readFrames > 0; --source.readFrames)
            source.bunching.addFrame(source.readEnd);
        const double period = source.bunching.bunched() ? double(qRound(source.bunching.readPeriodMs())) : 0.0;
        if (period != source.told)
            sink.setBunching(id, period, LowLatencyMode().remedy());
        source.told = period;
    };
    // Ctrl-C ends the reading as the end of the file would; what was read is drawn.
    catchStopSignals();
    while (!stopRequested() && records.next(record)) {
        const QJsonValue src = record.fields.value(QLatin1String("src"));
        if (!src.isUndefined() && !src.isString()) {
            error = records.errorHere(QStringLiteral("\"src\" is no text"));
            return false;
        }
        int id = 0;
        while (id < int(sources.size())
               && (sources[size_t(id)].hasName != src.isString() || sources[size_t(id)].name != src.toString()))
            ++id;
        if (id == int(sources.size())) {
            if (id == maxJsonSources) {
                error = records.errorHere(QStringLiteral("more than %1 sources (\"src\")").arg(maxJsonSources));
                return false;
            }
            sources.push_back(Source{src.toString(), src.isString(), TelemetryMemory(), ReadBunching(), 0, 0, 0});
            if (src.isString() && named)
                named(id, shownName(src.toString()));
        }
        Source &source = sources[size_t(id)];
        reading.memory = &source.memory;
        if (!readRecord(record.raw, record.fields, reading)) {
            error = records.errorHere(QStringLiteral("\"raw\" holds no frame of a known family"));
            return false;
        }
        const char *from = timeFrom(record.fields.value(QLatin1String("t_from")).toString());
        const bool timed = !std::isnan(record.t);
        if (timed && from && from[0] != 'c') {
            if (from[0] == 'r')
                readOver(id);
            ++source.readFrames;
            source.readEnd = record.t;
        }
        const QJsonValue offset = record.fields.value(QLatin1String("offset"));
        sink.take(Frame{id, reading, record.t, timed ? from : nullptr,
                        offset.isDouble() ? qint64(offset.toDouble()) : -1, record.raw});
    }
    for (int id = 0; id < int(sources.size()); ++id)
        readOver(id);
    error = records.error();
    return error.isEmpty();
}
