// SPDX-License-Identifier: GPL-3.0-or-later
// How fast linkscope-dump turns a capture into CSV: a 50 MB capture of mixed
// frames with a little noise, and a 50 MB Saleae CSV export of the same
// stream as a logic analyser writes it, each decoded to /dev/null, in MB/s;
// then a 50 MB capture of the families linkscope-dump reads with --family
// (CRSF, GHST, IBUS, FPORT, FPORT2, SRXL2, SBUS, DSM, SMARTPORT,
// IBUS_SENSOR), telemetry frames among them, with all of them looked for, and
// the first capture with --family auto, which looks before it reads.
// Where LINKSCOPE_DUMP_BEFORE names an earlier build of linkscope-dump, the
// first capture is decoded with it too, in the same run, to compare.
#include "decode/families/familytable.h"
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

    // The families of --family: each frame's channels at random µs in their range.
    QStringList names;
    QVector<const FamilyDescriptor *> families;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (!family->srxl) {
            families << family;
            names << QLatin1String(family->name);
        }
    }
    QFile tableCapture(folder.filePath(QStringLiteral("families.bin")));
    if (!tableCapture.open(QIODevice::WriteOnly))
        return 1;
    qint64 tableWritten = 0;
    for (qint64 index = 0; tableWritten < size; ++index) {
        const FamilyDescriptor &family = *families[int(random.bounded(families.size()))];
        FrameRequest request;
        request.index = index;
        for (int k = 0; k < family.defaultChannels; ++k) {
            const MicrosecondRange range = family.usRange(k);
            request.wire << family.wireFor(k, range.lowest + int(random.bounded(range.highest - range.lowest + 1)));
        }
        block += family.encode(request);
        // Telemetry beside a quarter of the frames, of the families that carry it.
        if (family.telemetryKinds > 0 && random.bounded(4) == 0)
            block += family.telemetryFrame(int(random.bounded(family.telemetryKinds)), index);
        if (random.bounded(50) == 0)
            block += QByteArray(1 + int(random.bounded(8)), char(random.bounded(256)));
        if (block.size() >= (1 << 20) || tableWritten + block.size() >= size) {
            tableCapture.write(block);
            tableWritten += block.size();
            block.clear();
        }
    }
    tableCapture.close();

    const QString dumpNow = QStringLiteral(LINKSCOPE_DUMP);
    const QString dumpBefore = qEnvironmentVariable("LINKSCOPE_DUMP_BEFORE");
    const QStringList csv{QStringLiteral("--format"), QStringLiteral("csv")};
    const QStringList everyNew{QStringLiteral("--family"), names.join(QLatin1Char(','))};
    QVector<std::tuple<QString, QString, QString, QStringList, qint64>> runs;
    if (!dumpBefore.isEmpty())
        runs.append({QStringLiteral("capture, the build before"), dumpBefore, capture.fileName(), {}, written});
    runs.append({QStringLiteral("capture"), dumpNow, capture.fileName(), {}, written});
    runs.append({QStringLiteral("Saleae CSV export"), dumpNow, exported.fileName(), {}, exportedSize});
    runs.append({QStringLiteral("capture, --family auto"), dumpNow, capture.fileName(),
                 {QStringLiteral("--family"), QStringLiteral("auto")}, written});
    runs.append({QStringLiteral("--family ") + names.join(QLatin1Char(',')), dumpNow, tableCapture.fileName(),
                 everyNew, tableWritten});
    for (const auto &[name, program, file, options, bytes] : runs) {
        QProcess dump;
        dump.setStandardOutputFile(QProcess::nullDevice());
        dump.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        dump.start(program, QStringList(csv) << options << file);
        if (!dump.waitForFinished(-1) || dump.exitCode() != 0)
            return 1;
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf("linkscope-dump --format csv, %s: %.1f MB in %.2f s, %.1f MB/s\n", qPrintable(name), bytes / 1e6,
                    seconds, bytes / 1e6 / seconds);
    }
    return 0;
}
