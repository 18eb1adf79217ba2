// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/session.h"

#include "decode/frameassembler.h"
#include "decode/microseconds.h"
#include "serial/linesettings.h"
#include "serial/portaccess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
int wakePipe[2] = {-1, -1};

void onStopSignal(int)
{
    stopRequested = 1;
    if (wakePipe[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
    }
}

// Ctrl-C and SIGTERM end the run as the end of the source would; a blocking
// read returns at once. A closed output pipe is noticed on writing instead.
void catchStopSignals()
{
    if (::pipe(wakePipe) == 0) {
        ::fcntl(wakePipe[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(wakePipe[1], F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void complain(const QString &text)
{
    std::fprintf(stderr, "linkscope-dump: %s\n", qPrintable(text));
}

class Session
{
public:
    explicit Session(const DumpOptions &options) : options(options), writer(options.format, stdout) {}
    int run();

private:
    bool openRecording();
    int readDescriptor(int fd, bool live);
    int readPort();
    bool take(const char *data, int size);
    void countFamily(const char *family);
    void summarise(bool live);

    const DumpOptions &options;
    RecordWriter writer;
    FrameAssembler assembler;
    QFile recording;
    QElapsedTimer clock;
    bool live = false;
    bool failed = false;
    qint64 frames = 0, crcFailures = 0, failsafeFrames = 0;
    // Frames per family; the names are the reader's own constants.
    QVector<QPair<const char *, qint64>> perFamily;
    double firstAt = -1, lastAt = -1, shortest = -1, longest = -1;
    FrameReading reading;
};

bool Session::openRecording()
{
    if (options.recordPath.isEmpty())
        return true;
    recording.setFileName(options.recordPath);
    // Without --force an existing file is never touched.
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered
        | (options.force ? QIODevice::Truncate : QIODevice::NewOnly);
    if (recording.open(mode))
        return true;
    if (!options.force && QFileInfo::exists(options.recordPath))
        complain(QStringLiteral("%1 exists; give --force to overwrite it").arg(options.recordPath));
    else
        complain(QStringLiteral("cannot write %1: %2").arg(options.recordPath, recording.errorString()));
    return false;
}

void Session::countFamily(const char *family)
{
    for (auto &entry : perFamily) {
        if (entry.first == family) {
            ++entry.second;
            return;
        }
    }
    perFamily.append({family, 1});
}

// One read from the source. Returns false when the run should end.
bool Session::take(const char *data, int size)
{
    if (recording.isOpen() && recording.write(data, size) != size) {
        complain(QStringLiteral("cannot write %1: %2").arg(options.recordPath, recording.errorString()));
        failed = true;
        return false;
    }
    const double t = live ? double(clock.nsecsElapsed()) / 1e9 : -1;
    const QVector<AssembledFrame> found = assembler.feed(QByteArray::fromRawData(data, size),
                                                         live ? clock.elapsed() : 0);
    for (const AssembledFrame &frame : found) {
        readFrame(frame.bytes.constData(), frame.bytes.size(), reading);
        ++frames;
        countFamily(reading.family);
        crcFailures += !reading.crcOk;
        failsafeFrames += reading.failsafe == 1;
        if (live) {
            if (lastAt >= 0) {
                const double gap = t - lastAt;
                shortest = shortest < 0 ? gap : qMin(shortest, gap);
                longest = qMax(longest, gap);
            } else {
                firstAt = t;
            }
            lastAt = t;
        }
        if (!options.quiet)
            writer.write(reading, t, frame.offset, frame.bytes.constData(), frame.bytes.size());
        if (frames == options.count) {
            writer.flush();
            return false;
        }
    }
    // A person watching a live source sees each read's frames at once.
    if (live)
        writer.flush();
    return !writer.closed() && !stopRequested;
}

int Session::readDescriptor(int fd, bool timed)
{
    live = timed;
    static char buffer[1 << 16];
    while (!stopRequested) {
        // A live stream is waited on no longer than --duration allows.
        if (live && options.duration >= 0) {
            const qint64 left = qint64(options.duration * 1000) - clock.elapsed();
            if (left <= 0)
                break;
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, int(qMin<qint64>(left, 1000))) <= 0)
                continue;
        }
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            complain(QStringLiteral("cannot read %1: %2").arg(options.source, QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        if (!take(buffer, int(n)))
            break;
    }
    return 0;
}

int Session::readPort()
{
    live = true;
    const QString device = portDevicePath(options.source);
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot open %1: %2").arg(options.source, openFailureReason(port, device)));
        return 1;
    }
    const QString failedSetting = applyLineSettings(port, options.baud);
    if (!failedSetting.isEmpty()) {
        complain(QStringLiteral("cannot set the %1 of %2: %3").arg(failedSetting, options.source, port.errorString()));
        return 1;
    }

    QEventLoop loop;
    QString lostBecause;
    int readErrors = 0;
    QObject::connect(&port, &QSerialPort::readyRead, &loop, [&] {
        const QByteArray bytes = port.readAll();
        readErrors = 0;
        if (!bytes.isEmpty() && !take(bytes.constData(), bytes.size()))
            loop.quit();
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, &loop, [&](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError)
            lostBecause = port.errorString();
        else if (error == QSerialPort::ReadError && deviceHungUp(port))
            lostBecause = hungUpReason();
        else if (error == QSerialPort::ReadError && ++readErrors >= 3)
            lostBecause = QStringLiteral("reading keeps failing (%1)").arg(port.errorString());
        if (!lostBecause.isEmpty())
            loop.quit();
    });
    QSocketNotifier wake(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    if (options.duration >= 0)
        QTimer::singleShot(qint64(options.duration * 1000), &loop, &QEventLoop::quit);
    if (!stopRequested)
        loop.exec();
    port.close();
    if (!lostBecause.isEmpty()) {
        summarise(true);
        complain(QStringLiteral("lost %1: %2").arg(options.source, lostBecause));
        return 1;
    }
    return 0;
}

void Session::summarise(bool live)
{
    // Whoever closed the output (| head) wants no more of it.
    if (!writer.flush() || options.quiet)
        return;
    QStringList families;
    for (const auto &entry : qAsConst(perFamily))
        families << QStringLiteral("%1 %2").arg(QLatin1String(entry.first)).arg(entry.second);
    families.sort();
    std::fprintf(stderr, "frames: %lld%s%s\n", frames, families.isEmpty() ? "" : " (",
                 families.isEmpty() ? "" : qPrintable(families.join(QStringLiteral(", ")) + QLatin1Char(')')));
    std::fprintf(stderr, "CRC failures: %lld\nfailsafe frames: %lld\nstray bytes: %lld\n", crcFailures,
                 failsafeFrames, assembler.strayBytes() + assembler.keptBytes());
    if (live) {
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        std::fprintf(stderr, "frame rate: %.1f/s over %.1f s\n", seconds > 0 ? frames / seconds : 0.0, seconds);
        if (frames > 1)
            std::fprintf(stderr, "interval between frames: min %.1f / mean %.1f / max %.1f ms\n", shortest * 1000,
                         (lastAt - firstAt) * 1000 / double(frames - 1), longest * 1000);
    }
}

int Session::run()
{
    catchStopSignals();
    int fd = -1;
    bool timed = true;
    if (options.source == QLatin1String("-")) {
        fd = STDIN_FILENO;
        struct stat info;
        timed = !(::fstat(fd, &info) == 0 && S_ISREG(info.st_mode));
    } else if (QFileInfo(options.source).isFile()) {
        fd = ::open(QFile::encodeName(options.source).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            complain(QStringLiteral("cannot open %1: %2").arg(options.source, QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        timed = false;
    }
    if (!openRecording())
        return 1;
    clock.start();
    int status = fd >= 0 ? readDescriptor(fd, timed) : readPort();
    if (fd > STDIN_FILENO)
        ::close(fd);
    if (status == 0) {
        summarise(live);
        status = failed ? 1 : 0;
    }
    return status;
}

} // namespace

int runDump(const DumpOptions &options)
{
    Session session(options);
    return session.run();
}
