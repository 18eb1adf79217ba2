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

} // namespace

bool readJsonFrames(QFile &file, const QString &name, FrameSink &sink, QString &error)
{
    JsonLinesReader records(file, name);
    JsonRecord record;
    FrameReading reading;
    TelemetryMemory memory;
    reading.memory = &memory;
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
            sink.setBunching(0, period, LowLatencyMode().remedy());
        told = period;
    };
    // Ctrl-C ends the reading as the end of the file would; what was read is drawn.
    catchStopSignals();
    while (!stopRequested() && records.next(record)) {
        if (!readRecord(record.raw, record.fields, reading)) {
            error = records.errorHere(QStringLiteral("\"raw\" holds no frame of a known family"));
            return false;
        }
        const char *from = timeFrom(record.fields.value(QLatin1String("t_from")).toString());
        const bool timed = !std::isnan(record.t);
        if (timed && from && from[0] != 'c') {
            if (from[0] == 'r')
                readOver();
            ++readFrames;
            readEnd = record.t;
        }
        const QJsonValue offset = record.fields.value(QLatin1String("offset"));
        sink.take(Frame{0, reading, record.t, timed ? from : nullptr, offset.isDouble() ? qint64(offset.toDouble()) : -1,
                        record.raw});
    }
    readOver();
    error = records.error();
    return error.isEmpty();
}
