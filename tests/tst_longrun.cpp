// SPDX-License-Identifier: GPL-3.0-or-later
// Two hundred thousand chunks of every kind through one window's receive
// path: nothing may pile up. Leaks are LeakSanitizer's to find in the
// sanitizer build; here the memory in use must stay where it was.
#include "linkscopeprobe.h"
#include "streams.h"

#include <QFile>
#include <QtTest>

#include <malloc.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define LINKSCOPE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LINKSCOPE_SANITIZED 1
#endif
#endif

class tst_LongRun : public QObject
{
    Q_OBJECT

private slots:
    void memoryStaysFlat();
};

static qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

static qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

void tst_LongRun::memoryStaysFlat()
{
    LinkScope window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    MixedStream stream(424242);
    qint64 heapAt10k = 0;
    qint64 residentAt10k = 0;
    for (int i = 1; i <= 200000; ++i) {
        window.processChunk(stream.next());
        if (i % 100 == 0)
            QCoreApplication::processEvents();
        // The window keeps images of cells it has drawn, up to a bound. Until
        // the first measure it is drawn often, so that the bound is reached
        // however seldom the window paints by itself.
        if (i <= 10000 && i % 10 == 0)
            window.grab();
        if (i == 10000) {
            heapAt10k = heapInUse();
            residentAt10k = residentBytes();
        }
    }
    QCoreApplication::processEvents();
    const qint64 heapGrowth = heapInUse() - heapAt10k;
    const qint64 residentGrowth = residentBytes() - residentAt10k;
    qInfo("after 10,000 chunks: heap %lld, resident %lld; growth to 200,000: heap %lld, resident %lld bytes",
          heapAt10k, residentAt10k, heapGrowth, residentGrowth);
#ifdef LINKSCOPE_SANITIZED
    QSKIP("the sanitizer's allocator keeps freed memory in quarantine; LeakSanitizer checks for leaks at exit");
#else
    QVERIFY2(qAbs(heapGrowth) < 1024 * 1024, qPrintable(QString::number(heapGrowth)));
    // Resident memory may also shrink, as the kernel takes back pages of the
    // shared libraries that were not touched since; only growth is a leak.
    QVERIFY2(residentGrowth < 1024 * 1024, qPrintable(QString::number(residentGrowth)));
#endif
}

QTEST_MAIN(tst_LongRun)
#include "tst_longrun.moc"
