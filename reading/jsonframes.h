// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump's JSON lines as frames again: each record's raw frame read
// by the family it names, at its t, and the reads of a live run told from
// the records' t_from, so that bunched reads show as they did.
#ifndef LINKSCOPE_READING_JSONFRAMES_H
#define LINKSCOPE_READING_JSONFRAMES_H

#include <QString>

class FrameSink;
class QFile;

// Hands every record's frame to sink. False, with why in error, where the
// file cannot be read or a line is no record; the records before it have
// been handed over. A stop signal ends the reading early, as the end of
// the file would.
bool readJsonFrames(QFile &file, const QString &name, FrameSink &sink, QString &error);

#endif
