// SPDX-License-Identifier: GPL-3.0-or-later
// Takes the README's pictures of the real window: once as it opens, once with
// a Spektrum frame received through a pseudo-terminal.
#include "app/linkscope.h"
#include "packets.h"
#include "pty.h"
#include "window.h"

#include <QApplication>
#include <QSignalSpy>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        qCritical("usage: %s EMPTY.png DECODED.png", argv[0]);
        return 2;
    }
    PseudoTerminal pty;
    LinkScope window;
    window.show();
    QSignalSpy exposed(&window, &QWidget::windowTitleChanged);
    exposed.wait(500);
    if (!window.grab().save(QString::fromLocal8Bit(argv[1])))
        return 1;

    if (!connectToPty(window, pty))
        return 1;
    QVector<quint16> words;
    const int raw[] = {1024, 1800, 300, 1024, 2047, 1, 1500};
    for (int id = 0; id < 7; ++id)
        words << packets::spektrumWord(id, raw[id]);
    // A receiver sends a frame every few milliseconds; show the window as
    // it looks in such a stream, not only after its very first frame.
    for (int frame = 0; frame < 3; ++frame) {
        if (!deliver(window, pty, packets::spektrum(words, 162)))
            return 1;
        QSignalSpy settle(&window, &QWidget::windowTitleChanged);
        settle.wait(100);
    }
    return window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
