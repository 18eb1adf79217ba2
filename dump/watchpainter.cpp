// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/watchpainter.h"

#include "dump/watchlayout.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// Functions, not macros that would take over names such as erase.
#define NCURSES_NOMACROS
#include <curses.h>

namespace {

constexpr auto lastOutputTime = std::chrono::seconds(1);

enum ColourPair : short { failsafeColour = 1, silenceColour, pausedColour };

} // namespace

struct WatchPainter::Shared
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<WatchSnapshot> views;
    bool dirty = false;
    bool refitWanted = false;
    bool quit = false;
    bool running = false;
    bool finished = false;
    SCREEN *screen = nullptr;
    bool colours = false;
    termios shellModes = {};
    bool haveShellModes = false;
    std::thread thread;

    void run();
    void paint(const std::vector<WatchSnapshot> &views);
    attr_t attributes(WatchLine::Style style) const;
};

attr_t WatchPainter::Shared::attributes(WatchLine::Style style) const
{
    const auto banner = [this](short pair) { return A_REVERSE | A_BOLD | (colours ? COLOR_PAIR(pair) : 0); };
    switch (style) {
    case WatchLine::Title: return A_BOLD;
    case WatchLine::Dimmed: return A_DIM;
    case WatchLine::Failsafe: return banner(failsafeColour);
    case WatchLine::Silence: return banner(silenceColour);
    case WatchLine::Paused: return banner(pausedColour);
    default: return A_NORMAL;
    }
}

void WatchPainter::Shared::paint(const std::vector<WatchSnapshot> &shown)
{
    const std::vector<WatchLine> lines = layOutWatch(shown, COLS, LINES);
    werase(stdscr);
    for (std::size_t row = 0; row < lines.size(); ++row) {
        wattrset(stdscr, attributes(lines[row].style));
        // Writing the bottom right corner fails to move the cursor on, but
        // the character is drawn.
        mvwaddnstr(stdscr, int(row), 0, lines[row].text.c_str(), COLS);
    }
    wattrset(stdscr, A_NORMAL);
    wnoutrefresh(stdscr);
    doupdate();
}

void WatchPainter::Shared::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this] { return quit || dirty || refitWanted; });
        if (quit)
            break;
        const bool refitNow = refitWanted;
        dirty = refitWanted = false;
        const std::vector<WatchSnapshot> shown = views;
        guard.unlock();
        if (refitNow) {
            // The shell may have changed the settings while the program was stopped.
            reset_prog_mode();
            winsize size;
            if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
                resizeterm(size.ws_row, size.ws_col);
            clearok(curscr, TRUE);
        }
        paint(shown);
        guard.lock();
    }
    guard.unlock();
    endwin();
    guard.lock();
    finished = true;
    changed.notify_all();
}

WatchPainter::WatchPainter()
    : shared(std::make_shared<Shared>())
{
}

WatchPainter::~WatchPainter()
{
    stop();
}

bool WatchPainter::start(FILE *input, QString *error)
{
    Shared &s = *shared;
    s.haveShellModes = ::tcgetattr(STDOUT_FILENO, &s.shellModes) == 0;
    const QString terminal = QString::fromLocal8Bit(qgetenv("TERM"));
    s.screen = newterm(nullptr, stdout, input);
    if (!s.screen) {
        *error = terminal.isEmpty() ? QStringLiteral("cannot draw the view: TERM is not set")
                                    : QStringLiteral("cannot draw the view on a terminal of type '%1'").arg(terminal);
        return false;
    }
    set_term(s.screen);
    const char *placeCursor = tigetstr("cup");
    if (!placeCursor || placeCursor == reinterpret_cast<char *>(-1)) {
        endwin();
        delscreen(s.screen);
        s.screen = nullptr;
        *error = QStringLiteral("cannot draw the view: a terminal of type '%1' cannot place the cursor").arg(terminal);
        return false;
    }
    // Every key comes as it is typed, Ctrl-S and Ctrl-Q among them: with
    // flow control on, Ctrl-S would stop the drawing.
    raw();
    noecho();
    nonl();
    leaveok(stdscr, TRUE);
    curs_set(0);
    // The keys are read elsewhere; drawing need not look out for them.
    typeahead(-1);
    if (has_colors() && start_color() == OK) {
        use_default_colors();
        s.colours = init_pair(failsafeColour, COLOR_RED, -1) == OK && init_pair(silenceColour, COLOR_YELLOW, -1) == OK
            && init_pair(pausedColour, COLOR_CYAN, -1) == OK;
    }

    // Signals are for the thread that reads: the drawing is left alone.
    sigset_t blocked, previous;
    sigfillset(&blocked);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    s.thread = std::thread([state = shared] { state->run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    s.running = true;
    return true;
}

void WatchPainter::show(std::vector<WatchSnapshot> &&shown)
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->views = std::move(shown);
    shared->dirty = true;
    shared->changed.notify_all();
}

void WatchPainter::setPaused(bool paused)
{
    std::lock_guard<std::mutex> guard(shared->lock);
    for (WatchSnapshot &view : shared->views)
        view.paused = paused;
    shared->dirty = true;
    shared->changed.notify_all();
}

void WatchPainter::refit()
{
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->refitWanted = true;
    shared->changed.notify_all();
}

void WatchPainter::stop()
{
    Shared &s = *shared;
    if (!s.running)
        return;
    s.running = false;
    std::unique_lock<std::mutex> guard(s.lock);
    s.quit = true;
    s.changed.notify_all();
    if (s.changed.wait_for(guard, lastOutputTime, [&] { return s.finished; })) {
        guard.unlock();
        s.thread.join();
        delscreen(s.screen);
        return;
    }
    // The drawing is stuck on a terminal that takes nothing; it is left to
    // end with the process, and the terminal gets its settings back.
    guard.unlock();
    s.thread.detach();
    if (s.haveShellModes)
        ::tcsetattr(STDOUT_FILENO, TCSANOW, &s.shellModes);
}
