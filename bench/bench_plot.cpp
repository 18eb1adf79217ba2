// SPDX-License-Identifier: GPL-3.0-or-later
// How fast linkscope-plot draws a long run, and the most memory it takes:
// an hour of MPX_V2 at 100 frames/s as a raw capture (360,000 frames), a
// 50 MB raw capture of mixed frames with a little noise, and a 50 MB Saleae
// CSV export, each drawn to a PNG.
#include "captures.h"

#include "decode/families/mpx.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {

// Runs linkscope-plot on file; prints the wall time and the peak resident
// memory, as /usr/bin/time -v tells them. False if it failed.
bool drawn(const char *what, const QString &file, qint64 bytes)
{
    const QByteArray source = QFile::encodeName(file), picture = source + ".png";
    char *argv[] = {const_cast<char *>(LINKSCOPE_PLOT), const_cast<char *>(source.constData()),
                    const_cast<char *>("-o"), const_cast<char *>(picture.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, LINKSCOPE_PLOT, &actions, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    struct rusage usage = {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("linkscope-plot, %s (%.1f MB): %.2f s, peak memory %.0f MB\n", what, bytes / 1e6, seconds,
                usage.ru_maxrss / 1024.0);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // A folder given keeps the inputs and pictures for a look afterwards.
    QTemporaryDir temporary;
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path());

    // The hour: every channel sweeping, as sticks move.
    QFile hour(folder.filePath(QStringLiteral("hour.bin")));
    if (!hour.open(QIODevice::WriteOnly))
        return 1;
    QByteArray block;
    for (int i = 0; i < 360000; ++i) {
        QVector<quint16> words(16);
        for (int k = 0; k < 16; ++k)
            words[k] = mpxWord(1500 + int(500 * std::sin((i + 1000 * k) / 400.0)));
        block += mpxFrame(words);
        if (block.size() >= (1 << 20) || i == 359999) {
            hour.write(block);
            block.clear();
        }
    }
    hour.close();

    const qint64 size = 50 * 1000 * 1000;
    const QString capture = folder.filePath(QStringLiteral("capture.bin"));
    const QString exported = folder.filePath(QStringLiteral("export.csv"));
    const qint64 written = captures::writeMixed(capture, size);
    const qint64 exportedSize = captures::writeSaleae(capture, exported, size);
    if (written < 0 || exportedSize < 0)
        return 1;

    return drawn("one hour at 100 frames/s, 360,000 MPX_V2 frames, raw", hour.fileName(), hour.size())
                   && drawn("raw capture of mixed frames", capture, written)
                   && drawn("Saleae CSV export", exported, exportedSize)
               ? 0
               : 1;
}
