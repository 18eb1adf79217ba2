// SPDX-License-Identifier: GPL-3.0-or-later
// What a source named on the command line is: a capture file, a stream such
// as a pipe or FIFO, or a serial port, told by what the name leads to.
#ifndef LINKSCOPE_READING_SOURCE_H
#define LINKSCOPE_READING_SOURCE_H

#include <QByteArray>
#include <QString>

#include <sys/types.h>

struct Source
{
    enum Kind { Invalid, File, Stream, Port };
    Kind kind = Invalid;
    int fd = -1;            // File and Stream, open for reading
    QString portPath;       // Port: the device it leads to
    bool terminal = false;  // bytes not read in time are lost, as on a port
    dev_t device = 0;       // the file it is, to tell it from the recording
    ino_t inode = 0;
    QString error;          // Invalid: what is wrong, in a user's words
    bool interrupted = false; // Invalid: a stop signal came while it opened
};

// name as shown, path its bytes as given: "-" for standard input, a file, a
// FIFO, a device, or a port's name without /dev/.
Source openSource(const QString &name, const QByteArray &path, bool stdinClosed);

// Whether path names the file the source is, under any name.
bool isSameFile(const Source &source, const QByteArray &path);

#endif
