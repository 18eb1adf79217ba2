// SPDX-License-Identifier: GPL-3.0-or-later
// Packets of every family, built here from the wire formats with a CRC routine
// of the tests' own, and ways to read back what a table shows.
#ifndef LINKSCOPE_TEST_PACKETS_H
#define LINKSCOPE_TEST_PACKETS_H

#include <QByteArray>
#include <QRect>
#include <QStringList>
#include <QVector>

class QTableWidget;

namespace packets {

// CRC-16/XMODEM, byte-wise form (independent of the program's bit loop).
quint16 crc(const QByteArray &data);
// body followed by its CRC, high byte first.
QByteArray withCrc(const QByteArray &body);
// The same packet with its last byte flipped, so the CRC no longer matches.
QByteArray corrupted(QByteArray packet);

QByteArray mpx(const QVector<quint16> &words);        // 12 words, 0xA1
QByteArray mpxV2(const QVector<quint16> &words);      // 16 words, 0xA2
QByteArray nordax(quint8 mode, const QVector<quint16> &words); // 12 words
QByteArray hott(const QVector<quint16> &words);       // count = words.size()
// 7 words, each made with spektrumWord.
QByteArray spektrum(const QVector<quint16> &words, quint8 mode = 0, quint8 type = 0xA5);
quint16 spektrumWord(int id, int raw);

QByteArray fromHex(const char *spaced);

} // namespace packets

QStringList cellTexts(const QTableWidget *table);
QStringList rowLabels(const QTableWidget *table);
// "CH1" to "CH<count>", the labels of the decoded table's channel rows.
QStringList channelLabels(int count);
// The decoder's channel values as they stand, to compare before and after.
QVector<qint16> channelSnapshot();

// All a table shows: its shape, cell texts, row labels and geometry.
struct TableSnapshot
{
    int rows = 0;
    int columns = 0;
    QStringList cells;
    QStringList labels;
    QRect geometry;
    bool operator==(const TableSnapshot &o) const
    {
        return rows == o.rows && columns == o.columns && cells == o.cells && labels == o.labels
            && geometry == o.geometry;
    }
};
TableSnapshot snapshot(const QTableWidget *table);

#endif
