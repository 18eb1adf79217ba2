// SPDX-License-Identifier: GPL-3.0-or-later
// What the live view shows, kept up to date frame by frame: the link's
// figures over the last second and the last ten, each channel's value
// with the lowest and highest seen, and the telemetry values with their age.
#ifndef LINKSCOPE_DUMP_WATCHFIGURES_H
#define LINKSCOPE_DUMP_WATCHFIGURES_H

#include "decode/channellist.h"
#include "decode/families/framereading.h"
#include "decode/framing/pollpairing.h"

#include <deque>
#include <string>
#include <vector>

struct WatchChannel
{
    static constexpr int none = FrameReading::noValue;
    int value = none; // the last one seen
    int low = none, high = none;
    bool carried = false; // by the newest frame of its family, and within silenceAfter
    int number = 0;       // counted from 1; 0: its place in the list tells
    double seenAt = 0;    // when a frame last carried it
};

// A telemetry value as the view shows it, all in ASCII.
struct WatchTelemetry
{
    std::string label; // its name without the unit: "voltage"
    std::string value; // "16.80"
    std::string unit;  // "V"; "" where none
    double age = 0;    // s since it last came
};

// The view at one moment, all the drawing needs.
struct WatchSnapshot
{
    std::string source;
    std::string family; // of the newest frame; empty before the first
    bool words = false; // values are words as sent, the family has no µs scale
    int scaleLow = 800, scaleHigh = 2200;
    int scaleMark = 1500; // WatchChannel::none: no mark
    double upSeconds = 0;
    int framesLastSecond = 0;
    double intervalMin = -1, intervalMean = -1, intervalMax = -1; // ms; < 0: too few frames
    qint64 crcFailures = 0, crcFailuresRecent = 0, strayBytes = 0, failsafeFrames = 0;
    bool failsafe = false;
    std::string link;       // the newest link figures, where the family sends them
    qint64 lostFrames = -1; // frames flagged lost; -1 where no family flags them
    qint64 flaggingFrames = 0; // frames of families that flag lost ones, for the rate
    double silentFor = -1; // seconds without a frame, once that is long enough to say
    // Seconds since the family's last frame with channels, while its other
    // frames (CRSF's link statistics) still come: a receiver that stopped
    // sending channels.
    double channelsStoppedFor = -1;
    std::string bunching;  // why the intervals are not to be trusted, while reads come in bunches
    bool paused = false;
    std::vector<WatchChannel> channels;
    // Battery first, then the other quantities, values of no known
    // quantity and, last, values that stopped coming.
    std::vector<WatchTelemetry> telemetry;
    // Polls and replies on the wire, since the start or the last reset:
    // in all, then per sensor that answered or was answered for, in the
    // order first polled, and the ids polled but never answered.
    PollPairing::Counts pairing;
    std::vector<std::pair<int, PollPairing::Counts>> sensors;
    std::vector<int> silentSensors;
};

class WatchFigures
{
public:
    static constexpr double silenceAfter = 0.5; // s
    static constexpr double recentFailures = 10; // s
    // Channel frames stopped this long while other frames come: a receiver
    // in failsafe that says so by falling silent (CRSF, GHST).
    static constexpr double stoppedIsFailsafe = 1; // s
    // A telemetry value this old goes after the fresh ones.
    static constexpr double telemetryStale = 10; // s
    // Distinct telemetry values kept; more are left out.
    static constexpr int telemetryKept = 128;

    // t: when the frame's last byte arrived, in s since the start.
    void add(const FrameReading &frame, double t);
    // The channels the snapshot shows; all unless told.
    void setChannels(const ChannelList &list) { chosen = list; }
    // The polls and replies paired so far, as the reading counts them.
    void setPairing(const PollPairing &pairing);
    // Forgets the lowest and highest values and the counters; strayBytes is
    // the stray count so far, from which the view counts anew.
    void reset(qint64 strayBytes);
    WatchSnapshot snapshot(double now, qint64 strayBytes) const;

    // Whether the receiver is in failsafe at now: the newest frame with a
    // matching CRC that tells says so (a flag, or link statistics with LQ
    // 0), or the channel frames stopped for stoppedIsFailsafe while others
    // still come.
    bool failsafe(double now) const;
    // As the snapshot's channelsStoppedFor.
    double channelsStoppedFor(double now) const;
    // When the next change that time alone brings falls after now (silence,
    // channels that stop, failsafe); infinity where none.
    double nextChangeAfter(double now) const;
    // When the last frame arrived; 0, the start, before the first.
    double lastFrameAt() const { return lastAt; }

private:
    struct Family
    {
        const char *name; // the reader's own constant
        bool words;
        int spanLow, spanHigh; // of the words seen, where the family has no µs scale
        int shown = 0;        // channels up to the highest that ever had a value
        std::vector<WatchChannel> channels;
        double channelsAt = -1; // the last frame with channels; none yet
    };

    // A telemetry value's latest reading: by family, frame type, name, the
    // sensor that gave it and the frame's id (SmartPort's application id,
    // whose instances share a name). CRSF's GPS and barometer frames both
    // give an altitude_m.
    struct Reading
    {
        const char *family;
        const char *type; // "" where none
        const char *name;
        int sensor;
        qint64 tag; // -1 where the frame has no id
        int order; // first seen
        TelemetryValue value;
        std::string bytes; // of a text or bytes value
        double at;
    };
    void takeTelemetry(const FrameReading &frame, double t);

    std::vector<Family> families;
    std::vector<Reading> readings;
    ChannelList chosen;
    int newest = -1;
    std::deque<double> lastSecond; // frame times
    std::deque<double> failedAt;   // CRC failures over the last ten seconds
    qint64 crcFailures = 0, failsafeFrames = 0, strayBefore = 0, lostFrames = -1, flaggingFrames = 0;
    std::string link;
    // The pairing's counts, and where they stood at the last reset.
    PollPairing::Counts pairing, pairingBefore;
    std::vector<std::pair<int, PollPairing::Counts>> sensors, sensorsBefore;
    double lastAt = 0;
    bool inFailsafe = false;
};

#endif
