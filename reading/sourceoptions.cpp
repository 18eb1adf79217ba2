// SPDX-License-Identifier: GPL-3.0-or-later
#include "reading/sourceoptions.h"

#include "cli/commandline.h"
#include "cli/messages.h"
#include "decode/capture/saleaecsv.h"
#include "decode/familyfinder.h"
#include "reading/familydetector.h"

#include <QCommandLineParser>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The longest run, as linkscope-send takes it: about 116 days.
constexpr double longestDuration = 1e7;

// "CRSF 420000 8N1, …" for --help.
QString familyLines()
{
    QStringList lines;
    for (const FamilyDescriptor *family : allFamilies())
        lines << QStringLiteral("%1 %2").arg(QLatin1String(family->name), family->line.text());
    return lines.join(QStringLiteral(", "));
}

// Why families at their own line settings cannot share one line; empty
// where they can, or where the line settings were given.
QString lineConflictOf(const QVector<const FamilyDescriptor *> &families, bool baudGiven, bool lineGiven)
{
    const LineSettings &line = families.first()->line;
    QString conflict;
    for (const FamilyDescriptor *chosen : families) {
        if (chosen->line.baud != line.baud && !baudGiven)
            conflict = QStringLiteral("%1 runs at %2 baud and %3 at %4; give --baud")
                           .arg(QLatin1String(families.first()->recordName))
                           .arg(line.baud)
                           .arg(QLatin1String(chosen->recordName))
                           .arg(chosen->line.baud);
        else if (chosen->line.frameText() != line.frameText() && !lineGiven)
            conflict = QStringLiteral("%1 runs at %2 and %3 at %4; give --line")
                           .arg(QLatin1String(families.first()->recordName), line.frameText(),
                                QLatin1String(chosen->recordName), chosen->line.frameText());
    }
    return conflict;
}

// An analyser's name as shown: bytes that are no UTF-8 as \xFE, so that
// two names stay two.
QString shownName(const QByteArray &name)
{
    const QString text = QString::fromUtf8(name);
    if (text.toUtf8() == name)
        return text;
    QString shown;
    for (const char c : name) {
        const quint8 byte = quint8(c);
        shown += byte < 0x80 ? QString(QLatin1Char(c)) : QStringLiteral("\\x") + QString::number(byte, 16).toUpper();
    }
    return shown;
}

} // namespace

SourceOptions::SourceOptions()
    : family(optionNames("family"),
             QStringLiteral("The families to look for, comma-separated: %1 (default mpx,mpx2,nordax,hott,spektrum). "
                            "Line defaults: %2. auto reads until %3 good frames of one family come in a row (the "
                            "default five count as one), says which on standard error, and reads that family "
                            "alone from the first byte; on a port it tries %4 in turn, about %5 ms each.")
                 .arg(familyNames(), familyLines())
                 .arg(FamilyFinder::framesInRow)
                 .arg(FamilyDetector().settingsText())
                 .arg(FamilyDetector::listenMs),
             QStringLiteral("list")),
      baud(optionNames("baud"),
           QStringLiteral("Baud rate of a serial port (default: the families' own; any rate the driver takes)."),
           QStringLiteral("rate")),
      line(QStringLiteral("line"),
           QStringLiteral("Data bits, parity and stop bits of a serial port, as 8N1, 8E2 or 8O1 (default: the "
                          "families' own). A pseudo-terminal keeps no parity: it is warned of, not refused."),
           QStringLiteral("bits")),
      duration(optionNames("duration"),
               QStringLiteral("Stop after this many seconds (more than 0, at most 10000000): of the run for a port "
                              "or stream, of the capture's own times for a capture file."),
               QStringLiteral("seconds")),
      input(QStringLiteral("input"),
            QStringLiteral("Read a capture file as raw bytes, a hex dump or a Saleae CSV export: raw, hex or saleae "
                           "(default: told by its content)."),
            QStringLiteral("form")),
      noLowLatency(QStringLiteral("no-low-latency"),
                   QStringLiteral("Leave a port's low-latency mode as it is. By default it is set while the port is "
                                  "open, so that a USB adapter hands each frame over as it comes, and put back on "
                                  "close."))
{
}

QList<QCommandLineOption> SourceOptions::options() const
{
    return {family, baud, line, duration, input, noLowLatency};
}

bool SourceOptions::apply(const QCommandLineParser &parser, ReadOptions &options, QString &error) const
{
    bool ok = false;
    options.autoDetect = parser.value(family).trimmed().toLower() == QLatin1String("auto");
    if (options.autoDetect) {
        if (parser.isSet(baud) || parser.isSet(line)) {
            error = QStringLiteral("--family auto tries every family's line settings itself; give no --baud or "
                                   "--line with it");
            return false;
        }
        // A capture has no line settings to try: it is read for every family.
        options.families = autoFamilies();
    } else if (parser.isSet(family) && !familiesFromList(parser.value(family), options.families, error)) {
        return false;
    }
    options.line = options.families.first()->line;
    if (!options.autoDetect)
        options.lineConflict = lineConflictOf(options.families, parser.isSet(baud), parser.isSet(line));
    if (parser.isSet(baud)) {
        options.line.baud = parser.value(baud).toInt(&ok);
        if (!ok || options.line.baud <= 0) {
            error = QStringLiteral("bad baud rate '%1'").arg(parser.value(baud));
            return false;
        }
    }
    if (parser.isSet(line) && !parseLineFrame(parser.value(line), options.line)) {
        error = QStringLiteral("bad line settings '%1': give data bits 5-8, parity N, E or O, stop bits 1 or 2, as "
                               "8N1 or 8E2")
                    .arg(parser.value(line));
        return false;
    }
    if (parser.isSet(duration)) {
        options.duration = parser.value(duration).toDouble(&ok);
        // NaN fails every comparison, so it is refused with the rest.
        if (!ok || !(options.duration > 0 && options.duration <= longestDuration)) {
            error = QStringLiteral("bad duration '%1': give seconds, more than 0 and at most %2")
                        .arg(parser.value(duration))
                        .arg(longestDuration, 0, 'f', 0);
            return false;
        }
    }
    if (parser.isSet(input) && !CaptureReader::inputFromName(parser.value(input), options.input)) {
        error = QStringLiteral("unknown input form '%1' (raw, hex or saleae)").arg(parser.value(input));
        return false;
    }
    options.inputGiven = parser.isSet(input);
    options.lowLatency = !parser.isSet(noLowLatency);
    return true;
}

