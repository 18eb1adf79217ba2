// SPDX-License-Identifier: GPL-3.0-or-later
// The records linkscope-dump prints, one per frame: aligned text for a
// person, CSV for a spreadsheet, or one JSON object per line.
#ifndef LINKSCOPE_DUMP_RECORDS_H
#define LINKSCOPE_DUMP_RECORDS_H

#include <QtGlobal>

#include <cstdio>
#include <string>

struct FrameReading;

class RecordWriter
{
public:
    enum Format { Text, Csv, Jsonl };

    RecordWriter(Format format, std::FILE *out);
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // t < 0: the source has no time, as a file has not.
    void write(const FrameReading &frame, double t, qint64 offset, const char *raw, int length);
    // False once the output can take no more, as when a pipe was closed.
    bool flush();
    bool closed() const { return failed; }

private:
    void header(int channels);
    void values(const int *list, int count, int columns);
    void readings(const FrameReading &frame, int columns, const char *beforeWire, const char *beforeHex,
                  const char *raw, int length);

    Format format;
    std::FILE *out;
    std::string line;
    int columns = -1; // channel columns in the header written last; none yet
    bool failed = false;
};

#endif
