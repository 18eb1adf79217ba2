// SPDX-License-Identifier: GPL-3.0-or-later
// CRSF (TBS Crossfire, ExpressLRS): address, length, type, payload and a
// CRC-8/DVB-S2 over type and payload. RC channels (0x16), the channel
// subset (0x17) and link statistics (0x14) are read here, telemetry and the
// extended-header frames in crsftelemetry.cpp; other types are named.
#include "decode/families/crsftelemetry.h"
#include "decode/families/packing.h"
#include "decode/families/units.h"

#include <QRandomGenerator>

namespace {

constexpr quint8 receiverAddress = 0xC8;
constexpr quint8 rcChannelsType = 0x16;
constexpr quint8 subsetType = 0x17;
constexpr quint8 linkStatisticsType = 0x14;
constexpr int channelCount = 16;
constexpr int subsetChannels = 24;
constexpr int channelBytes = 22;
constexpr int linkBytes = 10;

// Index 0..8 of the link statistics' TX power.
constexpr int txPowerMw[] = {0, 10, 25, 100, 500, 1000, 2000, 250, 50};

int crsfLength(const char *data, int available)
{
    if (available < 2)
        return -1;
    const int length = quint8(data[1]);
    return length >= 2 && length <= 62 ? length + 2 : 0;
}

bool crsfCheck(const char *data, int length)
{
    return crc8DvbS2(data + 2, length - 3) == quint8(data[length - 1]);
}

int crsfMicroseconds(int raw)
{
    return raw * 5 / 8 + 880;
}

void readSubset(const char *payload, int length, FrameReading &reading)
{
    const quint8 config = quint8(payload[0]);
    const int first = config & 0x1F;
    const int resolution = (config >> 5) & 0x03;
    const int bits = 10 + resolution;
    // The packed bytes: the length less type, config and CRC; a 62-byte
    // frame holds at most 47 values of 10 bits.
    const int count = ((length - 3) * 8) / bits;
    int raw[64];
    unpackLsbFirst(payload + 1, qMin(count, 64), bits, raw);
    // The first channel's five bits reach 32, beyond the 24 channels CRSF
    // has: values for channels past 24 are dropped, and counted.
    const int kept = qBound(0, subsetChannels - first, count);
    reading.droppedChannels = count - kept;
    reading.channels = kept > 0 ? first + kept : 0;
    for (int k = 0; k < reading.channels; ++k)
        reading.wire[k] = reading.us[k] = FrameReading::noValue;
    for (int k = 0; k < kept; ++k) {
        reading.wire[first + k] = raw[k];
        reading.us[first + k] = (raw[k] >> resolution) + 988;
    }
}

void readLink(const char *payload, FrameReading &reading)
{
    const auto byte = [payload](int i) { return int(quint8(payload[i])); };
    FrameReading::Link &link = reading.link;
    link.rssi1Dbm = -byte(0);
    link.rssi2Dbm = -byte(1);
    link.lq = byte(2);
    link.snr = qint8(payload[3]);
    link.antenna = byte(4);
    link.rfMode = byte(5);
    link.txPower = byte(6);
    link.txPowerMw = byte(6) < int(sizeof txPowerMw / sizeof *txPowerMw) ? txPowerMw[byte(6)] : FrameReading::noValue;
    link.downRssiDbm = -byte(7);
    link.downLq = byte(8);
    link.downSnr = qint8(payload[9]);
    reading.hasLink = true;
}

void crsfRead(const char *data, int length, FrameReading &reading)
{
    const quint8 type = quint8(data[2]);
    const int payloadLength = length - 4;
    const char *payload = data + 3;
    if (type == rcChannelsType && payloadLength == channelBytes) {
        reading.type = "RC_CHANNELS";
        unpackLsbFirst(payload, channelCount, 11, reading.wire);
        reading.channels = channelCount;
        for (int k = 0; k < channelCount; ++k)
            reading.us[k] = crsfMicroseconds(reading.wire[k]);
    } else if (type == subsetType && payloadLength >= 2) {
        reading.type = "SUBSET_RC_CHANNELS";
        readSubset(payload, length - 2, reading);
    } else if (type == linkStatisticsType && payloadLength == linkBytes) {
        reading.type = "LINK_STATISTICS";
        readLink(payload, reading);
        // A receiver in failsafe sends no channels, only these with LQ 0.
        reading.failsafe = reading.link.lq == 0;
    } else if (!readCrsfTelemetry(type, payload, payloadLength, reading)) {
        reading.type = typeByteText(type);
    }
}

QByteArray crsfFrame(quint8 type, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(receiverAddress)).append(char(payload.size() + 2)).append(char(type)).append(payload);
    frame.append(char(crc8DvbS2(frame.constData() + 2, payload.size() + 1)));
    return frame;
}

} // namespace

FamilyDescriptor crsfFamily()
{
    FamilyIdentity identity("crsf", "CRSF", {420000, 8, 'N', 1}, 1000.0 / 150, "150 Hz; receivers vary, 50 to 1000 Hz");
    // Receivers address the flight controller (0xC8); others are seen too.
    ChecksumFraming framing(QByteArray("\xC8\xEE\xEA\xEC\x00", 5), crsfLength, crsfCheck);
    framing.usualStartBytes = QByteArray(1, char(receiverAddress));
    framing.shortCheck = true;
    FamilySending sending(
        channelCount, channelCount,
        [](const FrameRequest &request) {
            QByteArray payload;
            packLsbFirst(payload, request.wire, 11);
            return crsfFrame(rcChannelsType, payload);
        },
        // Past address and length, so that the frame is still found.
        [](QByteArray &frame, QRandomGenerator &random) { flipBitAfter(frame, 2, random); });
    sending.fixedChannels = channelCount;
    sending.wireMax = 0x07FF;
    sending.usRange = [](int) { return MicrosecondRange{880, 2159}; };
    sending.wireFor = [](int, int us) { return ceilingSteps(us - 880, 8, 5); };
    sending.failsafe = FamilySending::FallsSilent;
    sending.failsafeNote = "falls silent, its link statistics say LQ 0";
    sending.linkPeriodMs = 100;
    sending.linkFrame = [](bool failsafe) {
        // Plausible figures: -45/-47 dBm, SNR 9 dB, 250 mW.
        const char payload[linkBytes] = {45, 47, char(failsafe ? 0 : 100), 9, 0, 4, 7, 50, char(failsafe ? 0 : 100), 8};
        return crsfFrame(linkStatisticsType, QByteArray(payload, linkBytes));
    };
    sending.telemetryKinds = crsfTelemetryKinds;
    sending.telemetryFrame = [](int kind, qint64 index) {
        quint8 type = 0;
        const QByteArray payload = crsfTelemetryPayload(kind, index, type);
        return crsfFrame(type, payload);
    };
    // The flight controller's GPS, vario, battery, baro altitude, attitude
    // and flight mode, each once in Betaflight's 100 ms cycle.
    sending.telemetryTo = 6;
    sending.telemetryPeriodMs = 100.0 / 6;
    return FamilyDescriptor(identity, framing, FamilyReading(crsfRead), sending);
}
