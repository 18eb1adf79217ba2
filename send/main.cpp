// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-send: a receiver simulator that sends the frames of any family
// onto a serial port or standard output, or plays a recording back.
#include "cli/commandline.h"
#include "send/options.h"
#include "send/output.h"
#include "send/sender.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    guardStandardOutput();
    keepArgumentBytes(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("linkscope-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKSCOPE_VERSION));
    return runSend(parseCommandLine(QCoreApplication::arguments()));
}
