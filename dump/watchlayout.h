// SPDX-License-Identifier: GPL-3.0-or-later
// The live view laid out as lines of text for a terminal of a given size:
// header, banners, one line per channel with its bar, and a footer.
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

#endif
