// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/program.h"

#include "cli/commandline.h"
#include "cli/messages.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Whether the program was started with descriptor fd closed; a closed one
// is taken by /dev/null.
bool startedClosed(int fd)
{
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
        return false;
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
        ::dup2(null, fd);
        ::close(null);
    }
    return true;
}

} // namespace

StandardStreams startProgram(int argc, char *argv[])
{
    // In order: /dev/null lands on the lowest closed descriptor first.
    StandardStreams streams;
    streams.inputClosed = startedClosed(STDIN_FILENO);
    streams.outputClosed = startedClosed(STDOUT_FILENO);
    startedClosed(STDERR_FILENO);
    keepArgumentBytes(argc, argv);
    return streams;
}

void nameProgram(const char *name, const char *version)
{
    QCoreApplication::setApplicationName(QString::fromLatin1(name));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(version));
}

void usageError(const QString &text)
{
    const QByteArray name = QCoreApplication::applicationName().toLocal8Bit();
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", name.constData(), qPrintable(text), name.constData());
    std::exit(2);
}

void parseOrExit(QCommandLineParser &parser, const QStringList &arguments,
                 const std::function<QString(const QString &)> &editHelp)
{
    if (!parser.parse(arguments))
        usageError(parser.errorText());
    if (editHelp && (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))))
        printAndExit(editHelp(parser.helpText()));
    answerHelpAndVersion(parser);
}

void refuseRepeated(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    const QString repeated = repeatedOptionError(parser, options);
    if (!repeated.isEmpty())
        usageError(repeated);
}

bool standardOutputWritten(const char *what)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    if (errno == EPIPE)
        return true;
    complain(QStringLiteral("cannot write %1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno))));
    return false;
}
