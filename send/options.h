// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of linkscope-send, read and checked: anything that cannot
// be meant is a usage error that says why.
#ifndef LINKSCOPE_SEND_OPTIONS_H
#define LINKSCOPE_SEND_OPTIONS_H

#include "decode/capture/capturereader.h"
#include "send/family.h"

#include <QString>
#include <QVector>

struct SendOptions
{
    QString target; // "-", or a serial port by name or path
    qint32 baud = 115200;
    LineSettings line; // baud included; the family's own unless given
    bool quiet = false;
    bool lowLatency = true; // --no-low-latency leaves the port's mode as it is
    bool stdoutClosed = false; // the program was started without standard output

    // Generated frames (no --replay).
    const FamilyDescriptor *family = nullptr;
    QVector<int> wire; // one value per channel, as sent
    bool sweep = false;
    double sweepPeriod = 4;
    int variant = 0; // the family's form, where it has several (--dsm)

    // Answers to the polls of family on the port instead (--answer), this
    // long after the read that brought each (--answer-late), leaving this
    // share of them unanswered (--answer-miss). The poll had ended by the
    // read, so an answer starts at least answerAfterMs after it: 0.6 ms
    // by default, as firmware answers within 0.5 to 2 ms.
    bool answer = false;
    double answerAfterMs = 0.6;
    double answerMiss = 0;
    // The flight controller's or sensor's telemetry instead of the
    // receiver's frames (--telemetry).
    bool telemetry = false;

    // Replay of a file instead.
    QString replayPath;
    QVector<const FamilyDescriptor *> replayFamilies = defaultFamilies(); // the frames a raw capture holds
    bool findReplayFamily = false; // no --family (or auto): found as linkscope-dump --family auto finds it
    bool lineGiven = false;        // --baud or --line: the port keeps them whatever is found
    CaptureReader::Input input = CaptureReader::Detect; // the replayed file's form
    double speed = 1;
    bool loop = false;

    double rate = 0; // frames per second, the family's own unless given
    // --rate max: the frames of the schedule at the default rate, sent
    // without waiting for it.
    bool unpaced = false;
    qint64 count = -1;
    double duration = -1;

    double failsafeAfter = -1;
    double dropoutEvery = -1;
    double dropoutFor = 0.5; // seconds
    double corrupt = 0;
    int chunk = 0;
    double chunkGap = 0.001; // seconds
    quint32 seed = 0;
};

// Reads the arguments; --help and --version print and exit 0, a usage
// error is said and exits 2.
SendOptions parseCommandLine(const QStringList &arguments);

#endif
