// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/crsftelemetry.h"

#include "decode/families/packing.h"
#include "decode/families/framereading.h"

#include <QPair>

#include <initializer_list>

namespace {

using Q = TelemetryValue::Quantity;

constexpr quint8 extendedFrom = 0x28;
constexpr quint8 commandType = 0x32;
// Memory keys: this unit's tag over a parameter's origin and field index.
constexpr quint32 chunkTag = 0xC5F00000;

// A payload's fields in order, big-endian; the caller asks has() before
// taking, so nothing is read past its end.
struct Fields
{
    const char *p;
    int size;
    int at = 0;

    bool has(int n) const { return n <= size - at; }
    int left() const { return size - at; }
    quint32 u(int n)
    {
        quint32 value = 0;
        for (int i = 0; i < n; ++i)
            value = value << 8 | quint8(p[at++]);
        return value;
    }
    qint32 s(int n)
    {
        const quint32 value = u(n);
        return n == 1 ? qint8(value) : n == 2 ? qint16(value) : qint32(value);
    }
    // Text up to its NUL or the payload's end; false where no NUL ended it.
    bool text(const char *&start, int &length)
    {
        start = p + at;
        length = 0;
        while (at + length < size && p[at + length] != 0)
            ++length;
        const bool ended = at + length < size;
        at += length + (ended ? 1 : 0);
        return ended;
    }
};

const char *addressName(quint8 address)
{
    switch (address) {
    case 0x00: return "BROADCAST";
    case 0x10: return "USB";
    case 0xC0: return "CURRENT_SENSOR";
    case 0xC2: return "GPS";
    case 0xC8: return "FLIGHT_CONTROLLER";
    case 0xEA: return "HANDSET";
    case 0xEC: return "RECEIVER";
    case 0xEE: return "TX_MODULE";
    case 0xEF: return "ELRS_LUA";
    default: return nullptr;
    }
}

// CRC-8 with polynomial 0xBA, initial value 0: a command's own check.
quint8 crc8Ba(quint8 crc, const char *data, int count)
{
    for (int i = 0; i < count; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint8(crc & 0x80 ? (crc << 1) ^ 0xBA : crc << 1);
    }
    return crc;
}

bool readGps(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(15))
        return false;
    Telemetry &t = r.telemetry;
    t.number("latitude_deg", "°", Q::Latitude, f.s(4), 7);
    t.number("longitude_deg", "°", Q::Longitude, f.s(4), 7);
    t.number("groundspeed_kmh", "km/h", Q::Speed, f.u(2), 1);
    t.number("heading_deg", "°", Q::Heading, f.u(2), 2);
    t.number("altitude_m", "m", Q::Altitude, qint64(f.u(2)) - 1000);
    t.number("satellites", "", Q::Satellites, f.u(1));
    return true;
}

bool readVario(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(2))
        return false;
    r.telemetry.number("vertical_speed_ms", "m/s", Q::VerticalSpeed, f.s(2), 2);
    return true;
}

bool readBattery(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(8))
        return false;
    Telemetry &t = r.telemetry;
    t.number("voltage_v", "V", Q::BatteryVoltage, f.u(2), 1);
    t.number("current_a", "A", Q::Current, f.u(2), 1);
    t.number("capacity_mah", "mAh", Q::Consumed, f.u(3));
    t.number("remaining_pct", "%", Q::Remaining, f.u(1));
    return true;
}

// Top bit clear: decimetres over -1000 m; set: metres. The vertical speed
// after it is packed and shown as sent.
bool readBaro(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(2))
        return false;
    const quint32 raw = f.u(2);
    if (raw & 0x8000)
        r.telemetry.number("altitude_m", "m", Q::Altitude, raw & 0x7FFF);
    else
        r.telemetry.number("altitude_m", "m", Q::Altitude, qint64(raw) - 10000, 1);
    if (f.has(1))
        r.telemetry.number("vertical_speed_packed", "", Q::Other, f.s(1));
    return true;
}

bool readAttitude(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(6))
        return false;
    for (const char *name : {"pitch_rad", "roll_rad", "yaw_rad"})
        r.telemetry.number(name, "rad", Q::Attitude, f.s(2), 4);
    return true;
}

