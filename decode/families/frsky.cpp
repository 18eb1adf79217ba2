// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/frsky.h"

#include "decode/families/telemetry.h"

namespace {

using Q = TelemetryValue::Quantity;

// The sensors by application id, with their units as Betaflight sends them.
// An id up to 15 above one is another instance of the same sensor.
struct Sensor
{
    quint16 id;
    const char *sensor;
    const char *name; // the value's key; nullptr: two values by the value's own bits (GPS)
    const char *unit;
    Q quantity;
    int decimals;
    bool isSigned;
    qint32 example; // a plausible raw value, for sending
};

const Sensor sensors[] = {
    {0x0100, "ALTITUDE", "altitude_m", "m", Q::Altitude, 2, true, 12345},
    {0x0110, "VARIO", "vertical_speed_ms", "m/s", Q::VerticalSpeed, 2, true, -150},
    {0x0200, "CURRENT", "current_a", "A", Q::Current, 1, false, 123},
    {0x0210, "VFAS", "voltage_v", "V", Q::BatteryVoltage, 2, false, 1680},
    {0x0400, "T1", "t1", "", Q::Other, 0, true, 1},
    {0x0410, "T2", "t2", "", Q::Other, 0, true, 2},
    {0x0500, "RPM", "rpm", "", Q::Rpm, 0, false, 12000},
    {0x0600, "FUEL", "fuel_pct", "%", Q::Remaining, 0, false, 67},
    {0x0800, "GPS", nullptr, "°", Q::Latitude, 7, false, 30000000},
    {0x0820, "GPS_ALT", "gps_altitude_m", "m", Q::Altitude, 2, true, 23456},
    {0x0830, "GPS_SPEED", "speed_kn", "kn", Q::Speed, 3, false, 21500},
    {0x0840, "COURSE", "course_deg", "°", Q::Heading, 2, false, 27050},
    {0xF101, "RSSI", "rssi", "", Q::Rssi, 0, false, 87},
    {0xF104, "RX_BATTERY", "rx_battery", "", Q::Other, 0, false, 52},
};
static_assert(sizeof sensors / sizeof *sensors == frskySensorCount, "one sending kind a sensor");

// The listed id itself, else the nearest below it within 16.
const Sensor *sensorFor(quint16 id)
{
    const Sensor *best = nullptr;
    for (const Sensor &sensor : sensors) {
        if (sensor.id == id)
            return &sensor;
        if (id > sensor.id && id - sensor.id < 16 && (!best || sensor.id > best->id))
            best = &sensor;
    }
    return best;
}

// Bit 31 longitude, bit 30 west or south, the low 30 bits degrees × 600000:
// to degrees × 1e7, rounded.
void readCoordinate(quint32 value, Telemetry &telemetry)
{
    const bool longitude = value & 0x80000000u;
    const qint64 magnitude = (qint64(value & 0x3FFFFFFF) * 100 + 3) / 6;
    const qint64 scaled = value & 0x40000000u ? -magnitude : magnitude;
    if (longitude)
        telemetry.number("longitude_deg", "°", Q::Longitude, scaled, 7);
    else
        telemetry.number("latitude_deg", "°", Q::Latitude, scaled, 7);
}

} // namespace

int frskyUnstuff(const char *data, int available, quint8 *content, int want, bool &stuffingOk)
{
    stuffingOk = true;
    int at = 0;
    for (int n = 0; n < want; ++n) {
        if (at >= available)
            return -1;
        quint8 byte = quint8(data[at++]);
        if (byte == frskyDelimiter)
            return 0;
        if (byte == frskyEscape) {
            if (at >= available)
                return -1;
            byte = quint8(data[at++]);
            if (byte == frskyDelimiter)
                return 0;
            stuffingOk = stuffingOk && (byte == (frskyDelimiter ^ 0x20) || byte == (frskyEscape ^ 0x20));
            byte ^= 0x20;
        }
        content[n] = byte;
    }
    return at;
}

QByteArray frskyStuffed(const QByteArray &content)
{
    QByteArray out;
    for (char byte : content) {
        if (quint8(byte) == frskyDelimiter || quint8(byte) == frskyEscape)
            out.append(char(frskyEscape)).append(char(quint8(byte) ^ 0x20));
        else
            out.append(byte);
    }
    return out;
}

void readFrskyData(const quint8 *bytes, Telemetry &telemetry)
{
    const quint16 id = quint16(bytes[0] | bytes[1] << 8);
    const quint32 value = quint32(bytes[2]) | quint32(bytes[3]) << 8 | quint32(bytes[4]) << 16 | quint32(bytes[5]) << 24;
    telemetry.id("app_id", id, 4);
    const Sensor *sensor = sensorFor(id);
    if (!sensor) {
        telemetry.number("value", "", Q::Other, value);
        return;
    }
    telemetry.code("sensor", sensor->id, sensor->sensor);
    if (id != sensor->id)
        telemetry.number("instance", "", Q::Other, id - sensor->id);
    if (!sensor->name)
        readCoordinate(value, telemetry);
    else
        telemetry.number(sensor->name, sensor->unit, sensor->quantity, sensor->isSigned ? qint64(qint32(value)) : qint64(value),
                         sensor->decimals);
}

QByteArray frskyDataFor(int kind, qint64 index)
{
    const Sensor &sensor = sensors[qBound(0, kind, frskySensorCount - 1)];
    quint32 value = quint32(sensor.example + qint32(index % 20) * (sensor.isSigned ? -1 : 1));
    // The GPS sensor takes turns: latitude, then longitude (bit 31).
    if (!sensor.name && index % 2)
        value |= 0x80000000u;
    QByteArray out;
    out.append(char(sensor.id & 0xFF)).append(char(sensor.id >> 8));
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char(value >> shift & 0xFF));
    return out;
}