bool SourceOptions::sources(const QStringList &given, const ReadOptions &shared, QVector<ReadOptions> &out,
                            QString &error)
{
    out.clear();
    if (given.isEmpty()) {
        error = QStringLiteral("no source given");
        return false;
    }
    if (given.size() > 2) {
        error = QStringLiteral("give one source, or two to read in one timeline");
        return false;
    }
    QByteArrayList paths;
    for (int k = 0; k < given.size(); ++k) {
        const QString &name = given.at(k);
        ReadOptions options = shared;
        QString source = name;
        // Two names in no UTF-8 may read alike: each is the bytes given in its place.
        QByteArray path = argumentBytes(name, int(given.mid(0, k).count(name)));
        const int at = name.lastIndexOf(QLatin1Char('@'));
        struct stat info;
        if (at >= 0 && ::stat(path.constData(), &info) != 0) {
            source = name.left(at);
            path.truncate(path.lastIndexOf('@'));
            const QString list = name.mid(at + 1);
            options.autoDetect = list.trimmed().toLower() == QLatin1String("auto");
            if (options.autoDetect) {
                options.families = autoFamilies();
            } else if (!familiesFromList(list, options.families, error)) {
                error = QStringLiteral("%1 (in %2)").arg(error, name);
                return false;
            }
            // Its own families read at their own line settings.
            options.line = options.families.first()->line;
            options.lineConflict = options.autoDetect ? QString() : lineConflictOf(options.families, false, false);
        }
        if (source.isEmpty()) {
            error = at == 0 ? QStringLiteral("%1 names no source before its families").arg(name)
                            : QStringLiteral("the source is an empty name");
            return false;
        }
        if (paths.contains(path)) {
            error = QStringLiteral("%1 is given twice; give two different sources").arg(source);
            return false;
        }
        paths << path;
        // Of two, each keeps a name of its own where its bytes are no text.
        if (given.size() > 1 && QFile::encodeName(QFile::decodeName(path)) != path)
            source = shownName(path);
        options.source = source;
        options.sourcePath = path;
        out << options;
    }
    if (out.size() == 1)
        splitAnalysers(out);
    return true;
}

// A Saleae export of two analysers (the receiver's TX and the flight
// controller's) is two sources of one clock: one per analyser its rows name.
void SourceOptions::splitAnalysers(QVector<ReadOptions> &out)
{
    const ReadOptions one = out.first();
    if (one.input != CaptureReader::Detect && one.input != CaptureReader::ForceSaleae)
        return;
    // Asked of the name first: opening a serial port only to look would
    // toggle its modem lines, which resets some boards.
    struct stat info;
    if (::stat(one.sourcePath.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    const int fd = ::open(one.sourcePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    // The whole file, a block at a time behind its header line: the second
    // analyser may start long after the first (a flight controller that
    // boots late).
    QByteArrayList channels;
    QByteArray header, block(1 << 20, Qt::Uninitialized);
    bool more = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    for (off_t at = 0; more;) {
        const ssize_t n = ::pread(fd, block.data(), size_t(block.size()), at);
        if (n <= 0)
            break;
        const QByteArray text = block.left(int(n));
        const int lastLine = text.lastIndexOf('\n') + 1;
        // A line longer than a block is no row of an export.
        if (lastLine == 0)
            break;
        at += lastLine;
        if (header.isEmpty()) {
            // Up to the first line that is not blank: the header, if any.
            for (int from = 0; from < lastLine && header.isEmpty();) {
                const int end = text.indexOf('\n', from) + 1;
                if (!text.mid(from, end - from).trimmed().isEmpty())
                    header = text.left(end);
                from = end;
            }
            more = addSaleaeChannels(text.left(lastLine), channels);
        } else {
            more = addSaleaeChannels(header + text.left(lastLine), channels);
        }
    }
    ::close(fd);
    if (channels.size() < 2)
        return;
    QStringList names;
    for (const QByteArray &channel : channels)
        names << shownName(channel);
    out.clear();
    for (int i = 0; i < 2; ++i) {
        ReadOptions each = one;
        each.channel = channels.at(i);
        each.source = QStringLiteral("%1:%2").arg(one.source, names.at(i));
        out << each;
    }
    complain(QStringLiteral("reading %1 as two sources in one timeline, one for each analyser: %2 and %3%4")
                 .arg(one.source, names.at(0), names.at(1),
                      names.size() > 2 ? QStringLiteral("; the rows of %1 are left out")
                                             .arg(names.mid(2).join(QStringLiteral(", ")))
                                       : QString()));
}
