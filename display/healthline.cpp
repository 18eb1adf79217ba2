// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing the health line with its alert set apart.
#include "display/healthline.h"

#include <QPainter>
#include <QtMath>
#include <QStyle>

HealthLine::HealthLine(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // The line may be cut short, never the window widened for it.
    setMinimumWidth(1);
}

void HealthLine::setLine(const QString &newAlert, const QString &newFigures)
{
    if (newAlert == alert && newFigures == figures)
        return;
    alert = newAlert;
    figures = newFigures;
    const QString line = alert.isEmpty() ? figures : alert + QStringLiteral(" · ") + figures;
    setText(line);
    setToolTip(QStringLiteral(
        "<p>%1</p><p>Since the port was opened: frames shown with CRC OK and with CRC FALSE, frames per "
        "second over the last second, stray bytes that belonged to no frame, and failsafe frames: HoTT's, "
        "which are counted but not shown, and Spektrum's, which are shown and counted among OK as well."
        "</p>").arg(line.toHtmlEscaped()));
    updateGeometry();
    update();
}

QFont HealthLine::alertFont() const
{
    QFont bold = font();
    bold.setBold(true);
    return bold;
}

int HealthLine::padding() const
{
    return fontMetrics().horizontalAdvance(QLatin1Char(' '));
}

namespace {

// Text is laid out in fractions of a pixel, and cut short with "…" where its
// exact width does not fit; rounded widths would cut it a hair too soon.
int widthOf(const QString &text, const QFont &font)
{
    return qCeil(QFontMetricsF(font).horizontalAdvance(text));
}

} // namespace

int HealthLine::alertWidth() const
{
    return alert.isEmpty() ? 0 : widthOf(alert, alertFont()) + 2 * padding();
}

QSize HealthLine::sizeHint() const
{
    QSize hint = QLabel::sizeHint();
    const QMargins margins = contentsMargins();
    int width = margins.left() + margins.right() + widthOf(figures, font());
    if (!alert.isEmpty())
        width += alertWidth() + padding();
    hint.setWidth(width);
    return hint;
}

void HealthLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect room = contentsRect();
    int figuresLeft = room.left();
    if (!alert.isEmpty()) {
        const QRect badge(room.left(), room.top(), qMin(alertWidth(), room.width()), room.height());
        const QRect shown = QStyle::visualRect(layoutDirection(), room, badge);
        painter.fillRect(shown, palette().brush(QPalette::Highlight));
        painter.setFont(alertFont());
        style()->drawItemText(&painter, shown, Qt::AlignCenter, palette(), isEnabled(), alert,
                              QPalette::HighlightedText);
        painter.setFont(font());
        figuresLeft = badge.right() + 1 + padding();
    }
    const QRect figuresRoom = QStyle::visualRect(layoutDirection(), room,
                                                 QRect(figuresLeft, room.top(), room.right() + 1 - figuresLeft,
                                                       room.height()));
    if (figuresRoom.width() <= 0)
        return;
    const QString shown = fontMetrics().elidedText(figures, Qt::ElideRight, figuresRoom.width());
    style()->drawItemText(&painter, figuresRoom, Qt::AlignLeading | Qt::AlignVCenter, palette(), isEnabled(),
                          shown, foregroundRole());
}
