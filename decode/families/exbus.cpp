// SPDX-License-Identifier: GPL-3.0-or-later
// Jeti EX Bus: sync, request byte, length of the whole frame, packet id,
// data id, sub-length, data, and a CRC-16/KERMIT sent low byte first.
// Channel frames (0x3E) carry up to 24 channels in eighths of a µs; on the
// same wire the receiver asks for telemetry (0x3D) and the flight
// controller answers (0x3B) with the request's packet id and an EX packet:
// 0x9F, kind and length, a serial number, a reserved byte, items, and a
// CRC-8 poly 0x07 of its own.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 channelSync = 0x3E, requestSync = 0x3D, answerSync = 0x3B;
constexpr quint8 channelData = 0x31, telemetryData = 0x3A, jetiboxData = 0x3B;
constexpr quint8 replyAllowed = 0x01, noReply = 0x03;
constexpr int headerBytes = 6; // sync, request, length, packet id, data id, sub-length
constexpr int mostChannels = 24;
// An EX packet: 0x9F, kind and length, four serial bytes, a reserved byte,
// items, CRC-8; its length counts what follows the kind byte.
constexpr quint8 exStart = 0x9F;
constexpr int exHeader = 7;
constexpr int longestEx = 2 + 0x3F;
constexpr int longestFrame = headerBytes + longestEx + 2;

int word16(const char *data, int at)
{
    return quint8(data[at]) | quint8(data[at + 1]) << 8;
}

// The data ids each sync carries.
bool dataFits(quint8 sync, quint8 dataId)
{
    return sync == channelSync ? dataId == channelData : dataId == telemetryData || dataId == jetiboxData;
}

// Told byte by byte, so that noise is turned away as early as it can be.
int exbusLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    if (quint8(data[1]) != replyAllowed && quint8(data[1]) != noReply)
        return 0;
    if (available < 3)
        return -1;
    const int length = quint8(data[2]);
    if (length < headerBytes + 2 || length > longestFrame)
        return 0;
    if (available < 5)
        return -1;
    if (!dataFits(quint8(data[0]), quint8(data[4])))
        return 0;
    if (available < 6)
        return -1;
    // A length that runs past the data, or data that runs past the length.
    const int sub = quint8(data[5]);
    if (length != headerBytes + sub + 2)
        return 0;
    if (quint8(data[0]) == channelSync && (sub % 2 != 0 || sub > 2 * mostChannels))
        return 0;
    return length;
}

// The EX packet of an answer at packet, size bytes: its length (bits 5-0
// of the kind byte) where it fills them and its CRC-8 matches, else -1.
int exLength(const char *packet, int size)
{
    if (size < exHeader + 1 || quint8(packet[0]) != exStart)
        return -1;
    const int length = quint8(packet[1]) & 0x3F;
    if (2 + length != size || crc8Smbus(packet + 1, length) != quint8(packet[1 + length]))
        return -1;
    return length;
}

bool isTelemetryAnswer(const char *data)
{
    return quint8(data[0]) == answerSync && quint8(data[4]) == telemetryData;
}

bool exbusCheck(const char *data, int length)
{
    if (crc16Kermit(data, length - 2) != word16(data, length - 2))
        return false;
    return !isTelemetryAnswer(data) || exLength(data + headerBytes, length - headerBytes - 2) >= 0;
}

// Bytes an item's value takes, by its type; 0 for a type without a known size.
int itemBytes(int type)
{
    switch (type) {
    case 0: return 1;
    case 1: return 2;
    case 4: case 5: return 3;
    case 8: case 9: return 4;
    default: return 0;
    }
}

// An item's name: its kind and its id (0-15), as records show it.
const char *itemName(const char *kind, int id)
{
    static const char *const items[16] = {"item0", "item1", "item2", "item3", "item4", "item5", "item6", "item7",
                                          "item8", "item9", "item10", "item11", "item12", "item13", "item14", "item15"};
    static const char *const dates[16] = {"datetime0", "datetime1", "datetime2", "datetime3", "datetime4",
                                          "datetime5", "datetime6", "datetime7", "datetime8", "datetime9",
                                          "datetime10", "datetime11", "datetime12", "datetime13", "datetime14",
                                          "datetime15"};
    static const char *const places[16] = {"gps0", "gps1", "gps2", "gps3", "gps4", "gps5", "gps6", "gps7",
                                           "gps8", "gps9", "gps10", "gps11", "gps12", "gps13", "gps14", "gps15"};
    const char *const *names = kind[0] == 'i' ? items : kind[0] == 'd' ? dates : places;
    return names[id & 0x0F];
}

void addValue(FrameReading &reading, const char *name, int index, qint64 number, int decimals)
{
    reading.telemetry.number(index >= 0 ? itemName(name, index) : name, "", TelemetryValue::Other, number, decimals);
}

// The serial number, then each item: a little-endian value whose top byte
// holds the sign (bit 7) and the decimals (bits 6-5). Dates, times and GPS
// positions are given as sent. Items stop at one of an unknown type.
void readItems(const char *packet, int length, FrameReading &reading)
{
    addValue(reading, "serial", -1, quint32(word16(packet, 2)) | quint32(word16(packet, 4)) << 16, 0);
    const int end = 1 + length; // the CRC-8
    for (int at = exHeader; at < end;) {
        const int id = quint8(packet[at]) >> 4, type = quint8(packet[at]) & 0x0F;
        const int bytes = itemBytes(type);
        if (bytes == 0 || at + 1 + bytes > end)
            return;
        quint32 raw = 0;
        for (int i = bytes - 1; i >= 0; --i)
            raw = raw << 8 | quint8(packet[at + 1 + i]);
        at += 1 + bytes;
        if (type == 5 || type == 9) {
            addValue(reading, type == 5 ? "datetime" : "gps", id, raw, 0);
            continue;
        }
        const int top = int(raw >> (8 * bytes - 8));
        const qint64 magnitude = raw & ((quint32(1) << (8 * bytes - 3)) - 1);
        addValue(reading, "item", id, top & 0x80 ? -magnitude : magnitude, (top >> 5) & 0x03);
    }
}

