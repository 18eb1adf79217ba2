// SPDX-License-Identifier: GPL-3.0-or-later
// What the record writer's files share to build a record's text: whole
// numbers written fast, and the link figures by their record names.
#ifndef LINKSCOPE_DUMP_RECORDTEXT_H
#define LINKSCOPE_DUMP_RECORDTEXT_H

#include "decode/families/framereading.h"

#include <QtGlobal>

#include <string>

namespace recordtext {

// Inline: a record holds a dozen numbers and more, and a capture millions of records.
inline void appendInt(std::string &out, qint64 value)
{
    char digits[24];
    int at = 24;
    quint64 magnitude = value < 0 ? 0 - quint64(value) : quint64(value);
    do {
        digits[--at] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[--at] = '-';
    out.append(digits + at, std::size_t(24 - at));
}

// The link figures by their record names, in order.
struct LinkField
{
    const char *name;
    int FrameReading::Link::*value;
};
inline const LinkField linkFields[] = {
    {"rssi1_dbm", &FrameReading::Link::rssi1Dbm},   {"rssi2_dbm", &FrameReading::Link::rssi2Dbm},
    {"lq", &FrameReading::Link::lq},                {"snr", &FrameReading::Link::snr},
    {"antenna", &FrameReading::Link::antenna},      {"rf_mode", &FrameReading::Link::rfMode},
    {"tx_power_mw", &FrameReading::Link::txPowerMw}, {"tx_power", &FrameReading::Link::txPower},
    {"down_rssi_dbm", &FrameReading::Link::downRssiDbm}, {"down_lq", &FrameReading::Link::downLq},
    {"down_snr", &FrameReading::Link::downSnr},
};

} // namespace recordtext

#endif
