// SPDX-License-Identifier: GPL-3.0-or-later
// FrSky FPort (0x7E-delimited, byte-stuffed) and FPort2 (length first, no
// delimiters): SBUS-style channels, flags and RSSI, and FrSky's sum. The
// flight controller's replies to FPort's telemetry requests come without
// delimiters: 08 81 PRIM APPID VALUE CRC, after one 0xFF pad byte or none.
#include "decode/families/frsky.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 delimiter = 0x7E;
constexpr quint8 escape = 0x7D;
constexpr quint8 controlLength = 0x19;
constexpr quint8 downlinkLength = 0x08;
constexpr int channelCount = 16;
constexpr quint8 frameLostBit = 0x04;
constexpr quint8 failsafeBit = 0x08;
constexpr int longestContent = 1 + controlLength + 1;
constexpr quint8 pad = 0xFF;
constexpr quint8 downlinkType = 0x81;
constexpr int downlinkContent = 1 + downlinkLength + 1;

int sbusMicroseconds(int raw)
{
    return raw * 1000 / 1600 + 875;
}

// The bytes between the delimiters with the stuffing taken out, into
// content; the frame's length on the wire, 0 where none starts, -1 while
// more bytes are needed.
int unstuff(const char *data, int available, quint8 *content, int &contentLength)
{
    contentLength = 0;
    int want = longestContent;
    int at = 1;
    while (contentLength < want) {
        if (at >= available)
            return -1;
        quint8 byte = quint8(data[at++]);
        if (byte == delimiter)
            return 0;
        if (byte == escape) {
            if (at >= available)
                return -1;
            byte = quint8(data[at++]);
            if (byte != (delimiter ^ 0x20) && byte != (escape ^ 0x20))
                return 0;
            byte ^= 0x20;
        }
        if (contentLength == 0) {
            if (byte != controlLength && byte != downlinkLength)
                return 0;
            want = 1 + byte + 1;
        }
        content[contentLength++] = byte;
    }
    if (at >= available)
        return -1;
    return quint8(data[at]) == delimiter ? at + 1 : 0;
}

// A reply's length on the wire with its pad, 0 where none starts, -1 while
// bytes are missing. Bad stuffing still makes a frame, whose check fails.
int downlinkWireLength(const char *data, int available)
{
    const int padded = quint8(data[0]) == pad ? 1 : 0;
    if (available < padded + 2)
        return -1;
    if (quint8(data[padded]) != downlinkLength || quint8(data[padded + 1]) != downlinkType)
        return 0;
    quint8 content[downlinkContent];
    bool stuffingOk = true;
    const int n = frskyUnstuff(data + padded, available - padded, content, downlinkContent, stuffingOk);
    return n > 0 ? padded + n : n;
}

// The reply's content, the pad and stuffing taken out; false where its
// stuffing or sum fails.
bool downlinkContentOf(const char *data, int length, quint8 *content)
{
    const int padded = quint8(data[0]) == pad ? 1 : 0;
    bool stuffingOk = true;
    return frskyUnstuff(data + padded, length - padded, content, downlinkContent, stuffingOk) == length - padded
        && stuffingOk
        && frskyChecksum(reinterpret_cast<const char *>(content), downlinkContent - 1) == content[downlinkContent - 1];
}

// PRIM 0x10 data, as SmartPort's; 0x32 an MSP answer; 0x00 an empty reply.
void readDownlink(const quint8 *content, FrameReading &reading)
{
    reading.telemetry.role = Telemetry::Reply;
    reading.replyKey = 0;
    const quint8 prim = content[2];
    if (prim == 0x10) {
        reading.type = "DATA";
        readFrskyData(content + 3, reading.telemetry);
    } else if (prim == 0x00) {
        reading.type = "EMPTY_REPLY";
    } else {
        reading.type = prim == 0x32 ? "MSP_REPLY" : typeByteText(prim);
        reading.telemetry.bytes("bytes", reinterpret_cast<const char *>(content + 3), 6);
    }
}

int fportLength(const char *data, int available)
{
    if (quint8(data[0]) != delimiter)
        return downlinkWireLength(data, available);
    quint8 content[longestContent];
    int contentLength = 0;
    return unstuff(data, available, content, contentLength);
}

