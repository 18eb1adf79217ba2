// SPDX-License-Identifier: GPL-3.0-or-later
// How fast linkscope-dump turns a capture into CSV: a 50 MB capture of mixed
// frames with a little noise, and a 50 MB Saleae CSV export of the same
// stream as a logic analyser writes it, each decoded to /dev/null, in MB/s.
#include "packets.h"
#include "streams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <tuple>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 size = qint64(argc > 1 ? QByteArray(argv[1]).toDouble() : 50.0) * 1000 * 1000;
    QTemporaryDir folder;
    QFile capture(folder.filePath(QStringLiteral("capture.bin")));
    if (!capture.open(QIODevice::WriteOnly))
        return 1;
    MixedStream stream(5);
    QRandomGenerator random(6);
    QByteArray block;
    qint64 written = 0;
    while (written < size) {
        block += stream.nextValid();
        if (random.bounded(50) == 0)
            block += QByteArray(1 + int(random.bounded(8)), char(random.bounded(256)));
        if (block.size() >= (1 << 20) || written + block.size() >= size) {
            capture.write(block);
            written += block.size();
            block.clear();
        }
    }
    capture.close();

    // The export: one row a byte, 115200 baud, back to back.
    QFile raw(capture.fileName());
    QFile exported(folder.filePath(QStringLiteral("export.csv")));
    if (!raw.open(QIODevice::ReadOnly) || !exported.open(QIODevice::WriteOnly))
        return 1;
    QByteArray rows = "Time [s],Value,Parity Error,Framing Error\r\n";
    qint64 exportedSize = 0;
    for (qint64 i = 0; exportedSize < size; ++i) {
        char byte;
        if (!raw.getChar(&byte))
            raw.seek(0), raw.getChar(&byte);
        char row[64];
        rows.append(row, std::snprintf(row, sizeof row, "%.9f,0x%02X,,\r\n", double(i) * 10 / 115200, quint8(byte)));
        if (rows.size() >= (1 << 20)) {
            exported.write(rows);
            exportedSize += rows.size();
            rows.clear();
        }
    }
    exported.close();

    for (const auto &[name, file, bytes] : {std::make_tuple("capture", capture.fileName(), written),
                                            std::make_tuple("Saleae CSV export", exported.fileName(), exportedSize)}) {
        QProcess dump;
        dump.setStandardOutputFile(QProcess::nullDevice());
        dump.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        dump.start(QStringLiteral(LINKSCOPE_DUMP), {QStringLiteral("--format"), QStringLiteral("csv"), file});
        if (!dump.waitForFinished(-1) || dump.exitCode() != 0)
            return 1;
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf("linkscope-dump --format csv, %s: %.1f MB in %.2f s, %.1f MB/s\n", name, bytes / 1e6, seconds,
                    bytes / 1e6 / seconds);
    }
    return 0;
}
