// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/families/telemetry.h"

#include <cstring>

namespace {

const char hexDigits[] = "0123456789abcdef";

// Digits by hand: the C library's would follow the locale's decimal comma.
void appendScaled(std::string &out, qint64 scaled, int decimals)
{
    char digits[32];
    int n = 0;
    quint64 magnitude = scaled < 0 ? 0 - quint64(scaled) : quint64(scaled);
    do {
        digits[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 || n <= decimals);
    if (scaled < 0)
        out += '-';
    while (n > 0) {
        if (n == decimals)
            out += '.';
        out += digits[--n];
    }
}

void appendHexNumber(std::string &out, quint64 value, int digits)
{
    out += "0x";
    static const char upper[] = "0123456789ABCDEF";
    int shown = digits;
    while (shown < 16 && value >> (4 * shown) != 0)
        ++shown;
    for (int i = shown - 1; i >= 0; --i)
        out += upper[value >> (4 * i) & 15];
}

void appendString(std::string &out, const char *data, int size, bool json)
{
    out += '"';
    for (int i = 0; i < size; ++i) {
        const quint8 byte = quint8(data[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += char(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += char(byte);
        } else {
            // JSON takes the byte as Latin-1, so that the line stays UTF-8.
            out += json ? "\\u00" : "\\x";
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 15];
        }
    }
    out += '"';
}

} // namespace

double TelemetryValue::value() const
{
    double v = double(scaled);
    for (int i = 0; i < decimals; ++i)
        v /= 10;
    return v;
}

const TelemetryValue *Telemetry::find(const char *name) const
{
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(values[i].name, name) == 0)
            return &values[i];
    }
    return nullptr;
}

TelemetryValue *Telemetry::add(const char *name, TelemetryValue::Kind kind)
{
    if (count >= maxValues)
        return nullptr;
    TelemetryValue &value = values[count++];
    value = TelemetryValue{name, "", kind, TelemetryValue::Other, 0, 0, 0, 0, nullptr};
    return &value;
}

void Telemetry::number(const char *name, const char *unit, TelemetryValue::Quantity quantity, qint64 scaled,
                       int decimals)
{
    if (TelemetryValue *value = add(name, TelemetryValue::Number)) {
        value->unit = unit;
        value->quantity = quantity;
        value->scaled = scaled;
        value->decimals = quint8(qBound(0, decimals, 18));
    }
}

void Telemetry::id(const char *name, quint32 number, int digits)
{
    if (TelemetryValue *value = add(name, TelemetryValue::Id)) {
        value->scaled = number;
        value->decimals = quint8(qBound(1, digits, 8));
    }
}

void Telemetry::code(const char *name, int number, const char *label)
{
    if (TelemetryValue *value = add(name, TelemetryValue::Code)) {
        value->scaled = number;
        value->label = label;
    }
}

void Telemetry::flag(const char *name, bool on)
{
    if (TelemetryValue *value = add(name, TelemetryValue::Flag))
        value->scaled = on ? 1 : 0;
}

bool Telemetry::keep(TelemetryValue &value, const char *data, int size)
{
    if (size < 0 || size > storeBytes - stored || size > 255)
        return false;
    value.at = quint16(stored);
    value.size = quint8(size);
    if (size > 0)
        std::memcpy(store + stored, data, size_t(size));
    stored += size;
    return true;
}

void Telemetry::text(const char *name, const char *data, int size)
{
    if (TelemetryValue *value = add(name, TelemetryValue::Text)) {
        if (!keep(*value, data, size))
            --count;
    }
}

void Telemetry::bytes(const char *name, const char *data, int size)
{
    if (TelemetryValue *value = add(name, TelemetryValue::Bytes)) {
        if (!keep(*value, data, size))
            --count;
    }
}

void Telemetry::appendValue(std::string &out, const TelemetryValue &value, bool json) const
{
    switch (value.kind) {
    case TelemetryValue::Number:
        appendScaled(out, value.scaled, value.decimals);
        break;
    case TelemetryValue::Id:
    case TelemetryValue::Code:
        if (value.kind == TelemetryValue::Code && value.label) {
            if (json)
                out += '"';
            out += value.label;
            if (json)
                out += '"';
            break;
        }
        if (json)
            out += '"';
        appendHexNumber(out, quint64(value.scaled) & 0xFFFFFFFFu, value.kind == TelemetryValue::Id ? value.decimals : 2);
        if (json)
            out += '"';
        break;
    case TelemetryValue::Flag:
        out += value.scaled ? "true" : "false";
        break;
    case TelemetryValue::Text:
        appendString(out, store + value.at, value.size, json);
        break;
    case TelemetryValue::Bytes:
        if (json)
            out += '"';
        for (int i = 0; i < value.size; ++i) {
            const quint8 byte = quint8(store[value.at + i]);
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 15];
        }
        if (json)
            out += '"';
        break;
    }
}

void Telemetry::appendPairs(std::string &out) const
{
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            out += ' ';
        out += values[i].name;
        out += '=';
        appendValue(out, values[i], false);
    }
}

void Telemetry::appendJson(std::string &out) const
{
    out += '{';
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            out += ',';
        out += '"';
        out += values[i].name;
        out += "\":";
        appendValue(out, values[i], true);
    }
    out += '}';
}

void TelemetryMemory::remember(quint32 key, qint32 value)
{
    for (int i = 0; i < count; ++i) {
        if (keys[i] == key) {
            values[i] = value;
            return;
        }
    }
    int slot = next;
    if (count < capacity) {
        slot = count++;
    } else {
        next = (next + 1) % capacity;
    }
    keys[slot] = key;
    values[slot] = value;
}

bool TelemetryMemory::recall(quint32 key, qint32 &value) const
{
    for (int i = 0; i < count; ++i) {
        if (keys[i] == key) {
            value = values[i];
            return true;
        }
    }
    return false;
}
