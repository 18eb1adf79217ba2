// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/familytable.h"

#include "decode/families/units.h"

#include <QRandomGenerator>

#include <algorithm>
#include <vector>

ChecksumFraming::ChecksumFraming(const QByteArray &startBytes, int (*frameLength)(const char *, int),
                                 bool (*check)(const char *, int))
{
    framing = ByChecksum;
    this->startBytes = startBytes;
    lengthAt = frameLength;
    checksumPasses = check;
}

GapFraming::GapFraming(int frameBytes, double gapMs, unsigned (*fits)(const char *))
{
    framing = ByGap;
    this->frameBytes = frameBytes;
    this->gapMs = gapMs;
    this->fits = fits;
}

FamilyDescriptor::FamilyDescriptor(const FamilyIdentity &identity, const ChecksumFraming &framing,
                                   const FamilyReading &reading, const FamilySending &sending)
    : FamilyIdentity(identity), FamilyFraming(static_cast<const FamilyFraming &>(framing)), FamilyReading(reading),
      FamilySending(sending)
{
}

FamilyDescriptor::FamilyDescriptor(const FamilyIdentity &identity, const GapFraming &framing,
                                   const FamilyReading &reading, const FamilySending &sending)
    : FamilyIdentity(identity), FamilyFraming(static_cast<const FamilyFraming &>(framing)), FamilyReading(reading),
      FamilySending(sending)
{
}

void FamilyDescriptor::open(const char *data, int length, FrameReading &reading) const
{
    reading.clearExtras();
    reading.family = recordName;
    reading.crcOk = check(data, length);
    reading.hasCheck = framing == ByChecksum;
    reading.failsafe = -1;
    reading.channels = 0;
}

void FamilyDescriptor::read(const char *data, int length, FrameReading &reading) const
{
    open(data, length, reading);
    reader(data, length, reading);
}

void FamilyDescriptor::readVariant(const char *data, int length, int form, FrameReading &reading) const
{
    open(data, length, reading);
    if (formReader)
        formReader(data, length, form, reading);
    else
        reader(data, length, reading);
}

QString familyRowFault(const FamilyDescriptor &row)
{
    QStringList faults;
    const auto need = [&faults](bool holds, const char *what) {
        if (!holds)
            faults << QString::fromUtf8(what);
    };
    need(row.name && *row.name && row.recordName && *row.recordName, "a name and a record name");
    need(row.line.baud > 0 && row.periodMs > 0, "a line and a period");
    if (row.framing == FamilyDescriptor::ByChecksum) {
        need(!row.startBytes.isEmpty() && row.lengthAt && row.checksumPasses, "start bytes, a length and a check");
        bool usual = true;
        for (char byte : row.usualStartBytes)
            usual = usual && row.startBytes.contains(byte);
        need(usual, "usual start bytes among its start bytes");
        need(row.frameBytes == 0 && row.gapMs == 0 && !row.fits && !row.agree && !row.agreeFrames && !row.alignment
                 && !row.ids && !row.follows && !row.slotBytes && !row.slotAt && !row.formReader,
             "nothing of the framing by gap");
    } else {
        need(row.frameBytes > 0 && row.gapMs > 0 && row.fits, "a frame length, a gap and rules a frame fits");
        need(!row.agree == !row.agreeFrames, "frames to agree on with agree, or neither");
        need(!row.slotAt == !row.slotBytes, "the size of telemetry slots with slotAt, or neither");
        need(row.usualStartBytes.isEmpty() && !row.lengthAt && !row.checksumPasses && !row.shortCheck
                 && row.longestSent == 0,
             "nothing of the framing by checksum");
    }
    need(row.reader, "a reader");
    need(!row.failsafeFramesApart || row.saysFailsafe, "a failsafe sign where failsafe frames stand apart");
    need(row.encode && row.corrupt, "an encoder and a way to damage a frame");
    // A family without channels (SmartPort, iBUS sensors) has none by default.
    need((row.maxChannels == 0 && row.defaultChannels == 0)
             || (row.defaultChannels >= 1 && row.defaultChannels <= row.maxChannels
                 && row.maxChannels <= FrameReading::maxChannels),
         "channel counts from 1 to at most the channels a frame reading holds, or none at all");
    need(row.fixedChannels == 0 || (row.fixedChannels == row.defaultChannels && row.fixedChannels == row.maxChannels),
         "a fixed channel count that is also the default and the most");
    need(row.wireMax > 0, "a largest wire value");
    need(!row.usRange == !row.wireFor, "a µs range with a wire value for it, or neither");
    need(!row.linkFrame == !(row.linkPeriodMs > 0), "a link frame with its period, or neither");
    need(!row.pollFrame == !(row.pollPeriodMs > 0), "a poll frame with its period, or neither");
    need(!row.telemetryFrame == !(row.telemetryKinds > 0), "telemetry frames with their kinds, or neither");
    return faults.join(QStringLiteral("; "));
}

