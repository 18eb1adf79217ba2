// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/dumprun.h"

#include "cli/messages.h"
#include "dump/recording.h"
#include "dump/recordsink.h"
#include "dump/watchview.h"
#include "reading/run.h"

#include <memory>

int runDump(const DumpOptions &options)
{
    ReadingRun run(options.sources.isEmpty() ? QVector<ReadOptions>{options.reading} : options.sources);
    int status = run.open();
    if (status >= 0)
        return status;
    const Source &source = run.source();
    // A capture is read faster than anyone could watch it.
    if (options.watch && source.kind == Source::File) {
        complain(QStringLiteral("--watch needs a live source, a serial port or a stream, and %1 is a capture "
                                "file; leave out --watch to decode it")
                     .arg(run.sourceName()));
        return 2;
    }
    if (!options.recordPath.isEmpty() && isSameFile(source, options.recordBytes)) {
        complain(QStringLiteral("will not record to %1: it is the source being read").arg(options.recordPath));
        return 2;
    }
    status = run.refuse();
    if (status >= 0)
        return status;
    bool recordsWanted = !options.quiet && !options.watch;
    bool failed = false;
    if (recordsWanted && options.stdoutClosed) {
        complain(QStringLiteral("cannot write the records: standard output is closed"));
        if (options.recordPath.isEmpty())
            return 1;
        failed = true;
        recordsWanted = false;
    }
    Recording recording;
    if (!recording.open(options.recordPath, options.recordBytes, options.force))
        return 1;

    // Bytes that a terminal or port brings are lost unless read in time, so
    // records wait for nobody there; other sources wait for the reader.
    bool mayDrop = false;
    QStringList given;
    for (int i = 0; i < run.sourceCount(); ++i) {
        mayDrop = mayDrop || run.source(i).terminal || run.source(i).kind == Source::Port;
        given << (options.sources.isEmpty() ? options.reading.source : options.sources.at(i).source);
    }
    RecordSink records(options.format, mayDrop, options.channels, recordsWanted, recording);
    records.setSources(given);
    std::unique_ptr<WatchView> view;
    if (options.watch)
        view = std::make_unique<WatchView>(run.sourceNames(), run.clock(), options.channels);
    status = run.read(view ? static_cast<FrameSink *>(view.get()) : &records, &recording);
    records.finish();
    recording.finish();
    failed = failed || records.failed() || recording.failed();
    return run.finish(status, failed, records.summaryLines());
}
