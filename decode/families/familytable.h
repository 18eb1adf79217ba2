// SPDX-License-Identifier: GPL-3.0-or-later
// The protocol families, one row each: who the family is, how its frames are
// found (by checksum or by the gaps between them, never both), read and made.
// Each family's unit builds its row from those four groups, whose
// constructors take what a row cannot do without, and the table refuses a
// row that still lacks something. Every program finds, reads and makes frames
// through this table; the window's decoded table reads the five its own way.
#ifndef LINKSCOPE_FAMILYTABLE_H
#define LINKSCOPE_FAMILYTABLE_H

#include "decode/families/framereading.h"
#include "decode/families/linesettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class QRandomGenerator;

// The integer µs a family can carry, ends included.
struct MicrosecondRange
{
    int lowest;
    int highest;
    bool contains(int us) const { return us >= lowest && us <= highest; }
};

// What a generated frame carries.
struct FrameRequest
{
    QVector<int> wire;  // one value per channel, as sent
    qint64 index = 0;   // the frame's number, for families whose frames take turns
    bool failsafe = false;
    int variant = 0;    // the form, where a family has several (DSM: 1024 or 2048); 0 its default
};

// Who the family is: its names, its line and how often its receivers send.
struct FamilyIdentity
{
    FamilyIdentity(const char *name, const char *recordName, const LineSettings &line, double periodMs,
                   const char *periodNote)
        : name(name), recordName(recordName), line(line), periodMs(periodMs), periodNote(periodNote)
    {
    }

    const char *name;       // as --family takes it: "crsf"
    const char *recordName; // as records show it: "CRSF"
    LineSettings line;
    double periodMs;        // between frames, as receivers send them
    const char *periodNote;
    bool srxl = false;      // one of the five families the window shows
    // Families, by name and comma-separated, whose frames are these bytes
    // too (XBUS's are MPX's): they cannot be looked for together, and
    // --family auto, which takes the first in the table, never tries this.
    const char *sameBytesAs = "";
};

// How a family's frames are found, as a row keeps it. A row is built from a
// ChecksumFraming or a GapFraming, each of which sets only its own fields;
// the other's stay empty.
struct FamilyFraming
{
    enum Framing { ByChecksum, ByGap };
    Framing framing = ByChecksum;
    // The bytes a frame may start with; empty where it may start with any (DSM).
    QByteArray startBytes;

    // By checksum: frames found by start byte, length and check.
    // Of the start bytes, the ones receivers send where others are seen too
    // (CRSF's 0xC8, to the flight controller); empty where all are. Of two
    // frames that pass their checks over the same bytes, neither followed
    // by another, one that starts so is taken.
    QByteArray usualStartBytes;
    // At data, which starts with a start byte: the frame's length, 0 where
    // none starts, or -1 while more bytes are needed to tell; and whether a
    // whole candidate passes its checksum. Callers ask frameLength and check
    // of the row, which serve both framings; only the frame assembler and
    // its family set, which hold rows of this framing alone, call these.
    int (*lengthAt)(const char *data, int available) = nullptr;
    bool (*checksumPasses)(const char *data, int length) = nullptr;
    // An 8-bit check, which noise passes one time in 256: a frame of such a
    // family that another overlaps is taken only once the other is complete.
    bool shortCheck = false;
    // The longest frame receivers send, where it is longer than the
    // window's families' (SRXL2's 80 bytes): a damaged frame is only ever
    // taken, and a candidate waited for, up to this length.
    int longestSent = 0;

    // By gap: frames without a checksum (SBUS, DSM) of frameBytes, after a
    // line quiet for at least gapMs where byte times are known. fits gives
    // the forms (a bit each) a frame at data may be read in, 0 where it
    // breaks the family's rules. agree, where set, tells the form that
    // frames back to back agree on (0 none); without it, a frame is trusted
    // untimed where another frame's start byte follows it.
    int frameBytes = 0;
    double gapMs = 0;
    unsigned (*fits)(const char *data) = nullptr;
    unsigned (*agree)(const char *const *frames, int count, unsigned forms) = nullptr;
    int agreeFrames = 0; // frames agree looks at without times
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

protected:
    FamilyFraming() = default;
};

// Frames found by their start bytes, the length the first bytes tell, and
// a checksum.
class ChecksumFraming : private FamilyFraming
{
public:
    ChecksumFraming(const QByteArray &startBytes, int (*frameLength)(const char *data, int available),
                    bool (*check)(const char *data, int length));
    using FamilyFraming::longestSent;
    using FamilyFraming::shortCheck;
    using FamilyFraming::usualStartBytes;

private:
    friend class FamilyDescriptor;
};

// Frames without a checksum, of one length, found by the quiet before them
// or by their rules.
class GapFraming : private FamilyFraming
{
public:
    GapFraming(int frameBytes, double gapMs, unsigned (*fits)(const char *data));
    using FamilyFraming::agree;
    using FamilyFraming::agreeFrames;
    using FamilyFraming::alignment;
    using FamilyFraming::follows;
    using FamilyFraming::ids;
    using FamilyFraming::slotAt;
    using FamilyFraming::slotBytes;
    using FamilyFraming::startBytes;

private:
    friend class FamilyDescriptor;
};

// How a frame of the family is read. The reading comes to the unit's reader
// opened alike for every family (FamilyDescriptor::read): the family's
// record name, the check's verdict, no failsafe flag, no channels and none
// of the extras.
struct FamilyReading
{
    explicit FamilyReading(void (*reader)(const char *data, int length, FrameReading &reading)) : reader(reader) {}

