// The program's one window: pick a port, connect, and watch every packet that
// arrives listed byte by byte and decoded.
#ifndef LINKSCOPE_WINDOW_H
#define LINKSCOPE_WINDOW_H

#include "ui_linkscope.h"
#include "display/tablefit.h"

#include <QMainWindow>
#include <QSerialPort>

class LinkScope : public QMainWindow
{
    Q_OBJECT

public:
    explicit LinkScope(QWidget *parent = nullptr);
    ~LinkScope() override;

    bool decodePacket(const QByteArray &chunk);
    void showRawPacket(const QByteArray &chunk);
    void fitTableToContents(QTableWidget *table);

    // Everything one received chunk causes: decode it and, if it was
    // recognised, list it and refit both tables.
    void processChunk(const QByteArray &chunk);

private slots:
    void on_btConnect_clicked();
    void slotReadyRead();

private:
    void openPort();
    void closePort();
    void handlePortError(QSerialPort::SerialPortError error);
    void dropLostPort(const QString &reason);

    Ui::LinkScopeClass ui;
    QSerialPort *serialPort;

    TableFitter dataFitter;
    TableFitter srxlFitter;
    QString portInUse;
    int readErrorsWithoutData = 0;
    bool portLossPending = false;

    friend struct LinkScopeProbe;
};

#endif
