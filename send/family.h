// SPDX-License-Identifier: GPL-3.0-or-later
// What linkscope-send knows of each family: its names, usual frame rate,
// channel count, and how a channel's µs become the value on the wire.
#ifndef LINKSCOPE_SEND_FAMILY_H
#define LINKSCOPE_SEND_FAMILY_H

#include <QString>

enum class Family { Mpx, MpxV2, Nordax, Hott, Spektrum };

struct FamilyTraits
{
    Family family;
    const char *name;      // as the window shows it
    const char *shortName; // as --family takes it
    double defaultRate;    // frames per second
    const char *rateNote;  // why that rate, for --help
    int fixedChannels;     // 0: as many as given, up to maxChannels
    int defaultChannels;
    int maxChannels;
    int wireMax;           // largest value --wire takes
};

const FamilyTraits &traitsOf(Family family);
// mpx, mpx2, nordax, hott, spektrum, or the window's names, in any case.
bool familyFromName(const QString &name, Family &family);

// NORDAX has none: its words go as given.
bool hasMicroseconds(Family family);
// The µs channel (0-based) can carry; only Spektrum's channel 1 differs.
bool microsecondRange(Family family, int channel, int &lowest, int &highest);
// The wire value for us, which must lie in the range.
int wireFor(Family family, int us);

// A sweep moves 1000 to 2000 µs; NORDAX, without a scale, moves its word
// from 1 to 4863, either side of 2432, which the window shows as 0.
int sweepWire(Family family, double share);

#endif
