// SPDX-License-Identifier: GPL-3.0-or-later
// Telemetry frames written from the published facts, with each value worked
// out by hand: every CRSF, GHST, SmartPort, FPort, iBUS sensor and SBUS2
// type and sensor reads as its name and its values in their units; unknown
// types are named by number, short payloads are flagged and left raw, bad
// stuffing and bad checks are FALSE; and the values print as records show them.
#include "decode/families/familytable.h"
#include "decode/families/framereading.h"

#include <QtTest>

class tst_Telemetry : public QObject
{
    Q_OBJECT

private slots:
    void handWritten_data();
    void handWritten();
    void printed_data();
    void printed();
};

namespace {

QByteArray be(qint64 value, int bytes)
{
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out += char(value >> (8 * i) & 0xFF);
    return out;
}

QByteArray le(qint64 value, int bytes)
{
    QByteArray out;
    for (int i = 0; i < bytes; ++i)
        out += char(value >> (8 * i) & 0xFF);
    return out;
}

quint8 crc8(const QByteArray &bytes, quint8 poly)
{
    quint8 crc = 0;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int b = 0; b < 8; ++b)
            crc = quint8(crc & 0x80 ? (crc << 1) ^ poly : crc << 1);
    }
    return crc;
}

QByteArray crsf(quint8 type, const QByteArray &payload)
{
    const QByteArray body = char(type) + payload;
    return QByteArray(1, char(0xC8)) + char(body.size() + 1) + body + char(crc8(body, 0xD5));
}

// A command: addresses, realm, command, data and the inner CRC-8 (0xBA)
// over the type and all of those.
QByteArray crsfCommand(const QByteArray &payload, bool spoilInner = false)
{
    const quint8 inner = quint8(crc8(char(0x32) + payload, 0xBA) ^ (spoilInner ? 0x01 : 0));
    return crsf(0x32, payload + char(inner));
}

QByteArray ghst(quint8 type, const QByteArray &payload)
{
    const QByteArray body = char(type) + payload.leftJustified(10, 0);
    return QByteArray("\x89\x0C", 2) + body + char(crc8(body, 0xD5));
}

quint8 frskySum(const QByteArray &bytes)
{
    int sum = 0;
    for (char byte : bytes) {
        sum += quint8(byte);
        sum = (sum & 0xFF) + (sum >> 8);
    }
    return quint8(0xFF - sum);
}

QByteArray stuffed(const QByteArray &content)
{
    QByteArray out;
    for (char byte : content)
        out += quint8(byte) == 0x7E || quint8(byte) == 0x7D ? QByteArray(1, 0x7D) + char(byte ^ 0x20) : QByteArray(1, byte);
    return out;
}

QByteArray sport(quint16 id, quint32 value)
{
    const QByteArray content = char(0x10) + le(id, 2) + le(value, 4);
    return stuffed(content + char(frskySum(content)));
}

QByteArray fportReply(quint8 prim, const QByteArray &six)
{
    const QByteArray content = QByteArray("\x08\x81", 2) + char(prim) + six;
    return stuffed(content + char(frskySum(content)));
}

QByteArray ibus(const QByteArray &body)
{
    int sum = 0;
    for (char byte : body)
        sum += quint8(byte);
    return body + le(0xFFFF - sum, 2);
}

QByteArray ibusType(int address, quint8 type, int size)
{
    return ibus(QByteArray(1, 6) + char(0x90 | address) + char(type) + char(size));
}

QByteArray ibusValue(int address, qint64 value, int size)
{
    return ibus(char(size + 4) + QByteArray(1, char(0xA0 | address)) + le(value, size));
}

const int none = Telemetry::NoRole, poll = Telemetry::Poll, reply = Telemetry::Reply, echo = Telemetry::Echo;

} // namespace

