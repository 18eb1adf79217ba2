// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-plot: draws the frames of a capture, a jsonl file, standard
// input or a serial port as one picture over time (PNG, SVG or PDF),
// without a display.
#include "cli/commandline.h"
#include "cli/messages.h"
#include "cli/program.h"
#include "plot/picture.h"
#include "plot/plotdata.h"
#include "reading/run.h"
#include "reading/sourceoptions.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Hands frames on to the data and, on a terminal, says how far reading has
// come: every second of a port or pipe being recorded (frames, seconds), and
// of a capture file that takes longer than a second to read. A thread of its
// own keeps time, so that the line moves while no frame comes.
class ProgressSink : public FrameSink
{
public:
    ProgressSink(PlotData &data, bool live) : data(data), live(live)
    {
        clock.start();
        if (::isatty(STDERR_FILENO) == 1)
            ticker = std::thread([this] { tick(); });
    }
    ~ProgressSink() override { finish(); }

    void take(const Frame &frame) override
    {
        data.take(frame);
        frames.store(data.frames(), std::memory_order_relaxed);
    }
    void setStrayBytes(int source, qint64 bytes) override { data.setStrayBytes(source, bytes); }
    void setBunching(int source, double periodMs, const QString &remedy) override
    {
        data.setBunching(source, periodMs, remedy);
    }
    void finish()
    {
        if (!ticker.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        wake.notify_all();
        ticker.join();
        // The summary takes the progress line's place.
        if (shown)
            std::fputs("\033[K", stderr);
    }

private:
    void tick()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!wake.wait_for(lock, std::chrono::seconds(1), [this] { return done; })) {
            const qint64 count = frames.load(std::memory_order_relaxed);
            const double seconds = clock.elapsed() / 1000.0;
            // The cursor goes back to the line's start, so that a message
            // said meanwhile writes over the progress, not after it.
            if (live)
                std::fprintf(stderr, "linkscope-plot: recording: %lld frames, %.0f s\033[K\r",
                             static_cast<long long>(count), seconds);
            else
                std::fprintf(stderr, "linkscope-plot: reading: %lld frames\033[K\r", static_cast<long long>(count));
            std::fflush(stderr);
            shown = true;
        }
    }

    PlotData &data;
    const bool live;
    QElapsedTimer clock;
    std::atomic<qint64> frames{0};
    std::thread ticker;
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    bool shown = false; // written by the ticker, read once it has ended
};

QString spanText(const PlotData &data)
{
    if (data.frames() == 0)
        return QStringLiteral("no frames");
    if (!data.timed())
        return QStringLiteral("no times");
    return QStringLiteral("%1 s").arg(data.lastX() - data.firstX(), 0, 'f', 1);
}

double seconds(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0)
        usageError(QStringLiteral("bad time '%1' for --%2: give seconds from 0 (or frames, for a source without "
                                  "times)")
                       .arg(parser.value(option), option.names().last()));
    return value;
}

// Qt's notes that concern no picture, such as the runtime folder an
// offscreen run has no use for, stay off standard error.
void quieterMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

} // namespace