bool fportCheck(const char *data, int length)
{
    if (quint8(data[0]) != delimiter) {
        quint8 reply[downlinkContent];
        return downlinkContentOf(data, length, reply);
    }
    quint8 content[longestContent];
    int n = 0;
    if (unstuff(data, length, content, n) != length)
        return false;
    return frskyChecksum(reinterpret_cast<const char *>(content), n - 1) == content[n - 1];
}

// Channels, flags and RSSI as both FPorts carry them.
void readChannels(const char *body, int channels, FrameReading &reading)
{
    unpackLsbFirst(body, channels, 11, reading.wire);
    reading.channels = channels;
    for (int k = 0; k < channels; ++k)
        reading.us[k] = sbusMicroseconds(reading.wire[k]);
    const int packed = channels * 11 / 8;
    const quint8 flags = quint8(body[packed]);
    reading.frameLost = (flags & frameLostBit) != 0;
    reading.failsafe = (flags & failsafeBit) != 0;
    reading.rssi = quint8(body[packed + 1]);
}

void fportRead(const char *data, int length, FrameReading &reading)
{
    // The check's verdict is the reading's already; the content tells the type.
    quint8 content[longestContent] = {};
    if (quint8(data[0]) != delimiter) {
        downlinkContentOf(data, length, content);
        readDownlink(content, reading);
        return;
    }
    int n = 0;
    unstuff(data, length, content, n);
    const quint8 type = content[1];
    if (type == 0x00 && content[0] == controlLength) {
        reading.type = "CONTROL";
        readChannels(reinterpret_cast<const char *>(content + 2), channelCount, reading);
    } else if (type == 0x01) {
        reading.type = "TELEMETRY_REQUEST";
        reading.telemetry.role = Telemetry::Poll;
        reading.pollKey = 0;
    } else if (type == downlinkType && content[0] == downlinkLength) {
        readDownlink(content, reading);
    } else {
        reading.type = typeByteText(type);
    }
}

// Content between the delimiters, stuffed, with the delimiters around it.
QByteArray stuffed(const QByteArray &content)
{
    QByteArray frame(1, char(delimiter));
    for (char byte : content) {
        if (quint8(byte) == delimiter || quint8(byte) == escape)
            frame.append(char(escape)).append(char(quint8(byte) ^ 0x20));
        else
            frame.append(byte);
    }
    return frame.append(char(delimiter));
}

// Channels padded to count with 1500 µs, flags and an RSSI of 100.
void appendBody(QByteArray &out, const FrameRequest &request, int count)
{
    QVector<int> values = request.wire.mid(0, count);
    while (values.size() < count)
        values << 1000;
    packLsbFirst(out, values, 11);
    out.append(char(request.failsafe ? failsafeBit : 0)).append(char(100));
}

MicrosecondRange sbusRange(int)
{
    return {875, 2154};
}

int sbusWire(int, int us)
{
    return ceilingSteps(us - 875, 1600, 1000);
}

// What both FPorts share: their line and rate, SBUS's scale and the failsafe flag.
FamilyIdentity identityOf(const char *name, const char *recordName)
{
    return FamilyIdentity(name, recordName, {115200, 8, 'N', 1}, 9, "every 9 ms");
}

void fillSending(FamilySending &sending)
{
    sending.wireMax = 0x07FF;
    sending.usRange = sbusRange;
    sending.wireFor = sbusWire;
    sending.failsafe = FamilySending::FlagsIt;
    sending.failsafeNote = "flags bit 3";
}

// FPort2: length (of channels, flags and RSSI), type 0xFF, then those,
// and the sum over type to RSSI.
int fport2Channels(quint8 length)
{
    return length == 0x0D ? 8 : length == 0x18 ? 16 : length == 0x23 ? 24 : 0;
}

int fport2Length(const char *data, int available)
{
    if (available < 2)
        return -1;
    return quint8(data[1]) == 0xFF && fport2Channels(quint8(data[0])) ? quint8(data[0]) + 3 : 0;
}

bool fport2Check(const char *data, int length)
{
    return frskyChecksum(data + 1, length - 2) == quint8(data[length - 1]);
}

void fport2Read(const char *data, int, FrameReading &reading)
{
    reading.type = "CONTROL";
    readChannels(data + 2, fport2Channels(quint8(data[0])), reading);
}