bool readFlightMode(quint8, Fields &f, FrameReading &r)
{
    const char *text = nullptr;
    int length = 0;
    f.text(text, length);
    r.telemetry.text("flight_mode", text, length);
    return true;
}

bool readNothing(quint8, Fields &, FrameReading &)
{
    return true;
}

bool readBytes(quint8, Fields &f, FrameReading &r)
{
    if (f.left() > 0)
        r.telemetry.bytes("bytes", f.p + f.at, f.left());
    return true;
}

bool readDeviceInfo(quint8, Fields &f, FrameReading &r)
{
    const char *name = nullptr;
    int length = 0;
    if (!f.text(name, length) || !f.has(14))
        return false;
    Telemetry &t = r.telemetry;
    t.text("name", name, length);
    t.id("serial", f.u(4), 8);
    t.id("hardware_version", f.u(4), 8);
    t.id("software_version", f.u(4), 8);
    t.number("field_count", "", Q::Other, f.u(1));
    t.number("parameter_version", "", Q::Other, f.u(1));
    return true;
}

const char *parameterTypeName(int type)
{
    static const char *const names[] = {"UINT8", "INT8",   "UINT16", "INT16", nullptr, nullptr, nullptr,
                                        nullptr, "FLOAT",  "SELECT", "STRING", "FOLDER", "INFO", "COMMAND"};
    return type < int(sizeof names / sizeof *names) ? names[type] : nullptr;
}

// The value after the label, as far as the chunk holds it.
void readParameterValue(int type, Fields &f, Telemetry &t)
{
    const char *text = nullptr;
    int length = 0;
    switch (type) {
    case 0:
    case 1:
        if (f.has(1))
            t.number("value", "", Q::Other, type == 0 ? qint64(f.u(1)) : f.s(1));
        break;
    case 2:
    case 3:
        if (f.has(2))
            t.number("value", "", Q::Other, type == 2 ? qint64(f.u(2)) : f.s(2));
        break;
    case 8: {
        // Value, minimum, maximum, default (i32 each), then the decimal point.
        if (!f.has(4))
            break;
        const int decimals = f.has(17) ? quint8(f.p[f.at + 16]) : 0;
        t.number("value", "", Q::Other, f.s(4), decimals);
        break;
    }
    case 9:
        f.text(text, length);
        t.text("options", text, length);
        if (f.has(1))
            t.number("value", "", Q::Other, f.u(1));
        break;
    case 10:
    case 12:
        f.text(text, length);
        t.text(type == 10 ? "value" : "info", text, length);
        break;
    case 11:
        break;
    case 13:
        if (!f.has(2))
            break;
        t.number("status", "", Q::Other, f.u(1));
        t.number("timeout", "", Q::Other, f.u(1));
        f.text(text, length);
        t.text("info", text, length);
        break;
    default:
        if (f.left() > 0)
            t.bytes("data", f.p + f.at, f.left());
        break;
    }
}

// An entry too long for one frame comes in chunks, the first with the
// field's header, the others only its bytes: a chunk is told a later one
// where the line's memory holds one more chunk still to come for its field.
bool readParameterEntry(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(2))
        return false;
    Telemetry &t = r.telemetry;
    const quint8 origin = quint8(f.p[1]);
    const quint32 field = f.u(1), chunks = f.u(1);
    const quint32 key = chunkTag | quint32(origin) << 8 | field;
    qint32 before = -1;
    const bool later = r.memory && r.memory->recall(key, before) && before == qint32(chunks) + 1;
    if (r.memory && r.crcOk)
        r.memory->remember(key, chunks > 0 ? qint32(chunks) : -1);
    t.number("field_index", "", Q::Other, field);
    t.number("chunks_remaining", "", Q::Other, chunks);
    if (later) {
        t.bytes("chunk", f.p + f.at, f.left());
        return true;
    }
    if (!f.has(2))
        return false;
    t.number("parent", "", Q::Other, f.u(1));
    const quint32 type = f.u(1);
    t.code("value_type", int(type & 0x7F), parameterTypeName(int(type & 0x7F)));
    t.flag("hidden", type & 0x80);
    const char *label = nullptr;
    int length = 0;
    f.text(label, length);
    t.text("label", label, length);
    readParameterValue(int(type & 0x7F), f, t);
    return true;
}

