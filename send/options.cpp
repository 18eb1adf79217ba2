// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/options.h"

#include "cli/commandline.h"
#include "decode/channellist.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// Longer would no longer count nanoseconds exactly on a steady clock.
constexpr double longestSeconds = 1e7;

[[noreturn]] void usageError(const QString &text)
{
    std::fprintf(stderr, "linkscope-send: %s\nTry 'linkscope-send --help'.\n", qPrintable(text));
    std::exit(2);
}

// Whole numbers with their thousands apart (10,000,000), never 1e+07.
QString number(double value)
{
    if (value != std::floor(value) || std::fabs(value) >= 1e15)
        return QString::number(value, 'g', 10);
    QString digits = QString::number(qint64(std::fabs(value)));
    for (int at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return value < 0 ? QLatin1Char('-') + digits : digits;
}

// " of seconds" for "a number of seconds", or nothing without a unit.
QString unitText(const char *before, const char *unit)
{
    return *unit ? QLatin1String(before) + QLatin1String(unit) : QString();
}

// A finite number from lowest (included or not) to highest.
double readNumber(const QString &option, const QString &text, double lowest, bool lowestIncluded,
                  double highest, const char *unit)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        usageError(QStringLiteral("--%1 takes a number%2, not '%3'").arg(option, unitText(" of ", unit), text));
    if (!lowestIncluded && (value <= lowest || value > highest))
        usageError(QStringLiteral("--%1 %2 must be more than %3 and at most %4%5")
                       .arg(option, text, number(lowest), number(highest), unitText(" ", unit)));
    if (value < lowest || value > highest)
        usageError(QStringLiteral("--%1 %2 lies outside %3 to %4%5")
                       .arg(option, text, number(lowest), number(highest), unitText(" ", unit)));
    return value;
}

qint64 readWhole(const QString &option, const QString &text, qint64 lowest, qint64 highest, const char *unit)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok)
        usageError(QStringLiteral("--%1 takes a whole number%2, not '%3'").arg(option, unitText(" of ", unit), text));
    if (value < lowest || value > highest)
        usageError(QStringLiteral("--%1 %2 lies outside %3 to %4%5")
                       .arg(option, text, number(double(lowest)), number(double(highest)), unitText(" ", unit)));
    return value;
}

// --us or --wire: one value per channel, from channel 1 on.
// highestWire: where a form narrows the family's values (DSM 1024's 10 bits).
QVector<int> readChannels(const FamilyDescriptor &family, const QString &list, bool microseconds, int highestWire = -1)
{
    const QStringList items = list.split(QLatin1Char(','));
    const int most = family.fixedChannels ? family.fixedChannels : family.maxChannels;
    if (items.size() > most)
        usageError(QStringLiteral("%1 carries %2%3 channels; %4 values given")
                       .arg(QLatin1String(family.recordName), family.fixedChannels ? QString() : QStringLiteral("at most "))
                       .arg(most).arg(items.size()));
    QVector<int> wire;
    for (int channel = 0; channel < items.size(); ++channel) {
        bool ok = false;
        const int value = items[channel].trimmed().toInt(&ok);
        if (!ok)
            usageError(QStringLiteral("channel %1: '%2' is no whole number%3")
                           .arg(channel + 1).arg(items[channel], microseconds ? QStringLiteral(" of µs") : QString()));
        int lowest = 0, highest = highestWire >= 0 ? highestWire : family.wireLimit(channel);
        if (microseconds) {
            lowest = family.usRange(channel).lowest;
            highest = family.usRange(channel).highest;
        }
        if (value < lowest || value > highest)
            usageError(QStringLiteral("channel %1: %2%3 lies outside %4's range, %5 to %6%3")
                           .arg(channel + 1).arg(value).arg(microseconds ? QStringLiteral(" µs") : QString())
                           .arg(QLatin1String(family.recordName)).arg(lowest).arg(highest));
        wire << (microseconds ? family.wireFor(channel, value) : value);
    }
    return wire;
}

// "MPX, MPX_V2, …" for --help: every family of the table.
QString recordNames()
{
    QStringList names;
    for (const FamilyDescriptor *family : allFamilies())
        names << QLatin1String(family->recordName);
    return names.join(QStringLiteral(", "));
}

