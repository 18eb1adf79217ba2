// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/run.h"

#include "cli/messages.h"
#include "cli/stopsignals.h"
#include "decode/capture/jsonlines.h"
#include "reading/jsonframes.h"

#include <QEventLoop>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

ReadingRun::ReadingRun(const ReadOptions &given) : options(given), reading(0, options, runClock, limits)
{
}

QString ReadingRun::sourceName() const
{
    return options.source == QLatin1String("-") ? QStringLiteral("standard input") : options.source;
}

int ReadingRun::open()
{
    catchStopSignals();
    opened = openSource(options.source, options.sourcePath, options.stdinClosed);
    // Stopped while waiting for a FIFO's writer: nothing came, nothing failed.
    if (opened.kind == Source::Invalid && opened.interrupted)
        return 0;
    if (opened.kind == Source::Invalid) {
        complain(opened.error);
        return 1;
    }
    return -1;
}

int ReadingRun::refuse() const
{
    const bool line = opened.kind == Source::Port || opened.terminal;
    // Only a line has settings for the families to agree on.
    if (!options.lineConflict.isEmpty() && line) {
        complain(options.lineConflict);
        return 2;
    }
    if (options.inputGiven && line) {
        complain(QStringLiteral("--input is for capture files and streams; %1 is a port").arg(options.source));
        return 2;
    }
    return -1;
}

int ReadingRun::read(FrameSink *to, ByteSink *bytes)
{
    sink = to;
    runClock.start();
    reading.begin(opened);
    reading.setByteSink(bytes);
    // A live view takes the frames once it has started.
    if (!options.liveView)
        reading.setFrameSink(sink);
    int status = 0;
    switch (opened.kind) {
    case Source::File: status = readFile(opened.fd); break;
    case Source::Stream: status = readStream(opened.fd); break;
    default: status = readPort(opened.portPath); break;
    }
    stopWatching();
    if (opened.fd > STDIN_FILENO)
        ::close(opened.fd);
    reading.end();
    return status;
}

int ReadingRun::finish(int status, bool failed, const QString &sinkLines)
{
    // A source that could not be opened or read has said why; the records
    // it gave still go out.
    const bool summed = status == 0 || !lost.isEmpty();
    if (lastError.isEmpty())
        lastError = reading.captureError();
    failed = failed || !lastError.isEmpty();
    // Standard error still takes the summary when standard output was closed (| head).
    if (summed && options.summary)
        tell(reading.summary(sinkLines).toLocal8Bit());
    // Bytes came, but nothing of the families looked for: a failure, not a
    // quiet success, and the way out is named.
    const bool noFrames = summed && reading.frames() == 0 && reading.bytesRead() > 0 && !reading.durationOver();
    if (noFrames)
        complain(reading.noFramesText());
    if (opened.kind == Source::File && options.duration > 0 && !reading.capturedTimes() && reading.frames() > 0)
        complain(QStringLiteral("--duration was not applied: %1 holds no times (only a Saleae CSV export does)")
                     .arg(options.source));
    // Said last, where a person looks first.
    if (!lost.isEmpty())
        complain(lost);
    if (!lastError.isEmpty())
        complain(lastError);
    return status != 0 ? status : failed || (noFrames && options.noFramesFail) ? 1 : 0;
}

int ReadingRun::readFile(int fd)
{
    // A run of linkscope-dump's records is read as its frames, where asked.
    if (options.jsonLines && sink && !options.inputGiven && options.source != QLatin1String("-")) {
        QByteArray head(1 << 16, Qt::Uninitialized);
        const ssize_t n = ::pread(fd, head.data(), size_t(head.size()), 0);
        head.truncate(int(qMax<ssize_t>(n, 0)));
        if (looksLikeJsonLines(head))
            return readJson(fd);
    }
    static char buffer[1 << 16];
    while (!limits.stopNow()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            complain(QStringLiteral("cannot read %1: %2").arg(options.source, QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        if (!reading.read(buffer, int(n)))
            return 0;
    }
    if (!limits.stopNow())
        reading.endOfCapture();
    return 0;
}

int ReadingRun::readJson(int fd)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
        lastError = QStringLiteral("cannot read %1: %2").arg(options.source, file.errorString());
        return 1;
    }
    QString error;
    if (readJsonFrames(file, options.source, *sink, error, options.sourceNamed))
        return 0;
    lastError = error;
    return 1;
}

// The view takes over the terminal once the source is open, so that a port
// that will not open says so on a plain terminal.
bool ReadingRun::startWatching(QEventLoop &loop)
{
    if (!options.liveView || !sink || limits.stopNow())
        return true;
    QString error;
    if (!sink->start(&error, [&loop] { loop.quit(); })) {
        sink = nullptr;
        complain(error);
        return false;
    }
    reading.setFrameSink(sink);
    watching = true;
    holdMessages(true);
    return true;
}

void ReadingRun::stopWatching()
{
    FrameSink *active = reading.frameSink();
    if (!active)
        return;
    active->stop();
    if (watching)
        holdMessages(false);
    watching = false;
}
