// SPDX-License-Identifier: GPL-3.0-or-later
// Spektrum SRXL2: 0xA6, packet type, length of the whole packet, and a
// CRC-16/XMODEM at the end. Control packets (0xCD) with command 0 carry
// channels, command 1 failsafe channels; other types are named.
#include "decode/families/crc16.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 startByte = 0xA6;
constexpr quint8 controlType = 0xCD;
constexpr int headerBytes = 3;
constexpr int controlHeader = headerBytes + 9; // command, reply id, RSSI, frame losses, mask
constexpr int longestPacket = 80;
constexpr int mostChannels = 32;

const char *typeName(quint8 type)
{
    switch (type) {
    case 0x21: return "HANDSHAKE";
    case 0x41: return "BIND";
    case 0x50: return "PARAMETER";
    case 0x55: return "RSSI";
    case 0x80: return "TELEMETRY";
    case controlType: return "CONTROL";
    default: return nullptr;
    }
}

int srxl2Length(const char *data, int available)
{
    if (available < 2)
        return -1;
    if (!typeName(quint8(data[1])))
        return 0;
    if (available < 3)
        return -1;
    const int length = quint8(data[2]);
    return length >= headerBytes + 2 && length <= longestPacket ? length : 0;
}

int srxl2Microseconds(int value)
{
    return ((value >> 5) * 1194) / 2048 + 903;
}

int word16(const char *data, int at)
{
    return quint8(data[at]) | quint8(data[at + 1]) << 8;
}

void srxl2Read(const char *data, int length, FrameReading &reading)
{
    reading.type = typeName(quint8(data[1]));
    const int command = length >= controlHeader + 2 ? quint8(data[3]) : -1;
    if (quint8(data[1]) != controlType || (command != 0 && command != 1))
        return;
    reading.failsafe = command == 1;
    reading.rssi = qint8(data[5]);
    reading.frameLosses = word16(data, 6);
    const quint32 mask = quint32(word16(data, 8)) | quint32(word16(data, 10)) << 16;
    reading.frameLost = command == 0 && mask == 0;
    int at = controlHeader;
    for (int channel = 0; channel < mostChannels; ++channel) {
        if (!(mask & (1u << channel)))
            continue;
        // A mask that names more words than the packet holds: the words
        // that are there are read, no more.
        if (at + 2 > length - 2)
            break;
        for (int gap = reading.channels; gap < channel; ++gap)
            reading.wire[gap] = reading.us[gap] = FrameReading::noValue;
        reading.wire[channel] = word16(data, at);
        reading.us[channel] = srxl2Microseconds(reading.wire[channel]);
        reading.channels = channel + 1;
        at += 2;
    }
}

} // namespace

FamilyDescriptor srxl2Family()
{
    FamilyIdentity identity("srxl2", "SRXL2", LineSettings(), 11, "every 11 ms");
    ChecksumFraming framing(QByteArray(1, char(startByte)), srxl2Length, frameCrcMatches);
    framing.longestSent = longestPacket;
    FamilySending sending(
        8, mostChannels,
        [](const FrameRequest &request) {
            const int count = request.wire.size();
            const quint32 mask = count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1;
            QByteArray packet;
            packet.append(char(startByte)).append(char(controlType)).append(char(controlHeader + 2 * count + 2));
            packet.append(char(request.failsafe ? 1 : 0)).append(char(0)).append(char(-45));
            packet.append(char(0)).append(char(0));
            for (int shift = 0; shift < 32; shift += 8)
                packet.append(char((mask >> shift) & 0xFF));
            for (int value : request.wire)
                packet.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
            return withFrameCrc(packet);
        },
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 3, random); });
    sending.usRange = [](int) { return MicrosecondRange{903, 2096}; };
    // The top 11 bits carry the position.
    sending.wireFor = [](int, int us) { return ceilingSteps(us - 903, 2048, 1194) << 5; };
    sending.failsafe = FamilySending::FlagsIt;
    sending.failsafeNote = "command 1 with failsafe positions";
    return FamilyDescriptor(identity, framing, FamilyReading(srxl2Read), sending);
}
