// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/family.h"

#include <cmath>

int sweepWire(const FamilyDescriptor &family, int channel, double share)
{
    if (!family.hasMicroseconds())
        return 1 + int(std::lround(share * 4862));
    return family.wireFor(channel, 1000 + int(std::lround(share * 1000)));
}

int centreWire(const FamilyDescriptor &family, int channel)
{
    return family.hasMicroseconds() ? family.wireFor(channel, 1500) : 2432;
}
