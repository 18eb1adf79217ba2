// SPDX-License-Identifier: GPL-3.0-or-later
// The live view laid out as lines of text for a terminal of a given size:
// header, banners, one line per channel with its bar, and a footer; for
// several sources, a block of these lines each.
#ifndef LINKSCOPE_DUMP_WATCHLAYOUT_H
#define LINKSCOPE_DUMP_WATCHLAYOUT_H

#include <string>
#include <vector>

struct WatchSnapshot;

struct WatchLine
{
    enum Style { Plain, Title, Dimmed, Failsafe, Silence, Paused };
    std::string text; // ASCII, never wider than the terminal
    Style style = Plain;
};

// At most height lines of at most width characters each.
std::vector<WatchLine> layOutWatch(const WatchSnapshot &view, int width, int height);
// Several sources, each in a block of its own headed by its name, in the
// order given; one source is laid out as above.
std::vector<WatchLine> layOutWatch(const std::vector<WatchSnapshot> &views, int width, int height);

#endif
