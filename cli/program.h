// SPDX-License-Identifier: GPL-3.0-or-later
// What linkscope-dump, linkscope-send and linkscope-plot do alike before
// their own work: standard streams closed at start, their name in messages,
// usage errors, --help and --version, and options given twice.
#ifndef LINKSCOPE_CLI_PROGRAM_H
#define LINKSCOPE_CLI_PROGRAM_H

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QCommandLineParser;

struct StandardStreams
{
    bool inputClosed = false; // the program was started without them
    bool outputClosed = false;
};

// First thing in main, before anything opens a file: a standard stream the
// program was started without is taken by /dev/null at once, so that no
// file opened later lands on it and gets what was meant for it. Keeps the
// argument bytes too (keepArgumentBytes).
StandardStreams startProgram(int argc, char *argv[]);
// Once the application object is made: the name messages begin with.
void nameProgram(const char *name, const char *version);

// "linkscope-dump: text" and the way to help on standard error; exits 2.
[[noreturn]] void usageError(const QString &text);
// Parses arguments into parser. --help (and --help-all) and --version are
// answered and end the program (answerHelpAndVersion), editHelp changing
// the help first where given; what cannot be parsed is a usage error.
void parseOrExit(QCommandLineParser &parser, const QStringList &arguments,
                 const std::function<QString(const QString &)> &editHelp = nullptr);
// A usage error where an option of options came twice with different values.
void refuseRepeated(const QCommandLineParser &parser, const QList<QCommandLineOption> &options);
// Whether standard output took everything printed on it: true where a
// reader closed the pipe, which wants no more; false, having said why, on
// any other failure.
bool standardOutputWritten(const char *what);

#endif
