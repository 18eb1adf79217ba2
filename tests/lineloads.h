// SPDX-License-Identifier: GPL-3.0-or-later
// Frames as a busy receiver sends them, for the benchmarks that keep a line
// busy: every channel's value jitters around the centre, so that the texts
// shown keep changing.
#ifndef LINKSCOPE_TEST_LINELOADS_H
#define LINKSCOPE_TEST_LINELOADS_H

#include <QByteArray>
#include <QRandomGenerator>

namespace lineloads {

QByteArray mpxFrame(QRandomGenerator &random);
QByteArray mpxV2Frame(QRandomGenerator &random);
QByteArray nordaxFrame(QRandomGenerator &random);
QByteArray hott16Frame(QRandomGenerator &random);
// Live: bit 1 of the mode byte set.
QByteArray spektrumFrame(QRandomGenerator &random);

} // namespace lineloads

#endif
