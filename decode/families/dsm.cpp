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
// Fades a frame may add to the header's count.
constexpr int maxFadesStep = 15;
// A satellite's fades count, as a header, is mostly below this.
constexpr quint16 fewFades = 0x00FF;

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
// range, named twice, or none is named. In 2048, ids 12 to 15 are X-Plus
// words or unused: they keep the frame and name no channel.
quint32 idsIn(const char *data, int form)
{
    quint32 ids = 0;
    for (int i = 0, n = servoWords(data); i < n; ++i) {
        const quint16 word = wordAt(data, i);
        if (word == unusedWord)
            continue;
        const int id = idOf(word, form);
        if (id >= channelCount && form == dsm2048)
            continue;
        if (id >= channelCount || ids & (1u << id))
            return 0;
        ids |= 1u << id;
    }
    return ids;
}

int formOf(unsigned bit)
{
    return bit == dsmForm1024 ? dsm1024 : dsm2048;
}

unsigned dsmFits(const char *data)
{
    return (idsIn(data, dsm1024) ? dsmForm1024 : 0u) | (idsIn(data, dsm2048) ? dsmForm2048 : 0u);
}

quint32 dsmIds(const char *data, unsigned form)
{
    return idsIn(data, formOf(form));
}

// Ids 0 to N - 1, N at least five.
bool formsASet(quint32 ids)
{
    return (ids & (ids + 1)) == 0 && ids >= (1u << fewestIds) - 1;
}

// The form a receiver names in its system byte; 0 for a satellite, whose
// header is all fades.
unsigned systemForm(quint8 system)
{
    switch (system) {
    case 0x01: // DSM2, 1024, 22 ms
    case 0x02: // DSM2, 1024, 22 ms
        return dsmForm1024;
    case 0x12: // DSM2, 2048, 11 ms
    case 0xA2: // DSMX, 2048, 22 ms
    case 0xB2: // DSMX, 2048, 11 ms
        return dsmForm2048;
    default:
        return 0;
    }
}

quint16 headerOf(const char *data)
{
    return quint16(quint8(data[0]) << 8 | quint8(data[1]));
}

// Fades only count up, a few a frame, and a receiver's system byte stays;
// a servo word read as a header moves with its stick, either way.
bool headerFollows(const char *before, const char *after)
{
    if (quint16(headerOf(after) - headerOf(before)) <= maxFadesStep)
        return true;
    return before[1] == after[1] && quint8(quint8(after[0]) - quint8(before[0])) <= maxFadesStep;
}

// The form whose ids the frames make a set of, 0 where none does. Both can
// only where 2048 frames of at most six channels read as 1024 too (a 1024
// frame names ids 2k and 2k + 1, one id in 2048): 2048 then, unless the
// system byte names 1024.
unsigned formOfSet(const char *const *frames, int count, unsigned forms)
{
    unsigned agreed = 0;
    for (const unsigned bit : {dsmForm1024, dsmForm2048}) {
        if (!(forms & bit))
            continue;
        quint32 ids = 0;
        for (int i = 0; i < count; ++i)
            ids |= idsIn(frames[i], formOf(bit));
        if (formsASet(ids))
            agreed |= bit;
    }
    if (agreed == (dsmForm1024 | dsmForm2048))
        return systemForm(quint8(frames[0][1])) == dsmForm1024 ? dsmForm1024 : dsmForm2048;
    return agreed;
}

// Frames back to back: a header that follows the one before and ids that
// make a set in one form.
unsigned dsmAgree(const char *const *frames, int count, unsigned forms)
{
    for (int i = 1; i < count; ++i) {
        if (!headerFollows(frames[i - 1], frames[i]))
            return 0;
    }
    return formOfSet(frames, count, forms);
}

// What shows frames to start where they are taken to, strongest first: a
// system byte that names their form, padding only after the servo words,
// a header that reads as a satellite's fades, few, and one that stays; a
// servo word read as a header is none of these, or not for long.
int dsmAlignment(const char *const *frames, int count, unsigned form)
{
    bool named = true, padded = true, steady = true, few = true;
    for (int i = 0; i < count; ++i) {
        named = named && systemForm(quint8(frames[i][1])) == form;
        steady = steady && headerOf(frames[i]) == headerOf(frames[0]);
        few = few && headerOf(frames[i]) <= fewFades;
        bool padding = false;
        for (int w = 0, n = servoWords(frames[i]); w < n; ++w) {
            const bool unused = wordAt(frames[i], w) == unusedWord;
            padded = padded && !(padding && !unused);
            padding = padding || unused;
        }
    }
    return (named ? 8 : 0) + (padded ? 4 : 0) + (few ? 2 : 0) + (steady ? 1 : 0);
}

// The position as sent: 10 bits in 1024, 11 in 2048.
int positionOf(quint16 word, int form)
{
    return form == dsm1024 ? word & 0x03FF : word & 0x07FF;
}

void readDsm(const char *data, int length, int form, FrameReading &reading)
{
    if (length != frameBytes)
        return;
    reading.format = form;
    const quint8 system = quint8(data[1]);
    // A receiver bound internally names its system; a satellite counts fades in both bytes.
    if (systemForm(system)) {
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
        reading.us[id] = dsmMicroseconds(form == dsm1024 ? reading.wire[id] * 2 : reading.wire[id]);
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
        if (forms == dsmForm1024 || (forms == (dsmForm1024 | dsmForm2048) && formOfSet(&data, 1, forms) == dsmForm1024))
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
    FamilyIdentity identity("dsm", "DSM", {115200, 8, 'N', 1}, 11, "DSMX every 11 ms; --dsm 1024 sends DSM2's 22 ms");
    GapFraming framing(frameBytes, 5, dsmFits);
    framing.agree = dsmAgree;
    framing.agreeFrames = 4;
    framing.alignment = dsmAlignment;
    framing.ids = dsmIds;
    framing.follows = headerFollows;
    FamilyReading reading(dsmRead);
    reading.formReader = [](const char *data, int length, int form, FrameReading &into) {
        readDsm(data, length, unsigned(form) == dsmForm1024 ? dsm1024 : dsm2048, into);
    };
    FamilySending sending(wordsPerFrame, channelCount, dsmFrame,
        // A flipped position bit cannot be told from a real position; an id
        // named twice, in either form, can: a word (padding too) takes another's
        // id bits, 10 to 15.
        [](QByteArray &frame, QRandomGenerator &random) {
            int used[wordsPerFrame];
            int count = 0;
            const int n = servoWords(frame.constData());
            for (int i = 0; i < n; ++i) {
                if (wordAt(frame.constData(), i) != unusedWord)
                    used[count++] = i;
            }
            if (count == 0)
                return;
            const int from = used[random.bounded(count)];
            const int to = (from + 1 + int(random.bounded(n - 1))) % n;
            const quint16 id = wordAt(frame.constData(), from) & 0xFC00;
            const quint16 word = quint16((wordAt(frame.constData(), to) & 0x03FF) | id);
            frame[2 + 2 * to] = char(word >> 8);
            frame[3 + 2 * to] = char(word & 0xFF);
        });
    sending.wireMax = 0x07FF;
    sending.wireNote = "--dsm 1024 carries every second position; fewer than 7 channels go padded to 7 at 1500 µs";
    sending.usRange = [](int) { return MicrosecondRange{dsmMicroseconds(0), dsmMicroseconds(2047)}; };
    sending.wireFor = [](int, int us) { return dsmPosition(us); };
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent, as satellites do";
    return FamilyDescriptor(identity, framing, reading, sending);
}
