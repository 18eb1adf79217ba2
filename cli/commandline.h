// SPDX-License-Identifier: GPL-3.0-or-later
// The command line the four programs share: every option letter and name
// means one thing in all of them, an option given twice must agree with
// itself, and names are opened as the bytes given.
#ifndef LINKSCOPE_CLI_COMMANDLINE_H
#define LINKSCOPE_CLI_COMMANDLINE_H

#include <QByteArray>
#include <QCommandLineOption>
#include <QIODevice>
#include <QList>
#include <QString>
#include <QStringList>

class QCommandLineParser;
class QFile;

// The names an option goes by, its letter first where it has one: one
// table for the four programs, so that a letter means one thing in all of
// them. -f is --family, -c --channels (a list of channel numbers), -b
// --baud, -d --duration, -n --count, -q --quiet; -w --write (only
// linkscope-dump records), -r --rate (only linkscope-send paces), -o
// --output (only linkscope-plot draws); -h and -v are --help and --version.
// A long name without a letter comes back alone.
QStringList optionNames(const char *longName);

// Why the command line cannot be meant where an option of options came more
// than once with different values (the last would silently win); empty
// where each agrees with itself.
QString repeatedOptionError(const QCommandLineParser &parser, const QList<QCommandLineOption> &options);

// Keeps the program's own argument bytes, so that a name given on the
// command line is used as the bytes given, also where they are no valid text
// in the locale's encoding, which a QString cannot hold.
void keepArgumentBytes(int argc, char *argv[]);
// The bytes of the argument that the parser read as value: a whole
// argument, the value of --option=value, or of -ovalue; value in the
// locale's encoding where none matches. Of several arguments that read
// alike (names in no UTF-8), the nth.
QByteArray argumentBytes(const QString &value, int nth = 0);

// Answers --help, --help-all and --version where the command line asks,
// as Qt's parser does, and leaves; otherwise returns. Unlike Qt's, the exit
// status is 1, with the reason on standard error, where standard output
// could not take the text (a full disk), and 0 on a closed pipe.
void answerHelpAndVersion(QCommandLineParser &parser);
// Prints text on standard output and leaves, as answerHelpAndVersion does.
[[noreturn]] void printAndExit(const QString &text);

// Opens the file named by path's bytes into file with mode (a file written
// is created or emptied); false with the system's reason in error.
bool openByBytes(QFile &file, const QByteArray &path, QIODevice::OpenMode mode, QString &error);

#endif
