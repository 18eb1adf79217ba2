// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope: the window. Its command line takes Qt's own options (-platform,
// -style, …), --help and --version, as the other programs take theirs, and
// says so of anything else instead of opening the window without a word.
#include "app/linkscope.h"
#include "cli/commandline.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>

namespace {

void describe(QCommandLineParser &parser)
{
    QCoreApplication::setApplicationName(QStringLiteral("linkscope"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LINKSCOPE_VERSION));
    parser.setApplicationDescription(QStringLiteral(
        "Shows the packets a radio-control receiver sends over a serial port (MPX, MPX_V2, NORDAX, HOTT, SPEKTRUM; "
        "115200 baud, 8N1): pick the port and press Connect. Qt's own options are taken too, such as -platform "
        "offscreen. linkscope-dump, linkscope-send and linkscope-plot do the same on the command line, also for "
        "CRSF, GHST, IBUS, FPORT, SBUS, DSM and SRXL2."));
    parser.addHelpOption();
    parser.addVersionOption();
}

} // namespace

int main(int argc, char *argv[])
{
    // Help and the version need no display: they are answered before the
    // window's application, which stops at once without one.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const QByteArray argument(argv[i]);
        const bool help = argument == "-h" || argument == "--help" || argument == "-?" || argument == "--help-all";
        if (help || argument == "-v" || argument == "--version") {
            QCoreApplication core(argc, argv);
            QCommandLineParser parser;
            describe(parser);
            // Qt's own options are unknown here, and no matter.
            parser.parse(QCoreApplication::arguments());
            answerHelpAndVersion(parser);
        }
    }

    QApplication app(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    // Qt has taken its own options out of the arguments by now.
    QString error;
    if (!parser.parse(QCoreApplication::arguments()))
        error = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        error = QStringLiteral("no arguments are taken, '%1' given: pick the port in the window")
                    .arg(parser.positionalArguments().first());
    if (!error.isEmpty()) {
        std::fprintf(stderr, "linkscope: %s\nTry 'linkscope --help'.\n", qPrintable(error));
        return 2;
    }
    LinkScope window;
    window.show();
    return app.exec();
}
