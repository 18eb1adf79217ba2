// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump's JSON lines as frames again: each record's raw frame read
// by the family it names, at its t, and the reads of a live run told from
// the records' t_from, so that bunched reads show as they did. A recording
// of several sources tells them apart by each record's src.
#ifndef LINKSCOPE_READING_JSONFRAMES_H
#define LINKSCOPE_READING_JSONFRAMES_H

#include <QString>

#include <functional>

class FrameSink;
class QFile;

// Hands every record's frame to sink. False, with why in error, where the
// file cannot be read or a line is no record; the records before it have
// been handed over. A stop signal ends the reading early, as the end of
// the file would. Each src value is a source, numbered from 0 in the order
// first seen, and named is told its number and name then; records without
// src are one source too (source 0 where none has src). More than
// maxJsonSources sources are refused.
constexpr int maxJsonSources = 8;
bool readJsonFrames(QFile &file, const QString &name, FrameSink &sink, QString &error,
                    const std::function<void(int source, const QString &name)> &named = {});

#endif
