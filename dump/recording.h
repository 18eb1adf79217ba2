// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump --write: every byte received, unchanged, to a file that
// is never the source and never overwritten without --force.
#ifndef LINKSCOPE_DUMP_RECORDING_H
#define LINKSCOPE_DUMP_RECORDING_H

#include "reading/framesink.h"

#include <QFile>

class Recording : public ByteSink
{
public:
    // Opens the file named by path's bytes (name: as messages show it);
    // nothing where name is empty. False, having said why, where it cannot.
    bool open(const QString &name, const QByteArray &path, bool force);
    bool isOpen() const { return file.isOpen(); }

    bool takeBytes(int source, const char *data, int size) override;
    // The run is over: false, having said why, where the file did not take
    // everything.
    bool finish();
    // A write failed (said).
    bool failed() const { return writeFailed; }

private:
    QFile file;
    QString name;
    bool writeFailed = false;
};

#endif
