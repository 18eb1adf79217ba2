// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/session.h"

#include "decode/frameassembler.h"
#include "decode/microseconds.h"
#include "dump/output.h"
#include "dump/source.h"
#include "dump/watchview.h"
#include "serial/linesettings.h"
#include "serial/portaccess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
int wakePipe[2] = {-1, -1};

// After a stop signal, records still on their way get this long.
constexpr qint64 lastWordsMs = 500;

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

// While the live view holds the terminal, messages wait until it is given back.
QStringList *heldMessages = nullptr;

void complain(const QString &text)
{
    if (heldMessages)
        heldMessages->append(text);
    else
        std::fprintf(stderr, "linkscope-dump: %s\n", qPrintable(text));
}

class Session
{
public:
    explicit Session(const DumpOptions &options);
    int run();

private:
    bool openRecording();
    int readFile(int fd);
    int readStream(int fd);
    int readPort(const QString &device);
    bool startWatching(QEventLoop &loop);
    void stopWatching();
    bool take(const char *data, int size);
    void show(const QVector<AssembledFrame> &frames);
    double frameTime(const AssembledFrame &frame) const;
    void countFamily(const char *family);
    void checkOutput();
    bool stopNow() const { return stopRequested || ended; }
    bool lastWordsOver();
    void summarise();

    const DumpOptions &options;
    OutputStream output;
    std::unique_ptr<RecordWriter> writer;
    std::unique_ptr<WatchView> view;
    QStringList held;
    FrameAssembler assembler;
    QFile recording;
    QString lost; // why the port went away
    QElapsedTimer clock;
    QElapsedTimer sinceStop;
    bool live = false;
    bool recordsWanted = false;
    bool ended = false;  // a limit was reached, or nothing is left to do
    bool failed = false;
    qint64 frames = 0, crcFailures = 0, failsafeFrames = 0;
    // Frames per family; the names are the reader's own constants.
    QVector<QPair<const char *, qint64>> perFamily;
    double firstAt = -1, lastAt = -1, shortest = -1, longest = -1;
    // Where in the stream each recent read ended, and when it arrived.
    struct ReadMark
    {
        qint64 end;
        double t;
    };
    QVector<ReadMark> marks;
    FrameReading reading;
};

Session::Session(const DumpOptions &options)
    : options(options), output(STDOUT_FILENO), recordsWanted(!options.quiet && !options.watch)
{
}

// The view takes over the terminal once the source is open, so that a port
// that will not open says so on a plain terminal.
bool Session::startWatching(QEventLoop &loop)
{
    if (!options.watch || stopNow())
        return true;
    view = std::make_unique<WatchView>(options.source == QLatin1String("-") ? QStringLiteral("standard input")
                                                                            : options.source,
                                       clock);
    QString error;
    if (!view->start(&error)) {
        view.reset();
        complain(error);
        return false;
    }
    heldMessages = &held;
    QObject::connect(view.get(), &WatchView::quitWanted, &loop, &QEventLoop::quit);
    return true;
}

void Session::stopWatching()
{
    if (!view)
        return;
    view->stop();
    heldMessages = nullptr;
    for (const QString &message : qAsConst(held))
        complain(message);
    held.clear();
}

