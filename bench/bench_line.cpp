// SPDX-License-Identifier: GPL-3.0-or-later
// A line kept busy at 115200 baud: a shown window reads frames sent back to
// back through a pseudo-terminal, and the CPU time of the thread that runs
// the window is reported as a share of the wall time, per family, after a
// first second of warming up.
#include "app/linkscope.h"
#include "lineloads.h"
#include "pty.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <thread>

using namespace lineloads;

namespace {

constexpr double bytesPerSecond = 115200.0 / 10; // 8N1: ten bits a byte
constexpr double warmUpSeconds = 1.0;

double threadSeconds()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Load
{
    const char *name;
    QByteArray (*make)(QRandomGenerator &);
    int readSize; // 0: one write per frame
};

// Writes frames for seconds at the line's byte rate, each frame as one write
// or cut into writes of readSize bytes.
void device(PseudoTerminal &pty, const Load &load, double seconds, std::atomic<long> &frames)
{
    QRandomGenerator random(11);
    QElapsedTimer clock;
    clock.start();
    double due = 0;
    while (clock.nsecsElapsed() < qint64(seconds * 1e9)) {
        const QByteArray frame = load.make(random);
        const int step = load.readSize > 0 ? load.readSize : frame.size();
        for (int at = 0; at < frame.size(); at += step) {
            const QByteArray piece = frame.mid(at, step);
            due += piece.size() / bytesPerSecond;
            const qint64 wait = qint64(due * 1e9) - clock.nsecsElapsed();
            if (wait > 0)
                std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
            pty.write(piece);
        }
        ++frames;
    }
}

// Counts the paints a widget gets.
class PaintCount : public QObject
{
public:
    explicit PaintCount(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
    long paints = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 4.0;
    const Load loads[] = {
        {"MPX", mpxFrame, 0},           {"MPX_V2", mpxV2Frame, 0},     {"NORDAX", nordaxFrame, 0},
        {"HOTT/16", hott16Frame, 0},    {"SPEKTRUM", spektrumFrame, 0}, {"SPEKTRUM, 8-byte reads", spektrumFrame, 8},
        {"HOTT/16, 8-byte reads", hott16Frame, 8},
    };
    std::printf("%-24s %10s %10s %12s\n", "family", "frames/s", "paints/s", "GUI CPU %");
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    for (const Load &load : loads) {
        if (!only.isEmpty() && QString::fromLatin1(load.name) != only)
            continue;
        PseudoTerminal pty;
        LinkScope window;
        window.show();
        QComboBox *ports = window.findChild<QComboBox *>(QStringLiteral("cbPortSelect"));
        ports->addItem(pty.slavePath());
        ports->setCurrentText(pty.slavePath());
        QMetaObject::invokeMethod(&window, "on_btConnect_clicked");
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        PaintCount painted(window.findChild<QTableWidget *>(QStringLiteral("twSrxlInput"))->viewport());

        // The first second is not counted: the window lays out its tables
        // and meets the raw bytes' texts. The random values go on bringing
        // texts it has not drawn yet for far longer; a longer run shows the
        // cost once most of them have been drawn.
        std::atomic<long> frames{0};
        std::atomic<bool> done{false};
        std::thread writer([&] {
            device(pty, load, warmUpSeconds + seconds, frames);
            done = true;
        });
        double cpuBefore = 0;
        long framesBefore = 0;
        long paintsBefore = 0;
        QElapsedTimer wall;
        QTimer::singleShot(int(warmUpSeconds * 1000), [&] {
            cpuBefore = threadSeconds();
            framesBefore = frames;
            paintsBefore = painted.paints;
            wall.start();
        });
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done)
                loop.quit();
        });
        poll.start(50);
        loop.exec();
        writer.join();
        const double elapsed = wall.nsecsElapsed() / 1e9;
        const double cpu = threadSeconds() - cpuBefore;
        const long paints = painted.paints - paintsBefore;
        std::printf("%-24s %10.0f %10.0f %12.1f\n", load.name, (frames - framesBefore) / elapsed, paints / elapsed,
                    100.0 * cpu / elapsed);
        std::fflush(stdout);
    }
    return 0;
}
