// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/watchview.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A change of state is drawn at once, but never sooner than this after the
// draw before it, so that a receiver flipping in and out of failsafe cannot
// keep the terminal busy.
constexpr double soonestRedraw = 0.02; // s

int refitPipe[2] = {-1, -1};
struct sigaction beforeWinch, beforeCont, beforeTstp;

// A new size, or the terminal handed back after a stop, is drawn anew.
void onRefitSignal(int)
{
    const int saved = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(refitPipe[1], &byte, 1);
    errno = saved;
}

void catchRefitSignals()
{
    struct sigaction action = {};
    action.sa_handler = onRefitSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGWINCH, &action, &beforeWinch);
    ::sigaction(SIGCONT, &action, &beforeCont);
    // Stopping from outside would leave the terminal as the view set it up;
    // Ctrl-Z is an ordinary key while the view holds the terminal.
    action.sa_handler = SIG_IGN;
    ::sigaction(SIGTSTP, &action, &beforeTstp);
}

void releaseRefitSignals()
{
    ::sigaction(SIGWINCH, &beforeWinch, nullptr);
    ::sigaction(SIGCONT, &beforeCont, nullptr);
    ::sigaction(SIGTSTP, &beforeTstp, nullptr);
    for (int &fd : refitPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// What the header can show of a name: printable ASCII, one cell a character.
std::string printable(const QString &text)
{
    std::string shown;
    for (const QChar c : text)
        shown += c.unicode() >= 0x20 && c.unicode() < 0x7F ? char(c.unicode()) : '?';
    return shown;
}

} // namespace

WatchView::WatchView(const QStringList &names, const QElapsedTimer &clock, const ChannelList &channels)
    : channels(channels), clock(clock)
{
    for (const QString &name : names)
        sourceAt(int(sources.size())).name = printable(name);
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    connect(&tick, &QTimer::timeout, this, &WatchView::onTick);
}

WatchView::~WatchView()
{
    stop();
}

bool WatchView::start(QString *error, const std::function<void()> &quit)
{
    connect(this, &WatchView::quitWanted, this, quit);
    return start(error);
}

bool WatchView::start(QString *error)
{
    // Standard input may be the source: keys come from the terminal itself.
    const int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("--watch reads keys from the controlling terminal, and there is none (/dev/tty: %1)")
                     .arg(systemError());
        return false;
    }
    keys = ::fdopen(fd, "r");
    if (!keys) {
        *error = QStringLiteral("cannot read keys from /dev/tty: %1").arg(systemError());
        ::close(fd);
        return false;
    }
    // ncurses sets up the terminal it draws on; keys typed on another one
    // must come just as they are typed too.
    struct stat keysDevice, drawing;
    if (::fstat(fd, &keysDevice) == 0 && ::fstat(STDOUT_FILENO, &drawing) == 0
        && keysDevice.st_rdev != drawing.st_rdev && ::tcgetattr(fd, &keysModes) == 0) {
        termios modes = keysModes;
        modes.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
        modes.c_iflag &= ~tcflag_t(IXON | ICRNL);
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
        ownKeysModes = ::tcsetattr(fd, TCSANOW, &modes) == 0;
    }
    // Before ncurses starts, which then leaves these signals to the program.
    if (::pipe2(refitPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("cannot watch the terminal's size: %1").arg(systemError());
        stop();
        return false;
    }
    catchRefitSignals();
    started = true;
    if (!painter.start(keys, error)) {
        stop();
        return false;
    }

    keysReady = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(keysReady, &QSocketNotifier::activated, this, &WatchView::readKeys);
    refitReady = new QSocketNotifier(refitPipe[0], QSocketNotifier::Read, this);
    connect(refitReady, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        while (::read(refitPipe[0], bytes, sizeof bytes) > 0) {
        }
        painter.refit();
    });
    draw();
    return true;
}

void WatchView::stop()
{
    if (keys) {
        tick.stop();
        delete keysReady;
        delete refitReady;
        keysReady = refitReady = nullptr;
        painter.stop();
        if (ownKeysModes)
            ::tcsetattr(::fileno(keys), TCSANOW, &keysModes);
        ownKeysModes = false;
        ::fclose(keys);
        keys = nullptr;
    }
    if (started)
        releaseRefitSignals();
    started = false;
}

