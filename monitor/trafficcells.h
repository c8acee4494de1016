// The cells of the traffic monitor's table.
#pragma once

#include "glyphline.h"

#include <QAbstractItemDelegate>
#include <QHash>
#include <QPixmap>

// Cells are plain text in one line over the row's colour (every other row the alternate one), drawn
// straight with the painter, without the style's item machinery. A text wider than its cell ends in
// "…" and its tool tip holds all of it. Most cells repeat one another from row to row (the same
// request, its usual reply, "OK", the length): a cell seen a second time is drawn once more into a
// picture, and from then on copied; a time's picture holds it up to its point.
class TrafficCells : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;
    static constexpr int kPadding = 4; // left and right of a cell's text

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

private:
    // What a picture's pixels depend on: the text, the cell's size, the row's colours, the device's.
    struct Key {
        QString text;
        QSize size;
        QRgb base, over, pen;
        qreal ratio;
        bool operator==(const Key &) const = default;
        friend size_t qHash(const Key &k, size_t seed = 0)
        {
            return qHashMulti(seed, k.text, k.size.width(), k.size.height(), k.base, k.over, k.pen, k.ratio);
        }
    };
    // The text's glyphs in the font of the last paint, cut with "…" where they do not fit the cell
    // (cut tells); empty when the font lacks one of them.
    GlyphLine line(const QStyleOptionViewItem &option, const QString &text, bool *cut) const;
    // Where a cell's line of glyphs starts.
    static QPointF origin(const QStyleOptionViewItem &option);
    void draw(QPainter *painter, const QStyleOptionViewItem &option, const QString &text, const QColor &over) const;

    // The texts that recur, with room for the ones that do not. When full, all are forgotten.
    static constexpr qsizetype kPictures = 200;
    mutable GlyphFont m_font;
    mutable QHash<Key, QPixmap> m_pictures; // a null picture: seen once
};