bool readParameterRead(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(2))
        return false;
    r.telemetry.number("field_index", "", Q::Other, f.u(1));
    r.telemetry.number("chunk_index", "", Q::Other, f.u(1));
    return true;
}

bool readParameterWrite(quint8, Fields &f, FrameReading &r)
{
    if (!f.has(2))
        return false;
    r.telemetry.number("field_index", "", Q::Other, f.u(1));
    r.telemetry.bytes("value", f.p + f.at, f.left());
    return true;
}

const char *commandName(quint8 realm, quint8 command)
{
    if (realm == 0x10 && command == 0x01)
        return "BIND";
    if (realm == 0x0A && command == 0x70)
        return "SPEED_PROPOSAL";
    if (realm == 0x0A && command == 0x71)
        return "SPEED_ANSWER";
    return nullptr;
}

// Realm, command, data, and a CRC-8 (poly 0xBA) over the type and all
// before it: a command whose own check fails is no command.
bool readCommand(quint8 type, Fields &f, FrameReading &r)
{
    if (!f.has(3))
        return false;
    Telemetry &t = r.telemetry;
    const char typeByte = char(type);
    const quint8 crc = crc8Ba(crc8Ba(0, &typeByte, 1), f.p, f.size - 1);
    const bool ok = crc == quint8(f.p[f.size - 1]);
    const quint8 realm = quint8(f.u(1)), command = quint8(f.u(1));
    t.code("realm", realm, realm == 0x10 ? "RECEIVER" : realm == 0x0A ? "GENERAL" : nullptr);
    t.code("command", command, commandName(realm, command));
    Fields data{f.p, f.size - 1, f.at};
    if (realm == 0x0A && command == 0x70 && data.has(5)) {
        t.number("port", "", Q::Other, data.u(1));
        t.number("baud", "", Q::Other, data.u(4));
    } else if (realm == 0x0A && command == 0x71 && data.has(2)) {
        t.number("port", "", Q::Other, data.u(1));
        t.number("ok", "", Q::Other, data.u(1));
    }
    if (data.left() > 0)
        t.bytes("data", data.p + data.at, data.left());
    t.flag("inner_crc_ok", ok);
    r.crcOk = r.crcOk && ok;
    return true;
}

struct TypeEntry
{
    quint8 type;
    const char *name;
    bool (*read)(quint8 type, Fields &f, FrameReading &r);
};

const TypeEntry typeEntries[] = {
    {0x02, "GPS", readGps},
    {0x07, "VARIO", readVario},
    {0x08, "BATTERY", readBattery},
    {0x09, "BARO_ALTITUDE", readBaro},
    {0x1E, "ATTITUDE", readAttitude},
    {0x21, "FLIGHT_MODE", readFlightMode},
    {0x28, "DEVICE_PING", readNothing},
    {0x29, "DEVICE_INFO", readDeviceInfo},
    {0x2B, "PARAMETER_ENTRY", readParameterEntry},
    {0x2C, "PARAMETER_READ", readParameterRead},
    {0x2D, "PARAMETER_WRITE", readParameterWrite},
    {commandType, "COMMAND", readCommand},
    {0x7A, "MSP_REQUEST", readBytes},
    {0x7B, "MSP_RESPONSE", readBytes},
    {0x7C, "MSP_WRITE", readBytes},
    {0x7D, "DISPLAYPORT", readBytes},
};

} // namespace

