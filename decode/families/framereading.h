// SPDX-License-Identifier: GPL-3.0-or-later
// The record every family's reader fills: one frame read channel by channel,
// with the value on the wire and the pulse width in µs, and what only some
// families carry.
#ifndef LINKSCOPE_FRAMEREADING_H
#define LINKSCOPE_FRAMEREADING_H

#include "decode/families/telemetry.h"

#include <QtGlobal>

// One frame read channel by channel. Element i is channel i + 1; noValue
// marks a channel this frame carries nothing for.
struct FrameReading
{
    static constexpr int noValue = -0x7FFFFFFF - 1;
    static constexpr int maxChannels = 255;

    const char *family = nullptr; // as the window names it
    bool crcOk = false;
    // False where the family carries no checksum (SBUS, DSM): crcOk then
    // says only that the frame keeps the family's rules.
    bool hasCheck = true;
    int failsafe = -1; // -1 where the family carries no such flag, else 0 or 1
    int channels = 0;
    int droppedChannels = 0; // values the frame carried beyond the channels a family has
    int wire[maxChannels];
    int us[maxChannels];

    // What only some families carry; noValue, -1 or nullptr where a frame
    // carries none. The window's five carry none of it.
    struct Link
    {
        int rssi1Dbm, rssi2Dbm, lq, snr, antenna, rfMode, txPowerMw, txPower, downRssiDbm, downLq, downSnr;
    };
    const char *type = nullptr; // the frame's type by name
    int frameLost = -1;         // -1 where the family has no such flag, else 0 or 1
    int rssi = noValue;         // as the frame gives it
    int frameLosses = noValue;  // as counted by the receiver
    bool hasLink = false;       // link has figures
    Link link;
    // SBUS: its two digital channels, 0 or 1; -1 where none. SBUS2: the
    // page of telemetry slots (0-3) the end byte asks for; -1 where none.
    int ch17 = -1, ch18 = -1;
    int sbus2Page = -1;
    // DSM: the form (1024 or 2048, 0 where none), the header bytes, and a
    // VTX frame's settings.
    struct Vtx
    {
        int band, channel, power, region, pit;
    };
    int format = 0;
    int fades = noValue, system = noValue;
    bool hasVtx = false;
    Vtx vtx;
    // ST24: the receiver's count of packets.
    int packetCount = noValue;
    // On a wire where a poll asks and a reply answers (EX Bus telemetry,
    // SmartPort, the iBUS sensor bus, FPort): the key that pairs a reply
    // with its poll, -1 where the frame is none. A reply that does not say
    // whom it answers (SmartPort's) has anyPollKey; a frame that is the
    // poll or, right after it, its echo (iBUS discover) has both keys.
    static constexpr int anyPollKey = 0x10000;
    int pollKey = -1, replyKey = -1;
    // Of a reply, told by the pairing, not the family: whether a poll with
    // its key came before it (-1 not told), and how long after its last
    // byte the reply began, in ms (noDelay where not known).
    static constexpr double noDelay = -1;
    int replyPaired = -1;
    double replyDelayMs = noDelay;
    // Telemetry values, and the frame's part in polls and replies.
    Telemetry telemetry;
    // What earlier frames on the same line told, where the reader keeps
    // it; nullptr where none is kept. Not cleared from frame to frame.
    TelemetryMemory *memory = nullptr;

    void clearExtras()
    {
        hasCheck = true;
        droppedChannels = 0;
        type = nullptr;
        frameLost = -1;
        rssi = frameLosses = noValue;
        hasLink = false;
        link = {noValue, noValue, noValue, noValue, noValue, noValue, noValue, noValue, noValue, noValue, noValue};
        ch17 = ch18 = -1;
        sbus2Page = -1;
        format = 0;
        fades = system = noValue;
        hasVtx = false;
        vtx = {noValue, noValue, noValue, noValue, noValue};
        packetCount = noValue;
        pollKey = replyKey = -1;
        replyPaired = -1;
        replyDelayMs = noDelay;
        telemetry.clear();
    }
};

#endif
