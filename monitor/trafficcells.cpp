#include "trafficcells.h"

#include "trafficmodel.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

void TrafficCells::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (m_font.use(option.font))
        m_pictures.clear();
    const QString text = index.data().toString();
    // The view leaves the rows' background to the cells: its base, and every other row the
    // alternate colour over it.
    const QColor over = index.row() % 2 ? option.palette.color(QPalette::AlternateBase) : QColor();
    // A time differs from the rows around it only after its point ("12:00:01." and "35." recur for
    // a second): its picture holds the text up to there, and the digits after it are drawn over it.
    qsizetype stem = text.size();
    if (index.column() == TrafficModel::Time || index.column() == TrafficModel::SinceFirst)
        stem = text.lastIndexOf(QLatin1Char('.')) + 1;
    bool cut = false;
    const GlyphLine whole = stem < text.size() ? line(option, text, &cut) : GlyphLine();
    if (option.state & QStyle::State_Selected || stem <= 0 || cut || (stem < text.size() && whole.isEmpty())) {
        draw(painter, option, text, over);
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatio();
    const QColor base = option.palette.color(QPalette::Base);
    const Key key{text.left(stem), option.rect.size(), base.rgba(), over.rgba(), option.palette.color(QPalette::Text).rgba(), ratio};
    auto it = m_pictures.find(key);
    if (it == m_pictures.end()) {
        if (m_pictures.size() >= kPictures)
            m_pictures.clear();
        m_pictures.insert(key, QPixmap());
        draw(painter, option, text, over);
        return;
    }
    if (it->isNull()) {
        QPixmap picture(option.rect.size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(base);
        QPainter into(&picture);
        QStyleOptionViewItem at = option;
        at.rect.moveTo(0, 0);
        draw(&into, at, key.text, over);
        *it = picture;
    }
    painter->drawPixmap(option.rect.topLeft(), *it);
    if (stem < text.size()) {
        QGlyphRun tail = whole.run;
        tail.setGlyphIndexes(whole.run.glyphIndexes().mid(stem));
        tail.setPositions(whole.run.positions().mid(stem));
        painter->setPen(option.palette.text().color());
        painter->drawGlyphRun(origin(option), tail);
    }
}

QSize TrafficCells::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return {option.fontMetrics.horizontalAdvance(index.data().toString()) + 2 * kPadding, option.fontMetrics.height() + 4};
}

// A cell cut short shows all of its text as its tool tip; one that fits shows none.
bool TrafficCells::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                             const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip)
        return QAbstractItemDelegate::helpEvent(event, view, option, index);
    if (m_font.use(option.font))
        m_pictures.clear();
    const QString text = index.data().toString();
    bool cut = false;
    line(option, text, &cut);
    if (cut)
        QToolTip::showText(event->globalPos(), text, view->viewport(), option.rect);
    else
        QToolTip::hideText();
    return true;
}

GlyphLine TrafficCells::line(const QStyleOptionViewItem &option, const QString &text, bool *cut) const
{
    const GlyphLine whole = GlyphLine::of(m_font.raw, text);
    const int room = option.rect.width() - 2 * kPadding;
    *cut = (whole.isEmpty() ? option.fontMetrics.horizontalAdvance(text) : whole.width) > room;
    return *cut ? whole.elided(m_font.raw, room) : whole;
}

void TrafficCells::draw(QPainter *painter, const QStyleOptionViewItem &option, const QString &text, const QColor &over) const
{
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(option.rect, option.palette.highlight());
    else if (over.isValid())
        painter->fillRect(option.rect, over);
    painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
    const QRect room = option.rect.adjusted(kPadding, 0, -kPadding, 0);
    bool cut = false;
    const GlyphLine shown = line(option, text, &cut);
    if (shown.isEmpty()) // a glyph the font lacks: Qt finds it in another
        painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter,
                          cut ? option.fontMetrics.elidedText(text, Qt::ElideRight, room.width()) : text);
    else
        painter->drawGlyphRun(origin(option), shown.run);
}

QPointF TrafficCells::origin(const QStyleOptionViewItem &option)
{
    const QRect room = option.rect.adjusted(kPadding, 0, -kPadding, 0);
    return QPointF(room.left(), room.top() + (room.height() - option.fontMetrics.height()) / 2);
}
