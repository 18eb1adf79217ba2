// SPDX-License-Identifier: GPL-3.0-or-later
// The five families the window shows (MPX, MPX_V2, NORDAX, HOTT, SPEKTRUM):
// one CRC-16 at the end, found by type byte and length as the window finds
// them, read with the window's conversions.
#include "decode/families/crc16.h"
#include "decode/encoders.h"
#include "decode/families/units.h"
#include "decode/framing.h"

#include <QRandomGenerator>

namespace {

QVector<quint16> words(const QVector<int> &values)
{
    QVector<quint16> result;
    for (int value : values)
        result << quint16(value);
    return result;
}

void readWindowFrame(const char *data, int length, FrameReading &reading)
{
    reading.clearExtras();
    readFrame(data, length, reading);
}

FamilyDescriptor windowFamily(const char *name, const char *recordName, double periodMs, const char *note)
{
    FamilyDescriptor row;
    row.name = name;
    row.recordName = recordName;
    row.srxl = true;
    row.periodMs = periodMs;
    row.periodNote = note;
    row.check = frameCrcMatches;
    row.read = readWindowFrame;
    row.corrupt = [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 1, random); };
    row.failsafeNote = "falls silent";
    return row;
}

MicrosecondRange mpxChannelRange(int)
{
    return mpxRange;
}

MicrosecondRange hottChannelRange(int)
{
    return hottRange;
}

} // namespace

// Rates the receivers send at: Multiplex frames every 14 ms with 12
// channels and every 21 ms with 16, HoTT's SUMD every 10 ms, Spektrum every
// 11 ms. NORDAX has no published rate.
FamilyDescriptor mpxFamily()
{
    FamilyDescriptor row = windowFamily("mpx", "MPX", 14, "every 14 ms");
    row.startBytes = QByteArray(1, char(0xA1));
    row.frameLength = [](const char *, int) { return 27; };
    row.fixedChannels = row.defaultChannels = row.maxChannels = 12;
    row.usRange = mpxChannelRange;
    row.wireFor = [](int, int us) { return int(mpxWord(us)); };
    row.encode = [](const FrameRequest &request) { return mpxFrame(words(request.wire)); };
    return row;
}

FamilyDescriptor mpx2Family()
{
    FamilyDescriptor row = windowFamily("mpx2", "MPX_V2", 21, "every 21 ms");
    row.startBytes = QByteArray(1, char(0xA2));
    row.frameLength = [](const char *, int) { return 35; };
    row.fixedChannels = row.defaultChannels = row.maxChannels = 16;
    row.usRange = mpxChannelRange;
    row.wireFor = [](int, int us) { return int(mpxWord(us)); };
    row.encode = [](const FrameRequest &request) { return mpxFrame(words(request.wire)); };
    return row;
}

FamilyDescriptor nordaxFamily()
{
    FamilyDescriptor row = windowFamily("nordax", "NORDAX", 10, "no published rate");
    row.startBytes = QByteArray(1, char(0xA3));
    row.frameLength = [](const char *data, int available) {
        if (available < 2)
            return -1;
        return quint8(data[1]) == 1 ? 29 : 0;
    };
    row.fixedChannels = row.defaultChannels = row.maxChannels = 12;
    row.wireNote = "NORDAX has no public µs scale: its words go as given";
    row.encode = [](const FrameRequest &request) { return nordaxFrame(0, words(request.wire)); };
    row.corrupt = [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 2, random); };
    return row;
}

FamilyDescriptor hottFamily()
{
    FamilyDescriptor row = windowFamily("hott", "HOTT", 10, "every 10 ms");
    row.startBytes = QByteArray(1, char(0xA8));
    row.frameLength = [](const char *data, int available) {
        if (available < 2)
            return -1;
        const quint8 status = quint8(data[1]);
        if (status != 1 && status != hottFailsafeStatus)
            return 0;
        if (available < 3)
            return -1;
        return 2 * quint8(data[2]) + 5;
    };
    row.defaultChannels = 8;
    row.maxChannels = 32;
    row.usRange = hottChannelRange;
    row.wireFor = [](int, int us) { return int(hottWord(us)); };
    row.encode = [](const FrameRequest &request) { return hottFrame(words(request.wire), request.failsafe); };
    row.corrupt = [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 3, random); };
    row.failsafe = FamilyDescriptor::FlagsIt;
    row.failsafeNote = "status 0x81";
    return row;
}

FamilyDescriptor spektrumFamily()
{
    FamilyDescriptor row = windowFamily("spektrum", "SPEKTRUM", 11, "every 11 ms");
    // 0xA2 is a sender that uses the wrong type byte.
    row.startBytes = QByteArray("\xA5\xA2", 2);
    row.frameLength = [](const char *, int) { return 18; };
    row.defaultChannels = 7;
    row.maxChannels = 12;
    row.wireMax = 0x07FF;
    row.usRange = spektrumRange;
    row.wireFor = [](int, int us) { return spektrumPosition(us); };
    row.encode = [](const FrameRequest &request) {
        // More channels than a frame holds: frames take turns, the first
        // seven channels and then the rest, so that each goes every second frame.
        const QVector<int> &values = request.wire;
        QVector<quint16> carried;
        const int first = values.size() > spektrumWordsPerFrame && request.index % 2 ? spektrumWordsPerFrame : 0;
        for (int id = first; id < values.size() && carried.size() < spektrumWordsPerFrame; ++id)
            carried << spektrumWord(id, values[id]);
        while (carried.size() < spektrumWordsPerFrame)
            carried << spektrumUnusedWord;
        return spektrumFrame(request.failsafe ? 0 : spektrumSignalBit, carried);
    };
    row.failsafe = FamilyDescriptor::FlagsIt;
    row.failsafeNote = "mode bit 1 clear";
    return row;
}
