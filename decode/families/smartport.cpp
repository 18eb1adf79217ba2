// SPDX-License-Identifier: GPL-3.0-or-later
// FrSky SmartPort (57600 8N1, one wire): the receiver polls a physical id
// with 0x7E ID, and a sensor answers 0x10 APPID VALUE CRC, stuffed, with
// FrSky's sum. A poll carries no check, so one is taken only where what
// follows it is what follows polls on a wire: the next poll or a reply.
#include "decode/families/frsky.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 dataFrame = 0x10;
constexpr int pollBytes = 2;
constexpr int contentBytes = 8; // 0x10, APPID, VALUE, CRC

// The physical ids in the order receivers poll them; Betaflight answers as 0x1B.
const quint8 physicalIds[] = {0x00, 0xA1, 0x22, 0x83, 0xE4, 0x45, 0xC6, 0x67, 0x48, 0xE9, 0x6A, 0xCB, 0xAC, 0x0D,
                              0x8E, 0x2F, 0xD0, 0x71, 0xF2, 0x53, 0x34, 0x95, 0x16, 0xB7, 0x98, 0x39, 0xBA, 0x1B};
constexpr int physicalIdCount = int(sizeof physicalIds);

// The id's place in the polling order (0-27), or -1.
int physicalIndex(quint8 id)
{
    for (int i = 0; i < physicalIdCount; ++i) {
        if (physicalIds[i] == id)
            return i;
    }
    return -1;
}

// A reply's length on the wire, 0 where a delimiter cuts it, -1 while bytes
// are missing. Bad stuffing still makes a frame, one whose check fails.
int replyLength(const char *data, int available)
{
    quint8 content[contentBytes];
    bool stuffingOk = true;
    return frskyUnstuff(data, available, content, contentBytes, stuffingOk);
}

int smartportLength(const char *data, int available)
{
    if (available < 1)
        return -1;
    if (quint8(data[0]) == dataFrame)
        return replyLength(data, available);
    // A poll of any id byte, so that a damaged one in step is seen; the
    // byte after it starts the next poll or a reply.
    if (available < pollBytes + 1)
        return -1;
    const quint8 next = quint8(data[pollBytes]);
    return next == frskyDelimiter || next == dataFrame ? pollBytes : 0;
}

bool smartportCheck(const char *data, int length)
{
    if (quint8(data[0]) == frskyDelimiter)
        return length == pollBytes && physicalIndex(quint8(data[1])) >= 0;
    quint8 content[contentBytes];
    bool stuffingOk = true;
    return frskyUnstuff(data, length, content, contentBytes, stuffingOk) == length && stuffingOk
        && frskyChecksum(reinterpret_cast<const char *>(content), contentBytes - 1) == content[contentBytes - 1];
}

void readPoll(const char *data, FrameReading &reading)
{
    const quint8 id = quint8(data[1]);
    reading.type = "POLL";
    reading.telemetry.role = Telemetry::Poll;
    reading.telemetry.sensor = id;
    reading.pollKey = id;
    reading.telemetry.id("physical_id", id);
    if (physicalIndex(id) >= 0)
        reading.telemetry.number("sensor_index", "", TelemetryValue::Other, physicalIndex(id));
}

void smartportRead(const char *data, int length, FrameReading &reading)
{
    if (quint8(data[0]) == frskyDelimiter) {
        readPoll(data, reading);
        return;
    }
    reading.type = "DATA";
    reading.telemetry.role = Telemetry::Reply;
    // A reply does not say which id was polled: it answers the poll before it.
    reading.replyKey = FrameReading::anyPollKey;
    quint8 content[contentBytes];
    bool stuffingOk = true;
    if (frskyUnstuff(data, length, content, contentBytes, stuffingOk) != length)
        return;
    readFrskyData(content + 1, reading.telemetry);
}

QByteArray reply(const QByteArray &idAndValue)
{
    QByteArray content = char(dataFrame) + idAndValue;
    content.append(char(frskyChecksum(content.constData(), content.size())));
    return frskyStuffed(content);
}

// The receiver's poll of the index-th id in its order.
QByteArray pollOf(qint64 index)
{
    return QByteArray(1, char(frskyDelimiter)) + char(physicalIds[index % physicalIdCount]);
}

// Betaflight's answer to a poll of its id, 0x1B: one sensor after another,
// the values moving from answer to answer.
constexpr quint8 flightControllerId = 0x1B;

QByteArray smartportAnswer(const char *data, int length, qint64 index)
{
    if (length != pollBytes || quint8(data[0]) != frskyDelimiter || quint8(data[1]) != flightControllerId)
        return QByteArray();
    return reply(frskyDataFor(int(index % frskySensorCount), index / frskySensorCount));
}

} // namespace

FamilyDescriptor smartportFamily()
{
    FamilyIdentity identity("smartport", "SMARTPORT", {57600, 8, 'N', 1}, 12,
                            "a poll every 12 ms, a reply after those a sensor answers");
    ChecksumFraming framing(QByteArray("\x7E\x10", 2), smartportLength, smartportCheck);
    framing.shortCheck = true;
    FamilySending sending(
        0, 0,
        // Without channels, a frame is the receiver's poll, id after id; the
        // sensors' side is --answer's, or --telemetry's unasked.
        [](const FrameRequest &request) { return pollOf(request.index); },
        // A reply's content with a bit flipped, then stuffed again: its sum
        // fails. A poll has no check: its id turns into one no receiver polls.
        [](QByteArray &frame, QRandomGenerator &random) {
            if (frame.size() == pollBytes) {
                frame[1] = char(quint8(frame[1]) ^ 0x01);
                return;
            }
            quint8 content[contentBytes];
            bool stuffingOk = true;
            frskyUnstuff(frame.constData(), frame.size(), content, contentBytes, stuffingOk);
            QByteArray body(reinterpret_cast<const char *>(content), contentBytes);
            flipBitAfter(body, 1, random);
            frame = frskyStuffed(body);
        });
    sending.failsafeNote = "carries no channels";
    // Kind 0 the receiver's poll, in its order of ids; then each sensor's data.
    sending.telemetryKinds = 1 + frskySensorCount;
    sending.telemetryFrame = [](int kind, qint64 index) {
        if (kind == 0)
            return pollOf(index);
        return reply(frskyDataFor(kind - 1, index));
    };
    sending.telemetryFrom = 1;
    sending.answer = smartportAnswer;
    FamilyReading reading(smartportRead);
    reading.telemetryFields = true;
    return FamilyDescriptor(identity, framing, reading, sending);
}
