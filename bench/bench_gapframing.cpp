// SPDX-License-Identifier: GPL-3.0-or-later
// Each family's own capture: how fast linkscope-dump turns a 50 MB raw
// capture of SBUS, DSM, CRSF and the families added since (ST24, XBUS,
// RJ01, EX Bus, SUMH) into CSV, and one of every family --family auto tries
// with all of them looked for, in MB/s; and how many frames random bytes
// pass for, per MB: SBUS, DSM and SUMH alone, and at each line setting the
// families that run at it, as --family auto looks for them, each alone too.
#include "captures.h"
#include "decode/framing/streamframer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 size = qint64(argc > 1 ? QByteArray(argv[1]).toDouble() : 50.0) * 1000 * 1000;
    QTemporaryDir folder;
    QRandomGenerator random(34);
    QStringList names;
    for (const FamilyDescriptor *family : autoFamilies())
        names << QLatin1String(family->name);
    QVector<std::pair<QString, QVector<const FamilyDescriptor *>>> runs;
    for (const char *name : {"sbus", "dsm", "crsf", "st24", "xbus", "rj01", "exbus", "sumh"})
        runs.append({QLatin1String(name), {familyNamed(QLatin1String(name))}});
    runs.append({names.join(QLatin1Char(',')), autoFamilies()});
    for (const auto &[list, families] : runs) {
        const QString path = folder.filePath(QStringLiteral("capture.bin"));
        if (captures::writeFamilies(path, families, size, random, captures::AllChannels, 200) < 0)
            return 1;
        QProcess dump;
        dump.setStandardOutputFile(QProcess::nullDevice());
        dump.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        const double cpuBefore = captures::childrenCpuSeconds();
        clock.start();
        dump.start(QStringLiteral(LINKSCOPE_DUMP), {QStringLiteral("--format"), QStringLiteral("csv"),
                                                    QStringLiteral("--family"), list, path});
        if (!dump.waitForFinished(-1) || dump.exitCode() != 0)
            return 1;
        const double seconds = clock.nsecsElapsed() / 1e9;
        // On a shared machine the wall time counts the waits for a core too.
        const double cpu = captures::childrenCpuSeconds() - cpuBefore;
        std::printf("linkscope-dump --format csv --family %s: %.1f MB in %.2f s, %.1f MB/s (CPU %.2f s, %.1f MB/s)\n",
                    families.size() == 1 ? qPrintable(list) : "(every family)", size / 1e6, seconds,
                    size / 1e6 / seconds, cpu, size / 1e6 / cpu);
    }

    // Random bytes, read without times as a file is: frames that pass their
    // check (or keep their rules) by chance, per family.
    const int megabytes = argc > 2 ? QByteArray(argv[2]).toInt() : 64;
    QVector<std::pair<QString, QVector<const FamilyDescriptor *>>> lookedFor;
    for (const char *name : {"sbus", "dsm", "sumh", "st24", "xbus", "rj01", "exbus"})
        lookedFor.append({QLatin1String(name), {familyNamed(QLatin1String(name))}});
    for (const FamilyDescriptor *family : autoFamilies()) {
        auto it = std::find_if(lookedFor.begin(), lookedFor.end(),
                               [&](const auto &entry) { return entry.first == family->line.text(); });
        if (it == lookedFor.end())
            lookedFor.append({family->line.text(), {family}});
        else
            it->second << family;
    }
    QByteArray noise(1 << 20, 0);
    for (const auto &[name, families] : lookedFor) {
        StreamFramer framer(families);
        QMap<QString, qint64> passed;
        const auto count = [&](const QVector<AssembledFrame> &frames) {
            for (const AssembledFrame &frame : frames)
                passed[QLatin1String(frame.family()->recordName)] += frame.crcOk;
        };
        QRandomGenerator bytes(99);
        for (int mb = 0; mb < megabytes; ++mb) {
            for (char &byte : noise)
                byte = char(bytes.bounded(256));
            count(framer.feed(noise));
        }
        count(framer.flush());
        QStringList figures;
        for (auto it = passed.cbegin(); it != passed.cend(); ++it) {
            if (it.value() > 0)
                figures << QStringLiteral("%1 %2 (%3 a MB)").arg(it.key()).arg(it.value()).arg(double(it.value()) / megabytes, 0, 'f', 3);
        }
        std::printf("%s: frames passed in %d MB of random bytes: %s\n", qPrintable(name), megabytes,
                    figures.isEmpty() ? "none" : qPrintable(figures.join(QStringLiteral(", "))));
    }
    return 0;
}
