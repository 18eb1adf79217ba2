// SPDX-License-Identifier: GPL-3.0-or-later
// What a run reads and how: the source, the families looked for, the line
// settings, the capture form, the limits, and what the client wants said.
#ifndef LINKSCOPE_READING_READOPTIONS_H
#define LINKSCOPE_READING_READOPTIONS_H

#include "decode/capture/capturereader.h"
#include "decode/families/familytable.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

struct ReadOptions
{
    QString source;        // "-", a file, a stream, or a serial port by name or path, as messages show it
    QByteArray sourcePath; // the source's name as given, byte for byte
    QVector<const FamilyDescriptor *> families = defaultFamilies();
    LineSettings line;    // baud included, for a port or terminal
    QString lineConflict; // why the families agree on no line settings, where they do not
    CaptureReader::Input input = CaptureReader::Detect; // how a capture file or stream is read
    bool inputGiven = false;
    QByteArray channel; // of a Saleae export whose rows name their analyser, the one read; empty: the first
    bool autoDetect = false; // --family auto: try each family's line settings on a port
    qint64 count = -1;       // stop after this many frames
    double duration = -1;    // stop after this many seconds
    bool lowLatency = true;    // set low-latency mode on a port; --no-low-latency leaves it
    bool sayPortTiming = true; // say on standard error what became of low-latency mode
    bool stdinClosed = false;  // the program was started without it

    // A capture file of linkscope-dump's JSON lines is read as its records
    // (linkscope-plot); otherwise it is text like any other.
    bool jsonLines = false;
    // Told each source such a file names in its records' src, as first seen.
    std::function<void(int source, const QString &name)> sourceNamed;
    // The sink is a live view: it starts once a live source is open, holds
    // the terminal until the run ends, and messages wait for it meanwhile.
    bool liveView = false;
    // A capture's times as it tells them, not from its first byte: captures
    // merged into one timeline share their clock.
    bool captureClock = false;
    // Where --duration counts from in those times: the earliest first byte
    // of the captures merged.
    double durationFrom = 0;
    // One of two sources: what is said of it names it.
    bool named = false;
    // The summary on standard error at the end.
    bool summary = true;
    // Bytes that came without a frame among them make the run fail; where
    // not, the client decides what a run without frames is.
    bool noFramesFail = true;
};

#endif