int main(int argc, char *argv[])
{
    // No display is needed: a headless bench computer or CI draws the same.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quieterMessages);
    const StandardStreams streams = startProgram(argc, argv);
    QApplication app(argc, argv);
    nameProgram("linkscope-plot", LINKSCOPE_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws the frames a radio-control receiver sent as one picture over time: the channels with failsafe, the "
        "interval between frames, and CRC failures, stray bytes and silences."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("source"),
                                 QStringLiteral("A capture file (raw, hex dump or Saleae CSV), a linkscope-dump "
                                                "--format jsonl file, - for standard input, or a serial port. A "
                                                "second source is drawn on the same time axis, as linkscope-dump "
                                                "reads two; SRC@FAMILIES reads one for its own families."),
                                 QStringLiteral("source [source]"));
    const QCommandLineOption output(optionNames("output"),
                                    QStringLiteral("The picture: .png, .svg or .pdf (default: the source's name "
                                                   "with .png)."),
                                    QStringLiteral("file"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Picture size in pixels (default 1600x900)."),
                                  QStringLiteral("WxH"), QStringLiteral("1600x900"));
    const QCommandLineOption channels(optionNames("channels"),
                                      QStringLiteral("Draw only these channels, for example 1-4,7."),
                                      QStringLiteral("list"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Start the picture this many seconds after the first frame."),
                                  QStringLiteral("s"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("End the picture this many seconds after the first frame."),
                                QStringLiteral("s"));
    const QCommandLineOption telemetry(QStringLiteral("telemetry"),
                                       QStringLiteral("Telemetry lanes to draw where values come: a list of voltage, "
                                                      "current, altitude, rssi, vario, speed... or all, or none "
                                                      "(default voltage,current,altitude,rssi)."),
                                       QStringLiteral("list"));
    // Sources are read as linkscope-dump reads them, with the same words.
    const SourceOptions reading;
    const QList<QCommandLineOption> taken = QList<QCommandLineOption>{output, size, channels, from, to, telemetry}
                                            + reading.options();
    parser.addOptions(taken);
    parseOrExit(parser, QCoreApplication::arguments());
    refuseRepeated(parser, taken);

    const QStringList sources = parser.positionalArguments();
    ReadOptions options;
    options.stdinClosed = streams.inputClosed;
    // The picture is the summary, and it decides what a run without frames is.
    options.summary = false;
    options.noFramesFail = false;
    options.jsonLines = true;
    QString error;
    if (!reading.apply(parser, options, error))
        usageError(error);
    // One source, or two in one timeline, as linkscope-dump takes them.
    QVector<ReadOptions> sourceList;
    if (!SourceOptions::sources(sources, options, sourceList, error))
        usageError(error);
    options = sourceList.first();

    if (parser.isSet(output) && parser.value(output).isEmpty())
        usageError(QStringLiteral("-o needs a file name"));
    struct stat info;
    const bool regular = options.source != QLatin1String("-") && ::stat(options.sourcePath.constData(), &info) == 0
                         && S_ISREG(info.st_mode);
    // The picture's name as the bytes given, or made from the source's:
    // next to a capture file; for a port or standard input, here.
    QByteArray target = argumentBytes(parser.value(output));
    if (!parser.isSet(output)) {
        const QByteArray &source = options.sourcePath;
        const QByteArray base = source.mid(source.lastIndexOf('/') + 1);
        if (options.source == QLatin1String("-"))
            target = "stdin.png";
        else if (regular)
            target = source.left(source.lastIndexOf('/') + 1)
                     + (base.lastIndexOf('.') > 0 ? base.left(base.lastIndexOf('.')) : base) + ".png";
        else
            target = base + ".png";
    }
    const QString path = QFile::decodeName(target);
    PictureFormat format;
    if (!pictureFormatOf(path, format))
        usageError(QStringLiteral("cannot tell the picture's format from '%1': name it .png, .svg or .pdf").arg(path));

    QSize pictureSize;
    {
        const QStringList parts = parser.value(size).split(QLatin1Char('x'));
        bool okW = false, okH = false;
        if (parts.size() == 2)
            pictureSize = QSize(parts[0].toInt(&okW), parts[1].toInt(&okH));
        if (!okW || !okH || pictureSize.width() < 400 || pictureSize.height() < 300 || pictureSize.width() > 20000
            || pictureSize.height() > 20000)
            usageError(QStringLiteral("bad size '%1': give WxH in pixels, from 400x300 to 20000x20000")
                           .arg(parser.value(size)));
    }
    ChannelList chosen;
    if (parser.isSet(channels) && !ChannelList::parse(parser.value(channels), chosen, error))
        usageError(error);
    QVector<TelemetryValue::Quantity> lanes = PlotData::defaultLanes();
    if (parser.isSet(telemetry) && !PlotData::parseLanes(parser.value(telemetry), lanes, error))
        usageError(error);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double windowFrom = parser.isSet(from) ? seconds(parser, from) : nan;
    const double windowTo = parser.isSet(to) ? seconds(parser, to) : nan;
    if (windowFrom >= windowTo)
        usageError(QStringLiteral("--from must come before --to"));

    // Said before a long run, not after it.
    struct stat targetInfo, folderInfo;
    const bool exists = ::stat(target.constData(), &targetInfo) == 0;
    if (exists && S_ISDIR(targetInfo.st_mode)) {
        complain(QStringLiteral("cannot write %1: it is a directory").arg(path));
        return 1;
    }
    const int slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    const bool inFolder = ::stat(folder.constData(), &folderInfo) == 0 && S_ISDIR(folderInfo.st_mode);
    if (!inFolder || ::access(folder.constData(), W_OK) != 0 || (exists && ::access(target.constData(), W_OK) != 0)) {
        complain(QStringLiteral("cannot write %1: %2")
                .arg(path, exists || inFolder ? QStringLiteral("permission denied") : QStringLiteral("no such directory")));
        return 1;
    }
    struct stat sourceInfo;
    if (exists && ::stat(options.sourcePath.constData(), &sourceInfo) == 0 && sourceInfo.st_dev == targetInfo.st_dev
        && sourceInfo.st_ino == targetInfo.st_ino)
        usageError(QStringLiteral("will not draw over %1: it is the source").arg(path));

    PlotData data(plotColumns(pictureSize), chosen, windowFrom, windowTo, [](const QString &text) { complain(text); });
    data.setLanes(lanes);
    // A recording of several sources names them as their records come.
    for (ReadOptions &each : sourceList)
        each.sourceNamed = [&data](int source, const QString &name) { data.nameSource(source, name); };
    ProgressSink progress(data, !regular);
    // Read as linkscope-dump reads it; a run of its JSON lines as the frames they hold.
    ReadingRun run(sourceList);
    if (sourceList.size() > 1)
        data.setSources(run.sourceNames());
    int status = run.open();
    if (status < 0)
        status = run.refuse();
    if (status < 0)
        status = run.finish(run.read(&progress, nullptr), false, QString());
    progress.finish();
    QStringList families;
    // A source that could not be opened has said why, and there is nothing to draw.
    if (status != 0 && data.frames() == 0)
        return status;

    const int sourceCount = data.sourceCount();
    for (int s = 0; s < sourceCount; ++s) {
        QStringList those;
        for (const auto &entry : data.families(s))
            those << QStringLiteral("%1 %2").arg(entry.first).arg(entry.second);
        // Each source's families under its name, where there are several.
        if (sourceCount == 1)
            families = those;
        else
            families << QStringLiteral("%1: %2").arg(data.sourceName(s),
                                                     those.isEmpty() ? QStringLiteral("no family") : those.join(QStringLiteral(", ")));
    }
    const QString title = QStringLiteral("%1 — %2 — %3 frames — %4")
                              .arg(sourceList.size() > 1 ? run.sourceNames().join(QStringLiteral(" + "))
                                   : options.source == QLatin1String("-") ? QStringLiteral("standard input")
                                   // A port's or FIFO's last part alone (pts/0's "0") says nothing.
                                   : regular ? QFileInfo(options.source).fileName() : options.source,
                                   families.isEmpty() ? QStringLiteral("no family")
                                                      : families.join(sourceCount == 1 ? QStringLiteral(", ") : QStringLiteral("; ")))
                              .arg(data.frames())
                              .arg(spanText(data));
    // Each source's group keeps about the height one source has by default.
    if (!parser.isSet(size) && sourceCount > 1)
        pictureSize.setHeight(qMin(20000, pictureSize.height() + (sourceCount - 1) * 600));
    if (!drawPicture(data, title, pictureSize, format, target, path, error)) {
        complain(error);
        return 1;
    }
    if (data.frames() == 0) {
        complain(QStringLiteral("no frames in %1; %2 shows the empty axes").arg(options.source, path));
        return 1;
    }
    if (data.framesDrawn() == 0) {
        complain(QStringLiteral("no frames between --from and --to; %1 shows the empty axes").arg(path));
        return 1;
    }
    complain(QStringLiteral("%1: %2 (%3), %4, %5, %6")
                 .arg(path, counted(data.frames(), "frame", "frames"), spanText(data),
                      counted(data.crcFailures(), "CRC failure", "CRC failures"),
                      counted(data.strayBytes(), "stray byte", "stray bytes"),
                      counted(data.silences(), "silence", "silences")));
    for (int s = 0; sourceCount > 1 && s < sourceCount; ++s)
        complain(QStringLiteral("  %1: %2, %3, %4, %5")
                     .arg(data.sourceName(s), counted(data.frames(s), "frame", "frames"),
                          counted(data.crcFailures(s), "CRC failure", "CRC failures"),
                          counted(data.strayBytes(s), "stray byte", "stray bytes"),
                          counted(data.silences(s), "silence", "silences")));
    return status;
}