// The receiver's telemetry request: type 0x01, nothing asked of a sensor.
QByteArray telemetryRequest()
{
    QByteArray content(1, char(downlinkLength));
    content.append(char(0x01)).append(QByteArray(7, 0));
    content.append(char(frskyChecksum(content.constData(), content.size())));
    return stuffed(content);
}

// The flight controller's reply to a telemetry request: the sensors' data
// in turn, as Betaflight sends them, without delimiters.
QByteArray downlinkAnswer(const char *data, int length, qint64 index)
{
    quint8 content[longestContent];
    int n = 0;
    if (quint8(data[0]) != delimiter || unstuff(data, length, content, n) != length || n != downlinkContent
        || content[1] != 0x01)
        return QByteArray();
    QByteArray reply(1, char(downlinkLength));
    reply.append(char(downlinkType)).append(char(0x10));
    reply.append(frskyDataFor(int(index % frskySensorCount), index / frskySensorCount));
    reply.append(char(frskyChecksum(reply.constData(), reply.size())));
    return frskyStuffed(reply);
}

} // namespace

FamilyDescriptor fportFamily()
{
    ChecksumFraming framing(QByteArray("\x7E\x08\xFF", 3), fportLength, fportCheck);
    framing.shortCheck = true;
    FamilySending sending(
        channelCount, channelCount,
        [](const FrameRequest &request) {
            QByteArray content;
            content.append(char(controlLength)).append(char(0x00));
            appendBody(content, request, channelCount);
            content.append(char(frskyChecksum(content.constData(), content.size())));
            return stuffed(content);
        },
        // A bit of the content flipped, then stuffed again: still one frame,
        // whose sum fails.
        [](QByteArray &frame, QRandomGenerator &random) {
            quint8 content[longestContent];
            int n = 0;
            unstuff(frame.constData(), frame.size(), content, n);
            QByteArray body(reinterpret_cast<const char *>(content), n);
            flipBitAfter(body, 1, random);
            frame = stuffed(body);
        });
    sending.fixedChannels = channelCount;
    fillSending(sending);
    // Kind 0 the receiver's telemetry request; then the flight controller's
    // replies: each sensor's data (every other one after a pad), an MSP
    // answer, an empty reply.
    sending.telemetryKinds = 1 + frskySensorCount + 2;
    sending.telemetryFrame = [](int kind, qint64 index) {
        if (kind == 0)
            return telemetryRequest();
        QByteArray content(1, char(downlinkLength));
        content.append(char(downlinkType));
        if (kind <= frskySensorCount)
            content.append(char(0x10)).append(frskyDataFor(kind - 1, index));
        else if (kind == frskySensorCount + 1)
            content.append(char(0x32)).append(QByteArray("\x30\x01\x02\x03\x04\x05", 6));
        else
            content.append(QByteArray(7, 0));
        content.append(char(frskyChecksum(content.constData(), content.size())));
        return (kind <= frskySensorCount && index % 2 ? QByteArray(1, char(pad)) : QByteArray()) + frskyStuffed(content);
    };
    // The receiver asks for telemetry after every control frame.
    sending.pollPeriodMs = 9;
    sending.pollFrame = [](qint64) { return telemetryRequest(); };
    sending.telemetryFrom = 1;
    sending.telemetryTo = 1 + frskySensorCount;
    sending.answer = downlinkAnswer;
    FamilyReading reading(fportRead);
    reading.telemetryFields = true;
    return FamilyDescriptor(identityOf("fport", "FPORT"), framing, reading, sending);
}

FamilyDescriptor fport2Family()
{
    ChecksumFraming framing(QByteArray("\x0D\x18\x23", 3), fport2Length, fport2Check);
    framing.shortCheck = true;
    FamilySending sending(
        channelCount, 24,
        [](const FrameRequest &request) {
            // The smallest frame that holds the channels: 8, 16 or 24.
            const int count = request.wire.size() <= 8 ? 8 : request.wire.size() <= 16 ? 16 : 24;
            QByteArray frame;
            frame.append(char(count * 11 / 8 + 2)).append(char(0xFF));
            appendBody(frame, request, count);
            frame.append(char(frskyChecksum(frame.constData() + 1, frame.size() - 1)));
            return frame;
        },
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 2, random); });
    fillSending(sending);
    return FamilyDescriptor(identityOf("fport2", "FPORT2"), framing, FamilyReading(fport2Read), sending);
}
