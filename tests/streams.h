// SPDX-License-Identifier: GPL-3.0-or-later
// A reproducible stream of chunks as a busy, noisy line delivers them: every
// family with varying values, failed CRCs, short, merged and foreign chunks.
#ifndef LINKSCOPE_TEST_STREAMS_H
#define LINKSCOPE_TEST_STREAMS_H

#include <QByteArray>
#include <QRandomGenerator>

class MixedStream
{
public:
    explicit MixedStream(quint32 seed) : random(seed) {}
    QByteArray next();
    // Only packets that decode with a matching CRC.
    QByteArray nextValid();

private:
    quint16 word(quint16 low, quint16 high);
    QByteArray validPacket(int family);

    QRandomGenerator random;
    QByteArray previous;
};

#endif
