// SPDX-License-Identifier: GPL-3.0-or-later
#include "captures.h"

#include "streams.h"

#include <QFile>

#include <cstdio>
#include <sys/resource.h>

namespace captures {

namespace {

// Writes what block holds once it passes a MB, or at last; false on a failed write.
bool spill(QFile &file, QByteArray &block, qint64 &written, bool last)
{
    if (block.size() < (1 << 20) && !last)
        return true;
    const bool whole = file.write(block) == block.size();
    written += block.size();
    block.clear();
    return whole;
}

} // namespace

qint64 writeMixed(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    MixedStream stream(5);
    QRandomGenerator random(6);
    QByteArray block;
    qint64 written = 0;
    while (written < size) {
        block += stream.nextValid();
        if (random.bounded(50) == 0)
            block += QByteArray(1 + int(random.bounded(8)), char(random.bounded(256)));
        if (!spill(file, block, written, written + block.size() >= size))
            return -1;
    }
    return written;
}

qint64 writeSaleae(const QString &capture, const QString &path, qint64 size)
{
    QFile raw(capture);
    QFile exported(path);
    if (!raw.open(QIODevice::ReadOnly) || !exported.open(QIODevice::WriteOnly))
        return -1;
    QByteArray rows = "Time [s],Value,Parity Error,Framing Error\r\n";
    qint64 written = 0;
    for (qint64 i = 0; written < size; ++i) {
        char byte;
        if (!raw.getChar(&byte))
            raw.seek(0), raw.getChar(&byte);
        char row[64];
        rows.append(row, std::snprintf(row, sizeof row, "%.9f,0x%02X,,\r\n", double(i) * 10 / 115200, quint8(byte)));
        if (!spill(exported, rows, written, false))
            return -1;
    }
    return written;
}

qint64 writeFamilies(const QString &path, const QVector<const FamilyDescriptor *> &families, qint64 size,
                     QRandomGenerator &random, Channels channels, int noiseOneIn, Telemetry telemetry)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return -1;
    QByteArray block;
    qint64 written = 0;
    for (qint64 index = 0; written < size; ++index) {
        const FamilyDescriptor &family = *families[random.bounded(int(families.size()))];
        FrameRequest request;
        request.index = index;
        const int count = channels == DefaultChannels ? family.defaultChannels
            : family.fixedChannels                    ? family.fixedChannels
                                                      : family.maxChannels;
        for (int k = 0; k < count; ++k) {
            const MicrosecondRange range = family.hasMicroseconds() ? family.usRange(k) : MicrosecondRange{1, 4000};
            const int us = range.lowest + int(random.bounded(range.highest - range.lowest + 1));
            request.wire << (family.hasMicroseconds() ? family.wireFor(k, us) : us);
        }
        block += family.encode(request);
        if (telemetry == WithTelemetry && family.telemetryKinds > 0 && random.bounded(4) == 0)
            block += family.telemetryFrame(int(random.bounded(family.telemetryKinds)), index);
        if (random.bounded(noiseOneIn) == 0)
            block += QByteArray(1 + int(random.bounded(8)), char(random.bounded(256)));
        if (!spill(file, block, written, written + block.size() >= size))
            return -1;
    }
    return written;
}

QVector<const FamilyDescriptor *> tableFamilies()
{
    QVector<const FamilyDescriptor *> families;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (!family->srxl)
            families << family;
    }
    return families;
}

QStringList namesOf(const QVector<const FamilyDescriptor *> &families)
{
    QStringList names;
    for (const FamilyDescriptor *family : families)
        names << QLatin1String(family->name);
    return names;
}

QByteArray writeText(const QString &path, TextExport form, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QByteArray();
    MixedStream stream(26);
    QByteArray held, text;
    if (form == SaleaeTimeValue)
        text = "Time [s],Value,Parity Error,Framing Error\n";
    else if (form == SaleaeNameType)
        text = "name,type,start_time,duration,data,error\n";
    qint64 written = 0;
    double t = 0.004525880;
    char line[128];
    // An xxd line of 16 bytes takes 68 characters.
    while (form == XxdDump ? held.size() < size / 68 * 16 : written + text.size() < size) {
        const QByteArray frame = stream.nextValid();
        for (int i = 0; i < frame.size(); ++i) {
            const quint8 byte = quint8(frame.at(i));
            if (form == SaleaeTimeValue)
                text += QByteArray(line, std::snprintf(line, sizeof line, "%.15f,0x%02X,,\n", t, byte));
            else if (form == SaleaeNameType)
                text += QByteArray(line, std::snprintf(line, sizeof line,
                                                       "\"Async Serial\",\"data\",%.9f,8.68e-05,0x%02X,\n", t, byte));
            t += 86.8e-6;
        }
        t += 0.005; // the gap between two frames
        held += frame;
        if (text.size() >= (1 << 20)) {
            file.write(text);
            written += text.size();
            text.clear();
        }
    }
    if (form == XxdDump) { // as xxd writes it: 16 bytes a line, in groups of two
        held.truncate(int(size / 68 * 16));
        for (int at = 0; at < held.size(); at += 16) {
            const QByteArray bytes = held.mid(at, 16);
            QByteArray hex = bytes.toHex();
            for (int i = 28; i > 0; i -= 4)
                hex.insert(i, ' ');
            QByteArray ascii = bytes;
            for (char &c : ascii)
                c = quint8(c) >= 0x20 && quint8(c) < 0x7F ? c : '.';
            text += QByteArray::number(at, 16).rightJustified(8, '0') + ": " + hex.leftJustified(39, ' ') + "  "
                + ascii + '\n';
            if (text.size() >= (1 << 20)) {
                file.write(text);
                text.clear();
            }
        }
    }
    file.write(text);
    return held;
}

double childrenCpuSeconds()
{
    struct rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace captures
