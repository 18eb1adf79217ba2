// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump --watch: the live view of the channels, the link and
// failsafe, fed frame by frame, with its keys and the pace of its redraws.
#ifndef LINKSCOPE_DUMP_WATCHVIEW_H
#define LINKSCOPE_DUMP_WATCHVIEW_H

#include "dump/watchfigures.h"
#include "dump/watchpainter.h"
#include "reading/framesink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <termios.h>

class QSocketNotifier;

class WatchView : public QObject, public FrameSink
{
    Q_OBJECT

public:
    // Redraws come at most this often while frames keep coming, and at
    // once when something changes state.
    static constexpr int redrawMs = 100;

    // source: as the header names it; clock: the session's, frame times count from its start.
    WatchView(const QString &source, const QElapsedTimer &clock, const ChannelList &channels = ChannelList());
    ~WatchView() override;

    // Takes over the terminal on standard output and reads keys from the
    // controlling terminal. Says why where it cannot.
    bool start(QString *error);
    // As start, and quit is called on q or Ctrl-C.
    bool start(QString *error, const std::function<void()> &quit) override;
    // A frame, with the time its last byte arrived.
    void take(const Frame &frame) override;
    void setStrayBytes(int source, qint64 bytes) override
    {
        Q_UNUSED(source)
        stray = bytes;
    }
    void setBunching(int source, double periodMs, const QString &remedy) override;
    // Gives the terminal back as it was.
    void stop() override;

signals:
    // q or Ctrl-C.
    void quitWanted();

private:
    double now() const { return double(clock.nsecsElapsed()) / 1e9; }
    void readKeys();
    void onTick();
    void drawSoon();
    void schedule(double t);
    void draw();

    std::string source;
    const QElapsedTimer &clock;
    WatchFigures figures;
    WatchPainter painter;
    FILE *keys = nullptr;
    QSocketNotifier *keysReady = nullptr;
    QSocketNotifier *refitReady = nullptr;
    QTimer tick;
    qint64 stray = 0;
    std::string bunching;
    double drawnAt = -1;
    bool paused = false;
    bool changePending = false;
    bool failsafeShown = false;
    bool silenceShown = false;
    bool stoppedShown = false; // the banner of channels that stopped
    bool started = false;
    // Where keys come from another terminal than the drawing's, its settings.
    termios keysModes = {};
    bool ownKeysModes = false;
};

#endif
