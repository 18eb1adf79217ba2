// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one received packet, per family: decoding alone, the window's whole
// path for a recognised chunk, and the same path with the tables' own resize
// calls as the reference. Ends with a check that the heap stays flat.
#include "app/linkscope.h"
#include "decode/readbunching.h"
#include "display/tablefit.h"
#include "packets.h"

#include <QApplication>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <map>

using namespace packets;

namespace {

struct Family
{
    const char *name;
    std::function<QByteArray(QRandomGenerator &)> make;
};

// Channel values that jitter around the centre as a live receiver's do,
// so that the decoded texts and their widths keep changing.
quint16 jitter(QRandomGenerator &random, int centre, int spread)
{
    return quint16(centre - spread + int(random.bounded(2 * spread + 1)));
}

const std::vector<Family> &families()
{
    static const std::vector<Family> all = {
        {"MPX", [](QRandomGenerator &r) { QVector<quint16> w; for (int k = 0; k < 12; ++k) w << jitter(r, 0x0AEC, 800); return mpx(w); }},
        {"MPX_V2", [](QRandomGenerator &r) { QVector<quint16> w; for (int k = 0; k < 16; ++k) w << jitter(r, 0x0AEC, 800); return mpxV2(w); }},
        {"NORDAX", [](QRandomGenerator &r) { QVector<quint16> w; for (int k = 0; k < 12; ++k) w << jitter(r, 2432, 400); return nordax(0, w); }},
        {"HOTT/8", [](QRandomGenerator &r) { QVector<quint16> w; for (int k = 0; k < 8; ++k) w << jitter(r, 12000, 3200); return hott(w); }},
        {"HOTT/16", [](QRandomGenerator &r) { QVector<quint16> w; for (int k = 0; k < 16; ++k) w << jitter(r, 12000, 3200); return hott(w); }},
        {"SPEKTRUM", [](QRandomGenerator &r) { QVector<quint16> w; for (int k = 0; k < 7; ++k) w << spektrumWord(k, jitter(r, 1024, 500)); return spektrum(w, 0xA2); }},
    };
    return all;
}

QVector<QByteArray> packetsOf(const Family &family)
{
    QRandomGenerator random(7);
    QVector<QByteArray> set;
    for (int i = 0; i < 64; ++i)
        set << family.make(random);
    return set;
}

LinkScope *window = nullptr;
LinkScope *twin = nullptr;

QTableWidget *table(LinkScope *w, const char *name)
{
    return w->findChild<QTableWidget *>(QString::fromLatin1(name));
}

// Lets the event loop catch up (repaints, deferred header layout) outside
// the measured time, as it does between packets in the program.
void settle(benchmark::State &state)
{
    state.PauseTiming();
    QCoreApplication::processEvents();
    state.ResumeTiming();
}

void decodeOnly(benchmark::State &state, const Family &family)
{
    const QVector<QByteArray> set = packetsOf(family);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(window->decodePacket(set[i & 63]));
        if ((++i & 255) == 0)
            settle(state);
    }
}

// The same packet over and over: what decoding costs when no value moves.
void decodeSteady(benchmark::State &state, const Family &family)
{
    const QByteArray packet = packetsOf(family).first();
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(window->decodePacket(packet));
        if ((++i & 255) == 0)
            settle(state);
    }
}

void wholePath(benchmark::State &state, const Family &family)
{
    const QVector<QByteArray> set = packetsOf(family);
    int i = 0;
    for (auto _ : state) {
        window->processChunk(set[i & 63]);
        if ((++i & 255) == 0)
            settle(state);
    }
}

// The read path as the port delivers frames: one frame per read, each frame
// cut into 8-byte reads, and two frames per read. Time is per iteration; the
// reporter turns it into time per frame.
void readPath(benchmark::State &state, const Family &family, int framesPerRead, int readSize)
{
    const QVector<QByteArray> set = packetsOf(family);
    QVector<QVector<QByteArray>> reads;
    for (int i = 0; i < 64; ++i) {
        QByteArray stream;
        for (int k = 0; k < framesPerRead; ++k)
            stream += set[(i * framesPerRead + k) & 63];
        QVector<QByteArray> cut;
        for (int at = 0; at < stream.size(); at += readSize)
            cut << stream.mid(at, readSize);
        reads << cut;
    }
    int i = 0;
    for (auto _ : state) {
        for (const QByteArray &read : reads[i & 63])
            window->receiveChunk(read);
        if ((++i & 255) == 0)
            settle(state);
    }
}

// The frame assembler alone on the same 64 frames cut into 8-byte reads, with
// a damaged frame among them. Time is per pass; the reporter gives it per frame.
void assemble(benchmark::State &state, const Family &family)
{
    QVector<QByteArray> set = packetsOf(family);
    set[17] = corrupted(set[17]);
    QByteArray stream;
    for (const QByteArray &frame : qAsConst(set))
        stream += frame;
    QVector<QByteArray> reads;
    for (int at = 0; at < stream.size(); at += 8)
        reads << stream.mid(at, 8);
    FrameAssembler assembler;
    for (auto _ : state) {
        for (const QByteArray &read : qAsConst(reads))
            benchmark::DoNotOptimize(assembler.feed(read));
    }
}

void referencePath(benchmark::State &state, const Family &family)
{
    const QVector<QByteArray> set = packetsOf(family);
    QTableWidget *raw = table(twin, "twDataInput");
    QTableWidget *decoded = table(twin, "twSrxlInput");
    int i = 0;
    for (auto _ : state) {
        const QByteArray &chunk = set[i & 63];
        if (twin->decodePacket(chunk)) {
            twin->showRawPacket(chunk);
            fitTableToContentsPlain(raw);
            fitTableToContentsPlain(decoded);
        }
        if ((++i & 255) == 0)
            settle(state);
    }
}

