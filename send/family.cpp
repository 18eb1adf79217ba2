// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/family.h"

#include "decode/encoders.h"

#include <cmath>

namespace {

// Rates the receivers send at: Multiplex frames every 14 ms with 12
// channels and every 21 ms with 16, HoTT's SUMD every 10 ms, Spektrum every
// 11 ms. NORDAX has no published rate.
const FamilyTraits traits[] = {
    {Family::Mpx, "MPX", "mpx", 1000.0 / 14, "every 14 ms", 12, 12, 12, 0xFFFF},
    {Family::MpxV2, "MPX_V2", "mpx2", 1000.0 / 21, "every 21 ms", 16, 16, 16, 0xFFFF},
    {Family::Nordax, "NORDAX", "nordax", 100, "no published rate", 12, 12, 12, 0xFFFF},
    {Family::Hott, "HOTT", "hott", 100, "every 10 ms", 0, 8, 32, 0xFFFF},
    {Family::Spektrum, "SPEKTRUM", "spektrum", 1000.0 / 11, "every 11 ms", 0, 7, 12, 0x07FF},
};

} // namespace

const FamilyTraits &traitsOf(Family family)
{
    return traits[int(family)];
}

bool familyFromName(const QString &name, Family &family)
{
    const QString lower = name.toLower();
    for (const FamilyTraits &entry : traits) {
        if (lower == QLatin1String(entry.shortName) || lower == QString::fromLatin1(entry.name).toLower()) {
            family = entry.family;
            return true;
        }
    }
    return false;
}

bool hasMicroseconds(Family family)
{
    return family != Family::Nordax;
}

bool microsecondRange(Family family, int channel, int &lowest, int &highest)
{
    MicrosecondRange range{0, -1};
    switch (family) {
    case Family::Mpx:
    case Family::MpxV2:
        range = mpxRange;
        break;
    case Family::Hott:
        range = hottRange;
        break;
    case Family::Spektrum:
        range = spektrumRange(channel);
        break;
    case Family::Nordax:
        return false;
    }
    lowest = range.lowest;
    highest = range.highest;
    return true;
}

int wireFor(Family family, int us)
{
    switch (family) {
    case Family::Mpx:
    case Family::MpxV2:
        return mpxWord(us);
    case Family::Hott:
        return hottWord(us);
    case Family::Spektrum:
        return spektrumPosition(us);
    case Family::Nordax:
        break;
    }
    return us;
}

int sweepWire(Family family, double share)
{
    if (family == Family::Nordax)
        return 1 + int(std::lround(share * 4862));
    return wireFor(family, 1000 + int(std::lround(share * 1000)));
}
