// SPDX-License-Identifier: GPL-3.0-or-later
// The protocol families the command-line programs read and send, one row
// each: names, line settings, rate, how a frame is found, read, made and
// damaged. Dump, send and --watch read this table; the window keeps its own.
#ifndef LINKSCOPE_FAMILYTABLE_H
#define LINKSCOPE_FAMILYTABLE_H

#include "decode/families/linesettings.h"
#include "decode/microseconds.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class QRandomGenerator;

// What a generated frame carries.
struct FrameRequest
{
    QVector<int> wire;  // one value per channel, as sent
    qint64 index = 0;   // the frame's number, for families whose frames take turns
    bool failsafe = false;
    int variant = 0;    // the form, where a family has several (DSM: 1024 or 2048); 0 its default
};

struct FamilyDescriptor
{
    // How frames are told apart. Checksummed frames are found by start
    // bytes, length and check; frames without a check (SBUS, DSM) will need
    // the gaps between them and are framed elsewhere.
    enum Framing { ByChecksum, ByGap };
    // What a receiver of the family does when it loses the transmitter.
    enum Failsafe { FlagsIt, FallsSilent };

    const char *name = "";       // as --family takes it: "crsf"
    const char *recordName = ""; // as records show it: "CRSF"
    bool srxl = false;           // one of the five families the window shows
    // Families, by name and comma-separated, whose frames are these bytes
    // too (XBUS's are MPX's): they cannot be looked for together, and
    // --family auto, which takes the first in the table, never tries this.
    const char *sameBytesAs = "";
    LineSettings line;
    double periodMs = 10;   // between frames, as receivers send them
    const char *periodNote = "";
    Framing framing = ByChecksum;

    // Frame finding: the bytes a frame may start with, and at data (which
    // starts with one of them) the frame's length, 0 where none starts, or
    // -1 while more bytes are needed to tell. check says a whole candidate
    // passes its checksum.
    QByteArray startBytes;
    // Of those, the ones receivers send where others are seen too (CRSF's
    // 0xC8, to the flight controller); empty where all are. Of two frames
    // that pass their checks over the same bytes, neither followed by
    // another, one that starts so is taken.
    QByteArray usualStartBytes;
    int (*frameLength)(const char *data, int available) = nullptr;
    bool (*check)(const char *data, int length) = nullptr;
    // An 8-bit check, which noise passes one time in 256: a frame of such a
    // family that another overlaps is taken only once the other is complete.
    bool shortCheck = false;
    // The longest frame receivers send, where it is longer than the
    // window's families' (SRXL2's 80 bytes): a damaged frame is only ever
    // taken, and a candidate waited for, up to this length.
    int longestSent = 0;
    // Reads a whole frame that frameLength accepted, its check passed or not.
    void (*read)(const char *data, int length, FrameReading &reading) = nullptr;
    // Its records may carry packet_count, telemetry, delay_ms and paired
    // (ST24, EX Bus): a CSV header names them.
    bool telemetryFields = false;

    // Sending.
    int fixedChannels = 0; // 0: as many as given, up to maxChannels
    int defaultChannels = 8;
    int maxChannels = 16;
    int wireMax = 0xFFFF;  // largest value --wire takes
    int (*channelWireMax)(int channel) = nullptr; // where channels differ
    const char *wireNote = "";
    // The µs a channel (0-based) can carry; lowest > highest where the
    // family has no µs scale.
    MicrosecondRange (*usRange)(int channel) = nullptr;
    // The wire value for us, which lies in the range.
    int (*wireFor)(int channel, int us) = nullptr;
    QByteArray (*encode)(const FrameRequest &request) = nullptr;
    // Damages a frame so that it is still found where it is and only its
    // check fails.
    void (*corrupt)(QByteArray &frame, QRandomGenerator &random) = nullptr;
    Failsafe failsafe = FallsSilent;
    const char *failsafeNote = "";
    // A frame sent beside the channels every linkPeriodMs (CRSF's link
    // statistics), also while in failsafe; none where 0.
    double linkPeriodMs = 0;
    QByteArray (*linkFrame)(bool failsafe) = nullptr;
    // A poll sent right after the channels every pollPeriodMs (EX Bus: a
    // telemetry request), number index of the run; none in failsafe.
    double pollPeriodMs = 0;
    QByteArray (*pollFrame)(qint64 index) = nullptr;
    // The flight controller's side of a polled wire: the reply to a frame
    // that passed its check, the index-th of the run; empty where the frame
    // asks for none.
    QByteArray (*answer)(const char *data, int length, qint64 index) = nullptr;
    // Telemetry frames the family carries besides channels, one kind each
    // (CRSF's battery, GPS, …; SmartPort's poll and each sensor's data):
    // the frame of kind 0 … telemetryKinds − 1, its values moving with index.
    int telemetryKinds = 0;
    QByteArray (*telemetryFrame)(int kind, qint64 index) = nullptr;

