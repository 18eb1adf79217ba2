// SPDX-License-Identifier: GPL-3.0-or-later
// FlySky's iBUS sensor bus (115200 8N1, one wire): LEN CMD|address [data]
// CHK, LEN the whole length, CHK 0xFFFF less the sum of the bytes before
// it. The receiver discovers (0x80), asks a sensor's type (0x90) and asks
// for a measurement (0xA0); the sensor answers in kind. A measurement does
// not carry its type: it is read in the unit of the type the sensor gave
// before, where the line's memory holds it.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 discover = 0x80;
constexpr quint8 getType = 0x90;
constexpr quint8 measure = 0xA0;
constexpr int requestBytes = 4;
// Memory keys: this family's tag over the address.
constexpr quint32 memoryTag = 0x1B5E0000;

using Q = TelemetryValue::Quantity;

struct SensorType
{
    quint8 type;
    const char *name;
    const char *key;
    const char *unit;
    Q quantity;
    int decimals;
    qint32 offset;  // subtracted from the raw value before scaling
    bool isSigned;  // of a 2-byte value
    int size;       // the value's bytes, as the sensor sends them
    qint32 example; // a plausible raw value, for sending
};

const SensorType types[] = {
    {0x01, "TEMPERATURE", "temperature_c", "°C", Q::Temperature, 1, 400, false, 2, 650},
    {0x02, "RPM", "rpm", "", Q::Rpm, 0, 0, false, 2, 12000},
    {0x03, "EXTERNAL_VOLTAGE", "voltage_v", "V", Q::BatteryVoltage, 2, 0, false, 2, 1680},
    {0x05, "CURRENT", "current_a", "A", Q::Current, 2, 0, false, 2, 1230},
    {0x06, "FUEL", "fuel", "", Q::Remaining, 0, 0, false, 2, 67},
    {0x08, "HEADING", "heading", "", Q::Heading, 0, 0, false, 2, 270},
    {0x09, "CLIMB", "climb", "", Q::VerticalSpeed, 0, 0, true, 2, -150},
    {0x15, "ARMED", "armed", "", Q::Other, 0, 0, false, 2, 1},
    {0x16, "FLIGHT_MODE", "flight_mode", "", Q::Other, 0, 0, false, 2, 3},
    {0x41, "PRESSURE", "pressure", "", Q::Other, 0, 0, false, 2, 1013},
    {0x80, "GPS_LAT", "latitude", "", Q::Latitude, 0, 0, true, 4, 525163000},
    {0x81, "GPS_LON", "longitude", "", Q::Longitude, 0, 0, true, 4, 133777000},
    {0x82, "GPS_ALT", "gps_altitude", "", Q::Altitude, 0, 0, true, 4, 12345},
    {0x83, "ALT", "altitude", "", Q::Altitude, 0, 0, true, 4, 6789},
};
constexpr int typeCount = int(sizeof types / sizeof *types);

const SensorType *typeNamed(int type)
{
    for (const SensorType &entry : types) {
        if (entry.type == type)
            return &entry;
    }
    return nullptr;
}

quint16 sum(const char *data, int count)
{
    unsigned total = 0;
    for (int i = 0; i < count; ++i)
        total += quint8(data[i]);
    return quint16(0xFFFF - total);
}

// Requests are 4 bytes; replies to get type and measure 6, or 8 for a
// 4-byte measurement.
bool fits(quint8 length, quint8 command)
{
    switch (command & 0xF0) {
    case discover: return length == requestBytes;
    case getType: return length == requestBytes || length == 6;
    case measure: return length == requestBytes || length == 6 || length == 8;
    default: return false;
    }
}

int sensorLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    return fits(quint8(data[0]), quint8(data[1])) ? quint8(data[0]) : 0;
}

bool sensorCheck(const char *data, int length)
{
    return length >= requestBytes
        && sum(data, length - 2) == quint16(quint8(data[length - 2]) | quint8(data[length - 1]) << 8);
}

void readTypeReply(const char *data, int address, FrameReading &reading)
{
    const quint8 type = quint8(data[2]);
    const SensorType *entry = typeNamed(type);
    reading.telemetry.code("sensor_type", type, entry ? entry->name : nullptr);
    reading.telemetry.number("value_bytes", "", Q::Other, quint8(data[3]));
    if (reading.memory && reading.crcOk)
        reading.memory->remember(memoryTag | quint32(address), type);
}

void readMeasurement(const char *data, int length, int address, FrameReading &reading)
{
    const bool wide = length == 8;
    const quint32 raw = quint32(quint8(data[2])) | quint32(quint8(data[3])) << 8
        | (wide ? quint32(quint8(data[4])) << 16 | quint32(quint8(data[5])) << 24 : 0);
    qint32 type = -1;
    const SensorType *entry = reading.memory && reading.memory->recall(memoryTag | quint32(address), type)
        ? typeNamed(type) : nullptr;
    if (type >= 0)
        reading.telemetry.code("sensor_type", type, entry ? entry->name : nullptr);
    if (!entry) {
        reading.telemetry.number("value", "", Q::Other, wide ? qint64(qint32(raw)) : qint64(raw));
        return;
    }
    const qint64 value = wide ? qint64(qint32(raw)) : entry->isSigned ? qint64(qint16(raw)) : qint64(raw);
    reading.telemetry.number(entry->key, entry->unit, entry->quantity, value - entry->offset, entry->decimals);
}

