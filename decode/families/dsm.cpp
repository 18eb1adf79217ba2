// SPDX-License-Identifier: GPL-3.0-or-later
// Spektrum remote-receiver frames (DSM2, DSMX): two header bytes and seven
// big-endian servo words, without a checksum. Whether a word holds a 10-bit
// position under a 6-bit id (1024) or an 11-bit one under a 4-bit id (2048)
// is told by the ids themselves, over several frames.
#include "decode/families/dsm.h"

#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr int frameBytes = 16;
constexpr int wordsPerFrame = 7;
constexpr int channelCount = 12;
constexpr quint16 unusedWord = 0xFFFF;
constexpr quint16 pairBit = 0x8000;
// At least this many ids, 0 to N - 1, make a frame set's ids a form's.
constexpr int fewestIds = 5;

quint16 wordAt(const char *data, int i)
{
    return quint16(quint8(data[2 + 2 * i]) << 8 | quint8(data[3 + 2 * i]));
}

bool isVtxFrame(const char *data)
{
    const quint32 tail = quint32(wordAt(data, 5)) << 16 | wordAt(data, 6);
    return (tail & 0xF000F000u) == 0xE000E000u;
}

// A VTX frame's last two words carry settings, not servos.
int servoWords(const char *data)
{
    return isVtxFrame(data) ? 5 : wordsPerFrame;
}

int idOf(quint16 word, int form)
{
    return form == dsm1024 ? word >> 10 & 0x3F : word >> 11 & 0x0F;
}

// The ids the frame's words name in form, a bit each; 0 where one is out of
// range, named twice, or none is named.
quint32 idsIn(const char *data, int form)
{
    quint32 ids = 0;
    for (int i = 0, n = servoWords(data); i < n; ++i) {
        const quint16 word = wordAt(data, i);
        if (word == unusedWord)
            continue;
        const int id = idOf(word, form);
        if (id >= channelCount || ids & (1u << id))
            return 0;
        ids |= 1u << id;
    }
    return ids;
}

unsigned dsmFits(const char *data)
{
    return (idsIn(data, dsm1024) ? dsmForm1024 : 0u) | (idsIn(data, dsm2048) ? dsmForm2048 : 0u);
}

// Ids 0 to N - 1, N at least five.
bool formsASet(quint32 ids)
{
    return (ids & (ids + 1)) == 0 && ids >= (1u << fewestIds) - 1;
}

unsigned dsmAgree(const char *const *frames, int count, unsigned forms)
{
    unsigned agreed = 0;
    for (const int form : {dsm1024, dsm2048}) {
        const unsigned bit = form == dsm1024 ? dsmForm1024 : dsmForm2048;
        if (!(forms & bit))
            continue;
        quint32 ids = 0;
        for (int i = 0; i < count; ++i)
            ids |= idsIn(frames[i], form);
        if (formsASet(ids))
            agreed |= bit;
    }
    // Read one way and the other, the ids must make a set only one way.
    return agreed == dsmForm1024 || agreed == dsmForm2048 ? agreed : 0u;
}

int positionOf(quint16 word, int form)
{
    return form == dsm1024 ? (word & 0x03FF) * 2 : word & 0x07FF;
}

void readDsm(const char *data, int length, int form, FrameReading &reading)
{
    reading.clearExtras();
    reading.family = "DSM";
    reading.hasCheck = false;
    reading.channels = 0;
    reading.failsafe = -1;
    reading.crcOk = length == frameBytes && dsmFits(data) != 0;
    if (length != frameBytes)
        return;
    reading.format = form;
    const quint8 system = quint8(data[1]);
    // A receiver bound internally names its system; a satellite counts fades in both bytes.
    if (system == 0x01 || system == 0x12 || system == 0xA2 || system == 0xB2) {
        reading.fades = quint8(data[0]);
        reading.system = system;
    } else {
        reading.fades = quint8(data[0]) << 8 | system;
    }
    reading.channels = channelCount;
    for (int k = 0; k < channelCount; ++k)
        reading.wire[k] = reading.us[k] = FrameReading::noValue;
    for (int i = 0, n = servoWords(data); i < n; ++i) {
        const quint16 word = wordAt(data, i);
        const int id = idOf(word, form);
        if (word == unusedWord || id >= channelCount)
            continue;
        reading.wire[id] = positionOf(word, form);
        reading.us[id] = dsmMicroseconds(reading.wire[id]);
    }
    if (isVtxFrame(data)) {
        const quint32 vtx = quint32(wordAt(data, 5)) << 16 | wordAt(data, 6);
        reading.type = "VTX";
        reading.hasVtx = true;
        reading.vtx = {int(vtx >> 21 & 0x07), int(vtx >> 16 & 0x0F), int(vtx & 0x0F), int(vtx >> 8 & 0x01),
                       int(vtx >> 4 & 0x01)};
    }
}

