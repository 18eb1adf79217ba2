// SPDX-License-Identifier: GPL-3.0-or-later
// The reading library as a client meets it: what a frame sink and a byte
// sink see of a run over a capture file, with frames laid at places and
// times worked out here, --family auto reading the bytes that told it
// again, and a sink or a count that ends the run early.
#include "decode/families/familytable.h"
#include "decode/families/framereading.h"
#include "reading/run.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

class tst_ReadingRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void framesCarryTheirPlace_data();
    void framesCarryTheirPlace();
    void captureTimesFrames();
    void autoReadsTheBytesThatToldOnce();
    void sinkOrCountEndsTheRun_data();
    void sinkOrCountEndsTheRun();
    void capturesMergeByTime_data();
    void capturesMergeByTime();

private:
    QString path(const QString &name) const { return folder.filePath(name); }
    QTemporaryDir folder;
};

namespace {

struct Seen
{
    int source;
    double t;
    QByteArray timeFrom;
    qint64 offset;
    QByteArray bytes;
    QByteArray family;
};

// Keeps what it is handed; says "no more" after stopAfter reads, where given.
class KeepingSink : public FrameSink, public ByteSink
{
public:
    void setFamilies(int source, const QVector<const FamilyDescriptor *> &families) override
    {
        QStringList names;
        for (const FamilyDescriptor *family : families)
            names << QLatin1String(family->name);
        familyCalls << QStringLiteral("%1: %2").arg(source).arg(names.join(QLatin1Char(',')));
    }
    void take(const Frame &frame) override
    {
        frames.append({frame.source, frame.t, QByteArray(frame.timeFrom), frame.offset, frame.bytes,
                       QByteArray(frame.reading.family)});
    }
    bool readDone(bool live) override
    {
        Q_UNUSED(live)
        return ++reads != stopAfter;
    }
    bool takeBytes(int source, const char *data, int size) override
    {
        Q_UNUSED(source)
        bytes.append(data, size);
        return true;
    }

    QStringList familyCalls;
    QVector<Seen> frames;
    QByteArray bytes;
    int reads = 0;
    int stopAfter = -1;
};

QByteArray crsfFrame(int value)
{
    FrameRequest request;
    request.wire = QVector<int>(16, value);
    return familyNamed(QStringLiteral("crsf"))->encode(request);
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

ReadOptions optionsFor(const QString &path, const QVector<const FamilyDescriptor *> &families)
{
    ReadOptions options;
    options.source = path;
    options.sourcePath = QFile::encodeName(path);
    options.families = families;
    options.line = families.first()->line;
    options.summary = false;
    return options;
}

// A Saleae export of count CRSF frames, the first starting at start, one every period.
QByteArray saleaeFrames(int count, double start, double period)
{
    const QByteArray frame = crsfFrame(992);
    QByteArray csv = "Time [s],Value,Parity Error,Framing Error\n";
    for (int k = 0; k < count; ++k) {
        for (int i = 0; i < frame.size(); ++i)
            csv += QByteArray::number(start + k * period + i * 10.0 / 420000, 'f', 9) + ",0x"
                   + QByteArray::number(quint8(frame.at(i)), 16) + ",,\n";
    }
    return csv;
}

} // namespace

void tst_ReadingRun::initTestCase()
{
    QVERIFY(folder.isValid());
}

void tst_ReadingRun::framesCarryTheirPlace_data()
{
    QTest::addColumn<QByteArray>("capture");
    QTest::addColumn<QVector<qint64>>("offsets");
    QTest::addColumn<QStringList>("families"); // looked for
    const QByteArray frame = crsfFrame(992);
    QTest::newRow("back to back") << frame.repeated(3) << QVector<qint64>{0, 26, 52} << QStringList{"crsf"};
    QTest::newRow("noise between")
        << QByteArray(7, '\x00') + frame + QByteArray(3, '\x00') + frame + QByteArray(11, '\x00') + frame
        << QVector<qint64>{7, 36, 73} << QStringList{"crsf"};
    // Over a 64 KB read: the frame that spans it keeps its place.
    QTest::newRow("across a read") << QByteArray(65536 - 10, '\x00') + frame + frame
                                   << QVector<qint64>{65526, 65552} << QStringList{"crsf"};
    QTest::newRow("among other families looked for")
        << QByteArray(5, '\x00') + frame << QVector<qint64>{5} << QStringList{"mpx", "crsf", "ibus"};
}

void tst_ReadingRun::framesCarryTheirPlace()
{
    QFETCH(QByteArray, capture);
    QFETCH(QVector<qint64>, offsets);
    QFETCH(QStringList, families);
    QVector<const FamilyDescriptor *> looked;
    for (const QString &name : families)
        looked << familyNamed(name);
    const ReadOptions options = optionsFor(writeFile(path("frames.bin"), capture), looked);
    ReadingRun run(options);
    QCOMPARE(run.open(), -1);
    QCOMPARE(run.refuse(), -1);
    KeepingSink sink;
    QCOMPARE(run.finish(run.read(&sink, &sink), false, QString()), 0);
    QStringList names;
    for (const QString &name : families)
        names << QLatin1String(familyNamed(name)->name);
    QCOMPARE(sink.familyCalls, QStringList{QStringLiteral("0: ") + names.join(QLatin1Char(','))});
    QCOMPARE(sink.frames.size(), offsets.size());
    for (int i = 0; i < offsets.size(); ++i) {
        const Seen &seen = sink.frames.at(i);
        QCOMPARE(seen.source, 0);
        QCOMPARE(seen.offset, offsets.at(i));
        QCOMPARE(seen.bytes, capture.mid(int(offsets.at(i)), 26));
        QCOMPARE(seen.family, QByteArray("CRSF"));
        // A file tells no times.
        QVERIFY(std::isnan(seen.t));
        QCOMPARE(seen.timeFrom, QByteArray());
    }
    QCOMPARE(sink.bytes, capture);
}

// A logic analyser's export: each frame's time is its last byte's, counted
// from the capture's first byte.
void tst_ReadingRun::captureTimesFrames()
{
    const QByteArray frame = crsfFrame(992);
    const double byteSeconds = 10.0 / 420000, period = 0.004, start = 12.5;
    QByteArray csv = "Time [s],Value,Parity Error,Framing Error\n";
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < frame.size(); ++i)
            csv += QByteArray::number(start + k * period + i * byteSeconds, 'f', 9) + ",0x"
                   + QByteArray::number(quint8(frame.at(i)), 16) + ",,\n";
    }
    ReadingRun run(optionsFor(writeFile(path("frames.csv"), csv), {familyNamed(QStringLiteral("crsf"))}));
    QCOMPARE(run.open(), -1);
    KeepingSink sink;
    QCOMPARE(run.finish(run.read(&sink, &sink), false, QString()), 0);
    QCOMPARE(sink.frames.size(), 4);
    for (int k = 0; k < 4; ++k) {
        const Seen &seen = sink.frames.at(k);
        QCOMPARE(seen.offset, qint64(k) * frame.size());
        QCOMPARE(seen.timeFrom, QByteArray("capture"));
        QVERIFY2(std::fabs(seen.t - (k * period + (frame.size() - 1) * byteSeconds)) < 1e-9,
                 qPrintable(QString::number(seen.t, 'f', 9)));
    }
    QCOMPARE(sink.bytes, frame.repeated(4));
}

