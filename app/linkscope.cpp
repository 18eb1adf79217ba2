// SPDX-License-Identifier: GPL-3.0-or-later
// The window: its parts, and what it does with each read of the port.
#include "app/linkscope.h"

#include "decode/crc16.h"
#include "decode/framing.h"
#include "display/cellimages.h"
#include "display/decodedtable.h"
#include "display/paintpacer.h"
#include "display/rawview.h"
#include "serial/portnames.h"
#include "serial/readpacing.h"

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
    setUpStatusBar();
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
    QVector<AssembledFrame> frames;
    if (isWholeFrame(chunk)) {
        processChunk(chunk);
        const bool crcOk = frameCrcMatches(chunk.constData(), chunk.size());
        health.frameShown(crcOk);
        if (crcOk) {
            assembler.realign(chunk.size(), now);
            return;
        }
        frames = assembler.feed(chunk, now, true);
    } else if (gathered) {
        // Where bytes gathered over a pause hold frames, the frames are the
        // packets; the device did not send them as one read.
        frames = assembler.feed(chunk, now);
        if (frames.isEmpty())
            processChunk(chunk);
    } else {
        processChunk(chunk);
        frames = assembler.feed(chunk, now);
    }
    for (const AssembledFrame &frame : qAsConst(frames)) {
        if (frame.failsafe) {
            health.failsafeFrame();
            continue;
        }
        processChunk(frame.bytes);
        health.frameShown(frame.crcOk);
    }
}
