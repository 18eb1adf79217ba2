// SPDX-License-Identifier: GPL-3.0-or-later
// Polls and replies on one wire (Jeti EX Bus telemetry, SmartPort, the
// iBUS sensor bus, FPort): each reply is paired with the poll before it
// where their keys agree, timed from the poll's last byte to the reply's
// first, and counted, in all and per sensor where polls name one.
#ifndef LINKSCOPE_POLLPAIRING_H
#define LINKSCOPE_POLLPAIRING_H

#include <QString>
#include <QVector>

struct FrameReading;

class PollPairing
{
public:
    // A reply that begins later than this after its poll is late.
    static constexpr double lateAfterMs = 2.5;

    struct Counts
    {
        qint64 polls = 0;
        qint64 replies = 0;  // paired with their poll
        qint64 late = 0;     // of them, later than lateAfterMs
        qint64 missing = 0;  // polls no reply answered
        qint64 unpaired = 0; // replies with no poll of their key waiting
        bool any() const { return polls > 0 || replies > 0 || unpaired > 0; }
    };

    // A poll with key, for group (a sensor; -1 where the family has none),
    // whose last byte ended at endMs (NaN where the source has no times).
    // The poll before it, if still unanswered, goes missing.
    void poll(int key, int group, double endMs);
    // A reply with key (FrameReading::anyPollKey: whatever the poll asked)
    // whose first byte began at startMs: true where the poll before it has
    // the key and no reply yet; delayMs then gets how long after it the
    // reply began (NaN without times).
    bool reply(int key, double startMs, double &delayMs);
    // A frame as its family read it, its last byte at endMs, after bytes
    // of byteMs each: a poll or reply is paired, and a reply learns its
    // delay and whether it was paired.
    void take(FrameReading &frame, int bytes, double endMs, double byteMs);
    // No more frames: the poll still waiting goes missing.
    void finish();

    const Counts &counts() const { return all; }
    // "polls: 10, replies: 9 (late 1), missing replies: 1, replies without
    // a poll: 0", for a summary, then a line per sensor where polls named
    // one (those never answered together); empty where none came.
    QString summary() const;
    // By group, in the order they first came.
    const QVector<QPair<int, Counts>> &groups() const { return byGroup; }

private:
    Counts &countsOf(int group);
    QString sensorLines() const;

    Counts all;
    QVector<QPair<int, Counts>> byGroup;
    bool waiting = false; // a poll has no reply yet
    bool waitingEcho = false; // and its echo would be the reply
    bool named = false; // some poll named its sensor
    int waitingKey = 0, waitingGroup = -1;
    double waitingEnd = 0;
};

#endif
