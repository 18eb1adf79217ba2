// SPDX-License-Identifier: GPL-3.0-or-later
// The figures behind the status bar's health line: what the link delivered
// since the port was opened.
#ifndef LINKSCOPE_LINKHEALTH_H
#define LINKSCOPE_LINKHEALTH_H

#include <QString>
#include <QVector>

class LinkHealth
{
public:
    explicit LinkHealth(qint64 startMs = 0);

    // A frame the window shows; failsafe where its CRC matched and it says
    // the receiver sent it in failsafe (Spektrum's mode byte), which counts
    // it among the failsafe frames as well.
    void frameShown(bool crcOk, bool failsafe = false);
    // A HoTT failsafe frame: its CRC matched, but the window does not show it.
    void failsafeFrame();
    // The port was closed: the counts stand, but nothing is known of the
    // receiver's state any more.
    void portClosed() { inFailsafe = false; }

    // What must catch the eye before the figures: "RECEIVER IN FAILSAFE"
    // while the latest frame is a failsafe frame, otherwise nothing.
    QString alert() const;
    // The figures as they read at nowMs, with the bytes that belonged to no frame.
    QString figures(qint64 nowMs, qint64 strayBytes);

    qint64 framesOk() const { return ok; }
    qint64 framesFalse() const { return bad; }
    qint64 failsafeFrames() const { return failsafe; }

private:
    struct Sample
    {
        qint64 ms;
        qint64 frames;
    };
    qint64 ok = 0, bad = 0, failsafe = 0;
    // Every frame once, for the rate: a shown failsafe frame is in ok too.
    qint64 frames = 0;
    bool inFailsafe = false;
    // Frame totals as the line was last written, reaching back a second.
    QVector<Sample> samples;
};

#endif
