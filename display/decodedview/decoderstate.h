// SPDX-License-Identifier: GPL-3.0-or-later
// What the decoder keeps from one packet to the next, for the whole process.
#ifndef LINKSCOPE_DECODERSTATE_H
#define LINKSCOPE_DECODERSTATE_H

#include <QtGlobal>

constexpr int channelValueCount = 17;

// Type byte of the chunk decoded last, recognised or not.
extern quint8 lastPacketType;
// Latest value of each channel, shared by all packet families.
extern qint16 channelValues[channelValueCount];
// Word in which two packet bytes are joined, the earlier one high.
extern quint16 wordScratch;

#endif
