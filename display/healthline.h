// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's health line, whose alert stands out from its figures.
#ifndef LINKSCOPE_HEALTHLINE_H
#define LINKSCOPE_HEALTHLINE_H

#include <QLabel>

// Reads as one plain line, "RECEIVER IN FAILSAFE · OK 12 · …", but draws the
// alert bold on the palette's highlight colours, so that a glance finds it in
// any theme; the figures follow in plain text, cut short with "…" where the
// room is short. The tooltip repeats the line and says what it counts.
class HealthLine : public QLabel
{
public:
    explicit HealthLine(QWidget *parent = nullptr);

    // alert may be empty; figures are shown as they are.
    void setLine(const QString &alert, const QString &figures);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont alertFont() const;
    int padding() const;
    int alertWidth() const;

    QString alert;
    QString figures;
};

#endif