// What telling bunched reads adds to each read of a live port: reads every
// periodMs, framesPerRead frames each, as long as the run goes.
void bunchingPerRead(benchmark::State &state, double periodMs, int framesPerRead)
{
    ReadBunching detector;
    double t = 0;
    for (auto _ : state) {
        t += periodMs / 1000;
        detector.addRead(t);
        for (int i = 0; i < framesPerRead; ++i)
            detector.addFrame(t);
    }
    benchmark::DoNotOptimize(detector.bunched());
}

// Keeps the medians and prints reference / ours per family at the end.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-10s %10s %10s %10s %14s %8s\n", "family", "decode us", "steady us", "ours us",
                    "reference us", "ratio");
        for (const Family &family : families()) {
            const double ours = median("whole", family);
            std::printf("%-10s %10.2f %10.2f %10.2f %14.2f %8.1f\n", family.name, median("decode", family) / 1000,
                        median("decode-steady", family) / 1000, ours / 1000, median("reference", family) / 1000,
                        ours > 0 ? median("reference", family) / ours : 0.0);
        }
        std::printf("\n%-10s %14s %14s %8s %14s %8s\n", "family", "one read us", "8-byte reads", "ratio",
                    "two per read", "ratio");
        for (const Family &family : families()) {
            const double whole = median("read", family);
            const double split = median("read-split8", family);
            const double merged = median("read-merged2", family) / 2;
            std::printf("%-10s %14.2f %14.2f %8.2f %14.2f %8.2f\n", family.name, whole / 1000, split / 1000,
                        whole > 0 ? split / whole : 0.0, merged / 1000, whole > 0 ? merged / whole : 0.0);
        }
        std::printf("\n%-10s %24s\n", "family", "assembler, 8-byte reads");
        for (const Family &family : families())
            std::printf("%-10s %21.3f us\n", family.name, median("assemble", family) / 64 / 1000);
    }

private:
    double median(const char *benchmark, const Family &family)
    {
        return medians[std::string(benchmark) + "/" + family.name];
    }

    std::map<std::string, double> medians;
};

// Run with glibc's per-thread cache off (GLIBC_TUNABLES=glibc.malloc.tcache_count=0,
// as scripts/bench.sh does): blocks parked there count as in use.
size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// Zero-length timers and posted events that the views leave pending come and
// go with the timing; let them run before reading the heap.
size_t settledHeap()
{
    for (int round = 0; round < 3; ++round)
        QCoreApplication::processEvents();
    return heapInUse();
}

void heapAfterManyPackets()
{
    std::vector<QVector<QByteArray>> sets;
    for (const Family &family : families())
        sets.push_back(packetsOf(family));

    // Painting keeps caches of its own whose size depends on what was drawn
    // last; this check is about the packet path, so the window is hidden
    // while events are still processed.
    window->hide();
    size_t after10k = 0;
    // A thousand packets of one family, then the next, as when receivers
    // are swapped on the bench; within a family the values keep moving.
    // The stream repeats every 6,000 packets, so the window shows the same
    // packet after 10,000 and after 1,000,000 and the two heaps compare
    // like with like.
    for (int i = 1; i <= 1000000; ++i) {
        window->processChunk(sets[((i - 1) / 1000) % sets.size()][(i - 1) % 50]);
        if (i % 50 == 0)
            QCoreApplication::processEvents();
        if (i == 10000)
            after10k = settledHeap();
    }
    const size_t after1m = settledHeap();
    std::printf("\nheap in use after 10,000 packets: %zu bytes; after 1,000,000: %zu bytes; difference %lld\n",
                after10k, after1m, static_cast<long long>(after1m) - static_cast<long long>(after10k));
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    LinkScope ours;
    LinkScope reference;
    window = &ours;
    twin = &reference;
    ours.show();
    reference.show();
    QCoreApplication::processEvents();

    for (const Family &family : families()) {
        const std::string name = family.name;
        benchmark::RegisterBenchmark(("decode/" + name).c_str(), decodeOnly, family);
        benchmark::RegisterBenchmark(("decode-steady/" + name).c_str(), decodeSteady, family);
        benchmark::RegisterBenchmark(("whole/" + name).c_str(), wholePath, family);
        benchmark::RegisterBenchmark(("reference/" + name).c_str(), referencePath, family);
        benchmark::RegisterBenchmark(("read/" + name).c_str(), readPath, family, 1, 1 << 20);
        benchmark::RegisterBenchmark(("read-split8/" + name).c_str(), readPath, family, 1, 8);
        benchmark::RegisterBenchmark(("read-merged2/" + name).c_str(), readPath, family, 2, 1 << 20);
        benchmark::RegisterBenchmark(("assemble/" + name).c_str(), assemble, family);
    }
    // 1000 reads/s of one frame, and an adapter's 16 ms reads of four.
    benchmark::RegisterBenchmark("bunching/1ms-reads", bunchingPerRead, 1.0, 1);
    benchmark::RegisterBenchmark("bunching/16ms-reads", bunchingPerRead, 16.0, 4);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (qEnvironmentVariableIntValue("LINKSCOPE_SKIP_HEAP_CHECK") == 0)
        heapAfterManyPackets();
    benchmark::Shutdown();
    return 0;
}
