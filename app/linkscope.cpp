// SPDX-License-Identifier: GPL-3.0-or-later
// The window: its parts, and what it does with each read of the port.
#include "app/linkscope.h"

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

bool LinkScope::decodePacket(const QByteArray &chunk, const FamilyDescriptor &family, bool crcOk)
{
    return decodeFrame(chunk, family, crcOk, ui.twSrxlInput);
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

void LinkScope::processChunk(const QByteArray &chunk, const FamilyDescriptor *family, bool crcOk)
{
    if (!(family ? decodePacket(chunk, *family, crcOk) : decodePacket(chunk)))
        return;
    showRawPacket(chunk);
    fitTableToContents(ui.twDataInput);
    fitTableToContents(ui.twSrxlInput);
    paintPacer->contentChanged();
}

void LinkScope::receiveChunk(const QByteArray &chunk, bool gathered)
{
    apply(readPolicy.read(chunk, linkClock.isValid() ? linkClock.elapsed() : 0, gathered));
}

void LinkScope::apply(const QVector<ReadStep> &steps)
{
    // Each frame comes with its family, check verdict and failsafe flag as
    // the read policy found them; none of them is worked out again.
    for (const ReadStep &step : steps) {
        if (!step.bytes.isEmpty())
            processChunk(step.bytes, step.family, step.count == ReadStep::CrcOk);
        switch (step.count) {
        case ReadStep::CrcOk: health.frameShown(true, step.failsafe); break;
        case ReadStep::CrcFalse: health.frameShown(false); break;
        case ReadStep::Failsafe: health.failsafeFrame(); break;
        case ReadStep::NotCounted: break;
        }
    }
}
