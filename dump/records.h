// SPDX-License-Identifier: GPL-3.0-or-later
// The records linkscope-dump prints, one per frame: aligned text for a
// person, CSV for a spreadsheet, or one JSON object per line.
#ifndef LINKSCOPE_DUMP_RECORDS_H
#define LINKSCOPE_DUMP_RECORDS_H

#include "decode/channellist.h"

#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <string>
#include <vector>

class OutputStream;
class Telemetry;
struct FrameReading;

class RecordWriter
{
public:
    enum Format { Text, Csv, Jsonl };

    // Records that the output cannot take in time are dropped where mayDrop
    // says so; otherwise the writer waits for room unless giveUp says to stop.
    // channels: those the records show, in ascending order.
    RecordWriter(Format format, OutputStream &out, bool mayDrop, std::function<bool()> giveUp,
                 const ChannelList &channels = ChannelList());
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // t in seconds, or NaN where the source has no time, as a file has not.
    // timeFrom says where a JSON line's t came from ("read", "wire" or
    // "capture"); a record without one carries none.
    // source: which of the sources named by setSources the frame came from.
    void write(const FrameReading &frame, double t, qint64 offset, const char *raw, int length,
               const char *timeFrom = nullptr, int source = 0);
    // Several sources in one timeline: each record names its own, as given,
    // first (src). One source: records name none.
    void setSources(const QStringList &names);
    // Records carry the fields only some families have (type, frame_lost,
    // rssi, frame_losses, channels_dropped, link, telemetry); a CSV header
    // names them all, telemetry as one cell of name=value pairs.
    void setFamilyFields(bool on) { extraFields = on; }
    bool familyFields() const { return extraFields; }
    // Records carry SBUS's and DSM's fields too (ch17, ch18, format, fades,
    // system, vtx_*, sbus2_page); a CSV header names them.
    void setGapFields(bool on) { gapFields = on; }
    // Records carry ST24's and EX Bus's fields too (packet_count, telemetry,
    // delay_ms, paired); a CSV header names them.
    void setTelemetryFields(bool on) { telemetryFields = on; }
    // Hands the records written so far to the output. False once the output
    // can take no more, as when a pipe was closed.
    bool flush();

private:
    void header(int channels);
    void extras(const FrameReading &frame);
    void pairingFields(const FrameReading &frame);
    void telemetry(const Telemetry &values);
    void values(const int *list, int count, int columns);
    void readings(const FrameReading &frame, int columns, const char *beforeWire, const char *beforeHex,
                  const char *raw, int length);

    Format format;
    OutputStream &out;
    const bool mayDrop;
    const std::function<bool()> giveUp;
    const ChannelList chosen;
    std::string line;
    qint64 records = 0; // in line
    int columns = -1;   // channel columns in the header written last; none yet
    bool extraFields = false;
    bool gapFields = false;
    bool telemetryFields = false;
    int srcWidth = 0;
    std::vector<std::string> sources; // each as its records give it, ready to append; empty for one source
};

#endif
