// SPDX-License-Identifier: GPL-3.0-or-later
// What the command-line programs say on standard error, one line after the
// program's name. After a stop signal a terminal that takes nothing (paused
// with Ctrl-S) gets a moment, not the run's end; while a live view holds
// the terminal, the lines wait until it is given back.
#ifndef LINKSCOPE_CLI_MESSAGES_H
#define LINKSCOPE_CLI_MESSAGES_H

#include <QByteArray>
#include <QString>

// "linkscope-dump: text" on standard error.
void complain(const QString &text);
// Text as it is on standard error.
void tell(const QByteArray &text);
// "1 frame", "2 frames": n with the word that fits it.
QString counted(qint64 n, const char *one, const char *many);
// While held, complain() keeps its lines; letting go says them.
void holdMessages(bool hold);

#endif
