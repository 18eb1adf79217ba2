// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump: decodes the receiver frames of a serial port, a capture
// file or standard input into text, CSV or JSON lines.
#include "dump/session.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSerialPortInfo>

#include <cstdio>

namespace {

[[noreturn]] void usageError(const QString &text)
{
    std::fprintf(stderr, "linkscope-dump: %s\nTry 'linkscope-dump --help'.\n", qPrintable(text));
    std::exit(2);
}

void listPorts()
{
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        QString ids;
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            ids = QStringLiteral("%1:%2").arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                      .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        std::printf("%s\t%s\t%s\n", qPrintable(info.systemLocation()), qPrintable(info.description()),
                    qPrintable(ids));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linkscope-dump"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKSCOPE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Decodes the frames a radio-control receiver sends (MPX, MPX_V2, NORDAX, HOTT, SPEKTRUM): one record "
        "per frame on standard output, a summary on standard error."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("source"),
                                 QStringLiteral("A serial port (ttyUSB0 or /dev/ttyUSB0), a capture file, or - for "
                                                "standard input."));
    const QCommandLineOption format({QStringLiteral("f"), QStringLiteral("format")},
                                    QStringLiteral("Record format: text, csv or jsonl (default text)."),
                                    QStringLiteral("format"), QStringLiteral("text"));
    const QCommandLineOption baud({QStringLiteral("b"), QStringLiteral("baud")},
                                  QStringLiteral("Baud rate of a serial port (default 115200)."),
                                  QStringLiteral("rate"), QStringLiteral("115200"));
    const QCommandLineOption write({QStringLiteral("w"), QStringLiteral("write")},
                                   QStringLiteral("Record every byte received, unchanged, to file."),
                                   QStringLiteral("file"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Let --write overwrite an existing file."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Print no records and no summary (to record only)."));
    const QCommandLineOption count({QStringLiteral("n"), QStringLiteral("count")},
                                   QStringLiteral("Stop after this many frames."), QStringLiteral("frames"));
    const QCommandLineOption duration({QStringLiteral("d"), QStringLiteral("duration")},
                                      QStringLiteral("Stop after this many seconds."), QStringLiteral("seconds"));
    const QCommandLineOption list(QStringLiteral("list-ports"),
                                  QStringLiteral("List the serial ports present, with description and USB ids."));
    parser.addOptions({format, baud, write, force, quiet, count, duration, list});
    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(list)) {
        listPorts();
        return 0;
    }

    DumpOptions options;
    const QStringList sources = parser.positionalArguments();
    if (sources.size() != 1)
        usageError(sources.isEmpty() ? QStringLiteral("no source given") : QStringLiteral("give exactly one source"));
    options.source = sources.first();
    const QString name = parser.value(format);
    if (name == QLatin1String("text"))
        options.format = RecordWriter::Text;
    else if (name == QLatin1String("csv"))
        options.format = RecordWriter::Csv;
    else if (name == QLatin1String("jsonl"))
        options.format = RecordWriter::Jsonl;
    else
        usageError(QStringLiteral("unknown format '%1' (text, csv or jsonl)").arg(name));
    bool ok = false;
    options.baud = parser.value(baud).toInt(&ok);
    if (!ok || options.baud <= 0)
        usageError(QStringLiteral("bad baud rate '%1'").arg(parser.value(baud)));
    if (parser.isSet(count)) {
        options.count = parser.value(count).toLongLong(&ok);
        if (!ok || options.count <= 0)
            usageError(QStringLiteral("bad frame count '%1'").arg(parser.value(count)));
    }
    if (parser.isSet(duration)) {
        options.duration = parser.value(duration).toDouble(&ok);
        if (!ok || options.duration < 0)
            usageError(QStringLiteral("bad duration '%1'").arg(parser.value(duration)));
    }
    options.recordPath = parser.value(write);
    options.force = parser.isSet(force);
    options.quiet = parser.isSet(quiet);
    return runDump(options);
}
