// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes a terminal took in before this program set its port up. A
// pseudo-terminal left in canonical mode, as openpty() makes one, handles
// what is written to it as typed text: 0x03 drops every byte before it,
// 0x0D becomes 0x0A, 0x7F rubs out the byte before. Such bytes are no
// longer the line's, and would read as frames that were never sent.
#ifndef LINKSCOPE_EARLIERINPUT_H
#define LINKSCOPE_EARLIERINPUT_H

#include <QByteArray>

#include <termios.h>

class EarlierInput
{
public:
    // Looks at the terminal at path before the port is opened: where its
    // settings change the bytes it takes in, it takes them raw from now on,
    // and what it holds already is dropped.
    explicit EarlierInput(const QByteArray &path);
    // Gives the terminal back the settings it had.
    ~EarlierInput();
    EarlierInput(const EarlierInput &) = delete;
    EarlierInput &operator=(const EarlierInput &) = delete;

    // Bytes dropped, 0 where the terminal took its bytes raw already.
    int dropped() const { return droppedBytes; }

private:
    int fd = -1;
    bool changed = false;
    termios earlier{};
    int droppedBytes = 0;
};

#endif
