// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the capture reader turns a 50 MB capture export into bytes: both
// Saleae CSV forms and an xxd dump of mixed frames at 115200 baud, read from
// a file in 64 KB blocks as the programs read, and whole from memory; MB/s.
#include "captures.h"
#include "decode/capture/capturereader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

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
        captures::TextExport form;
        const char *name;
    } exports[] = {{captures::SaleaeTimeValue, "Saleae CSV (Time [s],Value,...)"},
                   {captures::SaleaeNameType, "Saleae CSV (name,type,start_time,...)"},
                   {captures::XxdDump, "xxd dump"}};
    for (const auto &entry : exports) {
        const QString path = folder.filePath(QStringLiteral("capture.txt"));
        const QByteArray held = captures::writeText(path, entry.form, size);
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
