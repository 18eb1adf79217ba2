// SPDX-License-Identifier: GPL-3.0-or-later
// One run of linkscope-dump: read a port, a capture file or standard input,
// find the frames, print a record for each or show them in a live view,
// record the raw bytes, and sum up.
#ifndef LINKSCOPE_DUMP_SESSION_H
#define LINKSCOPE_DUMP_SESSION_H

#include "decode/capture/capturereader.h"
#include "decode/channellist.h"
#include "decode/families/familytable.h"
#include "dump/records.h"

#include <QString>

#include <functional>
#include <memory>

class FrameSink;
class QElapsedTimer;

struct DumpOptions
{
    QString source;        // "-", a file, a stream, or a serial port by name or path
    QByteArray sourcePath; // the source's name as given, byte for byte
    qint32 baud = 115200;
    QVector<const FamilyDescriptor *> families = defaultFamilies();
    LineSettings line;    // baud included, for a port or terminal
    QString lineConflict; // why the families agree on no line settings, where they do not
    RecordWriter::Format format = RecordWriter::Text;
    QString recordPath;     // --write
    QByteArray recordBytes; // its name as given, byte for byte
    bool stdinClosed = false; // the program was started without them
    bool stdoutClosed = false;
    bool force = false;
    bool quiet = false;
    bool lowLatency = true;    // set low-latency mode on a port; --no-low-latency leaves it
    bool sayPortTiming = true; // say on standard error what became of low-latency mode
    CaptureReader::Input input = CaptureReader::Detect; // how a capture file or stream is read
    bool inputGiven = false;
    bool watch = false;    // a live view in the terminal instead of records
    bool autoDetect = false; // --family auto: try each family's line settings on a port
    qint64 count = -1;     // stop after this many frames
    double duration = -1;  // stop after this many seconds
    ChannelList channels;  // the channels the records show
    // With watch: makes the live view once a live source is open. It is
    // given here, so that the reading path links no terminal library.
    std::function<std::unique_ptr<FrameSink>(const QString &source, const QElapsedTimer &clock)> makeWatchView;
    // Takes every frame instead of records, as linkscope-plot's picture does.
    FrameSink *sink = nullptr;
};

// Runs until the source ends, a limit is reached or a signal arrives, and
// returns the exit status: 0, 1 when something failed, the device went
// away, or bytes came but no frame of the families looked for (unless a
// sink takes the frames: it decides), or 2 when the recording would overwrite the source, --input was
// given for a port, or the live view is asked of a capture file.
int runDump(const DumpOptions &options);

#endif
