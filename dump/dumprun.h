// SPDX-License-Identifier: GPL-3.0-or-later
// One run of linkscope-dump: the reading library reads the source; this
// prints a record for each frame or shows them in the live view, records
// the raw bytes, and decides the exit status.
#ifndef LINKSCOPE_DUMP_DUMPRUN_H
#define LINKSCOPE_DUMP_DUMPRUN_H

#include "decode/channellist.h"
#include "dump/records.h"
#include "reading/readoptions.h"

struct DumpOptions
{
    ReadOptions reading;           // how every source is read, and the run's own limits
    QVector<ReadOptions> sources;  // each source's, in the order given; reading's alone where empty
    RecordWriter::Format format = RecordWriter::Text;
    QString recordPath;     // --write
    QByteArray recordBytes; // its name as given, byte for byte
    bool stdoutClosed = false; // the program was started without it
    bool force = false;
    bool quiet = false;
    bool watch = false;   // a live view in the terminal instead of records
    ChannelList channels; // the channels the records show
};

// Runs until the source ends, a limit is reached or a signal arrives, and
// returns the exit status: 0, 1 when something failed, the device went
// away, or bytes came but no frame of the families looked for, or 2 when
// the recording would overwrite the source, --input was given for a port,
// or the live view is asked of a capture file.
int runDump(const DumpOptions &options);

#endif
