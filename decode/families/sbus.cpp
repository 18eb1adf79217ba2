// SPDX-License-Identifier: GPL-3.0-or-later
// SBUS (Futaba, FrSky, many ExpressLRS receivers): 0x0F, sixteen 11-bit
// channels LSB-first, a flags byte and an end byte, and no checksum, so
// frames are found by the quiet before them or by their 25-byte period.
// SBUS2 frames end in 0x04, 0x14, 0x24 or 0x34: the page of eight 3-byte
// telemetry slots that sensors send after the frame. A slot is read as a
// frame of its own: its number 0-31 and its two data bytes, whose meaning
// depends on the sensor set up for it.
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 header = 0x0F;
constexpr int frameBytes = 25;
constexpr int slotBytes = 3;
constexpr int channelCount = 16;
constexpr int flagsAt = 23;
constexpr int endAt = 24;
constexpr quint8 ch17Bit = 0x01;
constexpr quint8 ch18Bit = 0x02;
constexpr quint8 frameLostBit = 0x04;
constexpr quint8 failsafeBit = 0x08;

// 0x00, or SBUS2's 0x04, 0x14, 0x24 and 0x34.
bool isEndByte(quint8 byte)
{
    return byte == 0x00 || (byte & 0xCF) == 0x04;
}

int sbus2Page(quint8 end)
{
    return (end & 0xCF) == 0x04 ? end >> 4 : -1;
}

// The slot's number (0-31) from its first byte, -1 where it names none.
int slotNumber(quint8 first)
{
    if ((first & 0x07) != 0x03)
        return -1;
    int slot = 0;
    for (int bit = 3; bit < 8; ++bit)
        slot = slot << 1 | (first >> bit & 1);
    return slot;
}

// A slot's first byte is its number 0-31, bits reversed, over 0x03: slot 0
// is 0x03, slot 1 0x83, slot 8 (page 1) 0x13.
int slotAt(const char *frame, quint8 first)
{
    const int page = sbus2Page(quint8(frame[endAt]));
    const int slot = slotNumber(first);
    return page >= 0 && slot >= 0 && slot >> 3 == page ? slot & 0x07 : -1;
}

// Slot 0 is the receiver's own voltage, in a scale not published here.
void readSlot(const char *data, FrameReading &reading)
{
    const int slot = slotNumber(quint8(data[0]));
    reading.crcOk = slot >= 0;
    reading.type = slot == 0 ? "RX_VOLTAGE" : "SLOT";
    reading.telemetry.role = Telemetry::Reply;
    reading.telemetry.sensor = slot;
    reading.telemetry.number("slot", "", TelemetryValue::Other, slot);
    reading.telemetry.bytes("data", data + 1, 2);
}

unsigned sbusFits(const char *data)
{
    return quint8(data[0]) == header && (quint8(data[flagsAt]) & 0xF0) == 0 && isEndByte(quint8(data[endAt])) ? 1u : 0u;
}

void sbusRead(const char *data, int length, FrameReading &reading)
{
    if (length == slotBytes) {
        readSlot(data, reading);
        return;
    }
    if (length != frameBytes)
        return;
    unpackLsbFirst(data + 1, channelCount, 11, reading.wire);
    reading.channels = channelCount;
    for (int k = 0; k < channelCount; ++k)
        reading.us[k] = reading.wire[k] * 1000 / 1600 + 875;
    const quint8 flags = quint8(data[flagsAt]);
    reading.ch17 = (flags & ch17Bit) != 0;
    reading.ch18 = (flags & ch18Bit) != 0;
    reading.frameLost = (flags & frameLostBit) != 0;
    reading.failsafe = (flags & failsafeBit) != 0;
    reading.sbus2Page = sbus2Page(quint8(data[endAt]));
    // An SBUS2 frame asks for its page's slots.
    if (reading.sbus2Page >= 0)
        reading.telemetry.role = Telemetry::Poll;
}

} // namespace

FamilyDescriptor sbusFamily()
{
    FamilyIdentity identity("sbus", "SBUS", {100000, 8, 'E', 2}, 14, "every 14 ms (Futaba); FrSky every 9 ms");
    GapFraming framing(frameBytes, 2, sbusFits);
    framing.startBytes = QByteArray(1, char(header));
    framing.slotBytes = slotBytes;
    framing.slotAt = slotAt;
    FamilySending sending(
        channelCount, channelCount,
        [](const FrameRequest &request) {
            QByteArray frame(1, char(header));
            QVector<int> values = request.wire.mid(0, channelCount);
            while (values.size() < channelCount)
                values << 1000;
            packLsbFirst(frame, values, 11);
            frame.append(char(request.failsafe ? failsafeBit | frameLostBit : 0)).append(char(0x00));
            return frame;
        },
        // A flipped value bit cannot be told from a real value; an end byte
        // SBUS never sends can.
        [](QByteArray &frame, QRandomGenerator &random) {
            quint8 end;
            do
                end = quint8(random.bounded(256));
            while (isEndByte(end));
            frame[endAt] = char(end);
        });
    sending.fixedChannels = channelCount;
    sending.wireMax = 0x07FF;
    sending.usRange = [](int) { return MicrosecondRange{875, 2154}; };
    sending.wireFor = [](int, int us) { return ceilingSteps(us - 875, 1600, 1000); };
    sending.failsafe = FamilySending::FlagsIt;
    sending.failsafeNote = "flags bits 2 and 3 (frame lost, failsafe)";
    return FamilyDescriptor(identity, framing, FamilyReading(sbusRead), sending);
}