bool Session::openRecording()
{
    if (options.recordPath.isEmpty())
        return true;
    const QByteArray &path = options.recordBytes;
    const QString &name = options.recordPath;
    struct stat info;
    if (::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        complain(QStringLiteral("cannot record to %1: it is a directory").arg(name));
        return false;
    }
    // Without --force an existing file is never touched.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | (options.force ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            complain(QStringLiteral("%1 exists; give --force to overwrite it").arg(name));
        else
            complain(QStringLiteral("cannot record to %1: %2").arg(name, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    if (!recording.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        complain(QStringLiteral("cannot record to %1: %2").arg(name, recording.errorString()));
        ::close(fd);
        return false;
    }
    return true;
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

// The time a frame's last byte arrived: the time of the read that brought
// it, less the bytes that came after it in that read at ten bits a byte.
double Session::frameTime(const AssembledFrame &frame) const
{
    if (!live)
        return -1;
    const qint64 end = frame.offset + frame.bytes.size();
    for (const ReadMark &mark : marks) {
        if (mark.end >= end)
            return qMax(0.0, mark.t - double(mark.end - end) * 10.0 / options.baud);
    }
    return marks.isEmpty() ? 0.0 : marks.last().t;
}

// A closed pipe ends the records quietly, any other failure loudly; with a
// recording, the run goes on whatever happens to them.
void Session::checkOutput()
{
    if (!recordsWanted || output.state() == OutputStream::Open)
        return;
    recordsWanted = false;
    if (output.state() == OutputStream::Failed) {
        complain(QStringLiteral("cannot write the records to standard output: %1").arg(output.errorText()));
        failed = true;
    }
    if (!recording.isOpen())
        ended = true;
}

void Session::show(const QVector<AssembledFrame> &found)
{
    for (const AssembledFrame &frame : found) {
        if (ended)
            return;
        readFrame(frame.bytes.constData(), frame.bytes.size(), reading);
        ++frames;
        countFamily(reading.family);
        crcFailures += !reading.crcOk;
        // Only a frame whose CRC matches says anything about the receiver.
        failsafeFrames += reading.failsafe == 1 && reading.crcOk;
        const double t = frameTime(frame);
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
        if (view)
            view->take(reading, t);
        else if (recordsWanted)
            writer->write(reading, t, frame.offset, frame.bytes.constData(), frame.bytes.size());
        if (frames == options.count)
            ended = true;
    }
}

// One read from the source. Returns false when the run should end.
bool Session::take(const char *data, int size)
{
    if (recording.isOpen() && recording.write(data, size) != size) {
        complain(QStringLiteral("cannot write %1: %2").arg(options.recordPath, recording.errorString()));
        failed = true;
        return false;
    }
    if (live) {
        marks.append({assembler.bytesFed() + size, double(clock.nsecsElapsed()) / 1e9});
    }
    show(assembler.feed(QByteArray::fromRawData(data, size), live ? clock.elapsed() : 0));
    if (view)
        view->setStrayBytes(assembler.strayBytes());
    if (live) {
        // Frames still to come end after the bytes the assembler keeps.
        const qint64 keptFrom = assembler.bytesFed() - assembler.keptBytes();
        int done = 0;
        while (done < marks.size() - 1 && marks.at(done).end <= keptFrom)
            ++done;
        marks.remove(0, done);
        // A person watching a live source sees each read's frames at once.
        if (recordsWanted)
            writer->flush();
    }
    checkOutput();
    return !stopNow();
}

int Session::readFile(int fd)
{
    static char buffer[1 << 16];
    while (!stopNow()) {
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

// A stream is read as its bytes come, so that the run can end on time and
// on a signal, whatever the stream does meanwhile.
int Session::readStream(int fd)
{
    QEventLoop loop;
    int status = 0;
    static char buffer[1 << 16];
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, [&] {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n < 0) {
            complain(QStringLiteral("cannot read %1: %2").arg(options.source, QString::fromLocal8Bit(std::strerror(errno))));
            status = 1;
        }
        if (n <= 0 || !take(buffer, int(n)))
            loop.quit();
    });
    QSocketNotifier wake(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    if (options.duration > 0)
        QTimer::singleShot(qint64(options.duration * 1000), &loop, &QEventLoop::quit);
    if (!startWatching(loop))
        return 1;
    if (!stopNow())
        loop.exec();
    return status;
}

int Session::readPort(const QString &device)
{
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
            lostBecause = deviceHungUp(port) ? hungUpReason() : port.errorString();
        else if (error == QSerialPort::ReadError && deviceHungUp(port))
            lostBecause = hungUpReason();
        else if (error == QSerialPort::ReadError && ++readErrors >= 3)
            lostBecause = QStringLiteral("reading keeps failing (%1)").arg(port.errorString());
        if (!lostBecause.isEmpty())
            loop.quit();
    });
    QSocketNotifier wake(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    if (options.duration > 0)
        QTimer::singleShot(qint64(options.duration * 1000), &loop, &QEventLoop::quit);
    if (!startWatching(loop))
        return 1;
    if (!stopNow())
        loop.exec();
    port.close();
    if (!lostBecause.isEmpty()) {
        lost = QStringLiteral("lost %1: %2").arg(options.source, lostBecause);
        return 1;
    }
    return 0;
}

// Once a stop signal came, what is still to be written gets a moment, not
// the reader's leisure.
bool Session::lastWordsOver()
{
    if (!stopRequested)
        return false;
    if (!sinceStop.isValid())
        sinceStop.start();
    return sinceStop.elapsed() > lastWordsMs;
}

void Session::summarise()
{
    // Whoever closed the output (| head) wants no more of it.
    if (options.quiet || output.state() == OutputStream::PipeClosed)
        return;
    QStringList families;
    for (const auto &entry : qAsConst(perFamily))
        families << QStringLiteral("%1 %2").arg(QLatin1String(entry.first)).arg(entry.second);
    families.sort();
    std::fprintf(stderr, "frames: %lld%s%s\n", frames, families.isEmpty() ? "" : " (",
                 families.isEmpty() ? "" : qPrintable(families.join(QStringLiteral(", ")) + QLatin1Char(')')));
    std::fprintf(stderr, "CRC failures: %lld\nfailsafe frames: %lld\nstray bytes: %lld\n", crcFailures,
                 failsafeFrames, assembler.strayBytes() + assembler.keptBytes());
    if (output.droppedRecords() > 0)
        std::fprintf(stderr, "records dropped: output too slow (%lld records)\n", output.droppedRecords());
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
    const Source source = openSource(options.source, options.sourcePath, options.stdinClosed);
    if (source.kind == Source::Invalid) {
        complain(source.error);
        return 1;
    }
    // A capture is read faster than anyone could watch it.
    if (options.watch && source.kind == Source::File) {
        complain(QStringLiteral("--watch needs a live source, a serial port or a stream, and %1 is a capture "
                                "file; leave out --watch to decode it")
                     .arg(options.source == QLatin1String("-") ? QStringLiteral("standard input")
                                                               : options.source));
        return 2;
    }
    if (!options.recordPath.isEmpty() && isSameFile(source, options.recordBytes)) {
        complain(QStringLiteral("will not record to %1: it is the source being read").arg(options.recordPath));
        return 2;
    }
    if (recordsWanted && options.stdoutClosed) {
        complain(QStringLiteral("cannot write the records: standard output is closed"));
        if (options.recordPath.isEmpty())
            return 1;
        failed = true;
        recordsWanted = false;
    }
    if (!openRecording())
        return 1;

    live = source.kind != Source::File;
    // Bytes that a terminal or port brings are lost unless read in time, so
    // records wait for nobody there; other sources wait for the reader.
    writer = std::make_unique<RecordWriter>(options.format, output, source.terminal || source.kind == Source::Port,
                                            [] { return stopRequested != 0; });
    clock.start();
    int status = 0;
    switch (source.kind) {
    case Source::File: status = readFile(source.fd); break;
    case Source::Stream: status = readStream(source.fd); break;
    default: status = readPort(source.portPath); break;
    }
    stopWatching();
    if (source.fd > STDIN_FILENO)
        ::close(source.fd);
    // A source that could not be opened or read has said why; the records
    // it gave still go out.
    const bool summed = status == 0 || !lost.isEmpty();
    // Frames the end of the bytes settles, as when a damaged frame came last.
    show(assembler.flush());
    if (recordsWanted) {
        writer->flush();
        output.drain([this] { return lastWordsOver(); });
        checkOutput();
    }
    if (recording.isOpen() && !recording.flush()) {
        complain(QStringLiteral("cannot write %1: %2").arg(options.recordPath, recording.errorString()));
        failed = true;
    }
    if (summed)
        summarise();
    // Said last, where a person looks first.
    if (!lost.isEmpty())
        complain(lost);
    return status != 0 ? status : failed ? 1 : 0;
}

} // namespace

int runDump(const DumpOptions &options)
{
    Session session(options);
    return session.run();
}
