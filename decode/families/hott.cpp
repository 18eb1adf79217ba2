// SPDX-License-Identifier: GPL-3.0-or-later
// Graupner HoTT (SUMD): 0xA8, a status byte, a channel count c, c channel
// words and a CRC-16/XMODEM.
#include "decode/families/hott.h"

#include "decode/families/crc16.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

int hottLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    const quint8 status = quint8(data[1]);
    if (status != hottVersion && status != hottFailsafeStatus)
        return 0;
    if (available < 3)
        return -1;
    return hottFrameBytes(quint8(data[2]));
}

bool sentInFailsafe(const char *data, int length)
{
    return length >= 2 && quint8(data[1]) == hottFailsafeStatus;
}

void readHott(const char *data, int length, FrameReading &reading)
{
    readWords(data, 3, quint8(data[2]), hottMicroseconds, reading);
    reading.failsafe = sentInFailsafe(data, length);
}

} // namespace

int hottMicroseconds(quint16 word)
{
    return word / 8;
}

quint16 hottWord(int us)
{
    return quint16(qMax(1, us * 8));
}

QByteArray hottFrame(const QVector<quint16> &words, bool failsafe)
{
    QByteArray body;
    body.append(char(hottType)).append(char(failsafe ? hottFailsafeStatus : hottVersion)).append(char(words.size()));
    appendWords(body, words);
    return withFrameCrc(body);
}

// SUMD frames come every 10 ms.
FamilyDescriptor hottFamily()
{
    FamilyIdentity identity("hott", "HOTT", LineSettings(), 10, "every 10 ms");
    identity.srxl = true;
    FamilyReading reading(readHott);
    reading.saysFailsafe = sentInFailsafe;
    reading.failsafeFramesApart = true;
    FamilySending sending(
        8, hottMostSentChannels,
        [](const FrameRequest &request) { return hottFrame(wordsOf(request.wire), request.failsafe); },
        // Past type, status and count, so that the frame is still found.
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 3, random); });
    sending.usRange = [](int) { return hottRange; };
    sending.wireFor = [](int, int us) { return int(hottWord(us)); };
    sending.failsafe = FamilySending::FlagsIt;
    sending.failsafeNote = "status 0x81";
    return FamilyDescriptor(identity, ChecksumFraming(QByteArray(1, char(hottType)), hottLength, frameCrcMatches),
                            reading, sending);
}
