// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedtable.h"

#include "display/decodedview/packetdecoder.h"
#include "display/tablewriter.h"

namespace {

bool show(const DecodedRows &decoded, QTableWidget *table)
{
    TableWriter writer(table);
    if (decoded.rows >= 0)
        writer.setShape(decoded.rows, 1);
    for (const auto &cell : decoded.cells)
        writer.setCell(cell.first, cell.second);
    if (!decoded.labels.isEmpty())
        writer.setRowLabels(decoded.labels);
    return decoded.recognised;
}

} // namespace

bool decodePacket(const QByteArray &chunk, QTableWidget *table)
{
    return show(decodeChunk(chunk), table);
}

bool decodeFrame(const QByteArray &chunk, const FamilyDescriptor &family, bool crcOk, QTableWidget *table)
{
    return show(decodeFrame(chunk, family, crcOk), table);
}
