// SPDX-License-Identifier: GPL-3.0-or-later
// --family auto's finder over every family it tries: good frames of any family,
// damaged ones, frames cut short and noise, fed whole and in reads of any
// size, without times and with rising byte times. What must hold: where
// bytes have no times, how they are read does not change what is found; a
// family found is one family or the window's five, found inside what was
// fed where a frame of it may start.
#include "decode/familyfinder.h"
#include "fuzzstream.h"

#include <QRandomGenerator>

namespace {

void check(const FamilyFinder &finder, const QByteArray &stream)
{
    if (!finder.found())
        return;
    const QVector<const FamilyDescriptor *> &families = finder.families();
    if (families.size() != 1 && families != defaultFamilies())
        fail("the family found is neither one family nor the window's five");
    if (finder.offset() < 0 || finder.offset() >= stream.size())
        fail("the family is found outside what was fed");
    // DSM frames may start with any byte.
    bool starts = false;
    for (const FamilyDescriptor *family : families)
        starts = starts || family->startBytes.isEmpty() || family->startBytes.contains(stream.at(int(finder.offset())));
    if (!starts)
        fail("the family is found where none of its frames starts");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in{data, size};
    const int readSize = 1 + in.next() % 64;
    const bool timed = in.next() & 1;
    QRandomGenerator random(in.next());
    const QVector<const FamilyDescriptor *> families = autoFamilies();

    QByteArray stream;
    QVector<double> times;
    double t = 0;
    while (in.more()) {
        const quint8 op = in.next();
        const FamilyDescriptor &family = *families[in.next() % families.size()];
        QByteArray bytes;
        if ((op & 3) == 0) {
            bytes = noise(in, 40);
        } else {
            bytes = family.encode(fuzzedRequest(family, in, FuzzValues::WithinChannelLimit));
            if ((op & 3) == 2)
                family.corrupt(bytes, random);
            else if ((op & 3) == 3)
                cutShort(bytes, in);
        }
        // A byte's time on the line, then the pause before the next piece.
        const double byteSeconds = family.line.bitsPerByte() / double(family.line.baud);
        for (int i = 0; i < bytes.size(); ++i)
            times << (t += byteSeconds);
        t += (op >> 2) * 0.001;
        stream += bytes;
    }

    FamilyFinder whole(families), inReads(families);
    whole.feed(stream, timed ? times : QVector<double>());
    whole.finish();
    for (int at = 0; at < stream.size(); at += readSize)
        inReads.feed(stream.mid(at, readSize), timed ? times.mid(at, readSize) : QVector<double>());
    inReads.finish();
    check(whole, stream);
    check(inReads, stream);
    if (!timed && (whole.found() != inReads.found() || whole.offset() != inReads.offset()
                   || whole.families() != inReads.families()))
        fail("how the bytes are read changes what is found");
    return 0;
}
