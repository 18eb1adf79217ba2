// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedview/decoderstate.h"

quint8 lastPacketType = 0;
qint16 channelValues[channelValueCount] = {};
quint16 wordScratch = 0;
