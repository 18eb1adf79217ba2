// SPDX-License-Identifier: GPL-3.0-or-later
// How fast linkscope-dump turns a capture into CSV: a 50 MB capture of mixed
// frames with a little noise, and a 50 MB Saleae CSV export of the same
// stream as a logic analyser writes it, each decoded to /dev/null, in MB/s;
// then a 50 MB capture of the families linkscope-dump reads with --family
// (CRSF, GHST, IBUS, FPORT, FPORT2, SRXL2, SBUS, DSM, SMARTPORT,
// IBUS_SENSOR and the rest), telemetry frames among them, with all of them
// looked for, and
// the first capture with --family auto, which looks before it reads.
// Where LINKSCOPE_DUMP_BEFORE names an earlier build of linkscope-dump, each
// is decoded by both in turn, rounds times (default 3), so that both meet
// the same load on a shared machine; the medians are compared.
#include "captures.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

struct Timing
{
    double seconds = 0, cpu = 0;
};

// Wall and CPU time of one decoding; negative where it failed.
Timing decode(const QString &program, const QStringList &arguments)
{
    QProcess dump;
    dump.setStandardOutputFile(QProcess::nullDevice());
    dump.setStandardErrorFile(QProcess::nullDevice());
    const double cpuBefore = captures::childrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    dump.start(program, arguments);
    if (!dump.waitForFinished(-1) || dump.exitCode() != 0)
        return {-1, -1};
    return {clock.nsecsElapsed() / 1e9, captures::childrenCpuSeconds() - cpuBefore};
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 size = qint64(argc > 1 ? QByteArray(argv[1]).toDouble() : 50.0) * 1000 * 1000;
    const int rounds = qMax(1, argc > 2 ? QByteArray(argv[2]).toInt() : 3);
    QTemporaryDir folder;
    const QString capture = folder.filePath(QStringLiteral("capture.bin"));
    const QString exported = folder.filePath(QStringLiteral("export.csv"));
    const QString tableCapture = folder.filePath(QStringLiteral("families.bin"));
    QRandomGenerator random(6);
    const QVector<const FamilyDescriptor *> families = captures::tableFamilies();
    const QString names = captures::namesOf(families).join(QLatin1Char(','));
    const qint64 written = captures::writeMixed(capture, size);
    const qint64 exportedSize = captures::writeSaleae(capture, exported, size);
    const qint64 tableWritten = captures::writeFamilies(tableCapture, families, size, random,
                                                        captures::DefaultChannels, 50, captures::WithTelemetry);
    // The same export again, as the other direction of the link would be.
    const QString exportedAgain = folder.filePath(QStringLiteral("export2.csv"));
    if (written < 0 || exportedSize < 0 || tableWritten < 0 || !QFile::copy(exported, exportedAgain))
        return 1;

    const QString dumpNow = QStringLiteral(LINKSCOPE_DUMP);
    const QString dumpBefore = qEnvironmentVariable("LINKSCOPE_DUMP_BEFORE");
    const QStringList csv{QStringLiteral("--format"), QStringLiteral("csv")};
    const struct
    {
        QString name, file;
        QStringList options;
        qint64 bytes;
    } runs[] = {
        {QStringLiteral("capture"), capture, {}, written},
        {QStringLiteral("Saleae CSV export"), exported, {}, exportedSize},
        {QStringLiteral("two Saleae CSV exports in one timeline"), exported, {exportedAgain}, 2 * exportedSize},
        {QStringLiteral("capture, --family auto"), capture, {QStringLiteral("--family"), QStringLiteral("auto")},
         written},
        {QStringLiteral("--family ") + names, tableCapture, {QStringLiteral("--family"), names}, tableWritten},
    };
    for (const auto &run : runs) {
        const double mb = run.bytes / 1e6;
        QVector<double> now, nowCpu, before, beforeCpu;
        for (int round = 0; round < rounds; ++round) {
            // In turn, so that a busy moment of the machine falls on both alike.
            for (const bool earlier : {true, false}) {
                if (earlier && dumpBefore.isEmpty())
                    continue;
                const Timing timing = decode(earlier ? dumpBefore : dumpNow, QStringList(csv) << run.options << run.file);
                if (timing.seconds < 0)
                    return 1;
                (earlier ? before : now) << mb / timing.seconds;
                (earlier ? beforeCpu : nowCpu) << mb / timing.cpu;
            }
        }
        std::printf("linkscope-dump --format csv, %s: %.1f MB, %.1f MB/s (CPU %.1f MB/s)", qPrintable(run.name), mb,
                    median(now), median(nowCpu));
        if (!before.isEmpty())
            std::printf("; the build before %.1f MB/s (CPU %.1f MB/s)", median(before), median(beforeCpu));
        std::printf("; median of %d\n", rounds);
        std::fflush(stdout);
    }
    return 0;
}
