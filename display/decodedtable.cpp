// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/decodedtable.h"

#include "display/decodedview/packetdecoder.h"
#include "display/tablewriter.h"

bool decodePacket(const QByteArray &chunk, QTableWidget *table)
{
    const DecodedRows decoded = decodeChunk(chunk);
    TableWriter writer(table);
    if (decoded.rows >= 0)
        writer.setShape(decoded.rows, 1);
    for (const auto &cell : decoded.cells)
        writer.setCell(cell.first, cell.second);
    if (!decoded.labels.isEmpty())
        writer.setRowLabels(decoded.labels);
    return decoded.recognised;
}
