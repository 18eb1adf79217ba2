// SPDX-License-Identifier: GPL-3.0-or-later
// What the sender sends, one piece after another, each with the time it is
// due: generated frames or a recording played back.
#ifndef LINKSCOPE_SEND_SOURCE_H
#define LINKSCOPE_SEND_SOURCE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <limits>

struct Outgoing
{
    enum Kind { Live, Failsafe, Damaged, Replayed };

    // Nothing more is sent (a receiver that fell silent) where due is never.
    static constexpr double never = std::numeric_limits<double>::infinity();

    QByteArray bytes;
    double due = 0; // seconds after the start of the run
    Kind kind = Live;
};

class OutgoingSource
{
public:
    virtual ~OutgoingSource() = default;
    // The next piece, or false once there is none.
    virtual bool next(Outgoing &out) = 0;
    // What the source asks of the line on average, to tell when it cannot
    // keep up: bytes in a piece, and seconds from one piece to the next.
    virtual double bytesPerPiece() const = 0;
    virtual double secondsPerPiece() const = 0;
    // Why next() returned false before the end, or nothing.
    virtual QString error() const { return QString(); }
    // What was read but is worth a word (a recording's times that ran
    // backwards, each naming its line); taken once.
    virtual QStringList takeWarnings() { return QStringList(); }
};

#endif