namespace {

// Built once, on first use, from each unit's groups. A row that lacks
// something stops the program at once, not at the first frame that needs it.
const std::vector<FamilyDescriptor> &rows()
{
    static const std::vector<FamilyDescriptor> table = [] {
        std::vector<FamilyDescriptor> built{
            mpxFamily(),  mpx2Family(), nordaxFamily(), hottFamily(),   spektrumFamily(), crsfFamily(),
            ghstFamily(), ibusFamily(), fportFamily(),  fport2Family(), srxl2Family(),     sbusFamily(),
            dsmFamily(),  st24Family(), xbusFamily(),   rj01Family(),   exbusFamily(),     sumhFamily(),
            smartportFamily(), ibusSensorFamily(),
        };
        for (const FamilyDescriptor &row : built) {
            const QString fault = familyRowFault(row);
            if (!fault.isEmpty())
                qFatal("family table: the row of %s needs %s", row.name, qPrintable(fault));
        }
        return built;
    }();
    return table;
}

} // namespace

const QVector<const FamilyDescriptor *> &allFamilies()
{
    static const QVector<const FamilyDescriptor *> all = [] {
        QVector<const FamilyDescriptor *> list;
        for (const FamilyDescriptor &row : rows())
            list << &row;
        return list;
    }();
    return all;
}

const FamilyDescriptor *familyNamed(const QString &name)
{
    // The names people know these by: the protocol's own (SUMD), the
    // firmware's (ExpressLRS) or the older one (Spektrum SRXL).
    static const struct
    {
        const char *alias, *name;
    } aliases[] = {{"sumd", "hott"}, {"elrs", "crsf"}, {"srxl", "spektrum"}};
    QString lower = name.trimmed().toLower();
    for (const auto &entry : aliases) {
        if (lower == QLatin1String(entry.alias))
            lower = QLatin1String(entry.name);
    }
    for (const FamilyDescriptor *family : allFamilies()) {
        if (lower == QLatin1String(family->name) || lower == QString::fromLatin1(family->recordName).toLower())
            return family;
    }
    return nullptr;
}

QVector<const FamilyDescriptor *> defaultFamilies()
{
    QVector<const FamilyDescriptor *> list;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->srxl)
            list << family;
    }
    return list;
}

bool readSameBytes(const FamilyDescriptor *a, const FamilyDescriptor *b)
{
    const auto names = [](const FamilyDescriptor *one, const FamilyDescriptor *other) {
        return QString::fromLatin1(one->sameBytesAs).split(QLatin1Char(',')).contains(QLatin1String(other->name));
    };
    return a && b && a != b && (names(a, b) || names(b, a));
}

QVector<const FamilyDescriptor *> autoFamilies()
{
    QVector<const FamilyDescriptor *> list;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (std::none_of(list.cbegin(), list.cend(), [&](const FamilyDescriptor *earlier) {
                return readSameBytes(earlier, family);
            }))
            list << family;
    }
    return list;
}

QVector<const FamilyDescriptor *> familiesBeside(const FamilyDescriptor *family)
{
    QVector<const FamilyDescriptor *> list;
    for (const FamilyDescriptor *other : allFamilies()) {
        if (!readSameBytes(family, other))
            list << other;
    }
    return list;
}

QString familyNames()
{
    QStringList names;
    for (const FamilyDescriptor *family : allFamilies())
        names << QLatin1String(family->name);
    return names.join(QStringLiteral(", "));
}

bool familiesFromList(const QString &list, QVector<const FamilyDescriptor *> &families, QString &error)
{
    families.clear();
    const QStringList names = list.split(QLatin1Char(','));
    for (const QString &name : names) {
        const FamilyDescriptor *family = familyNamed(name);
        if (!family) {
            error = name.trimmed().isEmpty()
                ? QStringLiteral("an empty family name in '%1'").arg(list)
                : QStringLiteral("unknown family '%1' (%2)").arg(name.trimmed(), familyNames());
            return false;
        }
        for (const FamilyDescriptor *chosen : qAsConst(families)) {
            if (readSameBytes(chosen, family)) {
                error = QStringLiteral("%1 and %2 cannot be looked for together: %3")
                            .arg(QLatin1String(chosen->name), QLatin1String(family->name),
                                 QLatin1String(family->framing == FamilyDescriptor::ByGap
                                                       || chosen->framing == FamilyDescriptor::ByGap
                                                   ? "their frames start with the same byte, and one has no check "
                                                     "to tell them apart; give one of them"
                                                   : "their frames are the same bytes; give one of them"));
                return false;
            }
        }
        if (!families.contains(family))
            families << family;
    }
    return true;
}

bool readFrame(const char *data, int length, FrameReading &reading)
{
    if (length < 1)
        return false;
    for (const FamilyDescriptor *family : allFamilies()) {
        if (family->srxl && family->startBytes.contains(data[0]) && family->frameLength(data, length) == length) {
            family->read(data, length, reading);
            return true;
        }
    }
    return false;
}

bool sharedLineSettings(const QVector<const FamilyDescriptor *> &families, LineSettings &line)
{
    if (families.isEmpty())
        return false;
    line = families.first()->line;
    for (const FamilyDescriptor *family : families) {
        if (family->line != line)
            return false;
    }
    return true;
}

void flipBitAfter(QByteArray &frame, int first, QRandomGenerator &random)
{
    const int bit = int(random.bounded(quint32((frame.size() - first) * 8)));
    frame[first + bit / 8] = char(quint8(frame[first + bit / 8]) ^ (1 << (bit % 8)));
}
