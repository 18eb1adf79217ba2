// SPDX-License-Identifier: GPL-3.0-or-later
// A serial line's settings as people write them: 420000 8N1, 100000 8E2.
#ifndef LINKSCOPE_DECODE_LINESETTINGS_H
#define LINKSCOPE_DECODE_LINESETTINGS_H

#include <QString>

struct LineSettings
{
    qint32 baud = 115200;
    int dataBits = 8;
    char parity = 'N'; // N, E or O
    int stopBits = 1;

    bool operator==(const LineSettings &other) const
    {
        return baud == other.baud && dataBits == other.dataBits && parity == other.parity
            && stopBits == other.stopBits;
    }
    bool operator!=(const LineSettings &other) const { return !(*this == other); }
    // Bits on the wire for one byte: start, data, parity, stop.
    int bitsPerByte() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    // "8N1"
    QString frameText() const;
    // "420000 8N1"
    QString text() const;
};

// Data bits 5 to 8, parity N, E or O (either case), stop bits 1 or 2: "8E2".
// Leaves the baud as it is.
bool parseLineFrame(const QString &text, LineSettings &line);

#endif
