// SPDX-License-Identifier: GPL-3.0-or-later
// Gathers a window's repaints to the rate a display can show.
#ifndef LINKSCOPE_PAINTPACER_H
#define LINKSCOPE_PAINTPACER_H

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Cells can change hundreds of times a second, far faster than anyone can
// read them, and drawing them costs more than everything else a packet does.
// The pacer lets the window paint at most once per interval: a repaint asked
// for sooner is held back, with all the others that follow it, and done when
// the interval is over. While packets keep coming, the window paints far
// less often; once they stop for a moment, the last one is painted at once,
// so the latest state is always drawn soon.
class PaintPacer : public QObject
{
public:
    static constexpr int intervalMs = 16; // about 60 paints a second
    // About 10 while packets keep coming, as often as a changing number
    // can be read: a whole paint costs as much as decoding, listing and
    // fitting some thirty packets.
    static constexpr int streamIntervalMs = 100;
    // A line that brought nothing for this long has finished its burst; a
    // busy line is read at least this often.
    static constexpr int quietMs = 18;

    explicit PaintPacer(QWidget *window);

    // New content arrived, and more may follow soon.
    void contentChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    qint64 paintDueAt() const;
    void holdBack(qint64 now);
    void paintHeldBack();

    QWidget *window;
    QElapsedTimer clock;
    qint64 lastPaintAt;
    qint64 lastContentAt;
    QTimer heldBack;
    bool releasing = false;
};

#endif