// Alone, a frame's form is the one its ids allow; where both do, the one
// whose ids make a set, else 2048, what receivers send today.
void dsmRead(const char *data, int length, FrameReading &reading)
{
    int form = dsm2048;
    if (length == frameBytes) {
        const unsigned forms = dsmFits(data);
        if (forms == dsmForm1024 || (forms == (dsmForm1024 | dsmForm2048) && dsmAgree(&data, 1, forms) == dsmForm1024))
            form = dsm1024;
    }
    readDsm(data, length, form, reading);
}

} // namespace

int dsmMicroseconds(int position)
{
    return (position - 1024) * 1000 / 1700 + 1500;
}

int dsmPosition(int us)
{
    int position = qBound(0, 1024 + (us - 1500) * 1700 / 1000, 2047);
    while (position < 2047 && dsmMicroseconds(position) < us)
        ++position;
    while (position > 0 && dsmMicroseconds(position - 1) >= us)
        --position;
    return position;
}

QByteArray dsmFrame(const FrameRequest &request)
{
    const int form = request.variant == dsm1024 ? dsm1024 : dsm2048;
    // Receivers fill all seven words: fewer channels are padded at the centre.
    QVector<int> values = request.wire;
    while (values.size() < wordsPerFrame)
        values << 1024;
    // More than seven channels take two frames; the second marks itself.
    const bool second = values.size() > wordsPerFrame && request.index % 2;
    QByteArray frame;
    frame.append(char(0)).append(char(form == dsm1024 ? 0x01 : 0xB2));
    int words = 0;
    for (int id = second ? wordsPerFrame : 0; id < values.size() && words < wordsPerFrame; ++id, ++words) {
        // Rounded up, which truncation toward zero shows as the same µs
        // where two positions do.
        quint16 word = form == dsm1024 ? quint16(id << 10 | qMin((values[id] + 1) >> 1, 0x03FF))
                                       : quint16(id << 11 | (values[id] & 0x07FF));
        if (second && words == 0 && form == dsm2048)
            word |= pairBit;
        frame.append(char(word >> 8)).append(char(word & 0xFF));
    }
    for (; words < wordsPerFrame; ++words)
        frame.append(char(0xFF)).append(char(0xFF));
    return frame;
}

FamilyDescriptor dsmFamily()
{
    FamilyDescriptor row;
    row.name = "dsm";
    row.recordName = "DSM";
    row.line = {115200, 8, 'N', 1};
    row.periodMs = 11;
    row.periodNote = "DSMX every 11 ms; --dsm 1024 sends DSM2's 22 ms";
    row.framing = FamilyDescriptor::ByGap;
    row.frameBytes = frameBytes;
    row.gapMs = 5;
    row.fits = dsmFits;
    row.agree = dsmAgree;
    row.agreeFrames = 4;
    row.readVariant = [](const char *data, int length, int form, FrameReading &reading) {
        readDsm(data, length, unsigned(form) == dsmForm1024 ? dsm1024 : dsm2048, reading);
    };
    row.frameLength = [](const char *, int available) { return available < 1 ? -1 : frameBytes; };
    row.check = [](const char *data, int length) { return length == frameBytes && dsmFits(data) != 0; };
    row.read = dsmRead;
    row.defaultChannels = wordsPerFrame;
    row.maxChannels = channelCount;
    row.wireMax = 0x07FF;
    row.wireNote = "--dsm 1024 carries every second position; fewer than 7 channels go padded to 7 at 1500 µs";
    row.usRange = [](int) { return MicrosecondRange{dsmMicroseconds(0), dsmMicroseconds(2047)}; };
    row.wireFor = [](int, int us) { return dsmPosition(us); };
    row.encode = dsmFrame;
    // A flipped position bit cannot be told from a real position; an id no
    // frame carries, in either form, can.
    row.corrupt = [](QByteArray &frame, QRandomGenerator &random) {
        const bool form1024 = dsmFits(frame.constData()) == dsmForm1024;
        int used[wordsPerFrame];
        int count = 0;
        for (int i = 0, n = servoWords(frame.constData()); i < n; ++i) {
            if (wordAt(frame.constData(), i) != unusedWord)
                used[count++] = i;
        }
        if (count == 0)
            return;
        const int at = 2 + 2 * used[random.bounded(count)];
        quint16 word = quint16(quint8(frame[at]) << 8 | quint8(frame[at + 1]));
        // 1024: ids 24 to 31 read as 2048 are 12 to 15, out of range too.
        word = form1024 ? quint16((word & 0x03FF) | (24 + random.bounded(8)) << 10)
                        : quint16((word & 0x87FF) | (12 + random.bounded(4)) << 11);
        frame[at] = char(word >> 8);
        frame[at + 1] = char(word & 0xFF);
    };
    row.failsafe = FamilyDescriptor::FallsSilent;
    row.failsafeNote = "falls silent, as satellites do";
    return row;
}
