// SPDX-License-Identifier: GPL-3.0-or-later
// How fast linkscope-dump turns a capture into CSV: a 50 MB capture of mixed
// frames with a little noise, decoded to /dev/null, in MB/s.
#include "packets.h"
#include "streams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

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

    QProcess dump;
    dump.setStandardOutputFile(QProcess::nullDevice());
    dump.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    dump.start(QStringLiteral(LINKSCOPE_DUMP), {QStringLiteral("--format"), QStringLiteral("csv"), capture.fileName()});
    if (!dump.waitForFinished(-1) || dump.exitCode() != 0)
        return 1;
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("linkscope-dump --format csv: %.1f MB in %.2f s, %.1f MB/s\n", written / 1e6, seconds,
                written / 1e6 / seconds);
    return 0;
}
