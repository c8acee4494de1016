// The cells of the traffic monitor's table: how a row's texts are drawn.
#pragma once

#include "glyphline.h"
#include "trafficmodel.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QPixmap>
#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QToolTip>

#include <array>
#include <optional>

// A delegate that draws the cells of a traffic table as the monitor's does, with nothing drawn
// yet: what a cell looks like however the monitor's own comes to draw it.
QAbstractItemDelegate *makeTrafficCells(QObject *parent);

using ColumnPlaces = std::array<int, TrafficModel::Columns>;
// Glyphs of several cells, at their places in the view, drawn as one run.
struct Tails {
    QList<quint32> glyphs;
    QList<QPointF> places;
};

// Cells are plain text in one line, drawn straight with the painter, without the style's item
// machinery. A row never changes once recorded, so each cell is looked up once and kept while it
// may still be on screen. Most cells repeat one another from row to row (the same request, its
// usual reply, "OK", the length): a cell seen a second time is drawn once more into a picture of
// the cell with its background, and from then on copied, not drawn glyph by glyph. A time differs
// from the rows around it only after its point ("12:00:01." and "35." recur for a second): that
// stem is the picture (paintTime), and the digits after it are drawn over it.
class PlainCells : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        useFont(option.font);
        const Cell &text = cell(index);
        // The view leaves the rows' background to the cells: its base, and every other row the
        // alternate colour over it.
        const QColor over = index.row() % 2 ? option.palette.color(QPalette::AlternateBase) : QColor();
        if (option.state & QStyle::State_Selected) {
            draw(painter, option, text, over);
            return;
        }
        if (index.column() == TrafficModel::Time || index.column() == TrafficModel::SinceFirst) {
            // As the table's rows draw it, once its stem was seen: a delegate that has seen
            // nothing draws each time glyph by glyph.
            Tails tails;
            if (paintTime(painter, option, text.text, over, tails, true))
                drawTails(painter, option, tails);
            else
                draw(painter, option, text, over);
            return;
        }
        const PictureKey key{text.text, option.rect.size(), look(painter, option, over)};
        auto it = m_pictures.find(key);
        if (it == m_pictures.end()) {
            // Seen once: drawn, and remembered as seen.
            if (m_pictures.size() >= kPictures)
                m_pictures.clear();
            m_pictures.insert(key, QPixmap());
            draw(painter, option, text, over);
            return;
        }
        if (it->isNull())
            *it = pictureOf(option, key.look.ratio, [&](QPainter *p, const QStyleOptionViewItem &at) { draw(p, at, text, over); });
        painter->drawPixmap(option.rect.topLeft(), *it);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {option.fontMetrics.horizontalAdvance(index.data().toString()) + 2 * kPadding, option.fontMetrics.height() + 4};
    }
    // A cell cut short shows all of its text as its tool tip; one that fits shows none.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QAbstractItemDelegate::helpEvent(event, view, option, index);
        useFont(option.font);
        const Cell &text = cell(index);
        if (isCut(option, text))
            QToolTip::showText(event->globalPos(), text.text, view->viewport(), option.rect);
        else
            QToolTip::hideText();
        return true;
    }
    // The digits after the point of the times paintRow() drew, in the rows' text colour.
    void drawTails(QPainter *painter, const QStyleOptionViewItem &option, const Tails &tails) const
    {
        if (tails.glyphs.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(m_font.raw);
        run.setGlyphIndexes(tails.glyphs);
        run.setPositions(tails.places);
        painter->setPen(option.palette.text().color());
        painter->drawGlyphRun(QPointF(), run);
    }

    static constexpr int kPadding = 4; // left and right of a cell's text
    // Row numbers start again after a reset.
    void forget() { m_cells.clear(); }

    // The cells of one row not selected, option.rect the row's: each time from a picture of its
    // stem with its digits after the point added to tails, the columns after the times as one
    // picture when a row with the same texts came before (a request, and its usual reply); what
    // has no picture yet as paint() draws it. left and width: each column's place in the row
    // (width 0: not shown); the columns follow one another in their order.
    void paintRow(QPainter *painter, QStyleOptionViewItem option, const QModelIndex &index, const ColumnPlaces &left,
                  const ColumnPlaces &width, Tails &tails) const
    {
        useFont(option.font);
        const QRect row = option.rect;
        const auto *model = static_cast<const TrafficModel *>(index.model());
        const TrafficRow *shown = model->rowAt(index.row());
        // A cell as paint() draws it, over the base colour the view would have filled it with.
        const auto paintCell = [&](int column) {
            option.rect = QRect(row.left() + left[column], row.top(), width[column], row.height());
            painter->fillRect(option.rect, option.palette.base());
            paint(painter, option, index.siblingAtColumn(column));
        };
        const QColor over = index.row() % 2 ? option.palette.color(QPalette::AlternateBase) : QColor();
        for (const int column : {TrafficModel::Time, TrafficModel::SinceFirst}) {
            if (width[column] <= 0)
                continue;
            option.rect = QRect(row.left() + left[column], row.top(), width[column], row.height());
            if (!shown || !paintTime(painter, option, TrafficModel::cellText(*shown, column), over, tails))
                paintCell(column);
        }
        RowKey key{{}, width, row.height(), look(painter, option, over)};
        int first = -1, end = 0;
        for (int column = TrafficModel::Direction; column < TrafficModel::Columns; ++column) {
            if (width[column] <= 0)
                continue;
            if (first < 0)
                first = left[column];
            end = left[column] + width[column];
            if (shown)
                key.texts += TrafficModel::cellText(*shown, column) + QChar(0x1f);
        }
        if (first < 0)
            return;
        auto it = shown ? m_rows.find(key) : m_rows.end();
        if (it == m_rows.end()) {
            // Seen once: drawn cell by cell, and remembered as seen.
            if (shown) {
                if (m_rows.size() >= kRowPictures)
                    m_rows.clear();
                m_rows.insert(key, QPixmap());
            }
            for (int column = TrafficModel::Direction; column < TrafficModel::Columns; ++column)
                if (width[column] > 0)
                    paintCell(column);
            return;
        }
        if (it->isNull()) {
            // Seen again: the picture of the cells as draw() draws them.
            option.rect = QRect(0, 0, end - first, row.height());
            *it = pictureOf(option, key.look.ratio, [&](QPainter *p, QStyleOptionViewItem at) {
                const QStringList texts = key.texts.split(QChar(0x1f));
                qsizetype i = 0;
                for (int column = TrafficModel::Direction; column < TrafficModel::Columns; ++column) {
                    if (width[column] <= 0)
                        continue;
                    at.rect = QRect(left[column] - first, 0, width[column], row.height());
                    const QString &text = texts[i++];
                    draw(p, at, Cell{text, {}, {}, -1}, over);
                }
            });
        }
        painter->drawPixmap(row.left() + first, row.top(), *it);
    }

private:
    struct Cell {
        QString text;
        // Made when first drawn: the text's glyphs, the text cut to elidedFor pixels.
        mutable std::optional<GlyphLine> line, elided;
        mutable int elidedFor = -1;
    };
    // What a picture's pixels depend on besides its text and size: the row's colours, the device's.
    struct Look {
        QRgb base, over, pen;
        qreal ratio;
        bool operator==(const Look &) const = default;
        friend size_t qHash(const Look &k, size_t seed = 0) { return qHashMulti(seed, k.base, k.over, k.pen, k.ratio); }
    };
    // A picture of option.rect's size: the base colour, and what paintInto draws over it with the
    // option moved to the picture's origin.
    template <typename Draw>
    static QPixmap pictureOf(const QStyleOptionViewItem &option, qreal ratio, Draw paintInto)
    {
        QPixmap picture(option.rect.size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(option.palette.color(QPalette::Base));
        QPainter p(&picture);
        QStyleOptionViewItem at = option;
        at.rect.moveTo(0, 0);
        paintInto(&p, at);
        return picture;
    }
    static Look look(const QPainter *painter, const QStyleOptionViewItem &option, const QColor &over)
    {
        return {option.palette.color(QPalette::Base).rgba(), over.rgba(), option.palette.color(QPalette::Text).rgba(),
                painter->device()->devicePixelRatio()};
    }
    struct RowKey {
        QString texts; // of the columns after the times, each ended by U+001F
        ColumnPlaces width;
        int height;
        Look look;
        bool operator==(const RowKey &) const = default;
        friend size_t qHash(const RowKey &k, size_t seed = 0)
        {
            return qHashMulti(seed, k.texts, qHashRange(k.width.begin(), k.width.end()), k.height, k.look);
        }
    };
    struct PictureKey {
        QString text; // a time's: up to its point
        QSize size;
        Look look;
        bool operator==(const PictureKey &) const = default;
        friend size_t qHash(const PictureKey &k, size_t seed = 0)
        {
            return qHashMulti(seed, k.text, k.size.width(), k.size.height(), k.look);
        }
    };

    // The font cells are drawn in from now on; what was made in another is forgotten.
    void useFont(const QFont &font) const
    {
        if (!m_font.use(font))
            return;
        m_cells.clear();
        m_pictures.clear();
        m_rows.clear();
        m_stems.clear();
        const GlyphLine digits = GlyphLine::of(m_font.raw, QStringLiteral("0123456789"));
        m_digitAdvances.clear();
        if (!digits.isEmpty())
            m_digitAdvances = m_font.raw.advancesForGlyphIndexes(digits.run.glyphIndexes());
        m_digitGlyphs = digits.run.glyphIndexes();
    }

    // A time cell not selected: the picture of its stem (up to its point), its digits after the
    // point added to tails at the places a glyph line of the whole text gives them. False when it
    // is to be drawn whole: a font without the glyphs, a text cut short, or (newStemDrawnWhole) a
    // stem not seen before, whose picture is made for the next time.
    bool paintTime(QPainter *painter, const QStyleOptionViewItem &option, const QString &text, const QColor &over,
                   Tails &tails, bool newStemDrawnWhole = false) const
    {
        const qsizetype stem = text.lastIndexOf(QLatin1Char('.')) + 1;
        if (stem <= 0 || m_digitAdvances.size() != 10)
            return false;
        const PictureKey key{text.left(stem), option.rect.size(), look(painter, option, over)};
        auto it = m_stems.find(key);
        if (it == m_stems.end()) {
            const GlyphLine line = GlyphLine::of(m_font.raw, key.text);
            if (line.isEmpty())
                return false;
            if (m_stems.size() >= kStems)
                m_stems.clear();
            const QPixmap picture = pictureOf(option, key.look.ratio, [&](QPainter *p, const QStyleOptionViewItem &at) {
                fill(p, at, over);
                glyphs(p, at, line.run);
            });
            it = m_stems.insert(key, Stem{picture, line.width});
            if (newStemDrawnWhole)
                return false;
        }
        const QRect room = this->room(option);
        // Where glyphs() would put a run drawn in this cell: its origin, then each glyph's place.
        const QPointF origin(room.left(), room.top() + (room.height() - option.fontMetrics.height()) / 2);
        const qsizetype kept = tails.glyphs.size();
        qreal x = it->width;
        for (qsizetype i = stem; i < text.size(); ++i) {
            const unsigned digit = text[i].unicode() - u'0';
            if (digit > 9)
                break;
            tails.glyphs << m_digitGlyphs[digit];
            tails.places << origin + QPointF(x, m_font.raw.ascent());
            x += m_digitAdvances[digit].x();
        }
        if (tails.glyphs.size() - kept != text.size() - stem || x > room.width()) {
            tails.glyphs.resize(kept);
            tails.places.resize(kept);
            return false;
        }
        painter->drawPixmap(option.rect.topLeft(), it->picture);
        return true;
    }

    const GlyphLine &line(const Cell &text) const
    {
        if (!text.line)
            text.line = GlyphLine::of(m_font.raw, text.text);
        return *text.line;
    }
    static QRect room(const QStyleOptionViewItem &option) { return option.rect.adjusted(kPadding, 0, -kPadding, 0); }
    bool isCut(const QStyleOptionViewItem &option, const Cell &text) const
    {
        const GlyphLine &l = line(text);
        const qreal width = l.isEmpty() ? option.fontMetrics.horizontalAdvance(text.text) : l.width;
        return width > room(option).width();
    }
    static void fill(QPainter *painter, const QStyleOptionViewItem &option, const QColor &over)
    {
        if (option.state & QStyle::State_Selected)
            painter->fillRect(option.rect, option.palette.highlight());
        else if (over.isValid())
            painter->fillRect(option.rect, over);
    }
    static void glyphs(QPainter *painter, const QStyleOptionViewItem &option, const QGlyphRun &run)
    {
        const bool selected = option.state & QStyle::State_Selected;
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        const QRect room = PlainCells::room(option);
        painter->drawGlyphRun(QPointF(room.left(), room.top() + (room.height() - option.fontMetrics.height()) / 2), run);
    }
    // A row stays one line: a text wider than its cell ends in "…" (its tool tip holds it all).
    void draw(QPainter *painter, const QStyleOptionViewItem &option, const Cell &text, const QColor &over) const
    {
        fill(painter, option, over);
        const QRect room = this->room(option);
        const bool cut = isCut(option, text);
        if (cut && text.elidedFor != room.width()) {
            text.elided = line(text).elided(m_font.raw, room.width());
            text.elidedFor = room.width();
        }
        const GlyphLine &shown = cut ? *text.elided : line(text);
        if (shown.isEmpty()) {
            const bool selected = option.state & QStyle::State_Selected;
            painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
            const QString all = cut ? option.fontMetrics.elidedText(text.text, Qt::ElideRight, room.width()) : text.text;
            painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter, all);
            return;
        }
        glyphs(painter, option, shown.run);
    }
    // The cell of index, as of the font of the last m_font.use().
    const Cell &cell(const QModelIndex &index) const
    {
        const auto *model = static_cast<const TrafficModel *>(index.model());
        const quint64 key = model->numberAt(index.row()) * TrafficModel::Columns + quint64(index.column());
        auto it = m_cells.find(key);
        if (it == m_cells.end()) {
            if (m_cells.size() >= kKept)
                m_cells.clear();
            const TrafficRow *row = model->rowAt(index.row());
            it = m_cells.insert(key, Cell{row ? TrafficModel::cellText(*row, index.column()) : QString(), {}, {}, -1});
        }
        return *it;
    }
    static constexpr qsizetype kKept = 4000;   // a few screens of cells
    static constexpr qsizetype kPictures = 200; // the texts that recur, with room for the ones that do not
    mutable GlyphFont m_font;
    mutable QHash<quint64, Cell> m_cells;
    mutable QHash<PictureKey, QPixmap> m_pictures;
    struct Stem {
        QPixmap picture; // the cell with its stem drawn
        qreal width;     // of the stem's glyphs
    };
    static constexpr qsizetype kStems = 16; // the stems of the last few seconds
    mutable QHash<PictureKey, Stem> m_stems;
    mutable QList<QPointF> m_digitAdvances; // advances of "0" to "9" in the font, empty when it lacks one
    mutable QList<quint32> m_digitGlyphs;
    static constexpr qsizetype kRowPictures = 32;
    mutable QHash<RowKey, QPixmap> m_rows;
};

// The table's style: the application's, but a row's background is left to the cells, which
// paint it with their pictures; the view would otherwise ask the style for it cell by cell.
class CellsPaintRowsStyle : public QProxyStyle
{
public:
    CellsPaintRowsStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override
    {
        if (element != PE_PanelItemViewRow)
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};