void sensorRead(const char *data, int length, FrameReading &reading)
{
    // Shorter than a request: nothing to read, and no frame.
    if (length < requestBytes)
        return;
    const quint8 command = quint8(data[1]) & 0xF0;
    const int address = quint8(data[1]) & 0x0F;
    Telemetry &telemetry = reading.telemetry;
    telemetry.sensor = address;
    telemetry.number("address", "", Q::Other, address);
    const bool request = length == requestBytes;
    telemetry.role = command == discover ? Telemetry::Echo : request ? Telemetry::Poll : Telemetry::Reply;
    // An echo is a poll or its reply, as the pairing tells.
    reading.pollKey = command == discover || request ? address : -1;
    reading.replyKey = command == discover || !request ? address : -1;
    if (command == discover) {
        reading.type = "DISCOVER";
    } else if (command == getType) {
        reading.type = request ? "TYPE_REQUEST" : "TYPE_REPLY";
        if (!request)
            readTypeReply(data, address, reading);
    } else {
        reading.type = request ? "MEASURE_REQUEST" : "MEASURE_REPLY";
        if (!request)
            readMeasurement(data, length, address, reading);
    }
}

QByteArray withSum(QByteArray frame)
{
    const quint16 check = sum(frame.constData(), frame.size());
    return frame.append(char(check & 0xFF)).append(char(check >> 8));
}

QByteArray request(quint8 command, int address)
{
    return withSum(QByteArray(1, char(requestBytes)) + char(command | address));
}

QByteArray measurement(const SensorType &entry, int address, qint64 index)
{
    const qint32 raw = entry.example + qint32(index % 20) * (entry.isSigned ? -1 : 1);
    QByteArray frame;
    frame.append(char(entry.size + 4)).append(char(measure | address));
    for (int i = 0; i < entry.size; ++i)
        frame.append(char(quint32(raw) >> (8 * i) & 0xFF));
    return withSum(frame);
}

// The receiver's index-th request: it discovers addresses 1 to 15, asks
// each its type, then asks them for measurements in turn. Not listening,
// it asks every address, as a receiver does until one answers.
QByteArray receiverRequest(qint64 index)
{
    const int address = 1 + int(index % 15);
    const quint8 command = index < 15 ? discover : index < 30 ? getType : measure;
    return request(command, address);
}

// A flight controller's sensors at addresses 1 to 14, one type each in the
// order of the table; address 15 has none and stays silent.
QByteArray sensorAnswer(const char *data, int length, qint64 index)
{
    if (length != requestBytes || !sensorCheck(data, length))
        return QByteArray();
    const int address = quint8(data[1]) & 0x0F;
    const quint8 command = quint8(data[1]) & 0xF0;
    if (address < 1 || address > typeCount)
        return QByteArray();
    const SensorType &entry = types[address - 1];
    switch (command) {
    case discover: return QByteArray(data, length);
    case getType: return withSum(QByteArray(1, char(6)) + char(getType | address) + char(entry.type) + char(entry.size));
    case measure: return measurement(entry, address, index);
    default: return QByteArray();
    }
}

} // namespace

FamilyDescriptor ibusSensorFamily()
{
    FamilyIdentity identity("ibus-sensor", "IBUS_SENSOR", {115200, 8, 'N', 1}, 7,
                            "a request every 7 ms, a reply after those a sensor answers");
    ChecksumFraming framing(QByteArray("\x04\x06\x08", 3), sensorLength, sensorCheck);
    // The sum's high byte hardly varies over so few bytes.
    framing.shortCheck = true;
    FamilySending sending(
        0, 0,
        // Without channels, a frame is the receiver's request; the sensors'
        // side is --answer's, or --telemetry's unasked.
        [](const FrameRequest &request) { return receiverRequest(request.index); },
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 2, random); });
    sending.failsafeNote = "carries no channels";
    // The receiver's requests (discover, get type, measure) at address 1,
    // the type reply and a measurement of each sensor type, each at its
    // address as --answer gives them (1 to 14).
    sending.telemetryKinds = 3 + 2 * typeCount;
    sending.telemetryFrame = [](int kind, qint64 index) {
        if (kind < 3)
            return request(quint8(discover + 0x10 * kind), 1);
        const int address = 1 + (kind - 3) % typeCount;
        const SensorType &entry = types[address - 1];
        if (kind < 3 + typeCount)
            return withSum(QByteArray(1, char(6)) + char(getType | address) + char(entry.type) + char(entry.size));
        return measurement(entry, address, index);
    };
    // Unasked, the sensors' types, then their measurements in turn.
    sending.telemetryFrom = 3;
    sending.answer = sensorAnswer;
    FamilyReading reading(sensorRead);
    reading.telemetryFields = true;
    return FamilyDescriptor(identity, framing, reading, sending);
}
