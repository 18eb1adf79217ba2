// SPDX-License-Identifier: GPL-3.0-or-later
#include "lineloads.h"

#include "packets.h"

#include <QVector>

using namespace packets;

namespace {

quint16 jitter(QRandomGenerator &random, int centre, int spread)
{
    return quint16(centre - spread + int(random.bounded(2 * spread + 1)));
}

QVector<quint16> jittered(QRandomGenerator &random, int count, int centre, int spread)
{
    QVector<quint16> words;
    for (int k = 0; k < count; ++k)
        words << jitter(random, centre, spread);
    return words;
}

} // namespace

namespace lineloads {

QByteArray mpxFrame(QRandomGenerator &random) { return mpx(jittered(random, 12, 0x0AEC, 800)); }
QByteArray mpxV2Frame(QRandomGenerator &random) { return mpxV2(jittered(random, 16, 0x0AEC, 800)); }
QByteArray nordaxFrame(QRandomGenerator &random) { return nordax(0, jittered(random, 12, 2432, 400)); }
QByteArray hott16Frame(QRandomGenerator &random) { return hott(jittered(random, 16, 12000, 3200)); }

QByteArray spektrumFrame(QRandomGenerator &random)
{
    QVector<quint16> words;
    for (int k = 0; k < 7; ++k)
        words << spektrumWord(k, jitter(random, 1024, 500));
    return spektrum(words, 0x02);
}

} // namespace lineloads
