// SPDX-License-Identifier: GPL-3.0-or-later
// CRSF's frames besides channels and link statistics: the flight
// controller's telemetry (GPS, vario, battery, barometer, attitude, flight
// mode) and the frames with an extended header (device and parameter
// frames, commands, MSP), read into a frame's telemetry values.
#ifndef LINKSCOPE_FAMILIES_CRSFTELEMETRY_H
#define LINKSCOPE_FAMILIES_CRSFTELEMETRY_H

#include <QByteArray>

struct FrameReading;

// Names the type and reads its values, the payload's size never passed: a
// payload too short for its fields is named, flagged too_short and left
// raw. A command whose own CRC fails clears crcOk. False where type is none
// of these, so that the caller names it by its number.
bool readCrsfTelemetry(quint8 type, const char *payload, int size, FrameReading &reading);

// For sending: the type and payload of kind (0 … crsfTelemetryKinds − 1),
// its values moving with index.
constexpr int crsfTelemetryKinds = 14;
QByteArray crsfTelemetryPayload(int kind, qint64 index, quint8 &type);

#endif
