// SPDX-License-Identifier: GPL-3.0-or-later
// GHST (ImmersionRC Ghost): 0x82, length 0x0C, type, four 12-bit primary
// channels and four 8-bit aux channels (or link figures), CRC-8/DVB-S2.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 address = 0x82;
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

void ghstRead(const char *data, int, FrameReading &reading)
{
    const quint8 type = quint8(data[2]);
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
    ChecksumFraming framing(QByteArray(1, char(address)), ghstLength, ghstCheck);
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
    return FamilyDescriptor(identity, framing, FamilyReading(ghstRead), sending);
}
