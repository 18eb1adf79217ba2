// SPDX-License-Identifier: GPL-3.0-or-later
// The raw view: every byte of a packet on a row of its own, in hexadecimal.
#ifndef LINKSCOPE_RAWVIEW_H
#define LINKSCOPE_RAWVIEW_H

#include <QByteArray>
#include <QString>

class QTableWidget;

// "0x" and two upper-case hex digits, e.g. "0x05", "0xA5".
QString hexByteText(quint8 value);

// Lists chunk in table, one byte a row. Chunks of 10 bytes or less are too
// short for any listed packet and leave the table as it is.
void showRawPacket(QTableWidget *table, const QByteArray &chunk);

#endif
