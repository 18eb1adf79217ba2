// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/recordsink.h"

#include "cli/messages.h"
#include "cli/stopsignals.h"
#include "dump/recording.h"

#include <unistd.h>

namespace {

// After a stop signal, records still on their way get this long.
constexpr qint64 lastRecordsMs = 400;

bool lastRecordsOver()
{
    return stopRequested() && msSinceStop() > lastRecordsMs;
}

} // namespace

RecordSink::RecordSink(RecordWriter::Format format, bool mayDrop, const ChannelList &channels, bool wanted,
                       const Recording &recording)
    : output(STDOUT_FILENO, mayDrop),
      // Records already decoded get their moment after a stop signal too.
      writer(format, output, mayDrop, lastRecordsOver, channels), wanted(wanted), recording(recording)
{
}

void RecordSink::setSources(const QStringList &names)
{
    writer.setSources(names);
}

void RecordSink::setFamilies(int source, const QVector<const FamilyDescriptor *> &families)
{
    // The records of every source share one form: the fields of all their families.
    if (familiesOf.size() <= source)
        familiesOf.resize(source + 1);
    familiesOf[source] = families;
    QVector<const FamilyDescriptor *> all;
    for (const auto &each : qAsConst(familiesOf))
        all += each;
    // The window's five carry no more than today's records hold.
    bool familyFields = false, gapFields = false, telemetryFields = false;
    for (const FamilyDescriptor *family : qAsConst(all)) {
        familyFields = familyFields || !family->srxl;
        gapFields = gapFields || family->framing == FamilyDescriptor::ByGap;
        telemetryFields = telemetryFields || family->telemetryFields;
    }
    writer.setFamilyFields(familyFields);
    writer.setGapFields(gapFields);
    writer.setTelemetryFields(telemetryFields);
}

void RecordSink::take(const Frame &frame)
{
    if (wanted)
        writer.write(frame.reading, frame.t, frame.offset, frame.bytes.constData(), frame.bytes.size(), frame.timeFrom,
                     frame.source);
}

bool RecordSink::readDone(bool live)
{
    // A person watching a live source sees each read's frames at once.
    if (live && wanted)
        writer.flush();
    return check();
}

bool RecordSink::check()
{
    if (!wanted || output.state() == OutputStream::Open)
        return true;
    wanted = false;
    if (output.state() == OutputStream::Failed) {
        complain(QStringLiteral("cannot write the records to standard output: %1").arg(output.errorText()));
        outputFailed = true;
    }
    return recording.isOpen();
}

void RecordSink::finish()
{
    if (!wanted)
        return;
    writer.flush();
    output.drain(lastRecordsOver);
    check();
}

QString RecordSink::summaryLines() const
{
    QString text;
    if (output.droppedRecords() > 0)
        text += QStringLiteral("records dropped: output too slow (%1)\n")
                    .arg(counted(output.droppedRecords(), "record", "records"));
    if (output.cutRecords() > 0)
        text += QStringLiteral("records not written: cut off by the stop (%1)\n")
                    .arg(counted(output.cutRecords(), "record", "records"));
    return text;
}