    // Reads a whole frame that frameLength took, its check passed or not.
    void (*reader)(const char *data, int length, FrameReading &reading);
    // The same in the form its framing told (a bit of fits), where a family
    // has several; without it, reader.
    void (*formReader)(const char *data, int length, int form, FrameReading &reading) = nullptr;
    // Where a byte or two tell it: the frame says its receiver sent it in
    // failsafe (HoTT's status byte, Spektrum's mode bit).
    bool (*saysFailsafe)(const char *data, int length) = nullptr;
    // In failsafe the receiver sends frames of their own in place of its
    // live ones (SUMD's status 0x81), which the window does not show.
    bool failsafeFramesApart = false;
    // Its records may carry packet_count, telemetry, delay_ms and paired
    // (ST24, EX Bus): a CSV header names them.
    bool telemetryFields = false;
};

// How frames of the family are made: for linkscope-send, the tests and the fuzzers.
struct FamilySending
{
    // What a receiver of the family does when it loses the transmitter.
    enum Failsafe { FlagsIt, FallsSilent };

    FamilySending(int defaultChannels, int maxChannels, QByteArray (*encode)(const FrameRequest &request),
                  void (*corrupt)(QByteArray &frame, QRandomGenerator &random))
        : defaultChannels(defaultChannels), maxChannels(maxChannels), encode(encode), corrupt(corrupt)
    {
    }

    int fixedChannels = 0; // 0: as many as given, up to maxChannels
    int defaultChannels;
    int maxChannels;
    int wireMax = 0xFFFF;  // largest value --wire takes
    int (*channelWireMax)(int channel) = nullptr; // where channels differ
    const char *wireNote = "";
    // The µs a channel (0-based) can carry, and the wire value for us, which
    // lies in the range; both or neither, where the family has no µs scale.
    MicrosecondRange (*usRange)(int channel) = nullptr;
    int (*wireFor)(int channel, int us) = nullptr;
    QByteArray (*encode)(const FrameRequest &request);
    // Damages a frame so that it is still found where it is and only its
    // check fails.
    void (*corrupt)(QByteArray &frame, QRandomGenerator &random);
    Failsafe failsafe = FallsSilent;
    const char *failsafeNote = "";
    // A frame sent beside the channels every linkPeriodMs (CRSF's link
    // statistics), also while in failsafe; both or neither.
    double linkPeriodMs = 0;
    QByteArray (*linkFrame)(bool failsafe) = nullptr;
    // A poll sent right after the channels every pollPeriodMs (EX Bus: a
    // telemetry request), number index of the run; none in failsafe; both
    // or neither.
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
    // What linkscope-send --telemetry sends: the kinds from telemetryFrom
    // up to telemetryTo (all past telemetryFrom where 0), those a flight
    // controller or sensor sends, in turn, one every telemetryPeriodMs
    // (the family's periodMs where 0).
    int telemetryFrom = 0, telemetryTo = 0;
    double telemetryPeriodMs = 0;

    bool hasMicroseconds() const { return usRange != nullptr; }
    int wireLimit(int channel) const { return channelWireMax ? channelWireMax(channel) : wireMax; }
};

// A family's row: the four groups, with the framing one of the two.
class FamilyDescriptor : public FamilyIdentity, public FamilyFraming, public FamilyReading, public FamilySending
{
public:
    FamilyDescriptor(const FamilyIdentity &identity, const ChecksumFraming &framing, const FamilyReading &reading,
                     const FamilySending &sending);
    FamilyDescriptor(const FamilyIdentity &identity, const GapFraming &framing, const FamilyReading &reading,
                     const FamilySending &sending);

    // At data: the length of a frame starting there, 0 where none does, or
    // -1 while more bytes are needed to tell.
    int frameLength(const char *data, int available) const
    {
        if (framing == ByChecksum)
            return lengthAt(data, available);
        if (available < 1)
            return -1;
        return startBytes.isEmpty() || startBytes.contains(data[0]) ? frameBytes : 0;
    }
    // A whole frame passes its checksum, or, without one, keeps the family's rules.
    bool check(const char *data, int length) const
    {
        return framing == ByChecksum ? checksumPasses(data, length) : length == frameBytes && fits(data) != 0;
    }
    // Reads a whole frame that frameLength took, its check passed or not.
    void read(const char *data, int length, FrameReading &reading) const;
    // The same in the form its framing told, where the family has several.
    void readVariant(const char *data, int length, int form, FrameReading &reading) const;
    bool hasForms() const { return formReader != nullptr; }
    // The frame, its check passing, says its receiver sent it in failsafe,
    // where a byte or two tell it.
    bool sentInFailsafe(const char *data, int length) const { return saysFailsafe && saysFailsafe(data, length); }

private:
    void open(const char *data, int length, FrameReading &reading) const;
};

// What a row lacks, or holds that its framing does not use; empty where
// it says all it needs. The table refuses a row that is not complete.
QString familyRowFault(const FamilyDescriptor &row);

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

// Reads a whole frame of the window's five families, failsafe HoTT frames
// included, told by its type byte and length. Returns false if data is no
// such frame.
bool readFrame(const char *data, int length, FrameReading &reading);

// Helpers the family units share.
// The frame's byte at or after first with one bit flipped.
void flipBitAfter(QByteArray &frame, int first, QRandomGenerator &random);

#endif