void tst_Telemetry::handWritten_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QByteArrayList>("before"); // frames read first on the same line
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("crcOk");
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("sensor");
    QTest::addColumn<QString>("values");

    const auto row = [](const char *name, const char *family, const QByteArray &frame, const char *type,
                        const char *values, int role = none, int sensor = -1, bool crcOk = true,
                        const QByteArrayList &before = {}) {
        QTest::newRow(name) << family << before << frame << type << crcOk << role << sensor << values;
    };

    // CRSF, big-endian.
    row("CRSF GPS", "crsf", crsf(0x02, be(525163000, 4) + be(-1275000, 4) + be(456, 2) + be(27050, 2) + be(1034, 2) + be(9, 1)),
        "GPS", "latitude_deg=52.5163000 longitude_deg=-0.1275000 groundspeed_kmh=45.6 heading_deg=270.50 altitude_m=34 "
               "satellites=9");
    row("CRSF VARIO", "crsf", crsf(0x07, be(-150, 2)), "VARIO", "vertical_speed_ms=-1.50");
    row("CRSF BATTERY", "crsf", crsf(0x08, be(168, 2) + be(123, 2) + be(1234, 3) + be(67, 1)), "BATTERY",
        "voltage_v=16.8 current_a=12.3 capacity_mah=1234 remaining_pct=67");
    row("CRSF BARO_ALTITUDE in decimetres", "crsf", crsf(0x09, be(10345, 2) + be(-5, 1)), "BARO_ALTITUDE",
        "altitude_m=34.5 vertical_speed_packed=-5");
    row("CRSF BARO_ALTITUDE at -1000 m", "crsf", crsf(0x09, be(0, 2)), "BARO_ALTITUDE", "altitude_m=-1000.0");
    row("CRSF BARO_ALTITUDE in metres", "crsf", crsf(0x09, be(0x8000 | 1200, 2)), "BARO_ALTITUDE", "altitude_m=1200");
    row("CRSF ATTITUDE", "crsf", crsf(0x1E, be(1000, 2) + be(-500, 2) + be(31415, 2)), "ATTITUDE",
        "pitch_rad=0.1000 roll_rad=-0.0500 yaw_rad=3.1415");
    row("CRSF FLIGHT_MODE disarmed", "crsf", crsf(0x21, QByteArray("ACRO*", 6)), "FLIGHT_MODE", "flight_mode=\"ACRO*\"");
    row("CRSF DEVICE_PING", "crsf", crsf(0x28, "\xEE\xEA"), "DEVICE_PING", "destination=TX_MODULE origin=HANDSET");
    row("CRSF DEVICE_INFO", "crsf",
        crsf(0x29, QByteArray("\xEA\xEE" "ELRS TX", 10) + be(0x454C5253, 4) + be(0, 4) + be(0x00030201, 4) + be(12, 1) + be(0, 1)),
        "DEVICE_INFO", "destination=HANDSET origin=TX_MODULE name=\"ELRS TX\" serial=0x454C5253 "
                       "hardware_version=0x00000000 software_version=0x00030201 field_count=12 parameter_version=0");
    const QByteArray select = QByteArray("\xEA\xEE\x01\x00\x00\x09" "Packet Rate", 18) + QByteArray("50Hz;150Hz", 11) + char(1);
    row("CRSF PARAMETER_ENTRY select", "crsf", crsf(0x2B, select), "PARAMETER_ENTRY",
        "destination=HANDSET origin=TX_MODULE field_index=1 chunks_remaining=0 parent=0 value_type=SELECT hidden=false "
        "label=\"Packet Rate\" options=\"50Hz;150Hz\" value=1");
    // Value 12.34: 1234 with the decimal point 2 after minimum, maximum, default.
    row("CRSF PARAMETER_ENTRY float, hidden", "crsf",
        crsf(0x2B, QByteArray("\xEA\xEE\x02\x00\x00\x88" "Rate", 11) + be(1234, 4) + be(0, 4) + be(5000, 4) + be(100, 4) + be(2, 1)),
        "PARAMETER_ENTRY", "destination=HANDSET origin=TX_MODULE field_index=2 chunks_remaining=0 parent=0 "
                           "value_type=FLOAT hidden=true label=\"Rate\" value=12.34");
    row("CRSF PARAMETER_ENTRY int16", "crsf", crsf(0x2B, QByteArray("\xEA\xEE\x03\x00\x01\x03" "Trim", 11) + be(-12, 2)),
        "PARAMETER_ENTRY", "destination=HANDSET origin=TX_MODULE field_index=3 chunks_remaining=0 parent=1 "
                           "value_type=INT16 hidden=false label=\"Trim\" value=-12");
    row("CRSF PARAMETER_ENTRY command", "crsf", crsf(0x2B, QByteArray("\xEA\xEE\x04\x00\x00\x0D" "Bind\0\x00\xC8" "", 13)),
        "PARAMETER_ENTRY", "destination=HANDSET origin=TX_MODULE field_index=4 chunks_remaining=0 parent=0 "
                           "value_type=COMMAND hidden=false label=\"Bind\" status=0 timeout=200 info=\"\"");
    // The second chunk of field 1 after the first: its bytes only.
    row("CRSF PARAMETER_ENTRY second chunk", "crsf", crsf(0x2B, QByteArray("\xEA\xEE\x01\x00" "Hz\0\x01", 8)),
        "PARAMETER_ENTRY", "destination=HANDSET origin=TX_MODULE field_index=1 chunks_remaining=0 chunk=487a0001", none,
        -1, true, {crsf(0x2B, QByteArray("\xEA\xEE\x01\x01\x00\x09" "Rate\0" "50Hz;150", 19))});
    row("CRSF PARAMETER_READ", "crsf", crsf(0x2C, QByteArray("\xEE\xEA\x01\x00", 4)), "PARAMETER_READ",
        "destination=TX_MODULE origin=HANDSET field_index=1 chunk_index=0");
    row("CRSF PARAMETER_WRITE", "crsf", crsf(0x2D, "\xEE\xEA\x01\x02"), "PARAMETER_WRITE",
        "destination=TX_MODULE origin=HANDSET field_index=1 value=02");
    row("CRSF COMMAND bind", "crsf", crsfCommand("\xEC\xEA\x10\x01"), "COMMAND",
        "destination=RECEIVER origin=HANDSET realm=RECEIVER command=BIND inner_crc_ok=true");
    row("CRSF COMMAND speed proposal", "crsf", crsfCommand(QByteArray("\xEC\xC8\x0A\x70\x00", 5) + be(921600, 4)), "COMMAND",
        "destination=RECEIVER origin=FLIGHT_CONTROLLER realm=GENERAL command=SPEED_PROPOSAL port=0 baud=921600 "
        "inner_crc_ok=true");
    row("CRSF COMMAND speed answer", "crsf", crsfCommand(QByteArray("\xC8\xEC\x0A\x71\x00\x01", 6)), "COMMAND",
        "destination=FLIGHT_CONTROLLER origin=RECEIVER realm=GENERAL command=SPEED_ANSWER port=0 ok=1 inner_crc_ok=true");
    row("CRSF COMMAND with a bad inner CRC", "crsf", crsfCommand("\xEC\xEA\x10\x01", true), "COMMAND",
        "destination=RECEIVER origin=HANDSET realm=RECEIVER command=BIND inner_crc_ok=false", none, -1, false);
    row("CRSF MSP_REQUEST", "crsf", crsf(0x7A, QByteArray("\xC8\xEA\x30\x00\x64", 5)), "MSP_REQUEST",
        "destination=FLIGHT_CONTROLLER origin=HANDSET bytes=300064");
    row("CRSF MSP_RESPONSE", "crsf", crsf(0x7B, QByteArray("\xEA\xC8\x31\x01", 4)), "MSP_RESPONSE",
        "destination=HANDSET origin=FLIGHT_CONTROLLER bytes=3101");
    row("CRSF MSP_WRITE", "crsf", crsf(0x7C, QByteArray("\xC8\xEA\x30\x02\xAA\xBB", 6)), "MSP_WRITE",
        "destination=FLIGHT_CONTROLLER origin=HANDSET bytes=3002aabb");
    row("CRSF DISPLAYPORT", "crsf", crsf(0x7D, QByteArray("\xEA\xC8\x01", 3)), "DISPLAYPORT",
        "destination=HANDSET origin=FLIGHT_CONTROLLER bytes=01");
    row("CRSF unknown type 0x0B", "crsf", crsf(0x0B, QByteArray(4, 1)), "0x0B", "");
    row("CRSF unknown extended type 0x2E", "crsf", crsf(0x2E, "\xEE\x42\x01"), "0x2E",
        "destination=TX_MODULE origin=0x42 bytes=01");
    row("CRSF BATTERY 5 bytes", "crsf", crsf(0x08, QByteArray(5, 1)), "BATTERY", "too_short=true");
    row("CRSF GPS 14 bytes", "crsf", crsf(0x02, QByteArray(14, 1)), "GPS", "too_short=true");
    row("CRSF DEVICE_INFO without its numbers", "crsf", crsf(0x29, QByteArray("\xEA\xEE" "TX\0\x01", 6)), "DEVICE_INFO",
        "too_short=true");
    row("CRSF DEVICE_PING without its origin", "crsf", crsf(0x28, "\xEE"), "DEVICE_PING", "too_short=true");

    // GHST's downlink, little-endian.
    row("GHST PACK", "ghst", ghst(0x23, le(1680, 2) + le(1230, 2) + le(123, 2) + le(50, 1) + le(1, 1)), "PACK",
        "voltage_v=16.80 current_a=12.30 consumed_mah=1230 rx_voltage_v=5.0 disarmed=true");
    row("GHST GPS_PRIMARY", "ghst", ghst(0x25, le(-338700000, 4) + le(1512100000, 4) + le(-12, 2)), "GPS_PRIMARY",
        "latitude_deg=-33.8700000 longitude_deg=151.2100000 altitude_m=-12");
    row("GHST GPS_SECONDARY", "ghst", ghst(0x26, le(1234, 2) + le(2705, 2) + le(9, 1) + le(123, 2) + le(900, 2) + le(1, 1)),
        "GPS_SECONDARY", "speed_ms=12.34 course_deg=270.5 satellites=9 home_distance_m=1230 home_direction_deg=90.0 "
                         "fix=true home=false");
    row("GHST MAGBARO", "ghst", ghst(0x27, le(-900, 2) + le(120, 2) + le(-15, 1) + le(0, 4) + le(6, 1)), "MAGBARO",
        "heading_deg=-90.0 altitude_m=120 vertical_speed_ms=-0.15 mag=false baro=true vario=true");
    row("GHST unknown downlink type 0x24", "ghst", ghst(0x24, {}), "0x24", "");

    // SmartPort: a poll, and a sensor's data for every application id.
    row("SMARTPORT poll of 0x1B", "smartport", "\x7E\x1B", "POLL", "physical_id=0x1B sensor_index=27", poll, 0x1B);
    row("SMARTPORT poll of 0x00", "smartport", QByteArray("\x7E\x00", 2), "POLL", "physical_id=0x00 sensor_index=0", poll, 0);
    row("SMARTPORT poll of no physical id", "smartport", "\x7E\x1C", "POLL", "physical_id=0x1C", poll, 0x1C, false);
    row("SMARTPORT altitude", "smartport", sport(0x0100, 12345), "DATA", "app_id=0x0100 sensor=ALTITUDE altitude_m=123.45", reply);
    row("SMARTPORT vario", "smartport", sport(0x0110, quint32(-150)), "DATA",
        "app_id=0x0110 sensor=VARIO vertical_speed_ms=-1.50", reply);
    row("SMARTPORT current", "smartport", sport(0x0200, 123), "DATA", "app_id=0x0200 sensor=CURRENT current_a=12.3", reply);
    row("SMARTPORT VFAS", "smartport", sport(0x0210, 1680), "DATA", "app_id=0x0210 sensor=VFAS voltage_v=16.80", reply);
    row("SMARTPORT VFAS, second instance", "smartport", sport(0x0211, 1260), "DATA",
        "app_id=0x0211 sensor=VFAS instance=1 voltage_v=12.60", reply);
    row("SMARTPORT T1", "smartport", sport(0x0400, 1), "DATA", "app_id=0x0400 sensor=T1 t1=1", reply);
    row("SMARTPORT T2", "smartport", sport(0x0410, 2), "DATA", "app_id=0x0410 sensor=T2 t2=2", reply);
    row("SMARTPORT RPM", "smartport", sport(0x0500, 12000), "DATA", "app_id=0x0500 sensor=RPM rpm=12000", reply);
    row("SMARTPORT fuel", "smartport", sport(0x0600, 67), "DATA", "app_id=0x0600 sensor=FUEL fuel_pct=67", reply);
    // 30000000 / 600000 = 50°; 6000000 / 600000 = 10°, west (bit 30) of longitude (bit 31).
    row("SMARTPORT GPS latitude", "smartport", sport(0x0800, 30000000), "DATA",
        "app_id=0x0800 sensor=GPS latitude_deg=50.0000000", reply);
    row("SMARTPORT GPS longitude west", "smartport", sport(0x0800, 0xC0000000u | 6000000), "DATA",
        "app_id=0x0800 sensor=GPS longitude_deg=-10.0000000", reply);
    row("SMARTPORT GPS altitude", "smartport", sport(0x0820, 23456), "DATA",
        "app_id=0x0820 sensor=GPS_ALT gps_altitude_m=234.56", reply);
    row("SMARTPORT GPS speed", "smartport", sport(0x0830, 21500), "DATA", "app_id=0x0830 sensor=GPS_SPEED speed_kn=21.500",
        reply);
    row("SMARTPORT course", "smartport", sport(0x0840, 27050), "DATA", "app_id=0x0840 sensor=COURSE course_deg=270.50", reply);
    row("SMARTPORT RSSI", "smartport", sport(0xF101, 87), "DATA", "app_id=0xF101 sensor=RSSI rssi=87", reply);
    row("SMARTPORT receiver battery", "smartport", sport(0xF104, 52), "DATA", "app_id=0xF104 sensor=RX_BATTERY rx_battery=52",
        reply);
    row("SMARTPORT unknown id", "smartport", sport(0x5100, 7), "DATA", "app_id=0x5100 value=7", reply);
    // 0x7E in the value goes as 7D 5E: VFAS 126 is 1.26 V.
    row("SMARTPORT stuffed 0x7E", "smartport", sport(0x0210, 0x7E), "DATA", "app_id=0x0210 sensor=VFAS voltage_v=1.26", reply);
    QByteArray badStuffing = sport(0x0210, 0x7E);
    badStuffing[4] = char(0x41);
    row("SMARTPORT bad stuffing", "smartport", badStuffing, "DATA", "app_id=0x0210 sensor=VFAS voltage_v=0.97", reply, -1,
        false);
    QByteArray badSum = sport(0x0210, 1680);
    badSum[7] = char(badSum[7] ^ 0x10);
    row("SMARTPORT bad checksum", "smartport", badSum, "DATA", "app_id=0x0210 sensor=VFAS voltage_v=16.80", reply, -1, false);

    // FPort's downlink, with and without its pad byte.
    row("FPORT reply, VFAS", "fport", fportReply(0x10, le(0x0210, 2) + le(1680, 4)), "DATA",
        "app_id=0x0210 sensor=VFAS voltage_v=16.80", reply);
    row("FPORT reply after a pad, RSSI", "fport", "\xFF" + fportReply(0x10, le(0xF101, 2) + le(87, 4)), "DATA",
        "app_id=0xF101 sensor=RSSI rssi=87", reply);
    row("FPORT MSP reply", "fport", fportReply(0x32, QByteArray("\x30\x01\x02\x03\x04\x05", 6)), "MSP_REPLY",
        "bytes=300102030405", reply);
    row("FPORT empty reply", "fport", fportReply(0x00, QByteArray(6, 0)), "EMPTY_REPLY", "", reply);
    row("FPORT reply of unknown PRIM 0x20", "fport", fportReply(0x20, QByteArray(6, 1)), "0x20", "bytes=010101010101", reply);
    QByteArray badReply = fportReply(0x10, le(0x0210, 2) + le(1680, 4));
    badReply[9] = char(badReply[9] ^ 0x01);
    row("FPORT reply with a bad sum", "fport", badReply, "DATA", "app_id=0x0210 sensor=VFAS voltage_v=16.80", reply, -1,
        false);

    // The iBUS sensor bus: Betaflight's discover pair, then each type's
    // measurement read in the unit its type reply named.
    row("IBUS_SENSOR discover", "ibus-sensor", "\x04\x81\x7A\xFF", "DISCOVER", "address=1", echo, 1);
    row("IBUS_SENSOR type request", "ibus-sensor", ibus("\x04\x92"), "TYPE_REQUEST", "address=2", poll, 2);
    row("IBUS_SENSOR type reply", "ibus-sensor", ibusType(2, 0x03, 2), "TYPE_REPLY",
        "address=2 sensor_type=EXTERNAL_VOLTAGE value_bytes=2", reply, 2);
    row("IBUS_SENSOR measure request", "ibus-sensor", ibus("\x04\xA2"), "MEASURE_REQUEST", "address=2", poll, 2);
    row("IBUS_SENSOR measurement of no known type", "ibus-sensor", ibusValue(2, 1680, 2), "MEASURE_REPLY",
        "address=2 value=1680", reply, 2);
    const struct
    {
        quint8 type;
        qint64 raw;
        int size;
        const char *values;
    } measurements[] = {
        {0x01, 650, 2, "sensor_type=TEMPERATURE temperature_c=25.0"}, // (650 - 400) / 10
        {0x02, 12000, 2, "sensor_type=RPM rpm=12000"},
        {0x03, 1680, 2, "sensor_type=EXTERNAL_VOLTAGE voltage_v=16.80"},
        {0x05, 1230, 2, "sensor_type=CURRENT current_a=12.30"},
        {0x06, 67, 2, "sensor_type=FUEL fuel=67"},
        {0x08, 270, 2, "sensor_type=HEADING heading=270"},
        {0x09, -150, 2, "sensor_type=CLIMB climb=-150"},
        {0x15, 1, 2, "sensor_type=ARMED armed=1"},
        {0x16, 3, 2, "sensor_type=FLIGHT_MODE flight_mode=3"},
        {0x41, 1013, 2, "sensor_type=PRESSURE pressure=1013"},
        {0x80, -338700000, 4, "sensor_type=GPS_LAT latitude=-338700000"},
        {0x81, 1512100000, 4, "sensor_type=GPS_LON longitude=1512100000"},
        {0x82, 12345, 4, "sensor_type=GPS_ALT gps_altitude=12345"},
        {0x83, -678, 4, "sensor_type=ALT altitude=-678"},
        {0x42, 5, 2, "sensor_type=0x42 value=5"},
    };
    for (const auto &m : measurements) {
        const QByteArray name = "IBUS_SENSOR measurement of type 0x" + QByteArray::number(m.type, 16);
        row(name.constData(), "ibus-sensor", ibusValue(3, m.raw, m.size), "MEASURE_REPLY",
            qPrintable(QStringLiteral("address=3 %1").arg(QLatin1String(m.values))), reply, 3, true,
            {ibusType(3, m.type, m.size)});
    }
    QByteArray badIbus = ibusValue(2, 1680, 2);
    badIbus[2] = char(badIbus[2] ^ 0x04);
    row("IBUS_SENSOR measurement with a bad sum", "ibus-sensor", badIbus, "MEASURE_REPLY", "address=2 value=1684", reply,
        2, false);

    // SBUS2 slots: the number, bits reversed over 0x03, and two data bytes.
    row("SBUS2 slot 0, the receiver's voltage", "sbus", "\x03\xC0\x2E", "RX_VOLTAGE", "slot=0 data=c02e", reply, 0);
    row("SBUS2 slot 1", "sbus", "\x83\x12\x34", "SLOT", "slot=1 data=1234", reply, 1);
    row("SBUS2 slot 8, page 1", "sbus", QByteArray("\x13\x00\xFF", 3), "SLOT", "slot=8 data=00ff", reply, 8);
    row("SBUS2 slot 31", "sbus", "\xFB\xAB\xCD", "SLOT", "slot=31 data=abcd", reply, 31);
}

