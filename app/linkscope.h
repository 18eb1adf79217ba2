// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one window: pick a port, connect, and watch every packet that
// arrives listed byte by byte and decoded.
#ifndef LINKSCOPE_WINDOW_H
#define LINKSCOPE_WINDOW_H

#include "ui_linkscope.h"
#include "decode/framing/readpolicy.h"
#include "display/linkhealth.h"
#include "display/tablefit.h"
#include "serial/portloss.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSerialPort>
#include <QTimer>

class HealthLine;
class PaintPacer;
class PortMessage;
class ReadPacer;

class LinkScope : public QMainWindow
{
    Q_OBJECT

public:
    explicit LinkScope(QWidget *parent = nullptr);
    ~LinkScope() override;

    bool decodePacket(const QByteArray &chunk);
    // The same for a chunk the read policy found to be one frame of family,
    // with its check's verdict: the family and the check are taken as found.
    bool decodePacket(const QByteArray &chunk, const FamilyDescriptor &family, bool crcOk);
    void showRawPacket(const QByteArray &chunk);
    void fitTableToContents(QTableWidget *table);

    // Everything one received chunk causes: decode it and, if it was
    // recognised, list it and refit both tables. family, where set, is the
    // family the chunk was found to be a frame of, and crcOk its verdict.
    void processChunk(const QByteArray &chunk, const FamilyDescriptor *family = nullptr, bool crcOk = false);
    // One read of the port: listed and counted as the read policy says.
    void receiveChunk(const QByteArray &chunk, bool gathered = false);

private slots:
    void on_btConnect_clicked();
    void slotReadyRead();

private:
    void openPort();
    void closePort();
    void handlePortError(QSerialPort::SerialPortError error);
    void dropLostPort(const QString &reason);
    // Lists what the steps show and counts what they count, in order.
    void apply(const QVector<ReadStep> &steps);
    void setUpStatusBar();
    void showPortMessage(const QString &message, const QString &portName);
    void startHealth();
    void updateHealth();

    Ui::LinkScopeClass ui;
    QSerialPort *serialPort;
    ReadPacer *readPacer;
    PaintPacer *paintPacer;

    TableFitter dataFitter;
    TableFitter srxlFitter;
    QString portInUse;
    PortLoss portLoss;
    bool portLossPending = false;

    ReadPolicy readPolicy;
    QElapsedTimer linkClock;
    LinkHealth health;
    QTimer healthTimer;
    HealthLine *healthLabel = nullptr;
    PortMessage *portMessage = nullptr;

    friend struct LinkScopeProbe;
};

#endif
