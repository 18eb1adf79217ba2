// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal pair standing in for a serial device: the window opens the
// slave by its path, the test plays the device on the master.
#ifndef LINKSCOPE_TEST_PTY_H
#define LINKSCOPE_TEST_PTY_H

#include <QByteArray>
#include <QString>

class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return masterFd >= 0; }
    QString slavePath() const { return path; }
    int slaveFd() const { return slave; }

    // Writes all of data on the master and waits until the line has taken it.
    bool write(const QByteArray &data);
    // The same, but gives up once the line has taken nothing for timeoutMs,
    // as when nobody reads the other side.
    bool write(const QByteArray &data, int timeoutMs);
    // What a program wrote on the slave and the master has not read yet,
    // waiting up to waitMs for the first byte.
    QByteArray read(int waitMs = 0);
    int masterDescriptor() const { return masterFd; }
    // Closing the master is the device being unplugged.
    void closeMaster();

private:
    int masterFd = -1;
    int slave = -1;
    QString path;
};

#endif
