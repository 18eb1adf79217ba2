// SPDX-License-Identifier: GPL-3.0-or-later
// What linkscope-send adds to the family table: the values a sweep moves
// through and the centre a channel not given sits at.
#ifndef LINKSCOPE_SEND_FAMILY_H
#define LINKSCOPE_SEND_FAMILY_H

#include "decode/families/familytable.h"

// A sweep moves 1000 to 2000 µs; NORDAX, without a scale, moves its word
// from 1 to 4863, either side of 2432, which the window shows as 0.
int sweepWire(const FamilyDescriptor &family, int channel, double share);
// 1500 µs, or NORDAX's word 2432.
int centreWire(const FamilyDescriptor &family, int channel);

#endif
