// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/cellimages.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>

namespace {

// The images kept, in pixels (1 MB): some 600 numbers of 30 by 14 pixels.
// Beyond that the images used longest ago make room.
constexpr int maxPixels = 1 << 18;

// What the view has painted under a cell before the delegate's turn: its
// viewport's background, if that is one solid, opaque colour.
bool plainBackground(const QStyleOptionViewItem &option, QColor *color)
{
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    if (!view || !view->viewport()->autoFillBackground())
        return false;
    const QWidget *viewport = view->viewport();
    const QBrush brush = viewport->palette().brush(viewport->backgroundRole());
    if (brush.style() != Qt::SolidPattern || !brush.isOpaque())
        return false;
    *color = brush.color();
    return true;
}

// Whether the painter puts an image's pixels on whole device pixels as they are.
bool copiesPixels(const QPainter *painter)
{
    const QTransform &t = painter->deviceTransform();
    return t.type() <= QTransform::TxTranslate && t.dx() == qRound(t.dx()) && t.dy() == qRound(t.dy())
        && painter->opacity() == 1.0 && painter->compositionMode() == QPainter::CompositionMode_SourceOver;
}

// The smallest rectangle that holds every pixel unlike the background.
QRect drawnPart(const QImage &drawing, QRgb background)
{
    const QImage image = drawing.format() == QImage::Format_RGB32 ? drawing
                                                                  : drawing.convertToFormat(QImage::Format_RGB32);
    background |= 0xff000000u;
    const int width = image.width();
    const int height = image.height();
    int left = width, right = -1, top = -1, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        int first = 0;
        while (first < width && line[first] == background)
            ++first;
        if (first == width)
            continue;
        int last = width - 1;
        while (line[last] == background)
            --last;
        left = qMin(left, first);
        right = qMax(right, last);
        if (top < 0)
            top = y;
        bottom = y;
    }
    return top < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

CellImageDelegate::CellImageDelegate(QObject *parent)
    : QStyledItemDelegate(parent), images(maxPixels)
{
}

bool CellImageDelegate::Look::operator==(const Look &o) const
{
    return style == o.style && background == o.background && text == o.text && state == o.state
        && features == o.features && alignment == o.alignment && elide == o.elide && pixelRatio == o.pixelRatio
        && font == o.font;
}

void CellImageDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    QColor background;
    const QStyle::State unsure = QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver;
    const QStyleOptionViewItem::ViewItemFeatures extras = QStyleOptionViewItem::Alternate
        | QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;
    if ((opt.state & unsure) || (opt.features & extras) || opt.backgroundBrush.style() != Qt::NoBrush
        || opt.rect.isEmpty() || !copiesPixels(painter) || !plainBackground(opt, &background)) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    const QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (opt.state & QStyle::State_Active)                               ? QPalette::Active
                                                                             : QPalette::Inactive;
    Look now;
    now.style = style;
    now.font = opt.font;
    now.background = background.rgba();
    now.text = opt.palette.color(group, QPalette::Text).rgba();
    now.state = int(opt.state);
    now.features = int(opt.features & ~QStyleOptionViewItem::HasDisplay);
    now.alignment = int(opt.displayAlignment);
    now.elide = int(opt.textElideMode);
    now.pixelRatio = painter->device()->devicePixelRatioF();
    if (!(now == look)) {
        look = now;
        images.clear();
    }

    const bool shown = opt.features.testFlag(QStyleOptionViewItem::HasDisplay);
    const Key key{opt.text, opt.rect.width(), opt.rect.height(), shown};
    const Image *image = images.object(key);
    if (!image) {
        QPixmap cell(opt.rect.size() * now.pixelRatio);
        cell.setDevicePixelRatio(now.pixelRatio);
        cell.fill(background);
        QPainter cellPainter(&cell);
        cellPainter.setRenderHints(painter->renderHints());
        opt.rect.moveTopLeft(QPoint(0, 0));
        style->drawControl(QStyle::CE_ItemViewItem, &opt, &cellPainter, opt.widget);
        cellPainter.end();
        auto *kept = new Image;
        // Only the part that differs from the background is kept and copied:
        // the view has already filled the cell with it.
        const QRect part = now.pixelRatio == 1.0 ? drawnPart(cell.toImage(), background.rgb()) : cell.rect();
        if (!part.isEmpty()) {
            kept->pixels = cell.copy(part);
            kept->at = part.topLeft();
        }
        // A cell too large to keep is drawn the stock way.
        if (!images.insert(key, kept, qMax(1, part.width() * part.height()))) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        image = images.object(key);
    }
    if (!image->pixels.isNull())
        painter->drawPixmap(option.rect.topLeft() + image->at, image->pixels);
}