WatchView::Source &WatchView::sourceAt(int source)
{
    source = std::max(0, source);
    while (int(sources.size()) <= source) {
        sources.emplace_back();
        sources.back().name = "source " + std::to_string(sources.size());
        sources.back().figures.setChannels(channels);
    }
    return sources[std::size_t(source)];
}

void WatchView::take(const Frame &frame)
{
    Source &source = sourceAt(frame.source);
    source.figures.add(frame.reading, frame.t);
    const double at = now();
    if (source.figures.failsafe(at) != source.failsafeShown
        || (source.figures.channelsStoppedFor(at) >= 0) != source.stoppedShown || source.silenceShown)
        drawSoon();
}

void WatchView::setPairing(int source, const PollPairing &pairing)
{
    sourceAt(source).figures.setPairing(pairing);
}

void WatchView::setBunching(int source, double periodMs, const QString &remedy)
{
    Q_UNUSED(remedy) // too long for the view; the summary names it
    sourceAt(source).bunching = periodMs > 0 ? "frame times bunched (reads every " + std::to_string(qRound(periodMs))
                                  + " ms): rate right, single intervals not"
                            : std::string();
    drawSoon();
}

void WatchView::readKeys()
{
    bool quit = false;
    char bytes[64];
    for (;;) {
        const ssize_t n = ::read(::fileno(keys), bytes, sizeof bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            // The terminal went away: nothing more to read there, but the
            // run goes on until a signal or the source ends it.
            keysReady->setEnabled(false);
            break;
        }
        for (ssize_t i = 0; i < n; ++i) {
            switch (bytes[i]) {
            case 'q':
            case 'Q':
            case 0x03: // Ctrl-C, a key like any other while the view holds the terminal
                quit = true;
                break;
            case ' ':
                paused = !paused;
                if (paused) {
                    tick.stop();
                    painter.setPaused(true);
                } else {
                    draw();
                }
                break;
            case 'r':
            case 'R':
                for (Source &source : sources)
                    source.figures.reset(source.stray);
                drawSoon();
                break;
            default:
                break;
            }
        }
    }
    if (quit)
        emit quitWanted();
}

void WatchView::drawSoon()
{
    if (paused || !started)
        return;
    const double wait = drawnAt + soonestRedraw - now();
    if (wait <= 0) {
        draw();
        return;
    }
    changePending = true;
    tick.start(int(std::ceil(wait * 1000)));
}

void WatchView::onTick()
{
    if (paused)
        return;
    const double t = now();
    // Silence, channels that stop and the failsafe they mean begin with time alone.
    const bool timeTells = nextChangeAfter(drawnAt) <= t;
    if (changePending || timeTells || t - drawnAt >= redrawMs / 1000.0 - 0.005)
        draw();
    else
        schedule(t);
}

void WatchView::schedule(double t)
{
    double next = drawnAt + redrawMs / 1000.0 - t;
    next = std::min(next, nextChangeAfter(drawnAt) - t);
    tick.start(std::max(1, int(std::ceil(next * 1000))));
}

double WatchView::nextChangeAfter(double t) const
{
    double next = std::numeric_limits<double>::infinity();
    for (const Source &source : sources)
        next = std::min(next, source.figures.nextChangeAfter(t));
    return next;
}

std::vector<WatchSnapshot> WatchView::snapshots(double t) const
{
    std::vector<WatchSnapshot> views;
    for (const Source &source : sources) {
        views.push_back(source.figures.snapshot(t, source.stray));
        views.back().source = source.name;
        views.back().bunching = source.bunching;
        views.back().paused = paused;
    }
    return views;
}

void WatchView::draw()
{
    const double t = now();
    std::vector<WatchSnapshot> views = snapshots(t);
    for (std::size_t i = 0; i < views.size(); ++i) {
        sources[i].failsafeShown = views[i].failsafe;
        sources[i].stoppedShown = views[i].channelsStoppedFor >= 0;
        sources[i].silenceShown = views[i].silentFor >= 0;
    }
    painter.show(std::move(views));
    drawnAt = t;
    changePending = false;
    schedule(t);
}
