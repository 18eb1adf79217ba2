// SPDX-License-Identifier: GPL-3.0-or-later
// JR XBUS Mode B: the bytes of MPX (0xA1, 27 bytes) and MPX_V2 (0xA2, 35
// bytes) with their CRC-16/XMODEM, read as big-endian words on JR's scale.
#include "decode/families/xbus.h"

#include "decode/families/crc16.h"
#include "decode/families/mpx.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

int xbusLength(const char *data, int available)
{
    return available < 1 ? -1 : modeBLength(quint8(data[0]));
}

void xbusRead(const char *data, int length, FrameReading &reading)
{
    readModeB(data, length, reading);
}

} // namespace

int modeBLength(quint8 start)
{
    return start == mpxType ? mpxFrameBytes : start == mpx2Type ? mpx2FrameBytes : 0;
}

void readModeB(const char *data, int length, FrameReading &reading)
{
    reading.channels = length == modeBLength(quint8(data[0])) ? (length - 3) / 2 : 0;
    for (int k = 0; k < reading.channels; ++k) {
        const int v = quint8(data[1 + 2 * k]) << 8 | quint8(data[2 + 2 * k]);
        reading.wire[k] = v;
        reading.us[k] = 800 + ((v * 1400) >> 12);
    }
}

QByteArray modeBFrame(const QVector<int> &wire)
{
    const int words = wire.size() > 12 ? 16 : 12;
    QByteArray frame(1, char(words == 12 ? 0xA1 : 0xA2));
    for (int k = 0; k < words; ++k) {
        const int v = k < wire.size() ? wire[k] : modeBValue(k, 1500);
        frame.append(char(v >> 8)).append(char(v & 0xFF));
    }
    return withFrameCrc(frame);
}

// What 12 bits carry, as Mode B senders use them.
MicrosecondRange modeBRange(int)
{
    return {800, 2199};
}

// The smallest value that shows as us.
int modeBValue(int, int us)
{
    return ceilingSteps(us - 800, 4096, 1400);
}

FamilyDescriptor xbusFamily()
{
    FamilyIdentity identity("xbus", "XBUS", {115200, 8, 'N', 1}, 14, "every 14 ms");
    identity.sameBytesAs = "mpx,mpx2";
    FamilySending sending(
        12, 16, [](const FrameRequest &request) { return modeBFrame(request.wire); },
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 1, random); });
    sending.wireNote = "more than 12 channels go as 16 (0xA2)";
    sending.usRange = modeBRange;
    sending.wireFor = modeBValue;
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, ChecksumFraming(QByteArray("\xA1\xA2", 2), xbusLength, frameCrcMatches),
                            FamilyReading(xbusRead), sending);
}
