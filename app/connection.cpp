// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the chosen port, draining it, noticing when the
// device behind it goes away, and telling the user in the status bar.
#include "app/linkscope.h"

#include "display/healthline.h"
#include "display/portmessage.h"
#include "serial/linesettings.h"
#include "serial/portaccess.h"
#include "serial/readpacing.h"

#include <QStatusBar>

#include <climits>

namespace {

// The health line changes a few times a second, not with every frame.
constexpr int healthIntervalMs = 250;

} // namespace

void LinkScope::on_btConnect_clicked()
{
    if (!ui.cbPortSelect->currentText().isEmpty() && !serialPort->isOpen()) {
        openPort();
        return;
    }
    closePort();
    // The list is filled once, at start, so only a new start finds a port
    // plugged in since.
    if (ui.cbPortSelect->count() == 0)
        showPortMessage(QStringLiteral("No serial port was found: plug the receiver in and start LinkScope again"),
                        QString());
}

void LinkScope::openPort()
{
    // Opened by the device it leads to, so that any name for one device
    // takes the same lock; messages keep the name the user chose.
    const QString name = ui.cbPortSelect->currentText();
    const QString device = portDevicePath(name);
    serialPort->setPortName(device);
    if (!serialPort->open(QIODevice::ReadWrite)) {
        const QString reason = openFailureReason(*serialPort, device, PortList::ShownByCaller);
        showPortMessage(QStringLiteral("Could not open %1: %2").arg(name, reason), name);
        return;
    }
    const QString failedSetting = applyLineSettings(*serialPort);
    if (!failedSetting.isEmpty()) {
        const QString reason = serialPort->errorString();
        serialPort->close();
        showPortMessage(QStringLiteral("Could not set the %1 of %2: %3").arg(failedSetting, name, reason), name);
        return;
    }
    portLoss.bytesArrived();
    readPacer->start(serialPort->baudRate());
    portInUse = name;
    ui.statusBar->clearMessage();
    connect(serialPort, &QSerialPort::readyRead, this, &LinkScope::slotReadyRead);
    ui.btConnect->setText(QStringLiteral("Disconnect"));
    startHealth();
}

void LinkScope::closePort()
{
    portLossPending = false;
    disconnect(serialPort, &QSerialPort::readyRead, this, &LinkScope::slotReadyRead);
    readPacer->stop();
    if (serialPort->isOpen())
        serialPort->close();
    ui.btConnect->setText(QStringLiteral("Connect"));
    // The line keeps the last figures, but not the receiver's failsafe: with
    // the port closed nothing is known of it. Bytes of a frame cut off here
    // belong to no later connection.
    if (healthTimer.isActive()) {
        healthTimer.stop();
        health.portClosed();
        updateHealth();
    }
    readPolicy.clear();
}

void LinkScope::slotReadyRead()
{
    const bool gathered = readPacer->readStarts();
    // Bytes that waited while the window was busy or pausing say nothing of
    // a pause on the line.
    if (readPacer->lineBusy() && linkClock.isValid())
        readPolicy.stillArriving(linkClock.elapsed());
    qint32 n = qint32(qMin<qint64>(serialPort->bytesAvailable(), INT_MAX));
    while (n > 0) {
        const QByteArray chunk = serialPort->read(n);
        // Nothing read although bytes were reported: asking again would
        // only get the same answer, so leave it to the next signal.
        if (chunk.isEmpty())
            break;
        portLoss.bytesArrived();
        receiveChunk(chunk, gathered);
        n = qint32(qMin<qint64>(serialPort->bytesAvailable(), INT_MAX));
    }
    readPacer->drained();
}

void LinkScope::handlePortError(QSerialPort::SerialPortError error)
{
    if (!serialPort->isOpen())
        return;
    const QString reason = portLoss.lostBecause(*serialPort, error);
    if (!reason.isEmpty())
        dropLostPort(reason);
}

void LinkScope::dropLostPort(const QString &reason)
{
    // The port is in the middle of emitting its error; close it once
    // control is back in the event loop, not from inside its own signal.
    if (portLossPending)
        return;
    portLossPending = true;
    const QString name = portInUse;
    QMetaObject::invokeMethod(this, [this, name, reason] {
        // The user may have closed this connection, or opened another, meanwhile.
        if (!portLossPending)
            return;
        closePort();
        showPortMessage(QStringLiteral("Lost the connection to %1: %2").arg(name, reason), name);
    }, Qt::QueuedConnection);
}

void LinkScope::setUpStatusBar()
{
    // A message about the port takes the whole bar; the health line gives
    // way to it, and its figures stay in the message's tooltip.
    portMessage = new PortMessage(ui.statusBar);
    healthLabel = new HealthLine;
    healthLabel->hide();
    ui.statusBar->addPermanentWidget(healthLabel);
    connect(ui.statusBar, &QStatusBar::messageChanged, this, [this](const QString &message) {
        // Showing either lays the bar out at once, so the other goes first;
        // otherwise the tables, fitted to their contents, are laid out anew
        // while the bar is briefly taller.
        if (message.isEmpty()) {
            portMessage->showMessage(message);
            healthLabel->setVisible(!healthLabel->text().isEmpty());
        } else {
            healthLabel->hide();
            portMessage->showMessage(message);
        }
    });
    healthTimer.setInterval(healthIntervalMs);
    connect(&healthTimer, &QTimer::timeout, this, [this] { updateHealth(); });
}

void LinkScope::showPortMessage(const QString &message, const QString &portName)
{
    portMessage->setPortName(portName);
    ui.statusBar->showMessage(message);
}

void LinkScope::startHealth()
{
    linkClock.start();
    readPolicy = ReadPolicy();
    health = LinkHealth(linkClock.elapsed());
    healthTimer.start();
    updateHealth();
    healthLabel->setVisible(ui.statusBar->currentMessage().isEmpty());
}

void LinkScope::updateHealth()
{
    const qint64 now = linkClock.elapsed();
    if (!bytesUnread(*serialPort))
        apply(readPolicy.settle(now));
    healthLabel->setLine(health.alert(), health.figures(now, readPolicy.assembler().strayBytes()));
    portMessage->setDetail(healthLabel->toolTip());
}
