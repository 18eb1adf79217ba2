// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump's records as a run's frame sink: one record a frame on
// standard output, handed on after each read of a live source, and what
// became of them when the output could not keep up or was closed.
#ifndef LINKSCOPE_DUMP_RECORDSINK_H
#define LINKSCOPE_DUMP_RECORDSINK_H

#include "dump/output.h"
#include "dump/records.h"
#include "reading/framesink.h"

class Recording;

class RecordSink : public FrameSink
{
public:
    // mayDrop: records the output cannot take in time are dropped, as the
    // source will not wait; wanted: records are written at all; recording:
    // the run goes on for it once nobody takes the records.
    RecordSink(RecordWriter::Format format, bool mayDrop, const ChannelList &channels, bool wanted,
               const Recording &recording);

    // Several sources: records name theirs.
    void setSources(const QStringList &names);
    void setFamilies(int source, const QVector<const FamilyDescriptor *> &families) override;
    void take(const Frame &frame) override;
    bool readDone(bool live) override;
    QString summaryLines() const override;

    // The run is over: the records written so far go out.
    void finish();
    // The output failed other than by a closed pipe (said).
    bool failed() const { return outputFailed; }

private:
    // A closed pipe ends the records quietly, any other failure loudly; with a
    // recording, the run goes on whatever happens to them.
    bool check();

    OutputStream output;
    RecordWriter writer;
    bool wanted;
    const Recording &recording;
    bool outputFailed = false;
    QVector<QVector<const FamilyDescriptor *>> familiesOf; // by source
};

#endif
