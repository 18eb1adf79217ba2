// SPDX-License-Identifier: GPL-3.0-or-later
// What of the DSM unit other units and the tests use: its forms, scale and
// frames.
#ifndef LINKSCOPE_FAMILYDSM_H
#define LINKSCOPE_FAMILYDSM_H

#include "decode/families/familytable.h"

// The forms, as FrameRequest::variant and AssembledFrame::variant give them.
constexpr int dsm1024 = 1024;
constexpr int dsm2048 = 2048;
// The forms as FamilyDescriptor::fits gives them, a bit each.
constexpr unsigned dsmForm1024 = 1;
constexpr unsigned dsmForm2048 = 2;

// µs of an 11-bit position (twice a 10-bit one), truncated toward zero.
int dsmMicroseconds(int position);
// The smallest position that shows as us.
int dsmPosition(int us);
QByteArray dsmFrame(const FrameRequest &request);

#endif
