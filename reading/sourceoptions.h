// SPDX-License-Identifier: GPL-3.0-or-later
// The options that say how a source is read (which families, the line
// settings, the capture form, how long), shared by every program that reads
// through the reading library, so that they take the same words.
#ifndef LINKSCOPE_READING_SOURCEOPTIONS_H
#define LINKSCOPE_READING_SOURCEOPTIONS_H

#include "reading/readoptions.h"

#include <QCommandLineOption>
#include <QList>

class QCommandLineParser;

class SourceOptions
{
public:
    SourceOptions();

    QList<QCommandLineOption> options() const;
    // Fills the reading part of options; false with a usage error in error.
    bool apply(const QCommandLineParser &parser, ReadOptions &options, QString &error) const;
    // The sources as given, each read with shared's options, or, given as
    // SRC@FAMILIES (ttyUSB1@smartport), with families of its own at their
    // own line settings; a file whose name holds '@' is itself. At most
    // two; false with a usage error in error. A Saleae export given alone
    // whose rows name two analysers is read as two sources, one each.
    static bool sources(const QStringList &given, const ReadOptions &shared, QVector<ReadOptions> &out,
                        QString &error);

private:
    static void splitAnalysers(QVector<ReadOptions> &out);

    QCommandLineOption family;
    QCommandLineOption baud;
    QCommandLineOption line;
    QCommandLineOption duration;
    QCommandLineOption input;
    QCommandLineOption noLowLatency;
};

#endif
