// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the capture reader turns a 50 MB capture export into bytes: both
// Saleae CSV forms and an xxd dump of mixed frames at 115200 baud, read from
// a file in 64 KB blocks as the programs read, and whole from memory; MB/s.
#include "decode/capture/capturereader.h"
#include "streams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

enum Export { TimeValue, NameType, XxdDump };

// A file of about size bytes; returns the bytes it holds.
QByteArray writeExport(const QString &path, Export form, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QByteArray();
    MixedStream stream(26);
    QByteArray held, text;
    if (form == TimeValue)
        text = "Time [s],Value,Parity Error,Framing Error\n";
    else if (form == NameType)
        text = "name,type,start_time,duration,data,error\n";
    qint64 written = 0;
    double t = 0.004525880;
    char line[128];
    // An xxd line of 16 bytes takes 68 characters.
    while (form == XxdDump ? held.size() < size / 68 * 16 : written + text.size() < size) {
        const QByteArray frame = stream.nextValid();
        for (int i = 0; i < frame.size(); ++i) {
            const quint8 byte = quint8(frame.at(i));
            if (form == TimeValue)
                text += QByteArray(line, std::snprintf(line, sizeof line, "%.15f,0x%02X,,\n", t, byte));
            else if (form == NameType)
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

// Seconds to read the file as the programs do: 64 KB blocks, each decoded and taken.
double readInBlocks(const QString &path, qint64 &decoded)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    static char block[1 << 16];
    QElapsedTimer clock;
    clock.start();
    CaptureReader reader;
    decoded = 0;
    for (qint64 n; (n = file.read(block, sizeof block)) > 0;) {
        reader.feed(block, int(n));
        decoded += reader.takeBytes().size();
        reader.takeTimes();
    }
    reader.finish();
    decoded += reader.takeBytes().size();
    return reader.failed() ? -1 : clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 size = qint64((argc > 1 ? QByteArray(argv[1]).toDouble() : 50.0) * 1000 * 1000);
    QTemporaryDir folder;
    const struct {
        Export form;
        const char *name;
    } exports[] = {{TimeValue, "Saleae CSV (Time [s],Value,...)"},
                   {NameType, "Saleae CSV (name,type,start_time,...)"},
                   {XxdDump, "xxd dump"}};
    for (const auto &entry : exports) {
        const QString path = folder.filePath(QStringLiteral("capture.txt"));
        const QByteArray held = writeExport(path, entry.form, size);
        QFile file(path);
        if (held.isEmpty() || !file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray contents = file.readAll();
        double blocks[3], whole[3];
        for (int run = 0; run < 3; ++run) {
            qint64 decoded = 0;
            blocks[run] = readInBlocks(path, decoded);
            if (blocks[run] < 0 || decoded != held.size())
                return 1;
            QElapsedTimer clock;
            clock.start();
            CaptureReader reader;
            reader.readAll(contents);
            whole[run] = clock.nsecsElapsed() / 1e9;
            if (reader.takeBytes() != held)
                return 1;
        }
        std::sort(blocks, blocks + 3);
        std::sort(whole, whole + 3);
        const double mb = contents.size() / 1e6;
        std::printf("%s: %.1f MB holding %lld bytes; 64 KB blocks from the file %.1f MB/s (%.1f-%.1f), "
                    "whole in memory %.1f MB/s (%.1f-%.1f); median and range of 3\n",
                    entry.name, mb, qint64(held.size()), mb / blocks[1], mb / blocks[2], mb / blocks[0],
                    mb / whole[1], mb / whole[2], mb / whole[0]);
        std::fflush(stdout);
    }
    return 0;
}
