// SPDX-License-Identifier: GPL-3.0-or-later
// The record fields only some families carry: the frame type, lost frames
// and link figures, SBUS's and DSM's own, telemetry values, and a reply's
// pairing with its poll.
#include "dump/records.h"

#include "decode/families/framereading.h"
#include "decode/families/telemetry.h"
#include "dump/recordtext.h"

using recordtext::appendInt;
using recordtext::LinkField;
using recordtext::linkFields;

// The fields only some families carry, where the frame has them: JSON
// members, CSV cells (all, empty where missing) or text "name=value".
void RecordWriter::extras(const FrameReading &frame)
{
    const auto field = [this](const char *name, const char *text, qint64 number, bool has, bool quoted = true) {
        if (format == Csv) {
            line += ',';
            if (!has)
                return;
        } else if (!has) {
            return;
        } else {
            line += format == Jsonl ? ",\"" : " ";
            line += name;
            line += format == Jsonl ? "\":" : "=";
        }
        if (text) {
            if (format == Jsonl && quoted)
                line += '"';
            line += text;
            if (format == Jsonl && quoted)
                line += '"';
        } else {
            appendInt(line, number);
        }
    };
    const char *lost = frame.frameLost < 0 ? nullptr : frame.frameLost ? "true" : "false";
    field("type", frame.type, 0, frame.type != nullptr);
    field("frame_lost", lost, 0, lost != nullptr, false);
    field("rssi", nullptr, frame.rssi, frame.rssi != FrameReading::noValue);
    field("frame_losses", nullptr, frame.frameLosses, frame.frameLosses != FrameReading::noValue);
    // Values a frame carried for channels its family does not have (CRSF's 0x17 past channel 24).
    field("channels_dropped", nullptr, frame.droppedChannels, frame.droppedChannels > 0);
    const auto gapExtras = [&] {
        field("ch17", nullptr, frame.ch17, frame.ch17 >= 0);
        field("ch18", nullptr, frame.ch18, frame.ch18 >= 0);
        field("format", nullptr, frame.format, frame.format > 0);
        field("fades", nullptr, frame.fades, frame.fades != FrameReading::noValue);
        field("system", nullptr, frame.system, frame.system != FrameReading::noValue);
        field("vtx_band", nullptr, frame.vtx.band, frame.hasVtx);
        field("vtx_channel", nullptr, frame.vtx.channel, frame.hasVtx);
        field("vtx_power", nullptr, frame.vtx.power, frame.hasVtx);
        field("vtx_region", nullptr, frame.vtx.region, frame.hasVtx);
        field("vtx_pit", nullptr, frame.vtx.pit, frame.hasVtx);
        field("sbus2_page", nullptr, frame.sbus2Page, frame.sbus2Page >= 0);
    };
    if (format == Jsonl) {
        if (gapFields)
            gapExtras();
        if (frame.telemetry.size() > 0) {
            line += ",\"telemetry\":";
            frame.telemetry.appendJson(line);
        }
        if (telemetryFields)
            pairingFields(frame);
        if (!frame.hasLink)
            return;
        line += ",\"link\":{";
        bool first = true;
        for (const LinkField &entry : linkFields) {
            const int value = frame.link.*entry.value;
            if (value == FrameReading::noValue)
                continue;
            line += first ? "\"" : ",\"";
            first = false;
            line += entry.name;
            line += "\":";
            appendInt(line, value);
        }
        line += '}';
        return;
    }
    for (const LinkField &entry : linkFields) {
        const int value = frame.link.*entry.value;
        field(entry.name, nullptr, value, frame.hasLink && value != FrameReading::noValue);
    }
    if (gapFields)
        gapExtras();
    telemetry(frame.telemetry);
    if (telemetryFields)
        pairingFields(frame);
}

// ST24's packet count and a reply's pairing: JSON members, CSV cells, or
// text name=value.
void RecordWriter::pairingFields(const FrameReading &frame)
{
    const auto name = [this](const char *text) {
        if (format == Csv) {
            line += ',';
            return;
        }
        line += format == Jsonl ? ",\"" : " ";
        line += text;
        line += format == Jsonl ? "\":" : "=";
    };
    const auto number = [this](qint64 value, int decimals) {
        qint64 unit = 1;
        for (int i = 0; i < decimals; ++i)
            unit *= 10;
        const quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
        if (value < 0)
            line += '-';
        appendInt(line, qint64(magnitude / quint64(unit)));
        if (decimals > 0) {
            line += '.';
            std::string fraction;
            appendInt(fraction, qint64(magnitude % quint64(unit)));
            line.append(std::size_t(decimals) - fraction.size(), '0');
            line += fraction;
        }
    };
    const bool csv = format == Csv;
    if (frame.packetCount != FrameReading::noValue) {
        name("packet_count");
        appendInt(line, frame.packetCount);
    } else if (csv) {
        line += ',';
    }
    const bool reply = frame.replyPaired >= 0;
    if (reply) {
        name("delay_ms");
        if (frame.replyDelayMs >= 0)
            number(qRound64(frame.replyDelayMs * 1000), 3);
        else
            line += format == Jsonl ? "null" : csv ? "" : "-";
        name("paired");
        line += frame.replyPaired ? "true" : "false";
    } else if (csv) {
        line += ",,";
    }
}

// One CSV cell or text's name=value pairs, whatever values the frame has,
// so that a CSV header stays one; the cell quoted where it must be.
void RecordWriter::telemetry(const Telemetry &values)
{
    if (format == Csv)
        line += ',';
    if (values.size() == 0)
        return;
    std::string pairs;
    values.appendPairs(pairs);
    if (format == Text) {
        line += ' ';
        line += pairs;
    } else if (pairs.find_first_of(",\"\n\r") == std::string::npos) {
        line += pairs;
    } else {
        line += '"';
        for (char c : pairs) {
            if (c == '"')
                line += '"';
            line += c;
        }
        line += '"';
    }
}
