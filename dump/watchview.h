// SPDX-License-Identifier: GPL-3.0-or-later
// linkscope-dump --watch: the live view of the channels, the link and
// failsafe, and the polls and replies, fed frame by frame, with its keys and
// the pace of its redraws; a block on the screen for each source.
#ifndef LINKSCOPE_DUMP_WATCHVIEW_H
#define LINKSCOPE_DUMP_WATCHVIEW_H

#include "dump/watchfigures.h"
#include "dump/watchpainter.h"
#include "reading/framesink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
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

    // sources: as the headers name them, in the order of Frame::source;
    // clock: the session's, frame times count from its start.
    WatchView(const QStringList &sources, const QElapsedTimer &clock, const ChannelList &channels = ChannelList());
    ~WatchView() override;

    // Takes over the terminal on standard output and reads keys from the
    // controlling terminal. Says why where it cannot.
    bool start(QString *error);
    // As start, and quit is called on q or Ctrl-C.
    bool start(QString *error, const std::function<void()> &quit) override;
    // A frame, with the time its last byte arrived.
    void take(const Frame &frame) override;
    void setStrayBytes(int source, qint64 bytes) override { sourceAt(source).stray = bytes; }
    void setBunching(int source, double periodMs, const QString &remedy) override;
    void setPairing(int source, const PollPairing &pairing) override;
    // Gives the terminal back as it was.
    void stop() override;
    // What the screen shows at now, a view for each source.
    std::vector<WatchSnapshot> snapshots(double now) const;

signals:
    // q or Ctrl-C.
    void quitWanted();

private:
    // Each source's figures, and what was drawn of them last.
    struct Source
    {
        std::string name;
        WatchFigures figures;
        qint64 stray = 0;
        std::string bunching;
        bool failsafeShown = false;
        bool silenceShown = false;
        bool stoppedShown = false; // the banner of channels that stopped
    };

    double now() const { return double(clock.nsecsElapsed()) / 1e9; }
    // A source not named when made gets a name of its own.
    Source &sourceAt(int source);
    double nextChangeAfter(double t) const;
    void readKeys();
    void onTick();
    void drawSoon();
    void schedule(double t);
    void draw();

    std::vector<Source> sources;
    ChannelList channels;
    const QElapsedTimer &clock;
    WatchPainter painter;
    FILE *keys = nullptr;
    QSocketNotifier *keysReady = nullptr;
    QSocketNotifier *refitReady = nullptr;
    QTimer tick;
    double drawnAt = -1;
    bool paused = false;
    bool changePending = false;
    bool started = false;
    // Where keys come from another terminal than the drawing's, its settings.
    termios keysModes = {};
    bool ownKeysModes = false;
};

#endif