// The family is found some frames in; the frames that told it are read
// again as its own, while the bytes go out once, as they came.
void tst_ReadingRun::autoReadsTheBytesThatToldOnce()
{
    const QByteArray noise(100, '\x00');
    QByteArray capture = noise;
    for (int k = 0; k < 12; ++k)
        capture += crsfFrame(200 + 100 * k);
    ReadOptions options = optionsFor(writeFile(path("auto.bin"), capture), allFamilies());
    options.autoDetect = true;
    ReadingRun run(options);
    QCOMPARE(run.open(), -1);
    KeepingSink sink;
    QCOMPARE(run.finish(run.read(&sink, &sink), false, QString()), 0);
    QStringList every;
    for (const FamilyDescriptor *family : allFamilies())
        every << QLatin1String(family->name);
    QCOMPARE(sink.familyCalls, QStringList({QStringLiteral("0: ") + every.join(QLatin1Char(',')), "0: crsf"}));
    QCOMPARE(sink.frames.size(), 12);
    for (int k = 0; k < 12; ++k) {
        QCOMPARE(sink.frames.at(k).offset, qint64(noise.size() + 26 * k));
        QCOMPARE(sink.frames.at(k).bytes, crsfFrame(200 + 100 * k));
    }
    QCOMPARE(sink.bytes, capture);
}

void tst_ReadingRun::sinkOrCountEndsTheRun_data()
{
    QTest::addColumn<int>("stopAfter"); // reads; -1 never
    QTest::addColumn<qint64>("count");  // --count; -1 none
    QTest::addColumn<int>("frames");
    // 3000 frames of 26 bytes fill a 64 KB read and a part of the next.
    QTest::newRow("to the end") << -1 << qint64(-1) << 3000;
    QTest::newRow("the sink takes no more after the first read") << 1 << qint64(-1) << 65536 / 26;
    QTest::newRow("count") << -1 << qint64(7) << 7;
}

