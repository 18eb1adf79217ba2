// SPDX-License-Identifier: GPL-3.0-or-later
// Standard output, written by a thread of its own where reading a port and
// recording must never wait for whoever reads the records.
#ifndef LINKSCOPE_DUMP_OUTPUT_H
#define LINKSCOPE_DUMP_OUTPUT_H

#include <QString>

#include <functional>
#include <memory>
#include <string>

class OutputStream
{
public:
    enum State { Open, PipeClosed, Failed };

    // threaded: a thread of its own writes, and text waiting beyond limit
    // bytes is more than the reader keeps up with. Otherwise the caller
    // writes, as a source that can wait for the reader costs least that way.
    OutputStream(int fd, bool threaded, std::size_t limit = 1 << 20);
    // Leaves a writer that is stuck on a reader that never reads behind.
    ~OutputStream();
    OutputStream(const OutputStream &) = delete;
    OutputStream &operator=(const OutputStream &) = delete;

    // Queues text that holds records. With waitForRoom, waits while the
    // queue is full, as nothing may be lost when the source can wait too,
    // unless giveUp says to stop (its records then count as cut); without,
    // text that does not fit is dropped and its records counted. Returns whether the text was queued.
    bool put(std::string &&text, qint64 records, bool waitForRoom, const std::function<bool()> &giveUp);
    // Waits until all queued text is written or the output failed; if giveUp
    // says to stop first, what is left counts as cut. Returns whether
    // everything was written.
    bool drain(const std::function<bool()> &giveUp);

    State state() const;
    // Why the output failed, as the system says it.
    QString errorText() const;
    // Records lost because the reader kept up too slowly.
    qint64 droppedRecords() const;
    // Records a stop signal cut off before they were written.
    qint64 cutRecords() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};

#endif
