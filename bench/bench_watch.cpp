// SPDX-License-Identifier: GPL-3.0-or-later
// What the live view costs: linkscope-dump reads a line kept busy at 115200
// baud through a pseudo-terminal, once printing text records to a file and
// once drawing --watch on a terminal of 80x24 that this program reads. The
// CPU time of the whole process, all its threads, is reported as a share of
// the wall time, per family, after a first second of warming up.
#include "lineloads.h"
#include "pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace lineloads;

namespace {

constexpr double bytesPerSecond = 115200.0 / 10; // 8N1: ten bits a byte
constexpr double warmUpSeconds = 1.0;

struct Load
{
    const char *name;
    QByteArray (*make)(QRandomGenerator &);
};

// CPU time of every thread of a process so far, in seconds.
double processSeconds(qint64 pid)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (stat.open(QIODevice::ReadOnly))
            total += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return total;
}

// Waits until the process holds the line, so that it reads every byte sent.
bool holdsLine(qint64 pid, const QString &line)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == line)
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

struct Result
{
    double cpuPercent = -1;
    double framesPerSecond = 0;
    long framesSent = 0;
    long framesSeen = -1;
    double drawnPerSecond = 0; // bytes the view sent to its terminal
};

// Sends frames back to back at the line's byte rate for the warm-up and the
// measured seconds, and measures the process over the latter.
Result measure(qint64 pid, PseudoTerminal &line, const Load &load, double seconds)
{
    Result result;
    if (!holdsLine(pid, line.slavePath()))
        return result;
    QRandomGenerator random(11);
    QElapsedTimer clock;
    clock.start();
    double due = 0, cpuBefore = -1;
    long framesBefore = 0;
    while (clock.nsecsElapsed() < qint64((warmUpSeconds + seconds) * 1e9)) {
        if (cpuBefore < 0 && clock.nsecsElapsed() >= qint64(warmUpSeconds * 1e9)) {
            cpuBefore = processSeconds(pid);
            framesBefore = result.framesSent;
        }
        const QByteArray frame = load.make(random);
        due += frame.size() / bytesPerSecond;
        const qint64 wait = qint64(due * 1e9) - clock.nsecsElapsed();
        if (wait > 0)
            std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
        line.write(frame);
        ++result.framesSent;
    }
    const double elapsed = clock.nsecsElapsed() / 1e9 - warmUpSeconds;
    result.cpuPercent = 100.0 * (processSeconds(pid) - cpuBefore) / elapsed;
    result.framesPerSecond = (result.framesSent - framesBefore) / elapsed;
    return result;
}

Result textToFile(const QString &dump, const Load &load, double seconds, const QString &file)
{
    PseudoTerminal line;
    QProcess process;
    process.setStandardOutputFile(file);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(dump, {line.slavePath(), QStringLiteral("--format"), QStringLiteral("text")});
    if (!process.waitForStarted())
        return {};
    Result result = measure(process.processId(), line, load, seconds);
    // Every frame sent has been read once the line is empty again.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    process.terminate();
    process.waitForFinished(5000);
    QFile records(file);
    if (records.open(QIODevice::ReadOnly))
        result.framesSeen = records.readAll().count('\n') - 1;
    return result;
}

Result watching(const QString &dump, const Load &load, double seconds)
{
    PseudoTerminal line;
    // The terminal the view draws on, of 80x24, with the program as its session.
    const int screen = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (screen < 0 || ::grantpt(screen) != 0 || ::unlockpt(screen) != 0)
        return {};
    const QByteArray screenPath = ::ptsname(screen);
    winsize size = {};
    size.ws_row = 24;
    size.ws_col = 80;
    const QByteArray program = QFile::encodeName(dump), source = QFile::encodeName(line.slavePath());
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int terminal = ::open(screenPath.constData(), O_RDWR);
        ::ioctl(terminal, TIOCSWINSZ, &size);
        for (int fd = 0; fd < 3; ++fd)
            ::dup2(terminal, fd);
        ::setenv("TERM", "xterm-256color", 1);
        ::execl(program.constData(), program.constData(), "--watch", source.constData(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    if (pid < 0)
        return {};
    // The terminal's side: whatever the view draws is taken at once.
    QByteArray drawn;
    std::atomic<long> drawnBytes{0};
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(screen, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            drawn.append(buffer, int(qMax<ssize_t>(n, 0)));
            drawnBytes += long(qMax<ssize_t>(n, 0));
        }
    });
    QElapsedTimer running;
    running.start();
    Result result = measure(pid, line, load, seconds);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    result.drawnPerSecond = drawnBytes / (running.nsecsElapsed() / 1e9);
    [[maybe_unused]] const ssize_t written = ::write(screen, "q", 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    reader.join();
    ::close(screen);
    static const QRegularExpression frames(QStringLiteral("frames: (\\d+)"));
    const QRegularExpressionMatch said = frames.match(QString::fromUtf8(drawn));
    if (said.hasMatch())
        result.framesSeen = said.captured(1).toLong();
    return result;
}

// The median, and the range in brackets.
QString summary(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 (%2-%3)")
        .arg(values.at(values.size() / 2), 0, 'f', 1)
        .arg(values.first(), 0, 'f', 1)
        .arg(values.last(), 0, 'f', 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 4.0;
    const Load loads[] = {{"MPX", mpxFrame},         {"MPX_V2", mpxV2Frame},      {"NORDAX", nordaxFrame},
                          {"HOTT/16", hott16Frame}, {"SPEKTRUM", spektrumFrame}};
    // The machine's speed drifts, and other work on it shows in any single
    // run: each family runs both ways in turn, several times.
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    QTemporaryDir folder;
    std::printf("%-10s %9s %22s %22s %14s %9s\n", "family", "frames/s", "text to file CPU %", "--watch CPU %",
                "drawn bytes/s", "all read");
    for (const Load &load : loads) {
        if (!only.isEmpty() && QString::fromLatin1(load.name) != only)
            continue;
        QVector<double> text, watch;
        double framesPerSecond = 0, drawnPerSecond = 0;
        bool allRead = true;
        for (int run = 0; run < runs; ++run) {
            const Result records = textToFile(QStringLiteral(LINKSCOPE_DUMP), load, seconds, folder.filePath("records.txt"));
            const Result view = watching(QStringLiteral(LINKSCOPE_DUMP), load, seconds);
            text << records.cpuPercent;
            watch << view.cpuPercent;
            framesPerSecond = view.framesPerSecond;
            drawnPerSecond += view.drawnPerSecond / runs;
            allRead = allRead && records.framesSeen == records.framesSent && view.framesSeen == view.framesSent;
        }
        std::printf("%-10s %9.0f %22s %22s %14.0f %9s\n", load.name, framesPerSecond, qPrintable(summary(text)),
                    qPrintable(summary(watch)), drawnPerSecond, allRead ? "yes" : "NO");
        std::fflush(stdout);
    }
    return 0;
}
