// SPDX-License-Identifier: GPL-3.0-or-later
// What FrSky's SmartPort and FPort's downlink share: the byte stuffing, the
// data frame (application id and value) and the sensors the ids name.
#ifndef LINKSCOPE_FAMILIES_FRSKY_H
#define LINKSCOPE_FAMILIES_FRSKY_H

#include <QByteArray>

class Telemetry;

constexpr quint8 frskyDelimiter = 0x7E;
constexpr quint8 frskyEscape = 0x7D;

// Takes want bytes of content from data, the stuffing taken out. Returns the
// bytes that took on the wire; 0 where a delimiter (0x7E) comes first, which
// no content holds; -1 while more bytes are needed. stuffingOk turns false
// where an escape is followed by a byte that stuffing never makes.
int frskyUnstuff(const char *data, int available, quint8 *content, int want, bool &stuffingOk);
// content with 0x7E and 0x7D stuffed.
QByteArray frskyStuffed(const QByteArray &content);

// The application id, the sensor it names and its value in units, from a
// data frame's six bytes: APPID (u16) and VALUE (u32), little-endian.
void readFrskyData(const quint8 *idAndValue, Telemetry &telemetry);
// A data frame's six bytes for kind (0 … frskySensorCount − 1), with a
// value that moves with index.
constexpr int frskySensorCount = 14;
QByteArray frskyDataFor(int kind, qint64 index);

#endif
