// SPDX-License-Identifier: GPL-3.0-or-later
// The frames of a simulated receiver: the family's frame with the chosen
// values or a sweep, one every 1/rate seconds, live or in failsafe, some
// damaged on demand.
#ifndef LINKSCOPE_SEND_GENERATOR_H
#define LINKSCOPE_SEND_GENERATOR_H

#include "send/options.h"
#include "send/source.h"

#include <QRandomGenerator>

class FrameGenerator : public OutgoingSource
{
public:
    explicit FrameGenerator(const SendOptions &options);

    bool next(Outgoing &out) override;
    double bytesPerPiece() const override;
    double secondsPerPiece() const override;

private:
    // Frame number index, due t seconds after the start.
    QByteArray frame(qint64 index, double t, bool failsafe) const;
    QVector<int> valuesAt(double t) const;
    void damage(QByteArray &frame);

    const SendOptions &options;
    qint64 index = 0;
    QRandomGenerator random;
    double nextLinkAt = 0; // when the family's link frame goes next
    double linkDue = -1;   // a link frame waits to go, due then; none where < 0
    double nextPollAt = 0; // likewise the family's poll
    double pollDue = -1;
    qint64 polls = 0;
};

#endif
