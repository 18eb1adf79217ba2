// SPDX-License-Identifier: GPL-3.0-or-later
// Align RJ01: 33 bytes, 0xA1 0x1E and a byte, a 27-byte XBUS Mode B frame,
// two bytes, and a CRC-8/MAXIM over all before it. The Mode B frame's own
// CRC-16 must match too.
#include "decode/families/crc16.h"
#include "decode/families/units.h"
#include "decode/families/xbus.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 startByte = 0xA1;
constexpr quint8 lengthByte = 0x1E;
constexpr int frameBytes = 33;
constexpr int innerAt = 3;

// Poly 0x31 reflected, initial value 0; by table, a byte a step, as every
// frame on the line goes through it.
struct Crc8MaximTable
{
    quint8 entries[256];
    constexpr Crc8MaximTable() : entries()
    {
        for (int byte = 0; byte < 256; ++byte) {
            quint8 crc = quint8(byte);
            for (int bit = 0; bit < 8; ++bit)
                crc = quint8(crc & 1 ? (crc >> 1) ^ 0x8C : crc >> 1);
            entries[byte] = crc;
        }
    }
};
constexpr Crc8MaximTable crc8MaximTable;

quint8 crc8Maxim(const char *data, int count)
{
    quint8 crc = 0;
    for (int i = 0; i < count; ++i)
        crc = crc8MaximTable.entries[crc ^ quint8(data[i])];
    return crc;
}

int rj01Length(const char *data, int available)
{
    if (available < 2)
        return -1;
    return quint8(data[1]) == lengthByte ? frameBytes : 0;
}

bool rj01Check(const char *data, int length)
{
    return length == frameBytes && crc8Maxim(data, frameBytes - 1) == quint8(data[frameBytes - 1])
        && quint8(data[innerAt]) == 0xA1 && frameCrcMatches(data + innerAt, modeBBytes);
}

void rj01Read(const char *data, int length, FrameReading &reading)
{
    if (length == frameBytes)
        readModeB(data + innerAt, modeBBytes, reading);
}

} // namespace

FamilyDescriptor rj01Family()
{
    FamilyIdentity identity("rj01", "RJ01", {250000, 8, 'N', 1}, 14, "every 14 ms");
    FamilySending sending(
        12, 12,
        [](const FrameRequest &request) {
            QByteArray frame;
            frame.append(char(startByte)).append(char(lengthByte)).append(char(0));
            frame += modeBFrame(request.wire.mid(0, 12));
            frame.append(char(0)).append(char(0));
            return frame.append(char(crc8Maxim(frame.constData(), frame.size())));
        },
        // A bit of the Mode B frame past its start byte: both checks fail, and
        // no good Mode B frame is left inside for MPX or XBUS to find.
        [](QByteArray &frame, QRandomGenerator &random) {
            const int bit = int(random.bounded(quint32((modeBBytes - 1) * 8)));
            const int at = innerAt + 1 + bit / 8;
            frame[at] = char(quint8(frame[at]) ^ (1 << (bit % 8)));
        });
    sending.fixedChannels = 12;
    sending.usRange = modeBRange;
    sending.wireFor = modeBValue;
    sending.wireNote = "the byte after 0x1E and the two after the Mode B frame go as 0";
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, ChecksumFraming(QByteArray(1, char(startByte)), rj01Length, rj01Check),
                            FamilyReading(rj01Read), sending);
}
