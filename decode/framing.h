// SPDX-License-Identifier: GPL-3.0-or-later
// Where frames begin and how long they are: the type byte and the first bytes
// after it tell the length each family's frame must have.
#ifndef LINKSCOPE_FRAMING_H
#define LINKSCOPE_FRAMING_H

#include <QByteArray>

// The longest frame: HoTT with 255 channels.
constexpr int longestFrame = 2 * 255 + 5;
// The longest frame real receivers send: SUMD carries at most 32 channels.
constexpr int longestSentFrame = 2 * 32 + 5;

// HoTT's status byte in a frame the receiver sends while it has no signal.
constexpr quint8 hottFailsafeStatus = 0x81;

// The lengths a frame starting at data may have, written to lengths (at most
// two: 0xA2 is MPX_V2 at 35 bytes or Spektrum at 18). Returns how many there
// are, 0 when no frame starts here, or -1 when more bytes are needed to tell.
int candidateFrameLengths(const char *data, int available, int lengths[2]);

// A HoTT frame sent in failsafe (status byte 0x81), which the window does
// not show.
bool isFailsafeFrame(const char *data, int length);

// chunk is exactly one frame of a family the window shows, by type byte and
// length; its CRC is not looked at.
bool isWholeFrame(const QByteArray &chunk);

#endif
