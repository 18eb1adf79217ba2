// SPDX-License-Identifier: GPL-3.0-or-later
// Several sources' frames in one timeline: a sink in front of the real one
// that holds each source's frames and hands on the earliest first. Each
// source's own frames come in time order, so a frame can go once every
// other source still reading has a later one waiting; a live source that
// brings nothing for a while holds the others back for at most holdS.
#ifndef LINKSCOPE_READING_TIMELINE_H
#define LINKSCOPE_READING_TIMELINE_H

#include "decode/families/framereading.h"
#include "reading/framesink.h"

#include <QElapsedTimer>

#include <deque>
#include <vector>

class Timeline : public FrameSink
{
public:
    // How long a live source's frame waits for a frame of another source
    // that has none waiting: longer than an adapter holds a read back.
    static constexpr double holdS = 0.25;

    // live: the frames are timed by clock, as they arrive. count: frames
    // handed on before reached is called and the rest are dropped (-1: all).
    Timeline(FrameSink &to, int sources, bool live, const QElapsedTimer &clock, qint64 count = -1,
             std::function<void()> reached = nullptr);

    bool start(QString *error, const std::function<void()> &quit) override { return to.start(error, quit); }
    void setFamilies(int source, const QVector<const FamilyDescriptor *> &families) override
    {
        to.setFamilies(source, families);
    }
    void take(const Frame &frame) override;
    // The frames that may go go, then the real sink's own.
    bool readDone(bool live) override;
    void setStrayBytes(int source, qint64 bytes) override { to.setStrayBytes(source, bytes); }
    void setBunching(int source, double periodMs, const QString &remedy) override
    {
        to.setBunching(source, periodMs, remedy);
    }
    void setPairing(int source, const PollPairing &pairing) override { to.setPairing(source, pairing); }
    void stop() override;
    QString summaryLines() const override { return to.summaryLines() + ownLines(); }
    // What the merging has to say: frames that came out of time order.
    QString ownLines() const;

    // Told of each frame as it goes, before the sink takes it.
    void onHanding(std::function<void(const Frame &)> told) { handing = std::move(told); }
    // The source brings no more frames: the others wait for it no longer.
    void endSource(int source);
    // Every frame held goes, in time order.
    void drain();
    // Frames of a source waiting for another one's.
    qint64 held() const;
    bool hasFrames(int source) const { return !queues[size_t(source)].frames.empty(); }
    // A live frame that came after a later one of another source had gone
    // (it waited longer than holdS to be read): handed on as it came.
    qint64 outOfOrder() const { return lateFrames; }

private:
    struct Held
    {
        FrameReading reading;
        double t;
        const char *timeFrom;
        qint64 offset;
        QByteArray bytes;
    };
    struct Queue
    {
        std::deque<Held> frames;
        bool ended = false;
    };
    void release(bool all);
    void handOn(int source);

    FrameSink &to;
    std::vector<Queue> queues;
    const bool live;
    const QElapsedTimer &clock;
    const qint64 count;
    const std::function<void()> reached;
    std::function<void(const Frame &)> handing;
    qint64 handedOn = 0;
    double lastOut = -1;
    qint64 lateFrames = 0;
};

#endif
