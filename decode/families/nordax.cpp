// SPDX-License-Identifier: GPL-3.0-or-later
// NORDAX: 0xA3, version 1, a mode byte, 12 channel words and a CRC-16/XMODEM.
#include "decode/families/nordax.h"

#include "decode/families/crc16.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

int nordaxLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    return quint8(data[1]) == nordaxVersion ? nordaxFrameBytes : 0;
}

void readNordax(const char *data, int, FrameReading &reading)
{
    readWords(data, 3, nordaxChannels, nullptr, reading);
}

} // namespace

QByteArray nordaxFrame(quint8 mode, const QVector<quint16> &words)
{
    QByteArray body;
    body.append(char(nordaxType)).append(char(nordaxVersion)).append(char(mode));
    appendWords(body, words);
    return withFrameCrc(body);
}

// NORDAX has no published rate.
FamilyDescriptor nordaxFamily()
{
    FamilyIdentity identity("nordax", "NORDAX", LineSettings(), 10, "no published rate");
    identity.srxl = true;
    FamilySending sending(
        nordaxChannels, nordaxChannels, [](const FrameRequest &request) { return nordaxFrame(0, wordsOf(request.wire)); },
        // Past type and version, so that the frame is still found.
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 2, random); });
    sending.fixedChannels = nordaxChannels;
    sending.wireNote = "NORDAX has no public µs scale: its words go as given";
    sending.failsafeNote = "falls silent";
    return FamilyDescriptor(identity, ChecksumFraming(QByteArray(1, char(nordaxType)), nordaxLength, frameCrcMatches),
                            FamilyReading(readNordax), sending);
}
