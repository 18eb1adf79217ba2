// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-send: a receiver simulator that sends the frames of any family
// onto a serial port or standard output, or plays a recording back.
#include "cli/program.h"
#include "send/options.h"
#include "send/sender.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    const StandardStreams streams = startProgram(argc, argv);
    QCoreApplication app(argc, argv);
    nameProgram("linkscope-send", LINKSCOPE_VERSION);
    SendOptions options = parseCommandLine(QCoreApplication::arguments());
    options.stdoutClosed = streams.outputClosed;
    return runSend(options);
}
