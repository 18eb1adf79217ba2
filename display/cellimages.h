// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing table cells from images of texts drawn before.
#ifndef LINKSCOPE_CELLIMAGES_H
#define LINKSCOPE_CELLIMAGES_H

#include <QCache>
#include <QPixmap>
#include <QStyledItemDelegate>

// Laying out and shaping a cell's text costs far more than copying its
// pixels, and the tables show the same few hundred texts over and over. This
// delegate draws a plain cell once, as the stock delegate would, into an
// image over the view's own background, and from then on copies that image.
// Cells it cannot be sure of (selected, focused, with a brush, an icon or a
// check box) are drawn the stock way.
class CellImageDelegate : public QStyledItemDelegate
{
public:
    explicit CellImageDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    struct Key
    {
        QString text;
        int width, height;
        bool shown; // no text at all, and an empty one, are equal strings
        bool operator==(const Key &o) const
        {
            return width == o.width && height == o.height && shown == o.shown && text == o.text;
        }
    };
    using HashValue = decltype(qHash(QString()));
    friend HashValue qHash(const Key &key, HashValue seed)
    {
        return qHash(key.text, seed) ^ HashValue(key.width << 16 ^ key.height << 1 ^ int(key.shown));
    }

    // Everything but the text and the size that decides how a cell looks.
    struct Look
    {
        const QStyle *style = nullptr;
        QFont font;
        QRgb background = 0, text = 0;
        int state = 0, features = 0, alignment = 0, elide = 0;
        qreal pixelRatio = 0;
        bool operator==(const Look &o) const;
    };

    mutable Look look;
    // What a cell draws over its background, and where in the cell.
    struct Image
    {
        QPixmap pixels;
        QPoint at;
    };
    mutable QCache<Key, Image> images;
};

#endif
