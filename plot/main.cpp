// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-plot: draws the frames of a capture, a jsonl file, standard
// input or a serial port as one picture over time (PNG, SVG or PDF),
// without a display.
#include "dump/session.h"
#include "dump/sourceoptions.h"
#include "plot/jsonlines.h"
#include "plot/picture.h"
#include "plot/plotdata.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void usageError(const QString &text)
{
    std::fprintf(stderr, "linkscope-plot: %s\nTry 'linkscope-plot --help'.\n", qPrintable(text));
    std::exit(2);
}

void say(const QString &text)
{
    std::fprintf(stderr, "linkscope-plot: %s\n", qPrintable(text));
}

// Hands frames on to the data, and says how far reading has come once it
// takes longer than a second.
class ProgressSink : public FrameSink
{
public:
    explicit ProgressSink(PlotData &data) : data(data) { clock.start(); }
    ~ProgressSink() override { finish(); }

    void take(const FrameReading &frame, double t) override
    {
        data.take(frame, t);
        if ((data.frames() & 1023) == 0 && clock.elapsed() >= nextAt) {
            nextAt = clock.elapsed() + 1000;
            const QString text = QStringLiteral("reading: %1 frames").arg(data.frames());
            if (terminal)
                std::fprintf(stderr, "\rlinkscope-plot: %s", qPrintable(text));
            else
                say(text);
            shown = true;
        }
    }
    void setStrayBytes(qint64 bytes) override { data.setStrayBytes(bytes); }
    void setBunching(double periodMs, const QString &remedy) override { data.setBunching(periodMs, remedy); }
    void finish()
    {
        if (shown && terminal)
            std::fputs("\n", stderr);
        shown = false;
    }

private:
    PlotData &data;
    QElapsedTimer clock;
    qint64 nextAt = 1000;
    bool shown = false;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
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
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linkscope-plot"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKSCOPE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws the frames a radio-control receiver sent as one picture over time: the channels with failsafe, the "
        "interval between frames, and CRC failures, stray bytes and silences."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("source"),
                                 QStringLiteral("A capture file (raw, hex dump or Saleae CSV), a linkscope-dump "
                                                "--format jsonl file, - for standard input, or a serial port."));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("The picture: .png, .svg or .pdf (default: the source's name "
                                                   "with .png)."),
                                    QStringLiteral("file"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Picture size in pixels (default 1600x900)."),
                                  QStringLiteral("WxH"), QStringLiteral("1600x900"));
    const QCommandLineOption channels(QStringLiteral("channels"),
                                      QStringLiteral("Draw only these channels, for example 1-4,7."),
                                      QStringLiteral("list"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Start the picture this many seconds after the first frame."),
                                  QStringLiteral("s"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("End the picture this many seconds after the first frame."),
                                QStringLiteral("s"));
    parser.addOptions({output, size, channels, from, to});
    // Sources are read as linkscope-dump reads them, with the same words.
    const SourceOptions reading;
    parser.addOptions(reading.options());
    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    const QStringList sources = parser.positionalArguments();
    if (sources.size() != 1)
        usageError(sources.isEmpty() ? QStringLiteral("no source given") : QStringLiteral("give exactly one source"));
    if (sources.first().isEmpty())
        usageError(QStringLiteral("the source is an empty name"));
    DumpOptions options;
    options.source = sources.first();
    options.sourcePath = QFile::encodeName(options.source);
    options.quiet = true;

    QString path = parser.value(output);
    if (parser.isSet(output) && path.isEmpty())
        usageError(QStringLiteral("-o needs a file name"));
    if (path.isEmpty()) {
        // Next to a capture file; for a port or standard input, here.
        const QFileInfo info(options.source);
        if (options.source == QLatin1String("-"))
            path = QStringLiteral("stdin.png");
        else if (info.isFile())
            path = info.path() == QLatin1String(".") ? info.completeBaseName() + QStringLiteral(".png")
                                                      : info.dir().filePath(info.completeBaseName() + QStringLiteral(".png"));
        else
            path = info.fileName() + QStringLiteral(".png");
    }
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
    QString error;
    ChannelList chosen;
    if (parser.isSet(channels) && !ChannelList::parse(parser.value(channels), chosen, error))
        usageError(error);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double windowFrom = parser.isSet(from) ? seconds(parser, from) : nan;
    const double windowTo = parser.isSet(to) ? seconds(parser, to) : nan;
    if (windowFrom >= windowTo)
        usageError(QStringLiteral("--from must come before --to"));
    if (!reading.apply(parser, options, error))
        usageError(error);

    // Said before a long run, not after it.
    const QFileInfo target(path);
    if (target.isDir()) {
        say(QStringLiteral("cannot write %1: it is a directory").arg(path));
        return 1;
    }
    if (!QFileInfo(target.absolutePath()).isDir() || ::access(QFile::encodeName(target.absolutePath()), W_OK) != 0
        || (target.exists() && !target.isWritable())) {
        say(QStringLiteral("cannot write %1: %2")
                .arg(path, target.exists() || QFileInfo(target.absolutePath()).isDir()
                               ? QStringLiteral("permission denied")
                               : QStringLiteral("no such directory")));
        return 1;
    }
    struct stat sourceInfo, targetInfo;
    if (::stat(options.sourcePath.constData(), &sourceInfo) == 0 && ::stat(QFile::encodeName(path), &targetInfo) == 0
        && sourceInfo.st_dev == targetInfo.st_dev && sourceInfo.st_ino == targetInfo.st_ino)
        usageError(QStringLiteral("will not draw over %1: it is the source").arg(path));

    PlotData data(plotColumns(pictureSize), chosen, windowFrom, windowTo, [](const QString &text) { say(text); });
    ProgressSink progress(data);
    int status = 0;
    QStringList families;
    struct stat info;
    const bool regular = options.source != QLatin1String("-") && ::stat(options.sourcePath.constData(), &info) == 0
                         && S_ISREG(info.st_mode);
    if (regular && !options.inputGiven && looksLikeJsonLines(options.sourcePath)) {
        if (!readJsonLines(options.sourcePath, options.source, progress, error)) {
            say(error);
            status = 1;
        }
    } else {
        options.sink = &progress;
        status = runDump(options);
    }
    progress.finish();
    // A source that could not be opened has said why, and there is nothing to draw.
    if (status != 0 && data.frames() == 0)
        return status;

    for (const auto &entry : data.families())
        families << QStringLiteral("%1 %2").arg(entry.first).arg(entry.second);
    const QString title = QStringLiteral("%1 — %2 — %3 frames — %4")
                              .arg(options.source == QLatin1String("-") ? QStringLiteral("standard input")
                                                                          : QFileInfo(options.source).fileName(),
                                   families.isEmpty() ? QStringLiteral("no family") : families.join(QStringLiteral(", ")))
                              .arg(data.frames())
                              .arg(spanText(data));
    if (!drawPicture(data, title, pictureSize, format, path, path, error)) {
        say(error);
        return 1;
    }
    if (data.frames() == 0) {
        say(QStringLiteral("no frames in %1; %2 shows the empty axes").arg(options.source, path));
        return 1;
    }
    if (data.framesDrawn() == 0) {
        say(QStringLiteral("no frames between --from and --to; %1 shows the empty axes").arg(path));
        return 1;
    }
    say(QStringLiteral("%1: %2 frames (%3), %4 CRC failures, %5 stray bytes, %6 silences")
            .arg(path)
            .arg(data.frames())
            .arg(spanText(data))
            .arg(data.crcFailures())
            .arg(data.strayBytes())
            .arg(data.silences()));
    return status;
}
