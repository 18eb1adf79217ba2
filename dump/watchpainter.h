// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal the live view draws on: taken over with ncurses and drawn by
// a thread of its own, so that a terminal that does not take its output in
// time (a slow link, a stalled session) never holds up reading the source.
#ifndef LINKSCOPE_DUMP_WATCHPAINTER_H
#define LINKSCOPE_DUMP_WATCHPAINTER_H

#include "dump/watchfigures.h"

#include <QString>

#include <cstdio>
#include <memory>
#include <vector>

class WatchPainter
{
public:
    WatchPainter();
    // Gives the terminal back if stop() was not called.
    ~WatchPainter();
    WatchPainter(const WatchPainter &) = delete;
    WatchPainter &operator=(const WatchPainter &) = delete;

    // Takes over the terminal on standard output; input is where keys come
    // from, which the caller reads itself. Says why where it cannot.
    bool start(FILE *input, QString *error);
    // Draws views, one a source, soon; views not drawn yet give way to newer ones.
    void show(std::vector<WatchSnapshot> &&views);
    // Draws the view shown last again, with or without the paused banner.
    void setPaused(bool paused);
    // The terminal changed size, or was handed back after a stop: lays the
    // view out anew at the terminal's size and draws all of it.
    void refit();
    // Restores the terminal as it was. A terminal that takes no output gets
    // a second to take the last of it; its settings are restored anyway.
    void stop();

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
};

#endif
