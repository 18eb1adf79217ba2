// SPDX-License-Identifier: GPL-3.0-or-later
// Whole frames of every family built from channel words, and the µs of each
// family turned into the value on the wire: the inverse of microseconds.h.
#ifndef LINKSCOPE_ENCODERS_H
#define LINKSCOPE_ENCODERS_H

#include "decode/microseconds.h"

#include <QByteArray>
#include <QVector>


// The zero word carries no value, so 800 µs goes as word 1.
constexpr MicrosecondRange mpxRange{800, 2199};
// Eighths of a µs in 16 bits; 0 µs goes as word 1, not the zero word.
constexpr MicrosecondRange hottRange{0, 8191};
// Channel id 0 at position 0 is the word 0x0000, which carries no value,
// and no other position shows as 916 µs: channel 1 starts at 917.
MicrosecondRange spektrumRange(int id);

// The word, or position, nearest the µs asked for among those that show as
// it; never 0 where another one would do. us must lie in the range.
quint16 mpxWord(int us);
quint16 hottWord(int us);
int spektrumPosition(int us);

// Spektrum words name their channel; bit 15 set says the word carries none.
quint16 spektrumWord(int id, int position);
constexpr quint16 spektrumUnusedWord = 0xFFFF;
constexpr int spektrumWordsPerFrame = 7;
// Bit 1 of the mode byte: the receiver has a signal.
constexpr quint8 spektrumSignalBit = 0x02;

// The body followed by its CRC-16/XMODEM, high byte first.
QByteArray withFrameCrc(QByteArray body);

// 12 words as MPX (0xA1), 16 as MPX_V2 (0xA2).
QByteArray mpxFrame(const QVector<quint16> &words);
// Version 1, the mode byte, 12 words.
QByteArray nordaxFrame(quint8 mode, const QVector<quint16> &words);
// Up to 255 words; failsafe sends status 0x81 instead of 1.
QByteArray hottFrame(const QVector<quint16> &words, bool failsafe);
// Type 0xA5, the mode byte, 7 words made with spektrumWord.
QByteArray spektrumFrame(quint8 mode, const QVector<quint16> &words);

#endif
