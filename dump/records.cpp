// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/records.h"

#include "decode/families/framereading.h"
#include "dump/output.h"
#include "dump/recordtext.h"

#include <cmath>
#include <cstring>

namespace {

using recordtext::appendInt;
using recordtext::LinkField;
using recordtext::linkFields;

constexpr std::size_t flushAt = 1 << 16;

void appendPadded(std::string &out, const std::string &text, std::size_t width, bool right)
{
    if (right && text.size() < width)
        out.append(width - text.size(), ' ');
    out += text;
    if (!right && text.size() < width)
        out.append(width - text.size(), ' ');
}

void appendTime(std::string &out, double t)
{
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%.6f", t);
    out.append(text, std::size_t(n));
}

void appendHex(std::string &out, const char *raw, int length)
{
    static const char digits[] = "0123456789abcdef";
    const std::size_t at = out.size();
    out.resize(at + 2 * std::size_t(length));
    char *hex = &out[at];
    for (int i = 0; i < length; ++i) {
        const quint8 byte = quint8(raw[i]);
        *hex++ = digits[byte >> 4];
        *hex++ = digits[byte & 15];
    }
}

// A source's name as a JSON string.
std::string jsonString(const QByteArray &utf8)
{
    std::string out = "\"";
    for (const char c : utf8) {
        const quint8 byte = quint8(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

// A source's name as a CSV cell, quoted where it must be.
std::string csvCell(const QByteArray &utf8)
{
    if (utf8.indexOf(',') < 0 && utf8.indexOf('"') < 0 && utf8.indexOf('\n') < 0 && utf8.indexOf('\r') < 0)
        return utf8.toStdString();
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

} // namespace

void RecordWriter::setSources(const QStringList &names)
{
    sources.clear();
    if (names.size() < 2)
        return;
    int widest = 3;
    for (const QString &name : names)
        widest = qMax(widest, name.size());
    for (const QString &name : names) {
        const QByteArray utf8 = name.toUtf8();
        if (format == Jsonl)
            sources.push_back("\"src\":" + jsonString(utf8) + ',');
        else if (format == Csv)
            sources.push_back(csvCell(utf8) + ',');
        else
            sources.push_back(utf8.toStdString() + std::string(std::size_t(widest - name.size()) + 1, ' '));
    }
    // Text's header pads its src column as wide as the widest name.
    srcWidth = widest + 1;
}

RecordWriter::RecordWriter(Format format, OutputStream &out, bool mayDrop, std::function<bool()> giveUp,
                           const ChannelList &channels)
    : format(format), out(out), mayDrop(mayDrop), giveUp(std::move(giveUp)), chosen(channels)
{
    line.reserve(flushAt + 4096);
}

bool RecordWriter::flush()
{
    if (!line.empty() && !out.put(std::move(line), records, !mayDrop, giveUp) && out.state() == OutputStream::Open) {
        // The header may have gone with the dropped records: the next
        // record brings it again.
        columns = -1;
    }
    line.clear();
    records = 0;
    return out.state() == OutputStream::Open;
}

void RecordWriter::header(int channels)
{
    columns = channels;
    if (!sources.empty() && format == Text)
        appendPadded(line, "src", std::size_t(srcWidth), false);
    else if (!sources.empty())
        line += "src,";
    if (format == Text) {
        appendPadded(line, "t", 10, true);
        line += ' ';
        appendPadded(line, "offset", 10, true);
        line += "  ";
        appendPadded(line, "family", 18, false);
        appendPadded(line, "crc", 9, false);
        appendPadded(line, "failsafe", 9, false);
        line += " us (µs) / wire (as sent) / raw frame";
        if (!chosen.all()) {
            line += "; channels ";
            line += chosen.text().toStdString();
        }
        line += '\n';
        return;
    }
    line += "t,offset,family,crc_ok,failsafe";
    if (extraFields) {
        line += ",type,frame_lost,rssi,frame_losses,channels_dropped";
        for (const LinkField &field : linkFields) {
            line += ',';
            line += field.name;
        }
        if (gapFields)
            line += ",ch17,ch18,format,fades,system,vtx_band,vtx_channel,vtx_power,vtx_region,vtx_pit,sbus2_page";
        line += ",telemetry";
        if (telemetryFields)
            line += ",packet_count,delay_ms,paired";
    }
    for (const char *kind : {"us", "wire"}) {
        for (int i = 1; i <= channels; ++i) {
            line += ',';
            line += kind;
            appendInt(line, chosen.all() ? i : chosen.chosen().at(i - 1));
        }
    }
    line += ",raw\n";
}

// A list of channel values: JSON array items, CSV cells up to columns, or
// aligned text; a channel without a value is null, empty or "-".
void RecordWriter::values(const int *list, int count, int columns)
{
    if (format == Csv) {
        // The hot path of a large capture: a whole run of cells at once.
        char cells[FrameReading::maxChannels * 12];
        char *at = cells;
        for (int i = 0; i < count; ++i) {
            *at++ = ',';
            int value = list[i];
            if (value == FrameReading::noValue)
                continue;
            if (value < 0) {
                *at++ = '-';
                value = -value;
            }
            char digits[12];
            int n = 0;
            do {
                digits[n++] = char('0' + value % 10);
                value /= 10;
            } while (value != 0);
            while (n > 0)
                *at++ = digits[--n];
        }
        line.append(cells, std::size_t(at - cells));
        // CSV rows have as many channel cells as the header.
        if (columns > count)
            line.append(std::size_t(columns - count), ',');
        return;
    }
    for (int i = 0; i < count; ++i) {
        const bool has = list[i] != FrameReading::noValue;
        if (format == Jsonl) {
            if (i > 0)
                line += ',';
            if (has)
                appendInt(line, list[i]);
            else
                line += "null";
        } else {
            std::string cell;
            if (has)
                appendInt(cell, list[i]);
            else
                cell = "-";
            appendPadded(line, cell, 6, true);
        }
    }
}

// The values in µs, then as sent on the wire, then the frame's bytes in hex,
// each part after its separator.
void RecordWriter::readings(const FrameReading &frame, int columns, const char *beforeWire, const char *beforeHex,
                            const char *raw, int length)
{
    if (chosen.all()) {
        values(frame.us, frame.channels, columns);
        line += beforeWire;
        values(frame.wire, frame.channels, columns);
    } else {
        // The chosen channels in order; one the frame does not carry has no value.
        int us[FrameReading::maxChannels], wire[FrameReading::maxChannels];
        const QVector<int> &numbers = chosen.chosen();
        for (int i = 0; i < numbers.size(); ++i) {
            const bool carried = numbers.at(i) <= frame.channels;
            us[i] = carried ? frame.us[numbers.at(i) - 1] : FrameReading::noValue;
            wire[i] = carried ? frame.wire[numbers.at(i) - 1] : FrameReading::noValue;
        }
        values(us, numbers.size(), columns);
        line += beforeWire;
        values(wire, numbers.size(), columns);
    }
    line += beforeHex;
    appendHex(line, raw, length);
}

void RecordWriter::write(const FrameReading &frame, double t, qint64 offset, const char *raw, int length,
                         const char *timeFrom, int source)
{
    const std::string *src = sources.empty() ? nullptr : &sources.at(std::size_t(source));
    const char *failsafe = frame.failsafe < 0 ? nullptr : frame.failsafe ? "true" : "false";
    // SBUS and DSM carry no checksum: a frame that keeps their rules has
    // none to pass, and says so with null.
    const bool noCheck = !frame.hasCheck && frame.crcOk;
    const char *crc = noCheck ? "null" : frame.crcOk ? "true" : "false";
    switch (format) {
    case Jsonl:
        line += '{';
        if (src)
            line += *src;
        line += "\"t\":";
        if (!std::isnan(t))
            appendTime(line, t);
        else
            line += "null";
        if (!std::isnan(t) && timeFrom) {
            line += ",\"t_from\":\"";
            line += timeFrom;
            line += '"';
        }
        line += ",\"offset\":";
        appendInt(line, offset);
        line += ",\"family\":\"";
        line += frame.family;
        line += "\",\"crc_ok\":";
        line += crc;
        line += ",\"failsafe\":";
        line += failsafe ? failsafe : "null";
        if (!chosen.all()) {
            line += ",\"channels\":[";
            for (int i = 0; i < chosen.chosen().size(); ++i) {
                if (i > 0)
                    line += ',';
                appendInt(line, chosen.chosen().at(i));
            }
            line += ']';
        }
        if (extraFields)
            extras(frame);
        line += ",\"us\":[";
        readings(frame, 0, "],\"wire\":[", "],\"raw\":\"", raw, length);
        line += "\"}\n";
        break;
    case Csv:
        // A frame with more channels than any before widens the table.
        if (chosen.all() ? frame.channels > columns : columns < 0)
            header(chosen.all() ? frame.channels : chosen.chosen().size());
        if (src)
            line += *src;
        if (!std::isnan(t))
            appendTime(line, t);
        line += ',';
        appendInt(line, offset);
        line += ',';
        line += frame.family;
        line += ',';
        if (!noCheck)
            line += crc;
        line += ',';
        if (failsafe)
            line += failsafe;
        if (extraFields)
            extras(frame);
        readings(frame, columns, "", ",", raw, length);
        line += '\n';
        break;
    case Text: {
        if (columns < 0)
            header(0);
        if (src)
            line += *src;
        std::string cell;
        if (!std::isnan(t))
            appendTime(cell, t);
        else
            cell = "-";
        appendPadded(line, cell, 10, true);
        cell.clear();
        appendInt(cell, offset);
        line += ' ';
        appendPadded(line, cell, 10, true);
        line += "  ";
        appendPadded(line, frame.family, 18, false);
        appendPadded(line, noCheck ? "no check" : frame.crcOk ? "OK" : "FALSE", 9, false);
        appendPadded(line, failsafe ? (frame.failsafe ? "FAILSAFE" : "no") : "-", 9, false);
        if (extraFields)
            extras(frame);
        line += " us";
        readings(frame, 0, " / wire", " / ", raw, length);
        line += '\n';
        break;
    }
    }
    ++records;
    if (line.size() >= flushAt)
        flush();
}
