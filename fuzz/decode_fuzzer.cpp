// Feeds arbitrary chunks to the decoder on a real table and checks, after
// every chunk, what must hold whatever arrives: one column, a row layout that
// belongs to one packet family (or the one left by the chunk before), and an
// unrecognised chunk changing nothing. Reads and writes outside the decoder
// state are caught by AddressSanitizer.
#include "decode/decoderstate.h"
#include "decode/packetdecoder.h"

#include <QApplication>
#include <QTableWidget>

#include <cstdio>
#include <cstdlib>

namespace {

QTableWidget *table = nullptr;

struct Shown
{
    int rows = 0;
    int columns = 0;
    QStringList cells;
    QStringList labels;
    bool operator==(const Shown &o) const
    {
        return rows == o.rows && columns == o.columns && cells == o.cells && labels == o.labels;
    }
};

Shown shown()
{
    Shown s;
    s.rows = table->rowCount();
    s.columns = table->columnCount();
    for (int row = 0; row < s.rows; ++row) {
        const QTableWidgetItem *item = table->item(row, 0);
        const QTableWidgetItem *label = table->verticalHeaderItem(row);
        s.cells << (item ? item->text() : QStringLiteral("<none>"));
        s.labels << (label ? label->text() : QStringLiteral("<none>"));
    }
    return s;
}

QStringList channels(int count)
{
    QStringList labels;
    for (int m = 1; m <= count; ++m)
        labels << QStringLiteral("CH%1").arg(m);
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

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The minimal platform, unlike offscreen, frees everything at exit, so
    // LeakSanitizer has nothing of Qt's own to report.
    qputenv("QT_QPA_PLATFORM", "minimal");
    static int argc = 1;
    static char name[] = "decode_fuzzer";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    table = new QTableWidget(0, 1);
    table->show();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray chunk(reinterpret_cast<const char *>(data), int(size));
    const Shown before = shown();
    const bool recognised = decodePacket(chunk, table);
    const Shown after = shown();

    if (after.columns != 1)
        fail("the table no longer has one column");
    if (!(after == before) && !familyOf(after))
        fail("the table shows no family's layout");
    if (!recognised && !(after == before))
        fail("an unrecognised chunk changed the table");
    if (!chunk.isEmpty() && lastPacketType != quint8(chunk.at(0)))
        fail("lastPacketType is not the chunk's first byte");
    if (!chunk.isEmpty() && quint8(chunk.at(0)) == 0xA3 && !recognised)
        fail("a 0xA3 chunk was not recognised");
    return 0;
}
