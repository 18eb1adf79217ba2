// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary files to linkscope-plot's reading of linkscope-dump's JSON
// lines and checks what must hold whatever a file holds: every frame names a
// source below maxJsonSources that was seen before or with it, each src is
// named once and numbered in the order first seen, every sink call names a
// source so seen, and a second reading of the same file tells the same.
#include "reading/framesink.h"
#include "reading/jsonframes.h"

#include "decode/families/framereading.h"

#include <QFile>
#include <QString>
#include <QVector>

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

class CheckingSink : public FrameSink
{
public:
    void take(const Frame &frame) override
    {
        seen(frame.source);
        frames << qMakePair(frame.source, frame.bytes);
    }
    void setBunching(int source, double periodMs, const QString &remedy) override
    {
        Q_UNUSED(periodMs)
        Q_UNUSED(remedy)
        if (source < 0 || source >= sources)
            std::abort();
    }
    void seen(int source)
    {
        if (source < 0 || source >= maxJsonSources || source > sources)
            std::abort();
        sources = qMax(sources, source + 1);
    }
    int sources = 0;
    QVector<QPair<int, QByteArray>> frames;
    QStringList names;
};

bool readOnce(int fd, CheckingSink &sink, QString &error)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        std::abort();
    return readJsonFrames(file, QStringLiteral("fuzz.jsonl"), sink, error, [&sink](int source, const QString &name) {
        // Named as it first comes, just before its first frame, and once.
        if (source != sink.sources || sink.names.contains(name))
            std::abort();
        sink.names << name;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const int fd = ::memfd_create("jsonframes", 0);
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        std::abort();
    CheckingSink first, second;
    QString firstError, secondError;
    const bool firstRead = readOnce(fd, first, firstError);
    const bool secondRead = readOnce(fd, second, secondError);
    if (firstRead != secondRead || firstError != secondError || first.frames != second.frames
        || first.names != second.names || firstRead != firstError.isEmpty())
        std::abort();
    return 0;
}
