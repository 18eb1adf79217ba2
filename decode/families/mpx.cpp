// SPDX-License-Identifier: GPL-3.0-or-later
// Multiplex SRXL: 0xA1 with 12 channels ("MPX") and 0xA2 with 16
// ("MPX_V2"), a CRC-16/XMODEM at the end.
#include "decode/families/mpx.h"

#include "decode/families/crc16.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

void readMpx(const char *data, int length, FrameReading &reading)
{
    readWords(data, 1, length == mpx2FrameBytes ? mpx2Channels : mpxChannels, mpxMicroseconds, reading);
}

MicrosecondRange channelRange(int)
{
    return mpxRange;
}

int wireFor(int, int us)
{
    return mpxWord(us);
}

QByteArray encode(const FrameRequest &request)
{
    return mpxFrame(wordsOf(request.wire));
}

// Past the type byte, so that the frame is still found.
void corrupt(QByteArray &frame, QRandomGenerator &random)
{
    flipBitAfter(frame, 1, random);
}

// Multiplex frames every 14 ms with 12 channels and every 21 ms with 16.
FamilyDescriptor row(const char *name, const char *recordName, quint8 type, int (*length)(const char *, int),
                     int channels, double periodMs, const char *periodNote)
{
    FamilyIdentity identity(name, recordName, LineSettings(), periodMs, periodNote);
    identity.srxl = true;
    FamilySending sending(channels, channels, encode, corrupt);
    sending.fixedChannels = channels;
    sending.usRange = channelRange;
    sending.wireFor = wireFor;
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, ChecksumFraming(QByteArray(1, char(type)), length, frameCrcMatches),
                            FamilyReading(readMpx), sending);
}

} // namespace

int mpxMicroseconds(quint16 word)
{
    return ((word & 0x0FFF) * 1400 >> 12) + 800;
}

// The decoder truncates v × 1400 / 4096; the smallest v that reaches the µs
// lies nearest it, and decoders that round instead agree on it.
quint16 mpxWord(int us)
{
    return quint16(qMax(1, ceilingSteps(us - mpxRange.lowest, 4096, 1400)));
}

QByteArray mpxFrame(const QVector<quint16> &words)
{
    QByteArray body(1, char(words.size() == mpx2Channels ? mpx2Type : mpxType));
    appendWords(body, words);
    return withFrameCrc(body);
}

FamilyDescriptor mpxFamily()
{
    return row("mpx", "MPX", mpxType, [](const char *, int) { return mpxFrameBytes; }, mpxChannels, 14,
               "every 14 ms");
}

FamilyDescriptor mpx2Family()
{
    return row("mpx2", "MPX_V2", mpx2Type, [](const char *, int) { return mpx2FrameBytes; }, mpx2Channels, 21,
               "every 21 ms");
}
