// SPDX-License-Identifier: GPL-3.0-or-later
// The captures the benchmarks read, made one way for all of them: frames of
// the window's five from a reproducible stream, or of any families at
// random values in their range, with a little noise between; a Saleae CSV
// export of a capture; and the text exports the capture reader tells apart.
#ifndef LINKSCOPE_BENCH_CAPTURES_H
#define LINKSCOPE_BENCH_CAPTURES_H

#include "decode/families/familytable.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

namespace captures {

// Valid frames of the window's five (MixedStream), a few noise bytes after
// one frame in 50, to about size bytes. Returns the bytes written, or -1.
qint64 writeMixed(const QString &path, qint64 size);

// A Saleae CSV export ("Time [s],Value,...") of the bytes of capture, one
// row a byte at 115200 baud back to back, the capture over again until the
// export holds about size bytes. Returns the bytes written, or -1.
qint64 writeSaleae(const QString &capture, const QString &path, qint64 size);

enum Channels {
    DefaultChannels, // each family's default count
    AllChannels,     // all a frame can carry
};
enum Telemetry {
    NoTelemetry,
    WithTelemetry, // a telemetry frame beside a quarter of the frames of the families that carry it
};
// Frames of families chosen at random, each channel at a random µs in its
// range (a word up to 4000 where the family has no µs scale), a few noise
// bytes after one frame in noiseOneIn, to about size bytes. Returns the
// bytes written, or -1.
qint64 writeFamilies(const QString &path, const QVector<const FamilyDescriptor *> &families, qint64 size,
                     QRandomGenerator &random, Channels channels, int noiseOneIn, Telemetry telemetry = NoTelemetry);
// The families linkscope-dump reads with --family beside the window's five.
QVector<const FamilyDescriptor *> tableFamilies();
QStringList namesOf(const QVector<const FamilyDescriptor *> &families);

enum TextExport { SaleaeTimeValue, SaleaeNameType, XxdDump };
// A text export of mixed frames at 115200 baud, about size bytes. Returns
// the bytes it holds; empty where it could not be written.
QByteArray writeText(const QString &path, TextExport form, qint64 size);

// User and system time of the child processes waited for so far, in s.
double childrenCpuSeconds();

} // namespace captures

#endif
