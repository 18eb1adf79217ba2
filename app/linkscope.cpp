// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/linkscope.h"

#include "decode/crc16.h"
#include "decode/framing.h"
#include "display/cellimages.h"
#include "display/decodedtable.h"
#include "display/paintpacer.h"
#include "display/rawview.h"
#include "serial/portnames.h"
#include "serial/readpacing.h"

#include <algorithm>

LinkScope::LinkScope(QWidget *parent)
    : QMainWindow(parent)
{
    ui.setupUi(this);
    ui.cbPortSelect->clear();
    ui.cbPortSelect->insertItems(ui.cbPortSelect->count(), availablePortNames());
    serialPort = new QSerialPort;
    readPacer = new ReadPacer(serialPort, this);
    paintPacer = new PaintPacer(this);
    ui.twDataInput->setItemDelegate(new CellImageDelegate(ui.twDataInput));
    ui.twSrxlInput->setItemDelegate(new CellImageDelegate(ui.twSrxlInput));
    connect(serialPort, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { handlePortError(error); });
}

LinkScope::~LinkScope()
{
    // The port has no parent, so it would outlive the window otherwise. Its
    // signals must not reach a window that is half destroyed.
    serialPort->disconnect(this);
    if (serialPort->isOpen())
        serialPort->close();
    delete serialPort;
}

bool LinkScope::decodePacket(const QByteArray &chunk)
{
    return ::decodePacket(chunk, ui.twSrxlInput);
}

void LinkScope::showRawPacket(const QByteArray &chunk)
{
    ::showRawPacket(ui.twDataInput, chunk);
}

void LinkScope::fitTableToContents(QTableWidget *table)
{
    if (table == ui.twDataInput)
        dataFitter.fit(table);
    else if (table == ui.twSrxlInput)
        srxlFitter.fit(table);
    else
        fitTableToContentsPlain(table);
}

void LinkScope::processChunk(const QByteArray &chunk)
{
    if (!decodePacket(chunk))
        return;
    showRawPacket(chunk);
    fitTableToContents(ui.twDataInput);
    fitTableToContents(ui.twSrxlInput);
    paintPacer->contentChanged();
}

void LinkScope::receiveChunk(const QByteArray &chunk, bool gathered)
{
    const qint64 now = linkClock.isValid() ? linkClock.elapsed() : 0;
    // What a pause on the line settled came before this read.
    showFrames(assembler.dropStale(now));
    const qint64 chunkAt = assembler.bytesFed();
    QVector<AssembledFrame> frames;
    if (isWholeFrame(chunk)) {
        const bool crcOk = frameCrcMatches(chunk.constData(), chunk.size());
        if (crcOk && assembler.keptBytes() == 0)
            assembler.realign(chunk.size(), now);
        else
            frames = assembler.feed(chunk, now, true);
        // Bytes kept from earlier reads that this one settles hold frames
        // that came before it.
        showFrames(frames, 0, chunkAt);
        processChunk(chunk);
        health.frameShown(crcOk);
        showFrames(frames, chunkAt);
        return;
    }
    frames = assembler.feed(chunk, now);
    if (gathered) {
        // Where bytes gathered over a pause hold frames, the frames are the
        // packets; the device did not send them as one read.
        const bool framesInRead = std::any_of(frames.cbegin(), frames.cend(), [&](const AssembledFrame &frame) {
            return frame.offset + frame.bytes.size() > chunkAt;
        });
        if (!framesInRead)
            processChunk(chunk);
    } else {
        processChunk(chunk);
    }
    showFrames(frames);
}

void LinkScope::showFrames(const QVector<AssembledFrame> &frames, qint64 from, qint64 to)
{
    for (const AssembledFrame &frame : frames) {
        if (frame.offset < from || frame.offset >= to)
            continue;
        if (frame.failsafe) {
            health.failsafeFrame();
            continue;
        }
        processChunk(frame.bytes);
        health.frameShown(frame.crcOk);
    }
}