bool readCrsfTelemetry(quint8 type, const char *payload, int size, FrameReading &reading)
{
    const TypeEntry *entry = nullptr;
    for (const TypeEntry &candidate : typeEntries) {
        if (candidate.type == type)
            entry = &candidate;
    }
    const bool extended = type >= extendedFrom;
    if (!entry && !extended)
        return false;
    reading.type = entry ? entry->name : typeByteText(type);
    Telemetry &t = reading.telemetry;
    Fields f{payload, size};
    bool whole = !extended || f.has(2);
    if (extended && whole) {
        const quint8 destination = quint8(f.u(1)), origin = quint8(f.u(1));
        t.code("destination", destination, addressName(destination));
        t.code("origin", origin, addressName(origin));
    }
    if (whole)
        whole = (entry ? entry->read : readBytes)(type, f, reading);
    if (!whole) {
        t.clear();
        t.flag("too_short", true);
    }
    return true;
}

QByteArray crsfTelemetryPayload(int kind, qint64 index, quint8 &type)
{
    const int step = int(index % 20);
    QByteArray out;
    // Each field: its value and its bytes, big-endian.
    const auto put = [&out](std::initializer_list<QPair<qint64, int>> fields) {
        for (const auto &field : fields) {
            for (int i = field.second - 1; i >= 0; --i)
                out.append(char(field.first >> (8 * i) & 0xFF));
        }
    };
    const auto addresses = [&](quint8 destination, quint8 origin) { put({{destination, 1}, {origin, 1}}); };
    switch (kind) {
    case 0: // 52.5163° N, 13.3777° E, 45.6 km/h, 270.50°, 34 m, 9 satellites
        type = 0x02;
        put({{525163000 + step, 4}, {133777000 - step, 4}, {456, 2}, {27050, 2}, {1034 + step, 2}, {9, 1}});
        break;
    case 1: // -1.50 m/s
        type = 0x07;
        put({{-150 + step, 2}});
        break;
    case 2: // 16.8 V, 12.3 A, 1234 mAh, 67 %
        type = 0x08;
        put({{168 - step / 4, 2}, {123, 2}, {1234 + step, 3}, {67 - step / 4, 1}});
        break;
    case 3: // 34.5 m, vertical speed 5 as packed
        type = 0x09;
        put({{10345 + step, 2}, {5, 1}});
        break;
    case 4: // pitch 0.1, roll -0.05, yaw 3.1415 rad
        type = 0x1E;
        put({{1000, 2}, {-500, 2}, {31415 - step * 100, 2}});
        break;
    case 5: // Betaflight's disarmed mark every other time
        type = 0x21;
        out = index % 2 ? QByteArray("ACRO*", 6) : QByteArray("ACRO", 5);
        break;
    case 6:
        type = 0x28;
        addresses(0xEE, 0xEA);
        break;
    case 7: // "ELRS TX", serial "ELRS", hardware 0, software 3.2.1, 12 fields
        type = 0x29;
        addresses(0xEA, 0xEE);
        out.append("ELRS TX", 8);
        put({{0x454C5253, 4}, {0, 4}, {0x00030201, 4}, {12, 1}, {0, 1}});
        break;
    case 8: // field 1, a select "Packet Rate" at its second option
        type = 0x2B;
        addresses(0xEA, 0xEE);
        put({{1, 1}, {0, 1}, {0, 1}, {9, 1}});
        out.append("Packet Rate", 12).append("50Hz;150Hz;250Hz", 17);
        put({{1, 1}});
        break;
    case 9:
        type = 0x2C;
        addresses(0xEE, 0xEA);
        put({{1, 1}, {0, 1}});
        break;
    case 10:
        type = 0x2D;
        addresses(0xEE, 0xEA);
        put({{1, 1}, {2, 1}});
        break;
    case 11: // the receiver, bind
    case 12: // general, a speed proposal: port 0 at 921600 baud
        type = commandType;
        addresses(0xEC, kind == 11 ? 0xEA : 0xC8);
        if (kind == 11)
            put({{0x10, 1}, {0x01, 1}});
        else
            put({{0x0A, 1}, {0x70, 1}, {0, 1}, {921600, 4}});
        out.append(char(crc8Ba(crc8Ba(0, "\x32", 1), out.constData(), out.size())));
        break;
    default: // an MSP request, as the handset sends it
        type = 0x7A;
        addresses(0xC8, 0xEA);
        put({{0x30, 1}, {0x00, 1}, {0x64, 1}});
        break;
    }
    return out;
}
