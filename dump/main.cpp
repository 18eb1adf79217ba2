// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump: decodes the receiver frames of a serial port, a capture
// file or standard input into text, CSV or JSON lines, or shows them live.
#include "cli/commandline.h"
#include "cli/program.h"
#include "dump/dumprun.h"
#include "reading/sourceoptions.h"
#include "serial/lowlatency.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSerialPortInfo>

#include <cstdio>
#include <unistd.h>

namespace {

// One tab-separated line a port, for scripts; the header goes to standard
// output only on a terminal, and to standard error otherwise. The driver
// tells whether frame times may come in bunches, and an FTDI adapter's
// latency timer how far apart.
void listPorts()
{
    const auto ports = QSerialPortInfo::availablePorts();
    std::fprintf(::isatty(STDOUT_FILENO) ? stdout : stderr,
                 "device\tdescription\tUSB vendor:product\tdriver\tlatency timer\n");
    if (ports.isEmpty())
        std::fprintf(stderr, "linkscope-dump: no serial ports found\n");
    for (const QSerialPortInfo &info : ports) {
        QString ids;
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            ids = QStringLiteral("%1:%2").arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                      .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        const PortDriver driver = portDriver(info.portName());
        const QString timer = driver.isFtdi() && driver.latencyTimerMs >= 0
            ? QStringLiteral("%1 ms").arg(driver.latencyTimerMs)
            : QString();
        std::printf("%s\t%s\t%s\t%s\t%s\n", qPrintable(info.systemLocation()), qPrintable(info.description()),
                    qPrintable(ids), qPrintable(driver.name), qPrintable(timer));
    }
}

// A name as messages show it: one of thousands of characters only in part.
QString shownName(const QString &name)
{
    constexpr int longest = 100;
    if (name.size() <= longest)
        return name;
    return name.left(longest / 2 - 1) + QChar(0x2026) + name.right(longest / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    const StandardStreams streams = startProgram(argc, argv);
    QCoreApplication app(argc, argv);
    nameProgram("linkscope-dump", LINKSCOPE_VERSION);

    QCommandLineParser parser;
    QStringList windowFive, others;
    for (const FamilyDescriptor *family : allFamilies())
        (family->srxl ? windowFive : others) << QLatin1String(family->recordName);
    parser.setApplicationDescription(
        QStringLiteral("Decodes the frames a radio-control receiver sends (%1 by default; %2 with --family): one "
                       "record per frame on standard output, a summary on standard error.")
            .arg(windowFive.join(QStringLiteral(", ")), others.join(QStringLiteral(", "))));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("source"),
                                 QStringLiteral("A serial port (ttyUSB0 or /dev/ttyUSB0), a capture file, a FIFO or "
                                                "other stream, or - for standard input. A second source is read in "
                                                "the same timeline: two ports or streams, or two captures with "
                                                "times; records then name their src. SRC@FAMILIES (ttyUSB1@smartport) "
                                                "reads a source for its own families at their own line settings."),
                                 QStringLiteral("source [source]"));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Record format: text, csv or jsonl (default text)."),
                                    QStringLiteral("format"), QStringLiteral("text"));
    const QCommandLineOption write(optionNames("write"),
                                   QStringLiteral("Record every byte received, unchanged, to file."),
                                   QStringLiteral("file"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Let --write overwrite an existing file (never the source)."));
    const QCommandLineOption quiet(optionNames("quiet"),
                                   QStringLiteral("Print no records and no summary (to record only)."));
    const QCommandLineOption count(optionNames("count"),
                                   QStringLiteral("Stop after this many frames."), QStringLiteral("frames"));
    const QCommandLineOption watch(QStringLiteral("watch"),
                                   QStringLiteral("Instead of records, show a live view of the channels, the link and "
                                                  "failsafe in the terminal (a port, or - fed by a pipe or terminal). "
                                                  "Keys: q quits, space pauses, r resets lowest, highest and counters."));
    const QCommandLineOption channels(optionNames("channels"),
                                      QStringLiteral("Show only these channels in the records and the live view, "
                                                     "for example 1-4,7."),
                                      QStringLiteral("list"));
    const QCommandLineOption list(QStringLiteral("list-ports"),
                                  QStringLiteral("List the serial ports present, with description and USB ids."));
    const SourceOptions sourceOptions;
    const QList<QCommandLineOption> taken = sourceOptions.options()
                                            + QList<QCommandLineOption>{format, write, force, quiet, count, watch,
                                                                        channels, list};
    parser.addOptions(taken);
    // Standard input with families of its own (-@crsf) is a source, not the
    // options -@, -c, -r and so on: it passes the parser in disguise.
    const QString stdinMark = QStringLiteral("\x01standard input");
    QStringList arguments = QCoreApplication::arguments();
    for (int i = 1; i < arguments.size() && arguments.at(i) != QLatin1String("--"); ++i) {
        if (arguments.at(i).startsWith(QLatin1String("-@")))
            arguments[i].replace(0, 1, stdinMark);
    }
    parseOrExit(parser, arguments);
    // -f was --format here before it meant --family in every program.
    if (parser.optionNames().contains(QStringLiteral("f"))) {
        for (const QString &value : parser.values(QStringLiteral("f"))) {
            if (QStringList{"text", "csv", "jsonl"}.contains(value))
                usageError(QStringLiteral("-f is --family, as in linkscope-send and linkscope-plot; give --format %1 "
                                          "for the record format").arg(value));
        }
    }
    refuseRepeated(parser, taken);
    if (parser.isSet(list)) {
        if (!parser.positionalArguments().isEmpty())
            usageError(QStringLiteral("--list-ports takes no source"));
        listPorts();
        return standardOutputWritten("the list") ? 0 : 1;
    }

    DumpOptions options;
    QStringList sources = parser.positionalArguments();
    bool readsStdin = false;
    for (QString &source : sources) {
        if (source.startsWith(stdinMark))
            source.replace(0, stdinMark.size(), QStringLiteral("-"));
        readsStdin = readsStdin || source == QLatin1String("-") || source.startsWith(QLatin1String("-@"));
    }
    ReadOptions &reading = options.reading;
    const QString name = parser.value(format);
    if (name == QLatin1String("text"))
        options.format = RecordWriter::Text;
    else if (name == QLatin1String("csv"))
        options.format = RecordWriter::Csv;
    else if (name == QLatin1String("jsonl"))
        options.format = RecordWriter::Jsonl;
    else
        usageError(QStringLiteral("unknown format '%1' (text, csv or jsonl)").arg(name));
    QString error;
    if (!sourceOptions.apply(parser, reading, error))
        usageError(error);
    bool ok = false;
    if (parser.isSet(count)) {
        reading.count = parser.value(count).toLongLong(&ok);
        if (!ok || reading.count <= 0)
            usageError(QStringLiteral("bad frame count '%1'").arg(parser.value(count)));
    }
    if (parser.isSet(write) && parser.value(write).isEmpty())
        usageError(QStringLiteral("--write needs a file name"));
    options.recordBytes = argumentBytes(parser.value(write));
    options.recordPath = shownName(parser.value(write));
    reading.stdinClosed = streams.inputClosed;
    options.stdoutClosed = streams.outputClosed;
    options.force = parser.isSet(force);
    options.quiet = parser.isSet(quiet);
    reading.sayPortTiming = !options.quiet;
    reading.summary = !options.quiet;
    options.watch = parser.isSet(watch);
    reading.liveView = options.watch;
    if (parser.isSet(channels) && !ChannelList::parse(parser.value(channels), options.channels, error))
        usageError(error);
    if (options.watch && parser.isSet(format))
        usageError(QStringLiteral("--watch shows no records, so --format has no use with it"));
    if (options.watch && (streams.outputClosed || !::isatty(STDOUT_FILENO)))
        usageError(QStringLiteral("--watch draws on a terminal, and standard output is not one; leave out --watch "
                                  "to print records"));
    // Only the controlling terminal has a foreground process group to tell.
    if (options.watch && readsStdin && !streams.inputClosed && ::isatty(STDIN_FILENO)
        && ::tcgetpgrp(STDIN_FILENO) != -1)
        usageError(QStringLiteral("--watch reads its keys from this terminal, so standard input cannot be it too; "
                                  "feed - from a pipe, or name the port"));
    if (!SourceOptions::sources(sources, reading, options.sources, error))
        usageError(error);
    for (ReadOptions &source : options.sources)
        source.source = shownName(source.source);
    reading = options.sources.first();
    if (options.sources.size() > 1 && !options.recordPath.isEmpty())
        usageError(QStringLiteral("--write records the bytes of one source as they came; give one source with it"));
    return runDump(options);
}
