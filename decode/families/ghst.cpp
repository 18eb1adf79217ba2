// SPDX-License-Identifier: GPL-3.0-or-later
// GHST (ImmersionRC Ghost): 0x82, length 0x0C, type, four 12-bit primary
// channels and four 8-bit aux channels (or link figures), CRC-8/DVB-S2.
// The flight controller's telemetry comes the other way, addressed 0x89:
// battery, GPS, compass and barometer, ten payload bytes, little-endian.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 address = 0x82;
constexpr quint8 downlinkAddress = 0x89;
constexpr quint8 lengthByte = 0x0C;
constexpr int frameBytes = 14;
constexpr int primaries = 4;

const char *const typeNames[2][4] = {
    {"RC_5TO8_OLD", "RC_9TO12_OLD", "RC_13TO16_OLD", "RC_RSSI_OLD"},
    {"RC_5TO8", "RC_9TO12", "RC_13TO16", "RC_RSSI"},
};

int ghstLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    return quint8(data[1]) == lengthByte ? frameBytes : 0;
}

bool ghstCheck(const char *data, int length)
{
    return crc8DvbS2(data + 2, length - 3) == quint8(data[length - 1]);
}

int primaryUs(int v, bool legacy)
{
    return legacy ? (((5 * v) >> 2) - 430) / 4 + 988 : v / 4 + 988;
}

int auxUs(int x, bool legacy)
{
    return legacy ? 5 * x - 108 + 988 : 4 * x + 988;
}

using Q = TelemetryValue::Quantity;

qint64 u16(const char *p)
{
    return quint8(p[0]) | quint8(p[1]) << 8;
}

qint64 i16(const char *p)
{
    return qint16(quint16(u16(p)));
}

qint64 i32(const char *p)
{
    return qint32(quint32(u16(p)) | quint32(u16(p + 2)) << 16);
}

void readPack(const char *p, Telemetry &t)
{
    t.number("voltage_v", "V", Q::BatteryVoltage, u16(p), 2);
    t.number("current_a", "A", Q::Current, u16(p + 2), 2);
    t.number("consumed_mah", "mAh", Q::Consumed, 10 * u16(p + 4));
    t.number("rx_voltage_v", "V", Q::ReceiverVoltage, quint8(p[6]), 1);
    t.flag("disarmed", p[7] & 0x01);
}

void readGpsPrimary(const char *p, Telemetry &t)
{
    t.number("latitude_deg", "°", Q::Latitude, i32(p), 7);
    t.number("longitude_deg", "°", Q::Longitude, i32(p + 4), 7);
    t.number("altitude_m", "m", Q::Altitude, i16(p + 8));
}

void readGpsSecondary(const char *p, Telemetry &t)
{
    t.number("speed_ms", "m/s", Q::Speed, u16(p), 2);
    t.number("course_deg", "°", Q::Heading, u16(p + 2), 1);
    t.number("satellites", "", Q::Satellites, quint8(p[4]));
    t.number("home_distance_m", "m", Q::Distance, 10 * u16(p + 5));
    t.number("home_direction_deg", "°", Q::Heading, u16(p + 7), 1);
    t.flag("fix", p[9] & 0x01);
    t.flag("home", p[9] & 0x02);
}

void readMagBaro(const char *p, Telemetry &t)
{
    t.number("heading_deg", "°", Q::Heading, i16(p), 1);
    t.number("altitude_m", "m", Q::Altitude, i16(p + 2));
    t.number("vertical_speed_ms", "m/s", Q::VerticalSpeed, qint8(p[4]), 2);
    t.flag("mag", p[9] & 0x01);
    t.flag("baro", p[9] & 0x02);
    t.flag("vario", p[9] & 0x04);
}

// The frame is always 14 bytes: every type's ten payload bytes are there.
void readDownlink(quint8 type, const char *payload, FrameReading &reading)
{
    const struct
    {
        quint8 type;
        const char *name;
        void (*read)(const char *, Telemetry &);
    } kinds[] = {{0x23, "PACK", readPack},
                 {0x25, "GPS_PRIMARY", readGpsPrimary},
                 {0x26, "GPS_SECONDARY", readGpsSecondary},
                 {0x27, "MAGBARO", readMagBaro}};
    for (const auto &kind : kinds) {
        if (kind.type == type) {
            reading.type = kind.name;
            kind.read(payload, reading.telemetry);
            return;
        }
    }
    reading.type = typeByteText(type);
}

