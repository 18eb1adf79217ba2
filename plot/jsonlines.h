// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump's JSON lines read back for linkscope-plot: each record's
// raw frame at its t, read line by line so that memory stays small.
#ifndef LINKSCOPE_PLOT_JSONLINES_H
#define LINKSCOPE_PLOT_JSONLINES_H

#include <QByteArray>
#include <QString>

#include <functional>

class FrameSink;

// Whether the file's first line that is not blank holds a JSON object.
bool looksLikeJsonLines(const QByteArray &path);

// Hands every record's frame to sink, with its t (NaN where it is null).
// False, with why in error, where the file cannot be read or a line is no
// record; the records before it have been handed over. Ctrl-C or SIGTERM
// ends the reading early, as the end of the file would.
bool readJsonLines(const QByteArray &path, const QString &name, FrameSink &sink, QString &error);

#endif
