// SPDX-License-Identifier: GPL-3.0-or-later
// Fitting the port message into the status bar without cutting it.
#include "display/portmessage.h"

#include <QStatusBar>

PortMessage::PortMessage(QStatusBar *bar)
    : QLabel(bar)
{
    setObjectName(QStringLiteral("portMessage"));
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    // Wrapping, not the window's width, makes the room.
    setMinimumWidth(1);
    hide();
    bar->insertPermanentWidget(0, this, 1);
}

void PortMessage::setDetail(const QString &text)
{
    detail = text;
    fit();
}

void PortMessage::showMessage(const QString &text)
{
    message = text;
    if (message.isEmpty()) {
        hide();
        return;
    }
    // Shown empty first: the room the bar then gives the label decides how
    // the message is fitted, and a message that fits one line never makes
    // the bar taller, not even for a moment.
    if (isHidden()) {
        setText(QString());
        show();
    }
    fit();
}

void PortMessage::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void PortMessage::fit()
{
    // The name gives up what the message needs to fit one line, but keeps
    // at least a quarter of it, so /dev/ttyUSB0 is always shown whole. A
    // message that takes a second line all the same keeps a name of up to
    // half the line whole, and a longer one is shortened to that half.
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width();
    QString shown = message;
    if (!portName.isEmpty() && message.contains(portName) && metrics.horizontalAdvance(message) > room) {
        const int rest = metrics.horizontalAdvance(QString(message).remove(portName));
        const int oneLine = room - rest - metrics.horizontalAdvance(QLatin1Char(' '));
        const int nameRoom = oneLine >= room / 4 ? oneLine : room / 2;
        if (metrics.horizontalAdvance(portName) > nameRoom)
            shown.replace(portName, metrics.elidedText(portName, Qt::ElideMiddle, nameRoom));
    }
    setText(shown);
    QString tip = detail;
    if (shown != message)
        tip.prepend(QStringLiteral("<p>%1</p>").arg(message.toHtmlEscaped()));
    setToolTip(tip);
}