    // Framing without a checksum (ByGap): frames of frameBytes, after a
    // line quiet for at least gapMs where byte times are known. fits gives
    // the forms (a bit each) a frame at data may be read in, 0 where it
    // breaks the family's rules. agree, where set, tells the form that
    // frames back to back agree on (0 none); without it, a frame is trusted
    // untimed where another frame's start byte follows it.
    int frameBytes = 0;
    double gapMs = 0;
    unsigned (*fits)(const char *data) = nullptr;
    unsigned (*agree)(const char *const *frames, int count, unsigned forms) = nullptr;
    int agreeFrames = 0;   // frames agree looks at without times
    // How strongly frames back to back, read in form, show that they start
    // where taken (DSM: a system byte that names the form, padding after
    // the servo words, a steady header); without times the framer locks
    // where this is strongest.
    int (*alignment)(const char *const *frames, int count, unsigned form) = nullptr;
    // The channel ids a frame names in form, a bit each, 0 where it breaks
    // the form's rules: a frame in step names only ids the stream agreed on.
    quint32 (*ids)(const char *data, unsigned form) = nullptr;
    // Whether after may come right after before in one stream (DSM: its
    // header follows); frames in step must.
    bool (*follows)(const char *before, const char *after) = nullptr;
    // Telemetry slots of slotBytes each that other devices send after a
    // frame (SBUS2): the slot's number (0-7) in the page the frame's end
    // byte asks for, where a slot of that page starts with first; else -1.
    // The framer hands each slot on as a frame of slotBytes, which read
    // tells from the family's frames by its length.
    int slotBytes = 0;
    int (*slotAt)(const char *frame, quint8 first) = nullptr;
    // Reads a frame in the form its framing told (a bit of fits).
    void (*readVariant)(const char *data, int length, int variant, FrameReading &reading) = nullptr;

    bool hasMicroseconds() const { return usRange != nullptr; }
    int wireLimit(int channel) const { return channelWireMax ? channelWireMax(channel) : wireMax; }
};

// Every family, the window's five first.
const QVector<const FamilyDescriptor *> &allFamilies();
// By --family name, record name or the alias people use (sumd, elrs, srxl),
// in any case; nullptr where none is.
const FamilyDescriptor *familyNamed(const QString &name);
// mpx, mpx2, nordax, hott, spektrum: what linkscope-dump reads by default.
QVector<const FamilyDescriptor *> defaultFamilies();
// What --family auto looks for: every family but those whose bytes an
// earlier one reads (XBUS, SUMH).
QVector<const FamilyDescriptor *> autoFamilies();
// Every family that may be looked for together with family.
QVector<const FamilyDescriptor *> familiesBeside(const FamilyDescriptor *family);
// a and b read the same bytes, or share a start byte without a check.
bool readSameBytes(const FamilyDescriptor *a, const FamilyDescriptor *b);
// "crsf, ghst, …" for messages and --help.
QString familyNames();
// A comma-separated list; on an unknown name, or two families that read
// the same bytes, returns false and says why.
bool familiesFromList(const QString &list, QVector<const FamilyDescriptor *> &families, QString &error);
// The line settings the families share, or false where they differ.
bool sharedLineSettings(const QVector<const FamilyDescriptor *> &families, LineSettings &line);

// Helpers the family units share.
// The frame's byte at or after first with one bit flipped.
void flipBitAfter(QByteArray &frame, int first, QRandomGenerator &random);

#endif