void exbusRead(const char *data, int length, FrameReading &reading)
{
    const quint8 sync = quint8(data[0]), dataId = quint8(data[4]);
    const int packetId = quint8(data[3]);
    const int sub = length - headerBytes - 2;
    if (sync == channelSync) {
        reading.type = "CHANNELS";
        reading.channels = qMin(sub / 2, mostChannels);
        for (int k = 0; k < reading.channels; ++k) {
            reading.wire[k] = word16(data, headerBytes + 2 * k);
            reading.us[k] = reading.wire[k] >> 3;
        }
    } else if (sync == requestSync) {
        reading.type = dataId == telemetryData ? "TELEMETRY_REQUEST" : "JETIBOX_REQUEST";
        reading.pollKey = packetId;
    } else {
        reading.replyKey = packetId;
        reading.type = "JETIBOX";
        if (dataId != telemetryData)
            return;
        const char *packet = data + headerBytes;
        const int exBytes = exLength(packet, sub);
        static const char *const kinds[] = {"TELEMETRY_TEXT", "TELEMETRY", "TELEMETRY_KIND_2", "TELEMETRY_KIND_3"};
        reading.type = sub > 1 ? kinds[quint8(packet[1]) >> 6] : "TELEMETRY";
        if (exBytes >= 0 && quint8(packet[1]) >> 6 == 1)
            readItems(packet, exBytes, reading);
    }
}

// Sync, request byte, the length, the packet id, the data id, the data's
// length, the data, and the CRC low byte first.
QByteArray exbusFrame(quint8 sync, quint8 request, quint8 packetId, quint8 dataId, const QByteArray &body)
{
    QByteArray frame;
    frame.append(char(sync)).append(char(request)).append(char(headerBytes + body.size() + 2));
    frame.append(char(packetId)).append(char(dataId)).append(char(body.size())).append(body);
    const quint16 crc = crc16Kermit(frame.constData(), frame.size());
    return frame.append(char(crc & 0xFF)).append(char(crc >> 8));
}

// An item of type (0, 1, 4 or 8: 1 to 4 bytes) holding number with its
// decimals; the magnitude must fit the type.
void appendItem(QByteArray &items, int id, int type, qint64 number, int decimals)
{
    const int bytes = itemBytes(type);
    quint32 raw = quint32(number < 0 ? -number : number) | quint32(decimals) << (8 * bytes - 3);
    if (number < 0)
        raw |= quint32(1) << (8 * bytes - 1);
    items.append(char(id << 4 | type));
    for (int i = 0; i < bytes; ++i)
        items.append(char(raw >> (8 * i) & 0xFF));
}

// A flight controller's answer to a telemetry request: values that move
// from answer to answer, and repeat.
QByteArray exbusAnswer(const char *data, int length, qint64 index)
{
    if (length != headerBytes + 2 || quint8(data[0]) != requestSync || quint8(data[4]) != telemetryData)
        return QByteArray();
    QByteArray items;
    appendItem(items, 1, 1, 126 - index % 20, 1);        // 12.6 V down to 10.7 V
    appendItem(items, 2, 1, 350 + index % 50, 2);        // 3.50 A to 3.99 A
    appendItem(items, 3, 4, index % 2000000, 0);         // mAh
    appendItem(items, 4, 0, -(index % 32), 0);           // 0 down to -31
    appendItem(items, 5, 8, -123456 + index % 300000, 2); // -1234.56 m and up
    // Serial: manufacturer 0xA400, device 1; a reserved byte.
    QByteArray packet = QByteArray("\x9F\x00\x00\xA4\x01\x00\x00", exHeader) + items;
    packet[1] = char(0x40 | (packet.size() - 1));
    packet.append(char(crc8Smbus(packet.constData() + 1, packet.size() - 1)));
    return exbusFrame(answerSync, replyAllowed, quint8(data[3]), telemetryData, packet);
}

} // namespace

FamilyDescriptor exbusFamily()
{
    FamilyIdentity identity("exbus", "EXBUS", {125000, 8, 'N', 1}, 10,
                            "every 10 ms, each followed by a telemetry request");
    ChecksumFraming framing(QByteArray("\x3E\x3D\x3B", 3), exbusLength, exbusCheck);
    framing.longestSent = longestFrame;
    FamilyReading reading(exbusRead);
    reading.telemetryFields = true;
    FamilySending sending(
        16, mostChannels,
        [](const FrameRequest &request) {
            QByteArray body;
            for (int value : request.wire)
                body.append(char(value & 0xFF)).append(char(value >> 8 & 0xFF));
            return exbusFrame(channelSync, noReply, quint8(request.index), channelData, body);
        },
        // Past the header, so that the frame is still found.
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, headerBytes, random); });
    sending.usRange = [](int) { return MicrosecondRange{0, 8191}; };
    sending.wireFor = [](int, int us) { return us << 3; };
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent, telemetry requests too";
    sending.pollPeriodMs = 10;
    sending.pollFrame = [](qint64 index) {
        return exbusFrame(requestSync, replyAllowed, quint8(index), telemetryData, QByteArray());
    };
    sending.answer = exbusAnswer;
    return FamilyDescriptor(identity, framing, reading, sending);
}