void ghstRead(const char *data, int, FrameReading &reading)
{
    const quint8 type = quint8(data[2]);
    if (quint8(data[0]) == downlinkAddress) {
        readDownlink(type, data + 3, reading);
        return;
    }
    const int series = type & 0xF0;
    const int group = type & 0x0F;
    if ((series != 0x10 && series != 0x30) || group > 3) {
        reading.type = typeByteText(type);
        return;
    }
    const bool legacy = series == 0x10;
    reading.type = typeNames[legacy ? 0 : 1][group];
    unpackLsbFirst(data + 3, primaries, 12, reading.wire);
    for (int k = 0; k < primaries; ++k)
        reading.us[k] = primaryUs(reading.wire[k], legacy);
    const char *aux = data + 9;
    if (group == 3) {
        reading.channels = primaries;
        reading.hasLink = true;
        reading.link.lq = quint8(aux[0]);
        reading.link.rssi1Dbm = -int(quint8(aux[1]));
        reading.link.rfMode = quint8(aux[2]);
        reading.link.txPower = quint8(aux[3]);
        // As CRSF's link statistics: LQ 0 is a receiver in failsafe.
        reading.failsafe = reading.link.lq == 0;
        return;
    }
    const int first = primaries + 4 * group;
    reading.channels = first + 4;
    for (int k = primaries; k < first; ++k)
        reading.wire[k] = reading.us[k] = FrameReading::noValue;
    for (int k = 0; k < 4; ++k) {
        reading.wire[first + k] = quint8(aux[k]);
        reading.us[first + k] = auxUs(quint8(aux[k]), legacy);
    }
}

} // namespace

FamilyDescriptor ghstFamily()
{
    FamilyIdentity identity("ghst", "GHST", {420000, 8, 'N', 1}, 4, "250 Hz; receivers vary");
    ChecksumFraming framing(QByteArray("\x82\x89", 2), ghstLength, ghstCheck);
    framing.shortCheck = true;
    FamilySending sending(
        8, 16,
        [](const FrameRequest &request) {
            // The aux channels go in turns of four: 5-8, 9-12, 13-16.
            const int groups = qBound(1, (request.wire.size() - primaries + 3) / 4, 3);
            const int group = int(request.index % groups);
            QByteArray frame;
            frame.append(char(address)).append(char(lengthByte)).append(char(0x30 + group));
            QVector<int> primary = request.wire.mid(0, primaries);
            while (primary.size() < primaries)
                primary << 2048; // 1500 µs
            packLsbFirst(frame, primary, 12);
            for (int k = 0; k < 4; ++k) {
                const int channel = primaries + 4 * group + k;
                frame.append(char(channel < request.wire.size() ? request.wire[channel] : 128));
            }
            frame.append(char(crc8DvbS2(frame.constData() + 2, frame.size() - 2)));
            return frame;
        },
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 3, random); });
    sending.wireMax = 0x0FFF;
    sending.channelWireMax = [](int channel) { return channel < primaries ? 0x0FFF : 0xFF; };
    sending.usRange = [](int channel) {
        return channel < primaries ? MicrosecondRange{988, 2011} : MicrosecondRange{988, 2008};
    };
    // Aux channels step by 4 µs: the nearest step.
    sending.wireFor = [](int channel, int us) { return channel < primaries ? (us - 988) * 4 : (us - 988 + 2) / 4; };
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent";
    // The flight controller's telemetry, each type's values moving with index.
    sending.telemetryKinds = 4;
    sending.telemetryFrame = [](int kind, qint64 index) {
        const int step = int(index % 20);
        static const quint8 typeOf[] = {0x23, 0x25, 0x26, 0x27};
        // Each field: its value and its bytes, little-endian.
        QVector<QPair<qint64, int>> fields;
        switch (kind) {
        case 0: // 16.80 V, 12.30 A, 1230 mAh, 5.0 V, armed
            fields = {{1680 - step, 2}, {1230 + step, 2}, {123 + step, 2}, {50, 1}, {0, 1}};
            break;
        case 1: // 52.5163000° N, 13.3777000° E, 34 m
            fields = {{525163000 + step, 4}, {133777000 - step, 4}, {34 + step, 2}};
            break;
        case 2: // 12.34 m/s, 270.5°, 9 satellites, 1230 m from home at 90.0°, fix and home
            fields = {{1234 + step, 2}, {2705, 2}, {9, 1}, {123, 2}, {900, 2}, {3, 1}};
            break;
        default: // heading 180.0°, 120 m, -15 cm/s, all three present
            fields = {{1800, 2}, {120 + step, 2}, {-15, 1}, {0, 4}, {7, 1}};
            break;
        }
        QByteArray frame;
        frame.append(char(downlinkAddress)).append(char(lengthByte)).append(char(typeOf[qBound(0, kind, 3)]));
        for (const auto &field : qAsConst(fields)) {
            for (int i = 0; i < field.second; ++i)
                frame.append(char(field.first >> (8 * i) & 0xFF));
        }
        frame = frame.leftJustified(frameBytes - 1, char(0));
        frame.append(char(crc8DvbS2(frame.constData() + 2, frame.size() - 2)));
        return frame;
    };
    // Each of the four once in Betaflight's 100 ms cycle.
    sending.telemetryPeriodMs = 100.0 / 4;
    return FamilyDescriptor(identity, framing, FamilyReading(ghstRead), sending);
}
