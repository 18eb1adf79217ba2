// SPDX-License-Identifier: GPL-3.0-or-later
// The CSV exports of the Saleae Logic async-serial analyser: which header a
// line is, and the rows after it, each a byte with its time.
#ifndef LINKSCOPE_SALEAECSV_H
#define LINKSCOPE_SALEAECSV_H

#include "decode/capture/capturelines.h"

#include <QByteArrayList>

#include <memory>

enum class SaleaeHeader { None, TimeValue, NameType };

// The header a line is: "Time [s],Value,Parity Error,Framing Error" or
// "name,type,start_time,duration,data", either with more columns after
// them, names quoted or not and in any case.
SaleaeHeader saleaeHeader(const char *begin, const char *end);

// Reads an export line by line; the first line it gets is the header. Of
// an export whose rows name their analyser, the bytes of one: lines'
// channel, or the first row's.
std::unique_ptr<CaptureLines> makeSaleaeCsvLines();

// The analysers whose data rows the start of an export names, in the order
// they first come (at most 8), byte for byte as the rows name them; none
// where its rows name none.
QByteArrayList saleaeChannels(const QByteArray &head);
// The same of text that starts with the header, added to names; false
// where more text would add none (no such export, or 8 names).
bool addSaleaeChannels(const QByteArray &text, QByteArrayList &names);

#endif
