// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/watchfigures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <tuple>

namespace {

// "LQ 100 %  RSSI -45/-47 dBm  SNR 9 dB  250 mW", of what the frame gives.
std::string linkText(const FrameReading::Link &link)
{
    const int none = FrameReading::noValue;
    std::string text;
    char part[64];
    const auto add = [&](int length) { text += (text.empty() ? "" : "  ") + std::string(part, std::size_t(length)); };
    if (link.lq != none)
        add(std::snprintf(part, sizeof part, "LQ %d %%", link.lq));
    if (link.rssi1Dbm != none && link.rssi2Dbm != none)
        add(std::snprintf(part, sizeof part, "RSSI %d/%d dBm", link.rssi1Dbm, link.rssi2Dbm));
    else if (link.rssi1Dbm != none)
        add(std::snprintf(part, sizeof part, "RSSI %d dBm", link.rssi1Dbm));
    if (link.snr != none)
        add(std::snprintf(part, sizeof part, "SNR %d dB", link.snr));
    if (link.txPowerMw != none)
        add(std::snprintf(part, sizeof part, "%d mW", link.txPowerMw));
    else if (link.txPower != none)
        add(std::snprintf(part, sizeof part, "power %d", link.txPower));
    return text;
}

// A scaled number's digits, by hand: the C library's follow the locale.
std::string scaledText(qint64 scaled, int decimals)
{
    std::string digits;
    quint64 magnitude = scaled < 0 ? 0 - quint64(scaled) : quint64(scaled);
    do {
        digits.insert(digits.begin(), char('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0 || int(digits.size()) <= decimals);
    if (decimals > 0)
        digits.insert(digits.size() - std::size_t(decimals), 1, '.');
    return scaled < 0 ? "-" + digits : digits;
}

// The terminal takes ASCII: a degree sign is spelt out, anything else not
// ASCII shows as '?'.
std::string ascii(const char *text, std::size_t size)
{
    std::string shown;
    for (std::size_t i = 0; i < size; ++i) {
        const quint8 byte = quint8(text[i]);
        if (byte == 0xC2 && i + 1 < size && quint8(text[i + 1]) == 0xB0) {
            shown += "deg";
            ++i;
        } else {
            shown += byte >= 0x20 && byte < 0x7F ? char(byte) : '?';
        }
    }
    return shown;
}

// A record's key ends in its unit ("voltage_v"); the view shows the unit
// apart.
std::string labelOf(const TelemetryValue &value)
{
    std::string label = value.name;
    const std::size_t cut = label.rfind('_');
    if (value.kind == TelemetryValue::Number && *value.unit && cut != std::string::npos && cut > 0)
        label.resize(cut);
    return label;
}

std::string valueText(const TelemetryValue &value, const std::string &bytes)
{
    static const char hexDigits[] = "0123456789abcdef";
    constexpr std::size_t longest = 16;
    switch (value.kind) {
    case TelemetryValue::Number:
        return scaledText(value.scaled, value.decimals);
    case TelemetryValue::Flag:
        return value.scaled ? "true" : "false";
    case TelemetryValue::Text: {
        const std::string text = ascii(bytes.data(), bytes.size());
        return '"' + (text.size() > longest ? text.substr(0, longest - 2) + ".." : text) + '"';
    }
    case TelemetryValue::Bytes: {
        std::string text;
        for (std::size_t i = 0; i < bytes.size() && i < longest / 2; ++i) {
            text += hexDigits[quint8(bytes[i]) >> 4];
            text += hexDigits[quint8(bytes[i]) & 15];
        }
        return bytes.size() > longest / 2 ? text + ".." : text;
    }
    default:
        return std::string();
    }
}

// Counts since an earlier reading of them.
PollPairing::Counts since(const PollPairing::Counts &now, const PollPairing::Counts &before)
{
    PollPairing::Counts counts;
    counts.polls = now.polls - before.polls;
    counts.replies = now.replies - before.replies;
    counts.late = now.late - before.late;
    counts.missing = now.missing - before.missing;
    counts.unpaired = now.unpaired - before.unpaired;
    return counts;
}

} // namespace

void WatchFigures::takeTelemetry(const FrameReading &frame, double t)
{
    const Telemetry &telemetry = frame.telemetry;
    // A poll asks and an echo repeats it; a frame sent to one device (a
    // ping, a parameter, a command) talks to it: neither measures.
    if (telemetry.role == Telemetry::Poll || telemetry.role == Telemetry::Echo || telemetry.find("destination"))
        return;
    const char *type = frame.type ? frame.type : "";
    qint64 tag = -1;
    for (int i = 0; i < telemetry.size() && tag < 0; ++i) {
        if (telemetry.at(i).kind == TelemetryValue::Id)
            tag = telemetry.at(i).scaled;
    }
    for (int i = 0; i < telemetry.size(); ++i) {
        const TelemetryValue &value = telemetry.at(i);
        // Ids and named codes tell which sensor or frame a value is of, as
        // does a first plain number that repeats the sensor (an address, a slot).
        if (value.kind == TelemetryValue::Id || value.kind == TelemetryValue::Code)
            continue;
        if (i == 0 && telemetry.sensor >= 0 && value.kind == TelemetryValue::Number && value.decimals == 0
            && value.quantity == TelemetryValue::Other && value.scaled == telemetry.sensor)
            continue;
        auto it = std::find_if(readings.begin(), readings.end(), [&](const Reading &r) {
            return r.sensor == telemetry.sensor && r.tag == tag && std::strcmp(r.name, value.name) == 0
                   && std::strcmp(r.type, type) == 0 && std::strcmp(r.family, frame.family) == 0;
        });
        if (it == readings.end()) {
            if (int(readings.size()) >= telemetryKept)
                continue;
            readings.push_back({frame.family, type, value.name, telemetry.sensor, tag, int(readings.size()), value, {}, t});
            it = readings.end() - 1;
        }
        it->value = value;
        it->at = t;
        if (value.kind == TelemetryValue::Text || value.kind == TelemetryValue::Bytes)
            it->bytes.assign(telemetry.data(value), value.size);
    }
}

void WatchFigures::add(const FrameReading &frame, double t)
{
    lastAt = t;
    lastSecond.push_back(t);
    while (lastSecond.front() <= t - 1)
        lastSecond.pop_front();
    while (!failedAt.empty() && failedAt.front() <= t - recentFailures)
        failedAt.pop_front();
    if (!frame.crcOk) {
        ++crcFailures;
        failedAt.push_back(t);
        // A damaged frame says nothing about the channels or the receiver.
        return;
    }
    if (frame.hasLink)
        link = linkText(frame.link);
    if (frame.telemetry.size() > 0)
        takeTelemetry(frame, t);
    if (frame.frameLost >= 0) {
        lostFrames = std::max<qint64>(lostFrames, 0) + frame.frameLost;
        ++flaggingFrames;
    }
    // A frame that tells failsafe sets it, link statistics by their LQ; one
    // that carries channels without telling ends it, as a receiver that
    // falls silent in failsafe sends channels only outside it.
    if (frame.failsafe >= 0)
        inFailsafe = frame.failsafe == 1;
    else if (frame.channels > 0)
        inFailsafe = false;
    failsafeFrames += frame.failsafe == 1;

    int at = 0;
    while (at < int(families.size()) && families[std::size_t(at)].name != frame.family)
        ++at;
    if (at == int(families.size())) {
        // NORDAX has no public scale: its words are shown as sent.
        const bool words = std::strcmp(frame.family, "NORDAX") == 0;
        families.push_back({frame.family, words, WatchChannel::none, WatchChannel::none, 0, {}});
    }
    newest = at;
    // Link statistics leave the channels as they stand.
    if (frame.channels == 0)
        return;
    Family &family = families[std::size_t(at)];
    family.channelsAt = t;
    if (int(family.channels.size()) < frame.channels)
        family.channels.resize(std::size_t(frame.channels));
    const int *values = family.words ? frame.wire : frame.us;
    for (int k = 0; k < int(family.channels.size()); ++k) {
        WatchChannel &channel = family.channels[std::size_t(k)];
        const int value = k < frame.channels ? values[k] : WatchChannel::none;
        channel.carried = value != WatchChannel::none;
        if (!channel.carried)
            continue;
        channel.value = value;
        channel.seenAt = t;
        channel.low = channel.low == WatchChannel::none ? value : std::min(channel.low, value);
        channel.high = channel.high == WatchChannel::none ? value : std::max(channel.high, value);
        family.shown = std::max(family.shown, k + 1);
        if (family.words) {
            family.spanLow = family.spanLow == WatchChannel::none ? value : std::min(family.spanLow, value);
            family.spanHigh = family.spanHigh == WatchChannel::none ? value : std::max(family.spanHigh, value);
        }
    }
}

void WatchFigures::setPairing(const PollPairing &paired)
{
    pairing = paired.counts();
    sensors.clear();
    for (const auto &group : paired.groups())
        sensors.emplace_back(group.first, group.second);
}

void WatchFigures::reset(qint64 strayBytes)
{
    pairingBefore = pairing;
    sensorsBefore = sensors;
    crcFailures = failsafeFrames = 0;
    lostFrames = lostFrames < 0 ? -1 : 0;
    flaggingFrames = 0;
    failedAt.clear();
    strayBefore = strayBytes;
    // The values standing now are the first seen from here on.
    for (Family &family : families) {
        family.spanLow = family.spanHigh = WatchChannel::none;
        for (WatchChannel &channel : family.channels) {
            channel.low = channel.high = channel.value;
            if (family.words && channel.value != WatchChannel::none) {
                family.spanLow = family.spanLow == WatchChannel::none ? channel.value
                                                                      : std::min(family.spanLow, channel.value);
                family.spanHigh = std::max(family.spanHigh, channel.value);
            }
        }
    }
}

WatchSnapshot WatchFigures::snapshot(double now, qint64 strayBytes) const
{
    WatchSnapshot view;
    view.upSeconds = now;
    // Frame times are estimates that may lie a little after the read that
    // asks; they count as now.
    const auto from = std::upper_bound(lastSecond.cbegin(), lastSecond.cend(), now - 1);
    view.framesLastSecond = int(lastSecond.cend() - from);
    if (view.framesLastSecond >= 2) {
        double shortest = 1e9, longest = 0;
        for (auto it = from + 1; it != lastSecond.cend(); ++it) {
            shortest = std::min(shortest, *it - *(it - 1));
            longest = std::max(longest, *it - *(it - 1));
        }
        view.intervalMin = shortest * 1000;
        view.intervalMax = longest * 1000;
        view.intervalMean = (lastSecond.back() - *from) * 1000 / (view.framesLastSecond - 1);
    }
    view.crcFailures = crcFailures;
    view.crcFailuresRecent = failedAt.cend() - std::upper_bound(failedAt.cbegin(), failedAt.cend(), now - recentFailures);
    view.strayBytes = strayBytes - strayBefore;
    view.failsafeFrames = failsafeFrames;
    view.failsafe = failsafe(now);
    view.channelsStoppedFor = channelsStoppedFor(now);
    view.link = link;
    view.lostFrames = lostFrames;
    view.flaggingFrames = flaggingFrames;
    view.pairing = since(pairing, pairingBefore);
    for (const auto &sensor : sensors) {
        if (sensor.first < 0)
            continue;
        PollPairing::Counts before;
        for (const auto &old : sensorsBefore) {
            if (old.first == sensor.first)
                before = old.second;
        }
        const PollPairing::Counts counts = since(sensor.second, before);
        if (counts.replies > 0 || counts.unpaired > 0)
            view.sensors.emplace_back(sensor.first, counts);
        else if (counts.polls > 0)
            view.silentSensors.push_back(sensor.first);
    }
    if (now - lastAt >= silenceAfter)
        view.silentFor = now - lastAt;
    std::vector<const Reading *> order;
    for (const Reading &reading : readings)
        order.push_back(&reading);
    const auto rank = [now](const Reading *r) {
        // Other is the enum's first: it goes after every known quantity.
        const int quantity = r->value.quantity == TelemetryValue::Other ? 255 : int(r->value.quantity);
        return std::make_tuple(now - r->at >= telemetryStale, quantity, r->order);
    };
    std::sort(order.begin(), order.end(), [&](const Reading *a, const Reading *b) { return rank(a) < rank(b); });
    for (const Reading *r : order) {
        WatchTelemetry shown{labelOf(r->value), valueText(r->value, r->bytes),
                             ascii(r->value.unit, std::strlen(r->value.unit)), std::max(0.0, now - r->at)};
        // Two sensors, instances or families that give a value of one name
        // are told apart by what differs.
        bool sensors = false, tags = false, types = false, shared = false;
        for (const Reading &other : readings) {
            if (&other == r || std::strcmp(other.name, r->name) != 0)
                continue;
            shared = true;
            sensors = sensors || other.sensor != r->sensor;
            tags = tags || other.tag != r->tag;
            types = types || std::strcmp(other.type, r->type) != 0;
        }
        char suffix[24];
        if (tags && r->tag >= 0)
            std::snprintf(suffix, sizeof suffix, "#%04llX", static_cast<unsigned long long>(r->tag));
        else if (sensors && r->sensor >= 0)
            std::snprintf(suffix, sizeof suffix, "#%d", r->sensor);
        else if (types && *r->type)
            std::snprintf(suffix, sizeof suffix, "/%.16s", r->type);
        else
            std::snprintf(suffix, sizeof suffix, "/%.16s", r->family);
        if (shared)
            shown.label += suffix;
        view.telemetry.push_back(std::move(shown));
    }
    if (newest < 0)
        return view;
    const Family &family = families[std::size_t(newest)];
    view.family = family.name;
    view.words = family.words;
    if (family.words) {
        view.scaleMark = WatchChannel::none;
        if (family.spanLow != WatchChannel::none) {
            view.scaleLow = family.spanLow;
            view.scaleHigh = family.spanHigh;
        } else {
            view.scaleLow = 0;
            view.scaleHigh = 0xFFFF;
        }
    }
    for (int k = 0; k < family.shown; ++k) {
        if (!chosen.contains(k + 1))
            continue;
        view.channels.push_back(family.channels[std::size_t(k)]);
        WatchChannel &shown = view.channels.back();
        shown.number = k + 1;
        // A channel no frame carried for a while dims, as when its frames stopped.
        shown.carried = shown.carried && now - shown.seenAt < silenceAfter;
    }
    return view;
}

double WatchFigures::channelsStoppedFor(double now) const
{
    if (newest < 0)
        return -1;
    const double since = families[std::size_t(newest)].channelsAt;
    // Only while other frames still come: without any, the silence says it.
    if (since < 0 || lastAt <= since || now - lastAt >= silenceAfter || now - since < silenceAfter)
        return -1;
    return now - since;
}

bool WatchFigures::failsafe(double now) const
{
    return inFailsafe || channelsStoppedFor(now) >= stoppedIsFailsafe;
}

double WatchFigures::nextChangeAfter(double now) const
{
    double next = std::numeric_limits<double>::infinity();
    const auto consider = [&](double at) {
        if (at > now)
            next = std::min(next, at);
    };
    consider(lastAt + silenceAfter);
    if (newest >= 0 && families[std::size_t(newest)].channelsAt >= 0) {
        consider(families[std::size_t(newest)].channelsAt + silenceAfter);
        consider(families[std::size_t(newest)].channelsAt + stoppedIsFailsafe);
    }
    return next;
}