QString rateDefaults()
{
    QStringList rates;
    for (const FamilyDescriptor *family : allFamilies())
        rates << QStringLiteral("%1 %2 (%3)")
                     .arg(QLatin1String(family->recordName), number(std::round(100000 / family->periodMs) / 100),
                          QLatin1String(family->periodNote));
    return rates.join(QStringLiteral(", "));
}

// "MPX and MPX_V2 800-2199, …": each family's µs range, channel 1's and,
// where it differs, the last channel's.
QString rangeList()
{
    QStringList ranges;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (!family->hasMicroseconds())
            continue;
        const MicrosecondRange first = family->usRange(0);
        const MicrosecondRange last = family->usRange(family->maxChannels - 1);
        QString text = QStringLiteral("%1 %2-%3").arg(QLatin1String(family->recordName)).arg(first.lowest).arg(first.highest);
        if (last.lowest != first.lowest || last.highest != first.highest)
            text += QStringLiteral(" (channel %1: %2-%3)").arg(family->maxChannels).arg(last.lowest).arg(last.highest);
        ranges << text;
    }
    return ranges.join(QStringLiteral(", "));
}

QString failsafeList()
{
    QStringList notes;
    for (const FamilyDescriptor *family : allFamilies())
        notes << QStringLiteral("%1 %2").arg(QLatin1String(family->recordName), QLatin1String(family->failsafeNote));
    return notes.join(QStringLiteral("; "));
}

// "exbus (telemetry requests)": the families --answer answers.
QString answerList()
{
    QStringList names;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->answer)
            names << QLatin1String(family->name);
    }
    return names.join(QStringLiteral(", "));
}

QString channelList()
{
    QStringList fixed, free, none;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->maxChannels == 0)
            none << QLatin1String(family->recordName);
        else if (family->fixedChannels)
            fixed << QStringLiteral("%1 %2").arg(QLatin1String(family->recordName)).arg(family->fixedChannels);
        else
            free << QStringLiteral("%1 1-%2 (default %3)").arg(QLatin1String(family->recordName))
                        .arg(family->maxChannels).arg(family->defaultChannels);
    }
    return QStringLiteral("%1; always: %2; none: %3")
        .arg(free.join(QStringLiteral(", ")), fixed.join(QStringLiteral(", ")), none.join(QStringLiteral(", ")));
}

} // namespace

