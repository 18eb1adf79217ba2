// SPDX-License-Identifier: GPL-3.0-or-later
// What a frame tells besides channels: a short list of named values, each
// with its unit and the quantity it measures, and where a frame asks or
// answers on a shared wire, which of the two it does and for which sensor.
// Family units fill it; records, --watch, the plot and pairing read it
// without knowing the family.
#ifndef LINKSCOPE_TELEMETRY_H
#define LINKSCOPE_TELEMETRY_H

#include <QtGlobal>

#include <string>

struct TelemetryValue
{
    enum Kind : quint8 {
        Number, // scaled / 10^decimals, in unit
        Id,     // an id, address or version, shown in hex with digits digits
        Code,   // a number with a name (label) where it has one, else shown in hex
        Flag,   // 0 or 1, shown as false or true
        Text,   // bytes in the store, shown as a string
        Bytes,  // bytes in the store, shown in hex
    };
    // What a value measures, so that a lane or a column can gather it from
    // any family; its unit says the scale.
    enum Quantity : quint8 {
        Other,
        BatteryVoltage,
        ReceiverVoltage,
        Current,
        Consumed, // mAh drawn
        Remaining, // % of the battery or fuel
        Altitude,
        VerticalSpeed,
        Speed,
        Heading, // a direction in degrees: heading, course, home direction
        Attitude,
        Latitude,
        Longitude,
        Distance,
        Satellites,
        Temperature,
        Rpm,
        Rssi,
    };

    // No initializers, so that a frame's empty list costs nothing to make;
    // Telemetry sets every field of a value it adds.
    const char *name;  // the record's key, its unit last: "voltage_v"
    const char *unit;  // as a person reads it: "V"; "" where none
    Kind kind;
    Quantity quantity;
    quint8 decimals;   // Number: digits after the point; Id: hex digits
    quint8 size;       // Text, Bytes: how many bytes in the store
    quint16 at;        // Text, Bytes: where in the store
    qint64 scaled;     // Number, Id, Code, Flag
    const char *label; // Code: the name, nullptr where it has none

    // Number: the value in its unit.
    double value() const;
};

class Telemetry
{
public:
    // On a wire that several devices share: a poll asks (for sensor),
    // a reply answers the poll before it, an echo repeats its poll byte for
    // byte (the first of two is the poll, the second the reply).
    enum Role : quint8 { NoRole, Poll, Reply, Echo };
    static constexpr int maxValues = 32;
    static constexpr int storeBytes = 128;

    Role role = NoRole;
    int sensor = -1; // the sensor a poll asks or a reply gives, as its frame names it; -1 where none

    void clear()
    {
        role = NoRole;
        sensor = -1;
        count = 0;
        stored = 0;
    }
    int size() const { return count; }
    const TelemetryValue &at(int i) const { return values[i]; }
    // The value of that name, nullptr where the frame gave none.
    const TelemetryValue *find(const char *name) const;
    // The bytes of a Text or Bytes value.
    const char *data(const TelemetryValue &value) const { return store + value.at; }

    // Each adds a value; one that does not fit is left out, never written
    // past the end.
    void number(const char *name, const char *unit, TelemetryValue::Quantity quantity, qint64 scaled, int decimals = 0);
    void id(const char *name, quint32 value, int digits = 2);
    void code(const char *name, int value, const char *label);
    void flag(const char *name, bool on);
    void text(const char *name, const char *data, int size);
    void bytes(const char *name, const char *data, int size);

    // name=value pairs, space-separated, as text and CSV records show them;
    // text in double quotes.
    void appendPairs(std::string &out) const;
    // A JSON object.
    void appendJson(std::string &out) const;

private:
    TelemetryValue *add(const char *name, TelemetryValue::Kind kind);
    bool keep(TelemetryValue &value, const char *data, int size);
    void appendValue(std::string &out, const TelemetryValue &value, bool json) const;

    int count = 0;
    int stored = 0;
    TelemetryValue values[maxValues];
    char store[storeBytes];
};

// What the frames read before told, for frames whose meaning depends on
// them (an iBUS sensor's measurement, whose type an earlier reply named):
// small keys to small values, the oldest forgotten first. One per line.
class TelemetryMemory
{
public:
    void remember(quint32 key, qint32 value);
    // False where nothing is remembered under key.
    bool recall(quint32 key, qint32 &value) const;
    void clear() { count = next = 0; }

private:
    static constexpr int capacity = 64;
    quint32 keys[capacity];
    qint32 values[capacity];
    int count = 0, next = 0;
};

#endif
