// SPDX-License-Identifier: GPL-3.0-or-later
// Graupner SUMH, HoTT's older sum signal: 21 bytes, 0xA8, two bytes, eight
// big-endian channels, 0x00 and a byte, and no checksum, so frames are
// found by the quiet of at least 5 ms that ends each, or by their period
// and rules. It starts with HOTT's (SUMD's) byte: the two cannot be looked
// for together.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 startByte = 0xA8;
constexpr int frameBytes = 21;
constexpr int channelCount = 8;
constexpr int zeroAt = 19;

unsigned sumhFits(const char *data)
{
    return quint8(data[0]) == startByte && data[zeroAt] == 0 ? 1u : 0u;
}

void sumhRead(const char *data, int length, FrameReading &reading)
{
    if (length != frameBytes)
        return;
    reading.channels = channelCount;
    for (int k = 0; k < channelCount; ++k) {
        reading.wire[k] = quint8(data[3 + 2 * k]) << 8 | quint8(data[4 + 2 * k]);
        reading.us[k] = reading.wire[k] * 5 / 32 - 375;
    }
}

} // namespace

FamilyDescriptor sumhFamily()
{
    FamilyIdentity identity("sumh", "SUMH", {115200, 8, 'N', 1}, 14, "every 14 ms");
    identity.sameBytesAs = "hott";
    GapFraming framing(frameBytes, 5, sumhFits);
    framing.startBytes = QByteArray(1, char(startByte));
    FamilySending sending(
        channelCount, channelCount,
        [](const FrameRequest &request) {
            QByteArray frame(frameBytes, 0);
            frame[0] = char(startByte);
            for (int k = 0; k < channelCount; ++k) {
                const int value = k < request.wire.size() ? request.wire[k] : ceilingSteps(1500 + 375, 32, 5);
                frame[3 + 2 * k] = char(value >> 8);
                frame[4 + 2 * k] = char(value & 0xFF);
            }
            return frame;
        },
        // A flipped value bit cannot be told from a real value; a byte 19
        // other than 0x00 can.
        [](QByteArray &frame, QRandomGenerator &random) { frame[zeroAt] = char(1 + random.bounded(255)); });
    sending.fixedChannels = channelCount;
    sending.usRange = [](int) { return MicrosecondRange{0, 65535 * 5 / 32 - 375}; };
    sending.wireFor = [](int, int us) { return ceilingSteps(us + 375, 32, 5); };
    sending.wireNote = "the two bytes after 0xA8 and the last byte go as 0";
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, framing, FamilyReading(sumhRead), sending);
}
