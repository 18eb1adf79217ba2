// SPDX-License-Identifier: GPL-3.0-or-later
#include "window.h"

#include "linkscopeprobe.h"
#include "pty.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

bool connectToPty(LinkScope &window, const PseudoTerminal &pty)
{
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    ui.cbPortSelect->addItem(pty.slavePath());
    ui.cbPortSelect->setCurrentText(pty.slavePath());
    QTest::mouseClick(ui.btConnect, Qt::LeftButton);
    return ui.btConnect->text() == QLatin1String("Disconnect");
}

bool deliver(LinkScope &window, PseudoTerminal &pty, const QByteArray &bytes)
{
    QSerialPort *port = LinkScopeProbe::port(window);
    QSignalSpy readyRead(port, &QSerialPort::readyRead);
    if (!pty.write(bytes) || !readyRead.wait(3000))
        return false;
    QCoreApplication::processEvents();
    return port->bytesAvailable() == 0;
}
