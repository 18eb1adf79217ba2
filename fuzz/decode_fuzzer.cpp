// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary chunks to the decoder and checks, after every chunk, what
// must hold whatever arrives for the table the result is written to: cells
// only within its rows, a row layout that belongs to one packet family (or
// the one left by the chunk before), and an unrecognised chunk changing
// nothing; and a frame the window's read policy finds shows, decoded with
// the family and verdict found, what the view's own tests show. Reads and
// writes outside the decoder state are caught by AddressSanitizer.
#include "decode/framing/readpolicy.h"
#include "display/decodedview/decoderstate.h"
#include "display/decodedview/packetdecoder.h"
#include "fuzzstream.h"

namespace {

// The decoded table as a window shows it, written the way the window writes it.
struct Shown
{
    int rows = 0;
    QStringList cells;
    QStringList labels;
    bool operator==(const Shown &o) const { return rows == o.rows && cells == o.cells && labels == o.labels; }
};

Shown table;

QStringList channels(int count)
{
    QStringList labels;
    while (labels.size() < count)
        labels << QStringLiteral("CH") + QString::number(labels.size() + 1);
    return labels;
}

// The family whose layout the table shows, or nullptr.
const char *familyOf(const Shown &s)
{
    const QString id = s.cells.value(0);
    const QStringList crc{QStringLiteral("CRC")};
    if (s.labels == QStringList{QStringLiteral("ID")} + channels(12) + crc && id == QLatin1String("MPX"))
        return "MPX";
    if (s.labels == QStringList{QStringLiteral("ID")} + channels(16) + crc && id == QLatin1String("MPX_V2"))
        return "MPX_V2";
    if (s.labels == QStringList{"ID", "Version", "Mode"} + channels(12) + crc && id == QLatin1String("NORDAX"))
        return "NORDAX";
    if (s.rows >= 4 && s.labels == QStringList{"ID", "Version", "ChCnt"} + channels(s.rows - 4) + crc
        && id == QLatin1String("HOTT") && s.cells.value(2) == QString::number(s.rows - 4))
        return "HOTT";
    if (s.labels == QStringList{"ID", "Mode"} + channels(20) + crc
        && (id == QLatin1String("SPEKTRUM") || id == QLatin1String("SPEKTRUM (WRONG)")))
        return "SPEKTRUM";
    return nullptr;
}

// New rows come empty and unlabelled; rows that stay keep what they had.
void apply(const DecodedRows &decoded)
{
    if (decoded.rows >= 0) {
        while (table.rows < decoded.rows) {
            table.cells << QStringLiteral("<none>");
            table.labels << QStringLiteral("<none>");
            ++table.rows;
        }
        table.rows = decoded.rows;
        table.cells = table.cells.mid(0, table.rows);
        table.labels = table.labels.mid(0, table.rows);
    }
    for (const auto &cell : decoded.cells) {
        if (cell.first < 0 || cell.first >= table.rows)
            fail("a cell outside the table's rows");
        table.cells[cell.first] = cell.second;
    }
    if (!decoded.labels.isEmpty()) {
        if (decoded.labels.size() != table.rows)
            fail("the labels do not match the rows");
        table.labels = decoded.labels;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray chunk(reinterpret_cast<const char *>(data), int(size));
    const Shown before = table;
    const DecodedRows decoded = decodeChunk(chunk);
    const bool recognised = decoded.recognised;
    apply(decoded);
    const Shown after = table;

    if (!(after == before) && !familyOf(after))
        fail("the table shows no family's layout");
    if (!recognised && !(after == before))
        fail("an unrecognised chunk changed the table");
    if (!chunk.isEmpty() && lastPacketType != quint8(chunk.at(0)))
        fail("lastPacketType is not the chunk's first byte");
    if (!chunk.isEmpty() && quint8(chunk.at(0)) == 0xA3 && !recognised)
        fail("a 0xA3 chunk was not recognised");

    // Each frame the window's read policy finds in the chunk, decoded with
    // the family and verdict found, shows what its own tests show.
    ReadPolicy policy;
    for (const ReadStep &step : policy.read(chunk, 0, false)) {
        if (!step.family || step.bytes.isEmpty())
            continue;
        const DecodedRows tested = decodeChunk(step.bytes);
        apply(tested);
        const Shown asTested = table;
        const DecodedRows found = decodeFrame(step.bytes, *step.family, step.count == ReadStep::CrcOk);
        apply(found);
        if (found.recognised != tested.recognised || !(table == asTested))
            fail("a frame decoded as found shows otherwise than tested");
    }
    return 0;
}
