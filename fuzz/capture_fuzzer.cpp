// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary files to the capture reader, whole and cut into blocks, and
// checks what must hold whatever a file holds: it turns into bytes or into an
// error on one of its lines, the same however it arrives; the bytes stay within
// a bound set by the file's size; a CSV gives one time per byte, never
// running backwards, and other forms none; a file taken as raw comes out
// unchanged; and text is never taken for raw bytes unless asked to be.
// Then the bytes go through every family's framer, cut where the capture
// tells a quiet line, as linkscope-dump reads a capture with them all: no
// two frames overlap, and the frames' bytes and the stray ones are the bytes.
#include "decode/capture/capturereader.h"
#include "decode/capture/saleaecsv.h"
#include "decode/framing/streamframer.h"
#include "fuzzstream.h"

#include <QSet>


namespace {

struct Read
{
    QByteArray bytes;
    QVector<double> times;
    CaptureReader::Form form = CaptureReader::Undecided;
    qint64 leftOut = 0, skipped = 0, errorLine = 0;
    QString error;

    bool operator==(const Read &o) const
    {
        return bytes == o.bytes && times == o.times && form == o.form && leftOut == o.leftOut
            && skipped == o.skipped && errorLine == o.errorLine && error == o.error;
    }
};

Read collect(CaptureReader &reader, Read &read)
{
    read.bytes += reader.takeBytes();
    read.times += reader.takeTimes();
    read.form = reader.form();
    read.leftOut = reader.leftOutBytes();
    read.skipped = reader.skippedRows();
    read.errorLine = reader.errorLine();
    read.error = reader.errorString();
    return read;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks the input the user would force (low two bits) and
    // the size of the blocks (the rest); the file is what follows.
    if (size < 1)
        return 0;
    const auto input = CaptureReader::Input(data[0] & 3);
    const int block = 1 + (data[0] >> 2) * 7;
    const QByteArray contents(reinterpret_cast<const char *>(data + 1), int(size - 1));

    CaptureReader whole(input);
    const bool ok = whole.readAll(contents);
    Read all;
    collect(whole, all);

    CaptureReader pieces(input);
    Read cut;
    for (int at = 0; at < contents.size(); at += block) {
        pieces.feed(contents.constData() + at, qMin(block, int(contents.size()) - at));
        cut.bytes += pieces.takeBytes();
        cut.times += pieces.takeTimes();
    }
    pieces.finish();
    collect(pieces, cut);
    if (!(cut == all))
        fail("the file read in blocks reads differently");

    // The analysers an export's start names: each once. Read for the
    // second, the rows left out are rows of the file.
    const QByteArrayList analysers = saleaeChannels(contents);
    if (analysers.size() > 8 || QSet<QByteArray>(analysers.begin(), analysers.end()).size() != analysers.size())
        fail("an analyser named twice, or too many");
    if (analysers.size() >= 2 && input != CaptureReader::ForceRaw && input != CaptureReader::ForceHex) {
        CaptureReader second(input);
        second.setChannel(analysers.at(1));
        second.readAll(contents);
        if (second.otherChannelRows() > contents.count('\n') + 1)
            fail("more rows left out than the file has");
    }

    // '\r' alone ends a line too.
    const qint64 lines = contents.count('\n') + contents.count('\r') + 1;
    if (ok == whole.failed() || ok != all.error.isEmpty())
        fail("the verdict and the error disagree");
    if (!ok && (all.errorLine < 1 || all.errorLine > lines))
        fail("the error names no line of the file");
    if (ok && all.form == CaptureReader::Undecided)
        fail("a file was read without a form");
    if (all.times.size() != (whole.hasTimes() ? all.bytes.size() : 0))
        fail("the times do not match the bytes");
    if (whole.hasTimes() && all.bytes.size() + all.leftOut + all.skipped > lines)
        fail("more rows than lines");
    if (all.form == CaptureReader::Raw && all.bytes != contents)
        fail("a raw file came out changed");
    for (int i = 1; i < all.times.size(); ++i) {
        if (all.times.at(i) < all.times.at(i - 1))
            fail("a time runs backwards");
    }
    if (input == CaptureReader::Detect && all.form == CaptureReader::Raw) {
        bool text = true, blank = true;
        for (const char c : contents) {
            const quint8 b = quint8(c);
            text = text && ((b >= 0x20 && b < 0x7F) || c == '\t' || c == '\n' || c == '\r');
            blank = blank && (c == ' ' || c == '\t' || c == '\n' || c == '\r');
        }
        if (text && !blank)
            fail("text was taken for raw bytes");
    }
    // Only a hex dump's '*' can give more bytes than the file has.
    const bool repeats = all.form == CaptureReader::Xxd || all.form == CaptureReader::HexdumpC;
    if (all.bytes.size() > (repeats ? 17 * qint64(contents.size()) + 65536 : qint64(contents.size())))
        fail("more bytes than the file's size allows");

    const QByteArray &bytes = all.bytes;
    const bool timed = all.times.size() == bytes.size();
    // The quiet before byte i, less a byte's time at 115200 baud.
    const auto quiet = [&](int i) {
        return timed && i > 0 ? (all.times.at(i) - all.times.at(i - 1)) * 1000 - 0.087 : -1.0;
    };
    StreamFramer framer(allFamilies());
    QVector<AssembledFrame> frames;
    for (int from = 0; from < bytes.size();) {
        int to = from + 1;
        while (to < bytes.size() && to - from < block && !(quiet(to) >= 1.0))
            ++to;
        frames += framer.feed(bytes.mid(from, to - from), 0, quiet(from));
        from = to;
    }
    frames += framer.flush();
    qint64 framed = 0, previousEnd = 0;
    for (const AssembledFrame &frame : qAsConst(frames)) {
        if (frame.offset < previousEnd)
            fail("two frames overlap");
        if (bytes.mid(int(frame.offset), frame.bytes.size()) != frame.bytes)
            fail("a frame is not where the bytes have it");
        previousEnd = frame.offset + frame.bytes.size();
        framed += frame.bytes.size();
    }
    // Every byte is in a frame (an SBUS2 telemetry slot is one) or stray.
    const qint64 counted = framed + framer.strayBytes();
    if (framer.keptBytes() != 0 || counted != bytes.size())
        fail("bytes were lost or counted twice");
    return 0;
}
