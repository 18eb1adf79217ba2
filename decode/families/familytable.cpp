// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/familytable.h"

#include "decode/families/units.h"

#include <QRandomGenerator>

#include <algorithm>

namespace {

// Built once, on first use, so that each unit fills its row by field name.
const QVector<FamilyDescriptor> &rows()
{
    static const QVector<FamilyDescriptor> table{
        mpxFamily(),  mpx2Family(), nordaxFamily(), hottFamily(),   spektrumFamily(), crsfFamily(),
        ghstFamily(), ibusFamily(), fportFamily(),  fport2Family(), srxl2Family(),     sbusFamily(),
        dsmFamily(),  st24Family(), xbusFamily(),   rj01Family(),   exbusFamily(),     sumhFamily(),
        smartportFamily(), ibusSensorFamily(),
    };
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
