// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/session.h"

#include "cli/stopsignals.h"
#include "decode/familyfinder.h"
#include "decode/framing/streamframer.h"
#include "decode/families/framereading.h"
#include "decode/framing/pollpairing.h"
#include "decode/readbunching.h"
#include "dump/autodetect.h"
#include "dump/framesink.h"
#include "dump/output.h"
#include "dump/source.h"
#include "serial/earlierinput.h"
#include "serial/linesettings.h"
#include "serial/lowlatency.h"
#include "serial/portaccess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <limits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// After a stop signal, records still on their way get this long, and what
// is said on standard error until the later mark.
constexpr qint64 lastRecordsMs = 400;
constexpr qint64 lastWordsMs = 800;
// What --family auto keeps of a capture while it looks for the family, to
// read it again once found; a capture's byte times take eight times more.
constexpr qint64 keptWhileLooking = 32 << 20;
constexpr qint64 keptWhileLookingTimed = 4 << 20;

// Since the run noticed a stop signal.
qint64 msSinceStop()
{
    static QElapsedTimer since;
    if (!since.isValid())
        since.start();
    return since.elapsed();
}

// Writes text to standard error. Once a stop signal came, a terminal that
// takes nothing (paused with Ctrl-S) gets a moment, not the run's end.
void tell(const QByteArray &text)
{
    const char *at = text.constData();
    qint64 left = text.size();
    while (left > 0) {
        if (stopRequested()) {
            pollfd room{STDERR_FILENO, POLLOUT, 0};
            if (::poll(&room, 1, int(qMax<qint64>(0, lastWordsMs - msSinceStop()))) <= 0)
                return;
        }
        // Small pieces, so that a terminal with a little room takes them.
        const ssize_t n = ::write(STDERR_FILENO, at, size_t(stopRequested() ? qMin<qint64>(left, 64) : left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        at += n;
        left -= n;
    }
}

// While the live view holds the terminal, messages wait until it is given back.
QStringList *heldMessages = nullptr;

void complain(const QString &text)
{
    if (heldMessages)
        heldMessages->append(text);
    else
        tell(QCoreApplication::applicationName().toLocal8Bit() + ": " + text.toLocal8Bit() + '\n');
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
    int findFamily(QSerialPort &port);
    bool runLoop(QEventLoop &loop, const std::function<bool()> &bytesWaiting);
    bool startWatching(QEventLoop &loop);
    void stopWatching();
    bool read(const char *data, int size);
    bool takeDecoded(bool atEnd);
    bool take(const char *data, int size, qint64 fromMs, qint64 toMs, double arrivedAt = -1,
              double quietMs = -1);
    bool takeHeldBack(const QByteArray &bytes);
    // --family auto: bytes are kept and looked through until a family is
    // found, then read again as that family's from the first kept.
    void startLooking(const QVector<const FamilyDescriptor *> &candidates);
    bool look(const char *data, int size, qint64 fromMs, qint64 toMs, double arrivedAt, double quietMs);
    bool lockOn();
    bool readLookedAgain();
    QString noFramesText() const;
    // Bytes read, and those of them in no frame; --family auto counts what it
    // looked through without finding a family as such.
    qint64 bytesRead() const { return offsetBase + (finder ? lookedBytes : assembler.bytesFed()); }
    qint64 unframedBytes() const
    {
        return finder ? offsetBase + lookedBytes : assembler.strayBytes() + (cutShort() ? 0 : assembler.keptBytes());
    }
    // Whether the wall clock times the bytes: a port, or raw bytes from a
    // stream. A capture's text forms are timed by the capture or not at all.
    bool wallTimed() const { return live && (!reader || reader->form() == CaptureReader::Raw); }
    void show(const QVector<AssembledFrame> &frames);
    double frameTime(const AssembledFrame &frame, double *readAt = nullptr) const;
    void tellBunching();
    void countFamily(const FrameReading &frame);
    void checkOutput();
    bool stopNow() const { return stopRequested() || ended; }
    // The run ended before its source did: what is kept is no stray bytes.
    bool cutShort() const { return stopRequested() || ended; }
    bool lastRecordsOver() const { return stopRequested() && msSinceStop() > lastRecordsMs; }
    void summarise();

    const DumpOptions &options;
    std::unique_ptr<OutputStream> output;
    std::unique_ptr<RecordWriter> writer;
    // A capture file or stream in any of the forms people exchange.
    std::unique_ptr<CaptureReader> reader;
    std::unique_ptr<FrameSink> ownView; // the live view
    FrameSink *view = nullptr;          // where frames go instead of records
    QStringList held;
    // The families looked for and the line's settings: those --family auto found.
    QVector<const FamilyDescriptor *> families;
    LineSettings line;
    StreamFramer assembler;
    QFile recording;
    QString lost;      // why the port went away
    QString lastError; // why the capture could not be read to its end
    QElapsedTimer clock;
    bool live = false;
    bool lineTimed = false; // bytes come from a line at the baud rate
    bool recordsWanted = false;
    bool ended = false;  // a limit was reached, or nothing is left to do
    bool failed = false;
    qint64 frames = 0, crcFailures = 0, failsafeFrames = 0, lostFrames = 0;
    qint64 uncheckedFrames = 0; // SBUS and DSM carry no check to fail
    bool frameLostFlags = false; // a family that flags lost frames was seen
    // Frames per family, and per family and type; the names are the
    // readers' own constants.
    QVector<QPair<const char *, qint64>> perFamily;
    QVector<QPair<QPair<const char *, const char *>, qint64>> perType;
    bool timed = false; // a frame time is known
    qint64 gaps = 0;
    double firstAt = 0, lastAt = 0, shortest = 0, longest = 0;
    // Where in the stream each recent read ended, and when it arrived.
    struct ReadMark
    {
        qint64 end;
        double t;
    };
    QVector<ReadMark> marks;
    // A capture's own time of each byte, from stream offset timesFrom on.
    QVector<double> byteTimes;
    qint64 timesFrom = 0;
    bool capturedTimes = false;
    double firstByteAt = 0, lastByteAt = 0;
    double lastCapturedAt = std::numeric_limits<double>::quiet_NaN();
    double lastReadAt = 0; // of a line's read, in seconds
    // A byte's time on the line, in ms.
    double byteMs() const { return line.bitsPerByte() * 1000.0 / line.baud; }
    // The shortest quiet that starts a frame of the families looked for; 0 where none does.
    double shortestGapMs() const
    {
        double shortest = 0;
        for (const FamilyDescriptor *family : families) {
            if (family->gapMs > 0 && (shortest == 0 || family->gapMs < shortest))
                shortest = family->gapMs;
        }
        return shortest;
    }
    // Blocks of a stream the capture reader holds while it tells the form:
    // how long each is and when it arrived.
    QVector<QPair<int, double>> heldBlocks;
    bool durationOver = false; // a capture's own times passed --duration
    bool durationOnCapture = false;
    FrameReading reading;
    PollPairing pairing; // telemetry requests and answers on the wire
    TelemetryMemory telemetryMemory; // what earlier frames on the line told
    // --family auto, while the family is not known.
    struct Looked
    {
        QByteArray bytes;
        qint64 fromMs, toMs;
        double arrivedAt, quietMs;
    };
    std::unique_ptr<FamilyFinder> finder;
    QVector<Looked> looked; // since the first byte kept
    qint64 lookedBytes = 0;
    double lookedLastAt = -1;
    bool onPort = false;
    bool readAgainLater = false; // once the live view has started
    bool readingAgain = false;
    // Bytes before the first the records count from: read at other line
    // settings, or beyond what a capture keeps while looking.
    qint64 offsetBase = 0, triedBytes = 0, notKeptBytes = 0;
    // Reads that come in bunches, as a USB adapter's latency timer makes
    // them, and the port's low-latency mode.
    ReadBunching bunching;
    double bunchingTold = 0;
    QString remedy = LowLatencyMode().remedy(); // for the port's driver, once known
};

Session::Session(const DumpOptions &options)
    : options(options), families(options.families), line(options.line), assembler(options.families),
      recordsWanted(!options.quiet && !options.watch)
{
    view = options.sink;
    reading.memory = &telemetryMemory;
}

// The view takes over the terminal once the source is open, so that a port
// that will not open says so on a plain terminal.
bool Session::startWatching(QEventLoop &loop)
{
    if (!options.watch || !options.makeWatchView || stopNow())
        return true;
    ownView = options.makeWatchView(options.source == QLatin1String("-") ? QStringLiteral("standard input")
                                                                         : options.source,
                                    clock);
    view = ownView.get();
    QString error;
    if (!view->start(&error, [&loop] { loop.quit(); })) {
        view = nullptr;
        ownView.reset();
        complain(error);
        return false;
    }
    heldMessages = &held;
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

void Session::countFamily(const FrameReading &frame)
{
    [&] {
        for (auto &entry : perFamily) {
            if (entry.first == frame.family) {
                ++entry.second;
                return;
            }
        }
        perFamily.append({frame.family, 1});
    }();
    if (!frame.type)
        return;
    for (auto &entry : perType) {
        if (entry.first.first == frame.family && entry.first.second == frame.type) {
            ++entry.second;
            return;
        }
    }
    perType.append({{frame.family, frame.type}, 1});
}

// The time a frame's last byte arrived: the time of the read that brought
// it, less, on a line, the bytes that came after it in that read at ten
// bits a byte. A capture that has the time of each byte tells it exactly,
// counted from its first byte; a hex dump, like a file, tells none.
double Session::frameTime(const AssembledFrame &frame, double *readAt) const
{
    const qint64 end = frame.offset + frame.bytes.size();
    if (capturedTimes) {
        const qint64 last = offsetBase + end - 1 - timesFrom;
        return last >= 0 && last < byteTimes.size() ? byteTimes.at(int(last)) - firstByteAt : lastByteAt - firstByteAt;
    }
    if (!live || (reader && reader->form() != CaptureReader::Raw))
        return std::numeric_limits<double>::quiet_NaN();
    double t = marks.isEmpty() ? 0.0 : marks.last().t;
    if (readAt)
        *readAt = t;
    for (const ReadMark &mark : marks) {
        if (mark.end >= end) {
            t = mark.t - (lineTimed ? double(mark.end - end) * line.bitsPerByte() / line.baud : 0.0);
            if (readAt)
                *readAt = mark.t;
            break;
        }
    }
    // Bytes that waited before the run began, or that a read brought faster
    // than the line carries them, are no earlier than what came before.
    return qMax(t, timed ? lastAt : 0.0);
}

// A closed pipe ends the records quietly, any other failure loudly; with a
// recording, the run goes on whatever happens to them.
void Session::checkOutput()
{
    if (!recordsWanted || output->state() == OutputStream::Open)
        return;
    recordsWanted = false;
    if (output->state() == OutputStream::Failed) {
        complain(QStringLiteral("cannot write the records to standard output: %1").arg(output->errorText()));
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
        double readAt = -1;
        const double t = frameTime(frame, &readAt);
        // Where the time came from: a capture's own, or the read that
        // brought the frame, for the first frame of each read.
        const char *timeFrom = std::isnan(t) ? nullptr
            : capturedTimes                  ? "capture"
            : bunching.addFrame(readAt)      ? "read"
                                             : "wire";
        // A capture's --duration is measured in its own times.
        if (!live && options.duration > 0 && t > options.duration) {
            durationOver = ended = true;
            return;
        }
        readAssembled(frame, reading);
        pairing.take(reading, frame.bytes.size(), t * 1000, byteMs());
        ++frames;
        countFamily(reading);
        crcFailures += !reading.crcOk;
        uncheckedFrames += reading.crcOk && !reading.hasCheck;
        // Only a frame whose CRC matches says anything about the receiver.
        failsafeFrames += reading.failsafe == 1 && reading.crcOk;
        frameLostFlags = frameLostFlags || reading.frameLost >= 0;
        lostFrames += reading.frameLost == 1 && reading.crcOk;
        // A reply (an SBUS2 slot, a sensor's answer) is no frame of the
        // rate the source sends at.
        if (!std::isnan(t) && reading.telemetry.role != Telemetry::Reply) {
            if (timed) {
                const double gap = t - lastAt;
                shortest = gaps == 0 ? gap : qMin(shortest, gap);
                longest = gaps == 0 ? gap : qMax(longest, gap);
                ++gaps;
            } else {
                firstAt = t;
                timed = true;
            }
            lastAt = t;
        }
        if (view)
            view->take(reading, t);
        else if (recordsWanted)
            writer->write(reading, t, offsetBase + frame.offset, frame.bytes.constData(), frame.bytes.size(), timeFrom);
        if (frames == options.count)
            ended = true;
    }
}

// One read from a file or stream, through the capture reader where there is
// one. Returns false when the run should end.
bool Session::read(const char *data, int size)
{
    if (!reader) {
        const qint64 now = live ? clock.elapsed() : 0;
        return take(data, size, now, now);
    }
    const bool undecided = reader->form() == CaptureReader::Undecided;
    reader->feed(data, size);
    if (live && undecided)
        heldBlocks.append({size, double(clock.nsecsElapsed()) / 1e9});
    return takeDecoded(false);
}

// Raw bytes the capture reader held back while it told the form: each block
// is taken with the time it arrived, not the time the form was known.
bool Session::takeHeldBack(const QByteArray &bytes)
{
    int from = 0;
    for (const auto &block : qAsConst(heldBlocks)) {
        const int size = qMin(block.first, int(bytes.size()) - from);
        const qint64 ms = qint64(block.second * 1000);
        if (size > 0 && !take(bytes.constData() + from, size, ms, ms, block.second))
            return false;
        from += qMax(size, 0);
    }
    heldBlocks.clear();
    if (from >= bytes.size())
        return true;
    const qint64 now = clock.elapsed();
    return take(bytes.constData() + from, int(bytes.size()) - from, now, now);
}

// The bytes the capture reader has decoded. Where the capture tells the
// time of each byte, a pause in it settles a partial frame as a pause on a
// live line would.
bool Session::takeDecoded(bool atEnd)
{
    if (atEnd)
        reader->finish();
    const QByteArray bytes = reader->takeBytes();
    const QVector<double> times = reader->takeTimes();
    for (const QString &warning : reader->takeWarnings())
        complain(QStringLiteral("%1: %2").arg(options.source, warning));
    bool more = true;
    if (reader->form() != CaptureReader::Undecided && !wallTimed())
        heldBlocks.clear();
    if (times.isEmpty() && !heldBlocks.isEmpty()) {
        more = bytes.isEmpty() || takeHeldBack(bytes);
    } else if (times.isEmpty()) {
        // A hex dump tells no times: only its end settles a partial frame.
        const qint64 now = wallTimed() ? clock.elapsed() : 0;
        more = bytes.isEmpty() || take(bytes.constData(), bytes.size(), now, now);
    } else {
        if (!capturedTimes) {
            firstByteAt = times.first();
            capturedTimes = true;
        }
        byteTimes += times;
        lastByteAt = times.last();
        const auto ms = [&](int i) { return qint64(std::floor((times.at(i) - firstByteAt) * 1000)); };
        // The line's quiet before byte i: the time since the byte before
        // less that byte's own time on the line.
        const auto quiet = [&](int i) {
            const double before = i > 0 ? times.at(i - 1) : lastCapturedAt;
            return std::isnan(before) ? -1.0 : (times.at(i) - before) * 1000 - byteMs();
        };
        const double shortestGap = shortestGapMs();
        for (int from = 0, to = 1; more && from < bytes.size(); from = to++) {
            while (to < bytes.size() && ms(to) - ms(to - 1) <= StreamFramer::staleAfterMs
                   && !(shortestGap > 0 && quiet(to) >= shortestGap))
                ++to;
            more = take(bytes.constData() + from, to - from, ms(from), ms(to - 1), -1, quiet(from));
        }
        lastCapturedAt = times.last();
    }
    if (more && reader->failed()) {
        lastError = QStringLiteral("%1: %2").arg(options.source, reader->errorString());
        failed = true;
        return false;
    }
    return more;
}

// Bytes that arrived from fromMs to toMs. Returns false when the run should end.
bool Session::take(const char *data, int size, qint64 fromMs, qint64 toMs, double arrivedAt, double quietMs)
{
    // Bytes read again once the family is found were recorded when they came.
    if (!readingAgain && recording.isOpen() && recording.write(data, size) != size) {
        complain(QStringLiteral("cannot write %1: %2").arg(options.recordPath, recording.errorString()));
        failed = true;
        return false;
    }
    if (finder)
        return look(data, size, fromMs, toMs, arrivedAt, quietMs);
    if (wallTimed()) {
        const double now = arrivedAt >= 0 ? arrivedAt : double(clock.nsecsElapsed()) / 1e9;
        // On a line, the quiet before a read is at most the time since the
        // one before less the time its bytes took: where that is long, a
        // frame without a checksum may start here.
        if (lineTimed && !marks.isEmpty())
            quietMs = (now - lastReadAt) * 1000 - double(size) * byteMs();
        lastReadAt = now;
        marks.append({assembler.bytesFed() + size, now});
        bunching.addRead(now);
        // However long this program took to read them, the bytes were on
        // their way: only the settle timer, which sees no byte waiting,
        // tells a pause on the line.
        assembler.stillArriving(toMs);
    } else {
        show(assembler.dropStale(fromMs));
    }
    // The bytes run from fromMs to toMs with no pause in them: the first
    // byte's time decides whether what was kept went stale, and the last
    // byte's time is when the assembler last heard of the stream.
    show(assembler.feed(QByteArray::fromRawData(data, size), fromMs, quietMs));
    assembler.stillArriving(toMs);
    if (view)
        view->setStrayBytes(assembler.strayBytes());
    tellBunching();
    // Frames still to come end after the bytes the assembler keeps.
    const qint64 keptFrom = assembler.bytesFed() - assembler.keptBytes();
    int done = 0;
    while (done < marks.size() - 1 && marks.at(done).end <= keptFrom)
        ++done;
    marks.remove(0, done);
    const int timesDone = int(qBound<qint64>(0, offsetBase + keptFrom - timesFrom, byteTimes.size()));
    byteTimes.remove(0, timesDone);
    timesFrom += timesDone;
    // A person watching a live source sees each read's frames at once.
    if (live && recordsWanted)
        writer->flush();
    checkOutput();
    return !stopNow();
}

// Bytes of --family auto while the family is not known: recorded already,
// looked through, and kept to be read again once it is.
bool Session::look(const char *data, int size, qint64 fromMs, qint64 toMs, double arrivedAt, double quietMs)
{
    Looked chunk{QByteArray(data, size), fromMs, toMs, arrivedAt, quietMs};
    if (wallTimed() && chunk.arrivedAt < 0)
        chunk.arrivedAt = double(clock.nsecsElapsed()) / 1e9;
    QVector<double> times;
    double quiet = quietMs;
    if (onPort) {
        // As take() times them: the read's time, less the bytes after each
        // at the line's pace, and the quiet before them likewise.
        times.resize(size);
        for (int i = 0; i < size; ++i)
            times[i] = chunk.arrivedAt - (size - 1 - i) * byteMs() / 1000;
        quiet = lookedLastAt < 0 ? -1 : (chunk.arrivedAt - lookedLastAt) * 1000 - size * byteMs();
        lookedLastAt = chunk.arrivedAt;
    } else if (capturedTimes) {
        times = byteTimes.mid(int(offsetBase + lookedBytes - timesFrom), size);
        for (double &t : times)
            t -= firstByteAt;
    }
    finder->feed(chunk.bytes, times, fromMs, quiet);
    looked.append(std::move(chunk));
    lookedBytes += size;
    if (finder->found())
        return lockOn();
    // A long capture without frames is not kept whole: the oldest goes.
    const qint64 most = capturedTimes ? keptWhileLookingTimed : keptWhileLooking;
    int gone = 0;
    qint64 goneBytes = 0;
    while (gone < looked.size() - 1 && lookedBytes - goneBytes > most)
        goneBytes += looked.at(gone++).bytes.size();
    if (gone > 0) {
        looked.remove(0, gone);
        lookedBytes -= goneBytes;
        offsetBase += goneBytes;
        notKeptBytes += goneBytes;
        const int timesGone = int(qBound<qint64>(0, offsetBase - timesFrom, byteTimes.size()));
        byteTimes.remove(0, timesGone);
        timesFrom += timesGone;
    }
    return !stopNow();
}

void Session::startLooking(const QVector<const FamilyDescriptor *> &candidates)
{
    // What came at another line setting is no help at this one.
    offsetBase += lookedBytes;
    triedBytes += lookedBytes;
    looked.clear();
    lookedBytes = 0;
    lookedLastAt = -1;
    finder = std::make_unique<FamilyFinder>(candidates);
}

// The family is known: from now on it alone is read, from the first byte kept.
bool Session::lockOn()
{
    families = finder->families();
    if (!onPort)
        line = families.first()->line;
    assembler = StreamFramer(families);
    bool familyFields = false, gapFields = false, telemetryFields = false;
    for (const FamilyDescriptor *family : qAsConst(families)) {
        familyFields = familyFields || !family->srxl;
        gapFields = gapFields || family->framing == FamilyDescriptor::ByGap;
        telemetryFields = telemetryFields || family->telemetryFields;
    }
    writer->setFamilyFields(familyFields);
    writer->setGapFields(gapFields);
    writer->setTelemetryFields(telemetryFields);
    const QString where = onPort ? line.text()
        : std::isnan(finder->time()) ? QStringLiteral("offset %1").arg(finder->offset())
                                     : QStringLiteral("%1 s").arg(finder->time(), 0, 'f', 6);
    complain(QStringLiteral("found %1 at %2%3")
                 .arg(finder->name(), where,
                      families.size() > 1 ? QStringLiteral("; reading the window's five families") : QString()));
    finder.reset();
    // The live view, once it has started, shows the frames that decided.
    if (options.watch && !view) {
        readAgainLater = true;
        return !stopNow();
    }
    return readLookedAgain();
}

bool Session::readLookedAgain()
{
    readAgainLater = false;
    const QVector<Looked> kept = std::move(looked);
    looked.clear();
    lookedBytes = 0;
    readingAgain = true;
    bool more = true;
    for (const Looked &chunk : kept) {
        more = take(chunk.bytes.constData(), int(chunk.bytes.size()), chunk.fromMs, chunk.toMs, chunk.arrivedAt,
                    chunk.quietMs);
        if (!more)
            break;
    }
    readingAgain = false;
    return more;
}

// Bytes came, but no frame: why, and what to try.
QString Session::noFramesText() const
{
    if (finder && onPort)
        return QStringLiteral("no family found in %1 bytes at %2").arg(offsetBase + lookedBytes)
            .arg(FamilyDetector().settingsText());
    if (finder) {
        QString text = QStringLiteral("no family found in %1 bytes: no family gave %2 good frames in a row")
                           .arg(offsetBase + lookedBytes)
                           .arg(FamilyFinder::framesInRow);
        const QString run = finder->longestRun();
        if (!run.isEmpty())
            text += QStringLiteral(" (the longest run: %1)").arg(run);
        return text;
    }
    QStringList names;
    for (const FamilyDescriptor *family : families)
        names << QLatin1String(family->recordName);
    const QString last = names.takeLast();
    const QString looked = names.isEmpty() ? last : names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
    return QStringLiteral("no frames of %1 in %2 bytes%3; --family auto %4")
        .arg(looked)
        .arg(assembler.bytesFed())
        .arg(onPort ? QStringLiteral(" at ") + line.text() : QString(),
             onPort ? QStringLiteral("tries every family's line settings until one family's frames come")
                    : QStringLiteral("finds which family they are"));
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
        if (!read(buffer, int(n)))
            return 0;
    }
    if (reader && !stopNow())
        takeDecoded(true);
    return 0;
}

// Runs a live source's loop until it quits, the duration is over or a
// signal comes; false if the live view could not start. Meanwhile a line
// that brings nothing settles what the assembler keeps, as long as no byte
// waits to be read.
bool Session::runLoop(QEventLoop &loop, const std::function<bool()> &bytesWaiting)
{
    QSocketNotifier wake(stopWakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    // A run longer than a timer holds (about 24 days) is timed in parts.
    QTimer limit;
    limit.setSingleShot(true);
    const auto armLimit = [&] {
        const qint64 left = qint64(std::ceil(options.duration * 1000)) - clock.elapsed();
        if (left <= 0)
            loop.quit();
        else
            limit.start(int(qMin<qint64>(left, qint64(1) << 30)));
    };
    QObject::connect(&limit, &QTimer::timeout, &loop, armLimit);
    if (options.duration > 0)
        armLimit();
    QTimer settle;
    QObject::connect(&settle, &QTimer::timeout, &loop, [&] {
        // A capture's partial frame is settled by the capture's own times
        // or its end, never by how fast a pipe brings it.
        if (!wallTimed() || bytesWaiting())
            return;
        show(assembler.dropStale(clock.elapsed()));
        if (view)
            view->setStrayBytes(assembler.strayBytes());
        if (recordsWanted)
            writer->flush();
        checkOutput();
        if (stopNow())
            loop.quit();
    });
    settle.start(int(FrameAssembler::staleAfterMs / 2));
    if (!startWatching(loop))
        return false;
    const bool more = !readAgainLater || readLookedAgain();
    if (more && !stopNow())
        loop.exec();
    return true;
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
        if (n == 0 && reader)
            takeDecoded(true);
        if (n <= 0 || !read(buffer, int(n)))
            loop.quit();
    });
    if (!runLoop(loop, [fd] {
            int waiting = 0;
            return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
        }))
        return 1;
    return status;
}

int Session::readPort(const QString &device)
{
    // Bytes a terminal took in as typed text before now are no frames.
    const EarlierInput earlier(QFile::encodeName(device));
    QSerialPort port;
    port.setPortName(device);
    if (!port.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot open %1: %2")
                     .arg(options.source, openFailureReason(port, device, portListFor(options.source))));
        return 1;
    }
    if (earlier.dropped() > 0)
        complain(QStringLiteral("dropped %1 bytes that waited in %2 before it was opened: its terminal settings "
                                "then (canonical mode) may have changed them")
                     .arg(earlier.dropped())
                     .arg(options.source));
    // Before any byte is timed: an adapter may hold the first ones back
    // for a while after its timer changes. Put back before the port closes,
    // whichever way the run ends.
    LowLatencyMode lowLatency;
    if (options.lowLatency)
        lowLatency.set(int(port.handle()), device, isPseudoTerminal(port));
    else
        lowLatency.leave(device, isPseudoTerminal(port));
    if (options.sayPortTiming && !lowLatency.said().isEmpty())
        complain(lowLatency.said());
    remedy = lowLatency.remedy();
    if (options.autoDetect) {
        const int status = findFamily(port);
        if (status != 0 || stopNow())
            return status;
    } else {
        QString warning;
        const QString failedSetting = applyLineSettings(port, options.line, &warning, options.source);
        if (!warning.isEmpty())
            complain(warning);
        if (!failedSetting.isEmpty()) {
            complain(QStringLiteral("cannot set the %1 of %2: %3").arg(failedSetting, options.source, port.errorString()));
            return 1;
        }
    }

    QEventLoop loop;
    QString lostBecause;
    int readErrors = 0;
    QObject::connect(&port, &QSerialPort::readyRead, &loop, [&] {
        const QByteArray bytes = port.readAll();
        readErrors = 0;
        if (!bytes.isEmpty() && !take(bytes.constData(), bytes.size(), clock.elapsed(), clock.elapsed()))
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
    if (!runLoop(loop, [&port] { return bytesUnread(port); })) {
        lowLatency.restore();
        port.close();
        return 1;
    }
    lowLatency.restore();
    port.close();
    if (!lostBecause.isEmpty()) {
        lost = QStringLiteral("lost %1: %2").arg(options.source, lostBecause);
        return 1;
    }
    return 0;
}

// --family auto: each family's line settings in turn, until one family's
// frames come in a row at one of them; then the run goes on as if that
// family had been asked for, from the first byte read at that setting.
// Every byte read is recorded. Returns 0 when found or stopped, 1 when the
// port failed.
int Session::findFamily(QSerialPort &port)
{
    const FamilyDetector detector;
    QEventLoop loop;
    QSocketNotifier wake(stopWakeDescriptor(), QSocketNotifier::Read);
    QObject::connect(&wake, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    if (options.duration > 0)
        QTimer::singleShot(qMax<qint64>(0, qint64(options.duration * 1000) - clock.elapsed()), &loop, [&] {
            ended = true;
            loop.quit();
        });
    QString failure, lostBecause;
    bool parityWarned = false;
    int listening = 0;
    const auto readWaiting = [&] {
        const QByteArray bytes = port.readAll();
        if (!bytes.isEmpty() && !take(bytes.constData(), int(bytes.size()), clock.elapsed(), clock.elapsed()))
            loop.quit();
        if (!finder)
            loop.quit();
    };
    const auto listenAt = [&](int index) {
        listening = index;
        QString warning;
        const FamilyDetector::Setting &setting = detector.settings().at(index);
        const QString failed = applyLineSettings(port, setting.line, &warning, options.source);
        if (!failed.isEmpty()) {
            failure = QStringLiteral("cannot set the %1 of %2 to %3: %4")
                          .arg(failed, options.source, setting.line.text(), port.errorString());
            loop.quit();
        }
        // A pseudo-terminal keeps no parity: said once, not at every round.
        if (!warning.isEmpty() && !parityWarned) {
            complain(warning);
            parityWarned = true;
        }
        line = setting.line;
        startLooking(setting.families);
    };
    QObject::connect(&port, &QSerialPort::readyRead, &loop, readWaiting);
    QObject::connect(&port, &QSerialPort::errorOccurred, &loop, [&](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError || (error == QSerialPort::ReadError && deviceHungUp(port))) {
            lostBecause = deviceHungUp(port) ? hungUpReason() : port.errorString();
            loop.quit();
        }
    });
    bool nothingSaid = false;
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, &loop, [&] {
        // What came at this setting is looked through as such before the next.
        readWaiting();
        if (!finder || stopNow())
            return;
        const int next = (listening + 1) % detector.settings().size();
        if (next == 0 && !nothingSaid) {
            complain(QStringLiteral("no family found at %1; trying again").arg(detector.settingsText()));
            nothingSaid = true;
        }
        listenAt(next);
    });
    listenAt(0);
    step.start(FamilyDetector::listenMs);
    if (failure.isEmpty() && !stopNow())
        loop.exec();
    step.stop();
    QObject::disconnect(&port, nullptr, &loop, nullptr);
    if (!failure.isEmpty()) {
        complain(failure);
        return 1;
    }
    if (!lostBecause.isEmpty()) {
        lost = QStringLiteral("lost %1: %2").arg(options.source, lostBecause);
        return 1;
    }
    return 0;
}

// The live view and the picture learn when reads start or stop coming in
// bunches, and at what period.
void Session::tellBunching()
{
    const double period = bunching.bunched() ? double(qRound(bunching.readPeriodMs())) : 0.0;
    if (!view || period == bunchingTold)
        return;
    bunchingTold = period;
    view->setBunching(period, remedy);
}

void Session::summarise()
{
    // Standard error still takes the summary when standard output was closed (| head).
    if (options.quiet)
        return;
    QStringList families;
    for (const auto &entry : qAsConst(perFamily))
        families << QStringLiteral("%1 %2").arg(QLatin1String(entry.first)).arg(entry.second);
    families.sort();
    // "1 frame", "2 frames"
    const auto counted = [](qint64 n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    QString text = QStringLiteral("frames: %1").arg(frames);
    if (!families.isEmpty())
        text += QStringLiteral(" (%1)").arg(families.join(QStringLiteral(", ")));
    if (!perType.isEmpty()) {
        QStringList types;
        for (const auto &entry : qAsConst(perType))
            types << QStringLiteral("%1 %2 %3")
                         .arg(QLatin1String(entry.first.first), QLatin1String(entry.first.second))
                         .arg(entry.second);
        types.sort();
        text += QStringLiteral("\nframe types: %1").arg(types.join(QStringLiteral(", ")));
    }
    text += QStringLiteral("\nCRC failures: %1").arg(crcFailures);
    if (uncheckedFrames > 0)
        text += QStringLiteral(" (%1 without a check: SBUS, DSM and SUMH carry none)")
                    .arg(counted(uncheckedFrames, "frame", "frames"));
    text += QStringLiteral("\nfailsafe frames: %1\n").arg(failsafeFrames);
    if (frameLostFlags)
        text += QStringLiteral("frames flagged lost: %1\n").arg(lostFrames);
    text += QStringLiteral("stray bytes: %1\n").arg(unframedBytes());
    // Bytes that --family auto read but records do not count from.
    if (!finder && triedBytes > 0)
        text += QStringLiteral("read at other line settings while looking for the family: %1\n")
                    .arg(counted(triedBytes, "byte", "bytes"));
    if (!finder && notKeptBytes > 0)
        text += QStringLiteral("read while looking for the family and not kept to read again: %1\n")
                    .arg(counted(notKeptBytes, "byte", "bytes"));
    // A frame a stop signal cut short is no stray bytes.
    if (stopRequested() && assembler.keptBytes() > 0)
        text += QStringLiteral("unfinished at the stop: %1\n").arg(counted(assembler.keptBytes(), "byte", "bytes"));
    if (assembler.framedWithoutTimes() > 0)
        text += QStringLiteral("framed without byte times: %1, by their period and rules\n")
                    .arg(counted(assembler.framedWithoutTimes(), "frame", "frames"));
    if (assembler.telemetrySlots() > 0)
        text += QStringLiteral("SBUS2 telemetry slots: %1 (%2 bytes, not stray)\n")
                    .arg(assembler.telemetrySlots())
                    .arg(assembler.telemetrySlotBytes());
    pairing.finish();
    if (pairing.counts().any())
        text += pairing.summary() + QLatin1Char('\n');
    if (output->droppedRecords() > 0)
        text += QStringLiteral("records dropped: output too slow (%1)\n")
                    .arg(counted(output->droppedRecords(), "record", "records"));
    if (output->cutRecords() > 0)
        text += QStringLiteral("records not written: cut off by the stop (%1)\n")
                    .arg(counted(output->cutRecords(), "record", "records"));
    if (durationOver)
        text += QStringLiteral("stopped at --duration %1 s of the capture's time\n").arg(options.duration);
    if (reader && reader->form() != CaptureReader::Undecided)
        text += QStringLiteral("read as: %1%2\n")
                    .arg(reader->formName(), reader->forced() ? QStringLiteral(" (as --input says)") : QString());
    if (capturedTimes)
        text += QStringLiteral("left out for line errors: %1\n").arg(counted(reader->leftOutBytes(), "byte", "bytes"));
    // The rate while frames came, as the intervals between them tell it.
    if (gaps > 0) {
        const double seconds = lastAt - firstAt;
        // Under 10 s, to the millisecond: 3 frames over 20 ms is no "0.0 s".
        text += QStringLiteral("frame rate: %1/s over %2 s\n")
                    .arg(seconds > 0 ? double(gaps) / seconds : 0.0, 0, 'f', 1)
                    .arg(seconds, 0, 'f', seconds < 10 ? 3 : 1);
        text += QStringLiteral("interval between frames: min %1 / mean %2 / max %3 ms\n")
                    .arg(shortest * 1000, 0, 'f', 1)
                    .arg(seconds * 1000 / double(gaps), 0, 'f', 1)
                    .arg(longest * 1000, 0, 'f', 1);
    } else if ((live || capturedTimes) && frames < 2) {
        text += QStringLiteral("frame rate: 0.0/s (fewer than two frames)\n");
    }
    if (bunching.everBunched())
        text += ReadBunching::note(bunching.bunchedPeriodMs()) + QStringLiteral("; remedy: ") + remedy
                + QLatin1Char('\n');
    tell(text.toLocal8Bit());
}

int Session::run()
{
    catchStopSignals();
    const Source source = openSource(options.source, options.sourcePath, options.stdinClosed);
    // Stopped while waiting for a FIFO's writer: nothing came, nothing failed.
    if (source.kind == Source::Invalid && source.interrupted)
        return 0;
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
    // Only a line has settings for the families to agree on.
    if (!options.lineConflict.isEmpty() && (source.kind == Source::Port || source.terminal)) {
        complain(options.lineConflict);
        return 2;
    }
    if (options.inputGiven && (source.kind == Source::Port || source.terminal)) {
        complain(QStringLiteral("--input is for capture files and streams; %1 is a port").arg(options.source));
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
    durationOnCapture = !live && options.duration > 0;
    lineTimed = source.kind == Source::Port || source.terminal;
    // What comes from a port or terminal is the line's own bytes.
    if (source.kind != Source::Port && !source.terminal)
        reader = std::make_unique<CaptureReader>(options.input);
    // Bytes that a terminal or port brings are lost unless read in time, so
    // records wait for nobody there; other sources wait for the reader.
    const bool mayDrop = source.terminal || source.kind == Source::Port;
    output = std::make_unique<OutputStream>(STDOUT_FILENO, mayDrop);
    // Records already decoded get their moment after a stop signal too.
    writer = std::make_unique<RecordWriter>(options.format, *output, mayDrop, [this] { return lastRecordsOver(); },
                                            options.channels);
    // The window's five carry no more than today's records hold.
    for (const FamilyDescriptor *family : options.families)
        writer->setFamilyFields(writer->familyFields() || !family->srxl);
    for (const FamilyDescriptor *family : options.families) {
        if (family->framing == FamilyDescriptor::ByGap)
            writer->setGapFields(true);
        if (family->telemetryFields)
            writer->setTelemetryFields(true);
    }
    clock.start();
    onPort = source.kind == Source::Port;
    // A capture is looked through for every family; a port at each setting in turn.
    if (options.autoDetect && !onPort)
        startLooking(options.families);
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
    // Frames the end of the bytes settles, as when a damaged frame came
    // last; a stop signal or a limit leaves the partial frame it cut unsettled.
    if (finder && !cutShort()) {
        finder->finish();
        if (finder->found())
            lockOn();
    }
    if (!cutShort())
        show(assembler.flush());
    if (view)
        view->setStrayBytes(unframedBytes());
    if (recordsWanted) {
        writer->flush();
        output->drain([this] { return lastRecordsOver(); });
        checkOutput();
    }
    if (recording.isOpen() && !recording.flush()) {
        complain(QStringLiteral("cannot write %1: %2").arg(options.recordPath, recording.errorString()));
        failed = true;
    }
    if (summed)
        summarise();
    // Bytes came, but nothing of the families looked for: a failure, not a
    // quiet success, and the way out is named.
    const bool noFrames = summed && frames == 0 && bytesRead() > 0 && !durationOver;
    if (noFrames)
        complain(noFramesText());
    if (durationOnCapture && !capturedTimes && frames > 0)
        complain(QStringLiteral("--duration was not applied: %1 holds no times (only a Saleae CSV export does)")
                     .arg(options.source));
    // Said last, where a person looks first.
    if (!lost.isEmpty())
        complain(lost);
    if (!lastError.isEmpty())
        complain(lastError);
    // The picture decides for itself what a run without frames is.
    return status != 0 ? status : failed || (noFrames && !options.sink) ? 1 : 0;
}

} // namespace

int runDump(const DumpOptions &options)
{
    Session session(options);
    return session.run();
}