SendOptions parseCommandLine(const QStringList &givenArguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends radio-control receiver frames (%1) onto a serial port or standard output, as a receiver would: the "
        "channel values you choose or a sweep, at the family's rate, with failsafe, dropouts, damaged frames and cut-up "
        "writes on demand; or replays a recorded session.").arg(recordNames()));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("target"),
                                 QStringLiteral("A serial port (ttyUSB0 or /dev/ttyUSB0), or - for standard output."));
    const QCommandLineOption family(optionNames("family"),
                                    QStringLiteral("%1 (or MPX_V2 and so on, in any case). With --replay, the "
                                                   "families a raw capture or hex dump holds, comma-separated, so "
                                                   "that it goes frame by frame at their line settings (default, "
                                                   "or auto: the family found as linkscope-dump --family auto "
                                                   "finds it, the window's five where none is).").arg(familyNames()),
                                    QStringLiteral("family"));
    const QCommandLineOption us(QStringLiteral("us"),
                                QStringLiteral("Channel 1, 2, ... in µs; channels not given are 1500 (NORDAX: word "
                                               "2432). Ranges: %1. GHST's aux channels (5 on) step by 4 µs.")
                                    .arg(rangeList()),
                                QStringLiteral("V1,V2,..."));
    const QCommandLineOption wire(QStringLiteral("wire"),
                                  QStringLiteral("The channel values as sent instead: 16-bit words; SPEKTRUM, CRSF, "
                                                 "FPORT, FPORT2, SBUS and DSM the 11-bit value (DSM with --dsm 1024 "
                                                 "the 10-bit one, as linkscope-dump shows it), IBUS and ST24 12 bits, GHST 12 "
                                                 "bits for channels 1-4 and 8 for the rest; XBUS, RJ01, EXBUS and SUMH 16 bits. "
                                                 "A 0 goes as the zero word, which "
                                                 "carries no value, on the window's families but SPEKTRUM channels 2 "
                                                 "and up, where it is position 0. NORDAX takes --wire only."),
                                  QStringLiteral("W1,W2,..."));
    const QCommandLineOption channels(optionNames("channels"),
                                      QStringLiteral("Channels the frames carry, as 1-16 or 16: a frame carries its "
                                                     "channels from 1 on, up to the highest listed (default: the "
                                                     "values given, else the family's default): %1.").arg(channelList()),
                                      QStringLiteral("list"));
    const QCommandLineOption sweep(QStringLiteral("sweep"),
                                   QStringLiteral("Move every channel in a triangle between 1000 and 2000 µs (NORDAX: "
                                                  "words 1 to 4863), each a 16th of the period behind the one "
                                                  "before. The period is 4 s unless given as --sweep=seconds "
                                                  "(0.01 to 10,000,000)."),
                                   QStringLiteral("seconds"));
    const QCommandLineOption rate(optionNames("rate"),
                                  QStringLiteral("Frames per second, or max: the frames of the default rate, sent "
                                                 "without waiting (at once to a file or pipe, as fast as the line "
                                                 "takes them to a port). Default: %1; a replay's records without "
                                                 "times 100. CRSF, GHST and IBUS receivers vary: give the rate of "
                                                 "yours. Frames that fall due while the sender cannot run (a "
                                                 "stopped process, a busy machine) are skipped and counted, not "
                                                 "sent in a burst.").arg(rateDefaults()),
                                  QStringLiteral("hz"));
    const QCommandLineOption count(optionNames("count"),
                                   QStringLiteral("Stop after this many frames sent."), QStringLiteral("frames"));
    const QCommandLineOption duration(optionNames("duration"),
                                      QStringLiteral("Stop after this many seconds."), QStringLiteral("seconds"));
    const QCommandLineOption failsafe(QStringLiteral("failsafe-after"),
                                      QStringLiteral("Live frames for this long, then failsafe: %1.")
                                          .arg(failsafeList()),
                                      QStringLiteral("seconds"));
    const QCommandLineOption dropoutEvery(QStringLiteral("dropout-every"),
                                          QStringLiteral("Send nothing for --dropout-for every this many seconds."),
                                          QStringLiteral("seconds"));
    const QCommandLineOption dropoutFor(QStringLiteral("dropout-for"),
                                        QStringLiteral("How long each dropout lasts (default 500)."),
                                        QStringLiteral("ms"));
    const QCommandLineOption corrupt(QStringLiteral("corrupt"),
                                     QStringLiteral("Share (0-1) of the frames that get one bit flipped after the bytes "
                                                    "that tell their family and length (HOTT: type, status and count; "
                                                    "NORDAX: the first two; MPX, MPX_V2, SPEKTRUM, XBUS: the first; "
                                                    "CRSF, FPORT2, IBUS: two; GHST, SRXL2, ST24: three; EXBUS: six; "
                                                    "FPORT: its content, stuffed again; RJ01: its Mode B frame, so "
                                                    "that both checks fail), so that their CRC or checksum fails. "
                                                    "SBUS, DSM and SUMH have no checksum, and a flipped value bit "
                                                    "cannot be told from a real value: SBUS frames get an end byte "
                                                    "SBUS never sends, DSM frames a channel id named twice, SUMH "
                                                    "frames a byte 19 other than 0x00."),
                                     QStringLiteral("share"));
    const QCommandLineOption dsm(QStringLiteral("dsm"),
                                 QStringLiteral("DSM's form: 2048 (default; DSMX, 11-bit positions, every 11 ms) or "
                                                "1024 (DSM2, 10-bit positions, every 22 ms). More than 7 channels "
                                                "take two frames in turn."),
                                 QStringLiteral("form"));
    const QCommandLineOption chunk(QStringLiteral("chunk"),
                                   QStringLiteral("Write each frame in pieces of this many bytes."),
                                   QStringLiteral("bytes"));
    const QCommandLineOption chunkGap(QStringLiteral("chunk-gap"),
                                      QStringLiteral("Time between the pieces of a frame (default 1)."),
                                      QStringLiteral("ms"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Makes the random choices repeatable; the summary of a run that "
                                                 "damages frames names the seed used."),
                                  QStringLiteral("n"));
    const QCommandLineOption answer(QStringLiteral("answer"),
                                    QStringLiteral("Play the flight controller on a wire the receiver polls "
                                                   "(families with polls: %1; EXBUS: its telemetry requests): listen "
                                                   "on the port and answer each poll 0.6 ms after the read that "
                                                   "brought it, as firmware answers within 0.5 to 2 ms, until "
                                                   "--duration, --count answers or Ctrl-C.").arg(answerList()));
    const QCommandLineOption replay(QStringLiteral("replay"),
                                    QStringLiteral("Send what a file holds: a raw capture (linkscope-dump --write) "
                                                   "or a hex dump frame by frame at --rate, linkscope-dump's jsonl "
                                                   "records at their times (blank lines skipped), or a Saleae CSV "
                                                   "export at its own byte timing. The file (- for standard input) is read as it "
                                                   "is sent."),
                                    QStringLiteral("file"));
    const QCommandLineOption input(QStringLiteral("input"),
                                   QStringLiteral("Read the --replay file as raw bytes, a hex dump or a Saleae CSV "
                                                  "export: raw, hex or saleae (default: told by its content)."),
                                   QStringLiteral("form"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Replay a jsonl file or CSV export this many times as fast "
                                                  "(default 1)."),
                                   QStringLiteral("factor"));
    const QCommandLineOption loop(QStringLiteral("loop"), QStringLiteral("Replay the file again and again."));
    const QCommandLineOption baud(optionNames("baud"),
                                  QStringLiteral("Baud rate of the port (default: the family's, 115200 for a "
                                                 "replay); any rate the driver takes."),
                                  QStringLiteral("rate"));
    const QCommandLineOption line(QStringLiteral("line"),
                                  QStringLiteral("Data bits, parity and stop bits of the port, as 8N1, 8E2 or 8O1 "
                                                 "(default: the family's, 8N1 for a replay)."),
                                  QStringLiteral("bits"));
    const QCommandLineOption quiet(optionNames("quiet"),
                                   QStringLiteral("No summary on standard error."));
    const QCommandLineOption noLowLatency(QStringLiteral("no-low-latency"),
                                          QStringLiteral("Leave the port's low-latency mode as it is (by default it "
                                                         "is set while the port is open, and put back on close)."));
    const QList<QCommandLineOption> taken{family, us, wire, channels, sweep, rate, count, duration, failsafe,
                                          dropoutEvery, dropoutFor, corrupt, dsm, chunk, chunkGap, seed, answer,
                                          replay, input, speed, loop, baud, line, quiet, noLowLatency};
    parser.addOptions(taken);

    // --sweep takes its period only as --sweep=seconds, as optional values go.
    QStringList arguments = givenArguments;
    for (int i = 1; i < arguments.size() && arguments[i] != QLatin1String("--"); ++i) {
        if (arguments[i] == QLatin1String("--sweep"))
            arguments[i] = QStringLiteral("--sweep=4");
    }
    if (!parser.parse(arguments))
        usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        QString help = parser.helpText();
        help.replace(QLatin1String("--sweep <seconds>  "), QLatin1String("--sweep[=<seconds>]"));
        printAndExit(help);
    }
    answerHelpAndVersion(parser);
    const QString repeated = repeatedOptionError(parser, taken);
    if (!repeated.isEmpty())
        usageError(repeated);

    SendOptions options;
    const QStringList targets = parser.positionalArguments();
    if (targets.size() != 1)
        usageError(targets.isEmpty() ? QStringLiteral("no target given: a serial port, or - for standard output")
                                     : QStringLiteral("give exactly one target"));
    options.target = targets.first();
    if (options.target.isEmpty())
        usageError(QStringLiteral("the target is empty: give a serial port, or - for standard output"));

    const auto need = [&](const QCommandLineOption &option, const QCommandLineOption &needed, const char *why) {
        if (parser.isSet(option) && !parser.isSet(needed))
            usageError(QStringLiteral("--%1 %2").arg(option.names().last(), QLatin1String(why)));
    };
    need(speed, replay, "applies to --replay only");
    need(input, replay, "applies to --replay only");
    need(loop, replay, "applies to --replay only");
    need(dropoutFor, dropoutEvery, "needs --dropout-every");
    need(chunkGap, chunk, "needs --chunk");

    if (parser.isSet(answer)) {
        for (const QCommandLineOption *own : {&us, &wire, &channels, &sweep, &failsafe, &corrupt, &dsm, &replay, &rate,
                                              &dropoutEvery, &chunk}) {
            if (parser.isSet(*own))
                usageError(QStringLiteral("--%1 shapes what a receiver sends; --answer only answers its polls")
                               .arg(own->names().last()));
        }
        if (!parser.isSet(family))
            usageError(QStringLiteral("--answer needs --family: the family whose polls it answers (%1)").arg(answerList()));
        options.family = familyNamed(parser.value(family));
        if (!options.family)
            usageError(QStringLiteral("unknown family '%1' (%2)").arg(parser.value(family), familyNames()));
        if (!options.family->answer)
            usageError(QStringLiteral("%1 has no polls to answer; --answer answers %2")
                           .arg(QLatin1String(options.family->recordName), answerList()));
        if (options.target == QLatin1String("-"))
            usageError(QStringLiteral("--answer listens on a serial port and answers there; give one, not -"));
        options.answer = true;
        options.line = options.family->line;
    } else if (parser.isSet(replay)) {
        options.replayPath = parser.value(replay);
        if (options.replayPath.isEmpty())
            usageError(QStringLiteral("--replay needs a file name"));
        for (const QCommandLineOption *own : {&us, &wire, &channels, &sweep, &failsafe, &corrupt, &dsm}) {
            if (parser.isSet(*own))
                usageError(QStringLiteral("--%1 shapes generated frames; --replay sends the file's as they are")
                               .arg(own->names().last()));
        }
        if (parser.isSet(input) && !CaptureReader::inputFromName(parser.value(input), options.input))
            usageError(QStringLiteral("unknown input form '%1' (raw, hex or saleae)").arg(parser.value(input)));
        // Which families a raw capture or hex dump holds, to send it frame by
        // frame, and the line they run at.
        options.findReplayFamily = !parser.isSet(family) || parser.value(family).trimmed().toLower() == QLatin1String("auto");
        options.lineGiven = parser.isSet(baud) || parser.isSet(line);
        if (!options.findReplayFamily) {
            QString error;
            if (!familiesFromList(parser.value(family), options.replayFamilies, error))
                usageError(error);
            if (!sharedLineSettings(options.replayFamilies, options.line) && !parser.isSet(baud) && !parser.isSet(line))
                usageError(QStringLiteral("the families given run at different line settings; give --baud and --line"));
        }
        options.loop = parser.isSet(loop);
        if (parser.isSet(speed))
            options.speed = readNumber(QStringLiteral("speed"), parser.value(speed), 0.001, true, 1000, "times");
        options.rate = 100;
    } else {
        if (!parser.isSet(family))
            usageError(QStringLiteral("give --family (%1), or --replay with a file").arg(familyNames()));
        options.family = familyNamed(parser.value(family));
        if (!options.family)
            usageError(QStringLiteral("unknown family '%1' (%2)").arg(parser.value(family), familyNames()));
        const FamilyDescriptor &traits = *options.family;
        options.rate = 1000 / traits.periodMs;
        options.line = traits.line;
        if (parser.isSet(dsm)) {
            if (options.family != familyNamed(QStringLiteral("dsm")))
                usageError(QStringLiteral("--dsm applies to --family dsm only"));
            const QString form = parser.value(dsm);
            if (form != QLatin1String("1024") && form != QLatin1String("2048"))
                usageError(QStringLiteral("bad DSM form '%1': give 1024 or 2048").arg(form));
            options.variant = form.toInt();
            // DSM2's 1024 form goes every 22 ms.
            if (options.variant == 1024)
                options.rate = 1000.0 / 22;
        }
        if (traits.maxChannels == 0 && (parser.isSet(us) || parser.isSet(wire) || parser.isSet(channels) || parser.isSet(sweep)))
            usageError(QStringLiteral("%1 carries no channels: its frames are a sensor's values; give no --us, --wire, "
                                      "--channels or --sweep").arg(QLatin1String(traits.recordName)));
        if (parser.isSet(us) && parser.isSet(wire))
            usageError(QStringLiteral("give --us or --wire, not both"));
        if (parser.isSet(sweep) && (parser.isSet(us) || parser.isSet(wire)))
            usageError(QStringLiteral("--sweep sets every channel; give no --us or --wire with it"));
        if (parser.isSet(us) && !traits.hasMicroseconds())
            usageError(QStringLiteral("%1 has no public µs scale; give its words with --wire")
                           .arg(QLatin1String(traits.recordName)));
        // DSM 1024's values are 10-bit positions, as linkscope-dump shows
        // them; the frames are made from 11-bit ones.
        const bool tenBits = options.variant == 1024 && parser.isSet(wire);
        if (parser.isSet(us) || parser.isSet(wire))
            options.wire = readChannels(traits, parser.value(parser.isSet(us) ? us : wire), parser.isSet(us),
                                        tenBits ? 0x03FF : -1);
        if (tenBits) {
            for (int &value : options.wire)
                value *= 2;
        }

        int channelCount = traits.fixedChannels;
        if (parser.isSet(channels)) {
            if (traits.fixedChannels)
                usageError(QStringLiteral("%1 always carries %2 channels; --channels is for the families whose "
                                          "count varies").arg(QLatin1String(traits.recordName)).arg(traits.fixedChannels));
            ChannelList listed;
            QString error;
            if (!ChannelList::parse(parser.value(channels), listed, error))
                usageError(QStringLiteral("--channels: %1").arg(error));
            channelCount = listed.chosen().last();
            if (channelCount > traits.maxChannels)
                usageError(QStringLiteral("--channels %1 lies outside 1 to %2 channels")
                               .arg(parser.value(channels)).arg(traits.maxChannels));
            if (options.wire.size() > channelCount)
                usageError(QStringLiteral("--channels %1, but %2 values given").arg(channelCount)
                               .arg(options.wire.size()));
        } else if (!channelCount) {
            channelCount = options.wire.isEmpty() ? traits.defaultChannels : options.wire.size();
        }
        while (options.wire.size() < channelCount)
            options.wire << centreWire(traits, options.wire.size());

        if (parser.isSet(sweep)) {
            options.sweep = true;
            // Shorter than a frame period would be no sweep one could see.
            options.sweepPeriod = readNumber(QStringLiteral("sweep"), parser.value(sweep), 0.01, true,
                                             longestSeconds, "seconds");
        }
        if (parser.isSet(failsafe))
            options.failsafeAfter = readNumber(QStringLiteral("failsafe-after"), parser.value(failsafe), 0, true,
                                               longestSeconds, "seconds");
        if (parser.isSet(corrupt))
            options.corrupt = readNumber(QStringLiteral("corrupt"), parser.value(corrupt), 0, true, 1, "");
    }

    if (parser.isSet(rate) && parser.value(rate).trimmed() == QLatin1String("max"))
        options.unpaced = true;
    else if (parser.isSet(rate))
        options.rate = readNumber(QStringLiteral("rate"), parser.value(rate), 0.001, true, 1e6, "frames per second");
    if (parser.isSet(count))
        options.count = readWhole(QStringLiteral("count"), parser.value(count), 1, Q_INT64_C(1) << 62, "frames");
    if (parser.isSet(duration))
        options.duration = readNumber(QStringLiteral("duration"), parser.value(duration), 0, false, longestSeconds,
                                      "seconds");
    if (parser.isSet(dropoutEvery)) {
        options.dropoutEvery = readNumber(QStringLiteral("dropout-every"), parser.value(dropoutEvery), 0, false,
                                          longestSeconds, "seconds");
        if (parser.isSet(dropoutFor))
            options.dropoutFor = readNumber(QStringLiteral("dropout-for"), parser.value(dropoutFor), 0, false,
                                            longestSeconds * 1000, "ms") / 1000;
        if (options.dropoutFor >= options.dropoutEvery)
            usageError(QStringLiteral("a dropout of %1 ms every %2 s leaves no time to send")
                           .arg(number(options.dropoutFor * 1000), number(options.dropoutEvery)));
    }
    if (parser.isSet(chunk)) {
        options.chunk = int(readWhole(QStringLiteral("chunk"), parser.value(chunk), 1, 1 << 20, "bytes"));
        if (parser.isSet(chunkGap))
            options.chunkGap = readNumber(QStringLiteral("chunk-gap"), parser.value(chunkGap), 0, true,
                                          longestSeconds * 1000, "ms") / 1000;
    }
    if (parser.isSet(seed))
        options.seed = quint32(readWhole(QStringLiteral("seed"), parser.value(seed), 0, 0xFFFFFFFFu, ""));
    else
        options.seed = QRandomGenerator::system()->generate();
    if (parser.isSet(baud))
        options.line.baud = qint32(readWhole(QStringLiteral("baud"), parser.value(baud), 1, 0x7FFFFFFF, "baud"));
    if (parser.isSet(line) && !parseLineFrame(parser.value(line), options.line))
        usageError(QStringLiteral("--line takes data bits 5-8, parity N, E or O and stop bits 1 or 2, as 8N1 or "
                                  "8E2, not '%1'").arg(parser.value(line)));
    options.baud = options.line.baud;
    options.quiet = parser.isSet(quiet);
    options.lowLatency = !parser.isSet(noLowLatency);
    return options;
}
