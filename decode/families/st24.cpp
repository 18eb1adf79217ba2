// SPDX-License-Identifier: GPL-3.0-or-later
// ST24 (Yuneec): 0x55 0x55, a length (type, data and CRC: 9 to 66), the
// type, and a CRC-8 poly 0x07 over length to data. Types 0 and 1 carry a
// time, RSSI, a packet count and 12 or 24 channels of 12 bits, two in
// three bytes; type 2, the transmitter's GPS, and others are named.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 startByte = 0x55;
constexpr int shortest = 9, longest = 66;
constexpr int headerBytes = 3; // 55 55 LEN
// Type byte, time (u16), RSSI, packet count: the channels start after them.
constexpr int channelsAt = headerBytes + 5;

struct ChannelType
{
    quint8 length;
    int channels;
    const char *name;
};
constexpr ChannelType channelTypes[] = {{0x18, 12, "CHANNELS_12"}, {0x2A, 24, "CHANNELS_24"}};

int st24Length(const char *data, int available)
{
    if (available < 2)
        return -1;
    if (quint8(data[1]) != startByte)
        return 0;
    if (available < 3)
        return -1;
    const int length = quint8(data[2]);
    return length >= shortest && length <= longest ? headerBytes + length : 0;
}

bool st24Check(const char *data, int length)
{
    return crc8Smbus(data + 2, length - 3) == quint8(data[length - 1]);
}

int st24Microseconds(int value)
{
    return (value * 1000 + 2048) / 4096 + 999;
}

// The smallest value that shows as us.
int st24Value(int us)
{
    return qMax(0, ceilingSteps(qMax(0, (us - 999) * 4096 - 2048), 1, 1000));
}

void st24Read(const char *data, int, FrameReading &reading)
{
    const quint8 type = quint8(data[3]);
    reading.type = type == 2 ? "TRANSMITTER_GPS" : typeByteText(type);
    if (type > 1 || quint8(data[2]) != channelTypes[type].length)
        return;
    const ChannelType &form = channelTypes[type];
    reading.type = form.name;
    reading.rssi = quint8(data[6]);
    reading.packetCount = quint8(data[7]);
    reading.channels = form.channels;
    // Two 12-bit values in three bytes, the high nibble first.
    for (int pair = 0; pair < form.channels / 2; ++pair) {
        const quint8 *b = reinterpret_cast<const quint8 *>(data + channelsAt + 3 * pair);
        reading.wire[2 * pair] = b[0] << 4 | b[1] >> 4;
        reading.wire[2 * pair + 1] = (b[1] & 0x0F) << 8 | b[2];
    }
    for (int k = 0; k < form.channels; ++k)
        reading.us[k] = st24Microseconds(reading.wire[k]);
}

QByteArray st24Encode(const FrameRequest &request)
{
    const ChannelType &form = channelTypes[request.wire.size() > 12 ? 1 : 0];
    QByteArray frame;
    frame.append(char(startByte)).append(char(startByte)).append(char(form.length));
    // Type, a time in ms and an RSSI of 100; the packet count runs on.
    const quint16 time = quint16(request.index * 20);
    frame.append(char(&form - channelTypes)).append(char(time & 0xFF)).append(char(time >> 8));
    frame.append(char(100)).append(char(request.index & 0xFF));
    for (int pair = 0; pair < form.channels / 2; ++pair) {
        const auto value = [&](int k) { return k < request.wire.size() ? request.wire[k] : st24Value(1500); };
        const int a = value(2 * pair), b = value(2 * pair + 1);
        frame.append(char(a >> 4)).append(char((a & 0x0F) << 4 | b >> 8)).append(char(b & 0xFF));
    }
    frame.append(char(crc8Smbus(frame.constData() + 2, frame.size() - 2)));
    return frame;
}

} // namespace

FamilyDescriptor st24Family()
{
    FamilyIdentity identity("st24", "ST24", {115200, 8, 'N', 1}, 20, "every 20 ms");
    ChecksumFraming framing(QByteArray(1, char(startByte)), st24Length, st24Check);
    framing.shortCheck = true;
    FamilyReading reading(st24Read);
    reading.telemetryFields = true;
    FamilySending sending(12, 24, st24Encode,
                          // Past the start bytes and the length.
                          [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, headerBytes, random); });
    sending.wireMax = 0x0FFF;
    sending.wireNote = "more than 12 channels go as 24";
    sending.usRange = [](int) { return MicrosecondRange{999, 1999}; };
    sending.wireFor = [](int, int us) { return st24Value(us); };
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, framing, reading, sending);
}
