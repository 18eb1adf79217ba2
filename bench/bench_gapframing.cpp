// SPDX-License-Identifier: GPL-3.0-or-later
// SBUS and DSM, which carry no checksum: how fast linkscope-dump turns a
// 50 MB raw capture of each into CSV, and one of every family with all of
// them looked for, in MB/s; and how many frames random bytes pass for, per MB.
#include "decode/framing/streamframer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

// User and system time of the children waited for so far, in seconds.
double childrenCpu()
{
    struct rusage usage;
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Frames of families at random µs in their range, a little noise between.
bool writeCapture(const QString &path, const QVector<const FamilyDescriptor *> &families, qint64 size,
                  QRandomGenerator &random)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block;
    qint64 written = 0;
    for (qint64 index = 0; written < size; ++index) {
        const FamilyDescriptor &family = *families[int(random.bounded(families.size()))];
        FrameRequest request;
        request.index = index;
        const int channels = family.fixedChannels ? family.fixedChannels : family.maxChannels;
        for (int k = 0; k < channels; ++k) {
            const MicrosecondRange range = family.hasMicroseconds() ? family.usRange(k) : MicrosecondRange{1, 4000};
            const int us = range.lowest + int(random.bounded(range.highest - range.lowest + 1));
            request.wire << (family.hasMicroseconds() ? family.wireFor(k, us) : us);
        }
        block += family.encode(request);
        if (random.bounded(200) == 0)
            block += QByteArray(1 + int(random.bounded(8)), char(random.bounded(256)));
        if (block.size() >= (1 << 20) || written + block.size() >= size) {
            file.write(block);
            written += block.size();
            block.clear();
        }
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const qint64 size = qint64(argc > 1 ? QByteArray(argv[1]).toDouble() : 50.0) * 1000 * 1000;
    QTemporaryDir folder;
    QRandomGenerator random(34);
    QStringList names;
    for (const FamilyDescriptor *family : allFamilies())
        names << QLatin1String(family->name);
    const QVector<std::pair<QString, QVector<const FamilyDescriptor *>>> captures{
        {QStringLiteral("sbus"), {familyNamed(QStringLiteral("sbus"))}},
        {QStringLiteral("dsm"), {familyNamed(QStringLiteral("dsm"))}},
        {names.join(QLatin1Char(',')), allFamilies()},
    };
    for (const auto &[list, families] : captures) {
        const QString path = folder.filePath(QStringLiteral("capture.bin"));
        if (!writeCapture(path, families, size, random))
            return 1;
        QProcess dump;
        dump.setStandardOutputFile(QProcess::nullDevice());
        dump.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        const double cpuBefore = childrenCpu();
        clock.start();
        dump.start(QStringLiteral(LINKSCOPE_DUMP), {QStringLiteral("--format"), QStringLiteral("csv"),
                                                    QStringLiteral("--family"), list, path});
        if (!dump.waitForFinished(-1) || dump.exitCode() != 0)
            return 1;
        const double seconds = clock.nsecsElapsed() / 1e9;
        // On a shared machine the wall time counts the waits for a core too.
        const double cpu = childrenCpu() - cpuBefore;
        std::printf("linkscope-dump --format csv --family %s: %.1f MB in %.2f s, %.1f MB/s (CPU %.2f s, %.1f MB/s)\n",
                    families.size() == 1 ? qPrintable(list) : "(every family)", size / 1e6, seconds,
                    size / 1e6 / seconds, cpu, size / 1e6 / cpu);
    }

    // Random bytes, read without times as a file is.
    const int megabytes = argc > 2 ? QByteArray(argv[2]).toInt() : 64;
    QByteArray noise(1 << 20, 0);
    for (const char *name : {"sbus", "dsm"}) {
        StreamFramer framer({familyNamed(QLatin1String(name))});
        qint64 frames = 0;
        for (int mb = 0; mb < megabytes; ++mb) {
            for (char &byte : noise)
                byte = char(random.bounded(256));
            frames += framer.feed(noise).size();
        }
        frames += framer.flush().size();
        std::printf("%s frames in %d MB of random bytes: %lld (%.3f a MB)\n", name, megabytes, frames,
                    double(frames) / megabytes);
    }
    return 0;
}
