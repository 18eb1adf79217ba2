// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int argumentCount = 0;
char **argumentValues = nullptr;

struct Letter
{
    char letter;
    const char *longName;
};

// Why these: -f and -c for the two options people give most to any of the
// programs (the families, the channels), and the letters people know from
// other tools for the rest (-n a count, -q quiet, -o output, -w write).
constexpr Letter letters[] = {
    {'f', "family"}, {'c', "channels"}, {'b', "baud"},  {'d', "duration"}, {'n', "count"},
    {'q', "quiet"},  {'w', "write"},    {'r', "rate"},  {'o', "output"},
};

char programName[64] = "linkscope";
// Help and the version fit in it whole: written by one fflush, whose errno
// then names what went wrong.
char outputBuffer[1 << 16];

void holdStandardOutput()
{
    std::snprintf(programName, sizeof programName, "%s", qPrintable(QCoreApplication::applicationName()));
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
}

// Run at exit, after Qt's parser printed: exit() flushes standard output
// only after these, and would say nothing of an error.
void leaveLoudOnWriteError()
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return;
    const int error = errno ? errno : EIO;
    if (error != EPIPE)
        std::fprintf(stderr, "%s: cannot write to standard output: %s\n", programName, std::strerror(error));
    std::fflush(stderr);
    ::_exit(error == EPIPE ? 0 : 1);
}

} // namespace

void answerHelpAndVersion(QCommandLineParser &parser)
{
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    if (!helpAll && !parser.isSet(QStringLiteral("help")) && !parser.isSet(QStringLiteral("version")))
        return;
    holdStandardOutput();
    std::atexit(leaveLoudOnWriteError);
    // Only process() lists Qt's own options with the program's.
    if (helpAll)
        parser.process(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    parser.showVersion();
}

void printAndExit(const QString &text)
{
    holdStandardOutput();
    std::fputs(qPrintable(text), stdout);
    leaveLoudOnWriteError();
    std::exit(0);
}

QStringList optionNames(const char *longName)
{
    for (const Letter &entry : letters) {
        if (std::strcmp(entry.longName, longName) == 0)
            return {QString(QLatin1Char(entry.letter)), QLatin1String(longName)};
    }
    return {QLatin1String(longName)};
}

QString repeatedOptionError(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options) {
        if (option.valueName().isEmpty() || !parser.isSet(option))
            continue;
        QStringList values = parser.values(option);
        values.removeDuplicates();
        if (values.size() > 1)
            return QStringLiteral("--%1 is given more than once, as '%2'; give it once")
                .arg(option.names().last(), values.join(QStringLiteral("' and '")));
    }
    return QString();
}

void keepArgumentBytes(int argc, char *argv[])
{
    argumentCount = argc;
    argumentValues = argv;
}

QByteArray argumentBytes(const QString &value, int nth)
{
    // A whole argument, the value of --option=value, or of -ovalue.
    for (int form = 0; form < 3; ++form) {
        for (int i = 1; i < argumentCount; ++i) {
            QByteArray candidate(argumentValues[i]);
            if (form == 1)
                candidate = candidate.startsWith("--") && candidate.contains('=') ? candidate.mid(candidate.indexOf('=') + 1)
                                                                                  : QByteArray();
            else if (form == 2)
                candidate = candidate.startsWith('-') && !candidate.startsWith("--") ? candidate.mid(2) : QByteArray();
            if (!candidate.isEmpty() && QFile::decodeName(candidate) == value && nth-- == 0)
                return candidate;
        }
    }
    return QFile::encodeName(value);
}

bool openByBytes(QFile &file, const QByteArray &path, QIODevice::OpenMode mode, QString &error)
{
    int flags = O_CLOEXEC;
    if (mode & QIODevice::WriteOnly)
        flags |= ((mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    else
        flags |= O_RDONLY;
    // A stop signal while a FIFO waits for its writer ends the wait: EINTR.
    const int fd = ::open(path.constData(), flags, 0666);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}
