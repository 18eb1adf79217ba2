// SPDX-License-Identifier: GPL-3.0-or-later
#include "window.h"

#include "linkscopeprobe.h"
#include "pty.h"

#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

void selectPort(LinkScope &window, const QString &name)
{
    QComboBox *selector = LinkScopeProbe::ui(window).cbPortSelect;
    selector->addItem(name);
    selector->setCurrentText(name);
}

void pressConnect(LinkScope &window)
{
    QTest::mouseClick(LinkScopeProbe::ui(window).btConnect, Qt::LeftButton);
}

bool connectTo(LinkScope &window, const QString &name)
{
    selectPort(window, name);
    pressConnect(window);
    return LinkScopeProbe::ui(window).btConnect->text() == QLatin1String("Disconnect");
}

bool connectToPty(LinkScope &window, const PseudoTerminal &pty)
{
    return connectTo(window, pty.slavePath());
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