void tst_Telemetry::handWritten()
{
    QFETCH(QString, family);
    QFETCH(QByteArrayList, before);
    QFETCH(QByteArray, frame);
    QFETCH(QString, type);
    QFETCH(bool, crcOk);
    QFETCH(int, role);
    QFETCH(int, sensor);
    QFETCH(QString, values);

    const FamilyDescriptor *row = familyNamed(family);
    QVERIFY(row);
    // Found by its own length: a SmartPort poll by the byte after it, which
    // starts the next poll. SBUS2 slots are found by the frame before them.
    if (row->framing == FamilyDescriptor::ByChecksum) {
        const QByteArray stream = frame + "\x7E";
        QVERIFY(row->startBytes.contains(frame[0]));
        QCOMPARE(row->frameLength(stream.constData(), stream.size()), frame.size());
        QCOMPARE(row->check(frame.constData(), frame.size()), crcOk || type == QLatin1String("COMMAND"));
    }
    TelemetryMemory memory;
    FrameReading reading;
    reading.memory = &memory;
    for (const QByteArray &earlier : before)
        row->read(earlier.constData(), earlier.size(), reading);
    row->read(frame.constData(), frame.size(), reading);
    QCOMPARE(QString::fromLatin1(reading.type), type);
    QCOMPARE(reading.crcOk, crcOk);
    QCOMPARE(reading.channels, 0);
    QCOMPARE(int(reading.telemetry.role), role);
    QCOMPARE(reading.telemetry.sensor, sensor);
    std::string pairs;
    reading.telemetry.appendPairs(pairs);
    QCOMPARE(QString::fromStdString(pairs), values);
}

