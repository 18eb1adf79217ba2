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
    reading.clearExtras();
    reading.family = "SUMH";
    reading.hasCheck = false;
    reading.crcOk = length == frameBytes && sumhFits(data);
    reading.failsafe = -1;
    reading.channels = 0;
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
    FamilyDescriptor row;
    row.name = "sumh";
    row.recordName = "SUMH";
    row.sameBytesAs = "hott";
    row.line = {115200, 8, 'N', 1};
    row.periodMs = 14;
    row.periodNote = "every 14 ms";
    row.framing = FamilyDescriptor::ByGap;
    row.startBytes = QByteArray(1, char(startByte));
    row.frameBytes = frameBytes;
    row.gapMs = 5;
    row.fits = sumhFits;
    row.frameLength = [](const char *, int available) { return available < 1 ? -1 : frameBytes; };
    row.check = [](const char *data, int length) { return length == frameBytes && sumhFits(data) != 0; };
    row.read = sumhRead;
    row.fixedChannels = row.defaultChannels = row.maxChannels = channelCount;
    row.usRange = [](int) { return MicrosecondRange{0, 65535 * 5 / 32 - 375}; };
    row.wireFor = [](int, int us) { return ceilingSteps(us + 375, 32, 5); };
    row.wireNote = "the two bytes after 0xA8 and the last byte go as 0";
    row.encode = [](const FrameRequest &request) {
        QByteArray frame(frameBytes, 0);
        frame[0] = char(startByte);
        for (int k = 0; k < channelCount; ++k) {
            const int value = k < request.wire.size() ? request.wire[k] : ceilingSteps(1500 + 375, 32, 5);
            frame[3 + 2 * k] = char(value >> 8);
            frame[4 + 2 * k] = char(value & 0xFF);
        }
        return frame;
    };
    // A flipped value bit cannot be told from a real value; a byte 19
    // other than 0x00 can.
    row.corrupt = [](QByteArray &frame, QRandomGenerator &random) { frame[zeroAt] = char(1 + random.bounded(255)); };
    row.failsafe = FamilyDescriptor::FallsSilent;
    row.failsafeNote = "falls silent";
    return row;
}