void tst_ReadingRun::sinkOrCountEndsTheRun()
{
    QFETCH(int, stopAfter);
    QFETCH(qint64, count);
    QFETCH(int, frames);
    ReadOptions options = optionsFor(writeFile(path("long.bin"), crsfFrame(992).repeated(3000)),
                                     {familyNamed(QStringLiteral("crsf"))});
    options.count = count;
    ReadingRun run(options);
    QCOMPARE(run.open(), -1);
    KeepingSink sink;
    sink.stopAfter = stopAfter;
    QCOMPARE(run.finish(run.read(&sink, nullptr), false, QString()), 0);
    QCOMPARE(sink.frames.size(), frames);
    QCOMPARE(run.frames(), qint64(frames));
}

void tst_ReadingRun::capturesMergeByTime_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("firstFrames");
    QTest::addColumn<int>("secondFrames");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<double>("duration"); // -1: none
    // Some 800 bytes of CSV a frame: both are read in many blocks.
    QTest::newRow("interleaved") << saleaeFrames(300, 1.0, 0.004) << saleaeFrames(300, 1.002, 0.004) << 0 << 300
                                 << 300 << qint64(-1) << -1.0;
    QTest::newRow("one long after the other") << saleaeFrames(200, 5.0, 0.004) << saleaeFrames(100, 0.0, 0.007)
                                              << 0 << 200 << 100 << qint64(-1) << -1.0;
    QTest::newRow("bursts of one among the other's")
        << saleaeFrames(400, 0.0, 0.001) << saleaeFrames(10, 0.1005, 0.02) << 0 << 400 << 10 << qint64(-1) << -1.0;
    QTest::newRow("count takes the earliest of both") << saleaeFrames(300, 0.0, 0.004) << saleaeFrames(300, 0.002, 0.004)
                                                      << 0 << 3 << 3 << qint64(6) << -1.0;
    QTest::newRow("count taken by one") << saleaeFrames(300, 0.0, 0.004) << saleaeFrames(300, 5.0, 0.004) << 0 << 3
                                        << 0 << qint64(3) << -1.0;
    QTest::newRow("raw bytes tell no times") << saleaeFrames(10, 0.0, 0.004) << crsfFrame(992).repeated(10) << 2 << 0
                                             << 0 << qint64(-1) << -1.0;
    // --duration counts from the earlier capture's first byte, and ends each capture apart.
    QTest::newRow("duration from the earlier capture's start")
        << saleaeFrames(200, 5.0, 0.004) << saleaeFrames(100, 0.0, 0.007) << 0 << 0 << 100 << qint64(-1) << 1.0;
    QTest::newRow("duration ends both") << saleaeFrames(300, 1.0, 0.004) << saleaeFrames(300, 1.002, 0.004) << 0
                                        << 125 << 125 << qint64(-1) << 0.5;
}

// Two captures of one clock: every frame once, in the captures' own times,
// earliest first, each with its source.
void tst_ReadingRun::capturesMergeByTime()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, status);
    QFETCH(int, firstFrames);
    QFETCH(int, secondFrames);
    QFETCH(qint64, count);
    QFETCH(double, duration);
    const QVector<const FamilyDescriptor *> crsf{familyNamed(QStringLiteral("crsf"))};
    ReadOptions firstOptions = optionsFor(writeFile(path("first"), first), crsf);
    firstOptions.count = count;
    ReadOptions secondOptions = optionsFor(writeFile(path("second"), second), crsf);
    firstOptions.duration = secondOptions.duration = duration;
    ReadingRun run(QVector<ReadOptions>{firstOptions, secondOptions});
    QCOMPARE(run.open(), -1);
    QCOMPARE(run.refuse(), -1);
    KeepingSink sink;
    QCOMPARE(run.finish(run.read(&sink, nullptr), false, QString()), status);
    int counts[2] = {0, 0};
    for (int i = 0; i < sink.frames.size(); ++i) {
        const Seen &seen = sink.frames.at(i);
        ++counts[seen.source];
        if (i > 0)
            QVERIFY2(seen.t >= sink.frames.at(i - 1).t, qPrintable(QStringLiteral("frame %1").arg(i)));
    }
    QCOMPARE(counts[0], firstFrames);
    QCOMPARE(counts[1], secondFrames);
    // The summary counts the frames given, not those read ahead and left.
    QCOMPARE(run.frames(), qint64(firstFrames + secondFrames));
    // Times as the captures tell them, not from each one's first byte.
    if (firstFrames > 0)
        QVERIFY(std::fabs(sink.frames.constFirst().t - qMin(first.mid(42, 11).toDouble(), second.mid(42, 11).toDouble())
                          - 25 * 10.0 / 420000) < 1e-9);
}

QTEST_GUILESS_MAIN(tst_ReadingRun)
#include "tst_readingrun.moc"
