// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's message about the port, shown whole.
#ifndef LINKSCOPE_PORTMESSAGE_H
#define LINKSCOPE_PORTMESSAGE_H

#include <QLabel>

class QStatusBar;

// A status bar draws its message on one line and cuts it off wherever its
// permanent widgets begin: at 600 px "Lost the connection to /dev/ttyUSB0:
// the device hung up or went away" did not fit beside the health line. This
// label is the bar's first permanent widget and takes the message's place:
// given each message of the bar, it shows it whole, on a second line where
// one is not enough, and hides while there is none. (With the label there,
// the room the bar leaves for drawing the message itself is empty.) A long
// port name, such as /dev/serial/by-id/..., is shortened in its middle
// rather than push the reason that follows it onto a second line.
class PortMessage : public QLabel
{
public:
    explicit PortMessage(QStatusBar *bar);

    // The name in the coming messages that may be shortened.
    void setPortName(const QString &name) { portName = name; }
    // Call with each message of the bar, an empty one included. Showing
    // the label lays the bar out at once, so whatever must make way for
    // it should be hidden first.
    void showMessage(const QString &text);
    // Rich text added to the tooltip, for what the message hides.
    void setDetail(const QString &text);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fit();

    QString message;
    QString portName;
    QString detail;
};

#endif