void tst_Telemetry::printed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("pairs");
    QTest::addColumn<QString>("json");
    QTest::newRow("plain") << QByteArray("ACRO") << "mode=\"ACRO\" v=-0.05 id=0x0A0B flag=true code=NAME raw=00ff"
                           << "{\"mode\":\"ACRO\",\"v\":-0.05,\"id\":\"0x0A0B\",\"flag\":true,\"code\":\"NAME\",\"raw\":\"00ff\"}";
    // Quotes, backslashes, control and high bytes stay inside the string.
    QTest::newRow("awkward text") << QByteArray("a\"b\\c\n\xE9", 7)
                                  << "mode=\"a\\\"b\\\\c\\x0a\\xe9\" v=-0.05 id=0x0A0B flag=true code=NAME raw=00ff"
                                  << "{\"mode\":\"a\\\"b\\\\c\\u000a\\u00e9\",\"v\":-0.05,\"id\":\"0x0A0B\",\"flag\":true,"
                                     "\"code\":\"NAME\",\"raw\":\"00ff\"}";
}

// Each kind of value prints as records show it; values that find no room
// are left out, never written past the end.
void tst_Telemetry::printed()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, pairs);
    QFETCH(QString, json);
    Telemetry telemetry;
    telemetry.text("mode", text.constData(), text.size());
    telemetry.number("v", "m/s", TelemetryValue::VerticalSpeed, -5, 2);
    telemetry.id("id", 0x0A0B, 4);
    telemetry.flag("flag", true);
    telemetry.code("code", 7, "NAME");
    telemetry.bytes("raw", "\x00\xFF", 2);
    std::string out;
    telemetry.appendPairs(out);
    QCOMPARE(QString::fromStdString(out), pairs);
    out.clear();
    telemetry.appendJson(out);
    QCOMPARE(QString::fromStdString(out), json);
    // The store has room for one more 100 bytes, the list for fewer values than are added below.
    const QByteArray hundred(100, 'x');
    for (int i = 0; i < 3; ++i)
        telemetry.bytes("more", hundred.constData(), hundred.size());
    QCOMPARE(telemetry.size(), 7);
    for (int i = 0; i < Telemetry::maxValues; ++i)
        telemetry.flag("many", true);
    QCOMPARE(telemetry.size(), Telemetry::maxValues);
}

QTEST_GUILESS_MAIN(tst_Telemetry)
#include "tst_telemetry.moc"
