#include "trafficwindow.h"

#include "linesettings.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QScrollBar>
#include <QToolTip>
#include <QSaveFile>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QVBoxLayout>

#include <cmath>
#include <optional>

TrafficModel::TrafficModel(const TrafficRecorder *recorder, QObject *parent)
    : QAbstractTableModel(parent), m_recorder(recorder)
{
}

void TrafficModel::rebuild()
{
    m_first = m_recorder->firstRow();
    m_synced = m_recorder->nextRow();
    m_count = int(m_synced - m_first);
    m_errors.clear();
    if (m_errorsOnly) {
        for (quint64 n = m_first; n < m_synced; ++n)
            if (m_recorder->rows()[std::size_t(n - m_first)].isError())
                m_errors.push_back(n);
    }
}

void TrafficModel::setErrorsOnly(bool on)
{
    if (on == m_errorsOnly)
        return;
    beginResetModel();
    m_errorsOnly = on;
    rebuild();
    endResetModel();
}

bool TrafficModel::sync()
{
    const quint64 first = m_recorder->firstRow();
    const quint64 next = m_recorder->nextRow();
    if (next < m_synced || first > m_synced) {
        // Reset, or everything shown has gone: start afresh.
        beginResetModel();
        rebuild();
        endResetModel();
        return false;
    }
    // Rows dropped at the front.
    std::size_t dropped = 0;
    if (m_errorsOnly) {
        while (dropped < m_errors.size() && m_errors[dropped] < first)
            ++dropped;
    } else {
        dropped = std::size_t(first - m_first);
    }
    if (dropped > 0)
        beginRemoveRows({}, 0, int(dropped) - 1);
    if (m_errorsOnly)
        m_errors.erase(m_errors.begin(), m_errors.begin() + std::ptrdiff_t(dropped));
    m_count -= int(first - m_first);
    m_first = first;
    if (dropped > 0)
        endRemoveRows();
    // Rows added at the end.
    std::vector<quint64> errors;
    if (m_errorsOnly) {
        for (quint64 n = m_synced; n < next; ++n)
            if (m_recorder->rows()[std::size_t(n - first)].isError())
                errors.push_back(n);
    }
    const int shown = rowCount();
    const int added = m_errorsOnly ? int(errors.size()) : int(next - m_synced);
    if (added > 0)
        beginInsertRows({}, shown, shown + added - 1);
    m_errors.insert(m_errors.end(), errors.begin(), errors.end());
    m_count = int(next - m_first);
    m_synced = next;
    if (added > 0)
        endInsertRows();
    return dropped == 0;
}

const TrafficRow *TrafficModel::rowAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    const quint64 number = numberAt(row);
    if (number < m_recorder->firstRow() || number >= m_recorder->nextRow())
        return nullptr;
    return &m_recorder->rows()[std::size_t(number - m_recorder->firstRow())];
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_errorsOnly ? int(m_errors.size()) : m_count;
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QString TrafficModel::cellText(const TrafficRow &row, int column)
{
    switch (column) {
    case Time: return clockText(row.wallMs);
    case SinceFirst: return QString::number(double(row.sinceFirstNs) / 1e9, 'f', 3);
    case Direction: return row.direction();
    case Bytes: return HexText(row.bytes).trimmed();
    case Length: return QString::number(row.bytes.size());
    case Verdict: return row.verdictText();
    case Response: return row.responseMs >= 0 ? QString::number(row.responseMs, 'f', 1) : QString();
    case Line: return row.tag;
    }
    return {};
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    const TrafficRow *row = rowAt(index.row());
    if (!row)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return cellText(*row, index.column());
    if (role == RowNumberRole)
        return numberAt(index.row());
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const names[] = {"Time", "Since first (s)", "Dir", "Bytes", "Len", "Verdict", "Response (ms)", "Line"};
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return QString::fromLatin1(names[section]);
}

GlyphLine GlyphLine::of(const QRawFont &font, const QString &text)
{
    GlyphLine line;
    const QList<quint32> glyphs = font.glyphIndexesForString(text);
    if (glyphs.size() != text.size() || glyphs.contains(0u))
        return line;
    const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    for (const QPointF &a : advances) {
        positions << QPointF(line.width, font.ascent());
        line.width += a.x();
    }
    line.run.setRawFont(font);
    line.run.setGlyphIndexes(glyphs);
    line.run.setPositions(positions);
    return line;
}

GlyphLine GlyphLine::elided(const QRawFont &font, qreal width) const
{
    GlyphLine cut;
    const QList<quint32> dots = font.glyphIndexesForString(QStringLiteral("…"));
    if (dots.size() != 1 || dots[0] == 0)
        return cut;
    const qreal dotsWidth = font.advancesForGlyphIndexes(dots).value(0).x();
    const QList<QPointF> at = run.positions();
    const auto prefix = [&](qsizetype glyphs) { return glyphs < at.size() ? at[glyphs].x() : this->width; };
    qsizetype kept = 0;
    while (kept < at.size() && prefix(kept + 1) + dotsWidth <= width)
        ++kept;
    cut.width = prefix(kept) + dotsWidth;
    cut.run.setRawFont(font);
    cut.run.setGlyphIndexes(run.glyphIndexes().first(kept) << dots[0]);
    cut.run.setPositions(at.first(kept) << QPointF(prefix(kept), font.ascent()));
    return cut;
}

bool GlyphFont::use(const QFont &f)
{
    if (raw.isValid() && f == font)
        return false;
    font = f;
    raw = QRawFont::fromFont(f);
    return true;
}

namespace {
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
} // namespace

QRect FollowingScrollBar::part(QStyle::SubControl control) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, control, this);
}

void FollowingScrollBar::sliderChange(SliderChange change)
{
    // A style whose bar shows itself on a change, or a bar not drawn yet, goes the usual way.
    if (change == SliderOrientationChange || m_drawn.isNull() || style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this)) {
        QScrollBar::sliderChange(change);
        return;
    }
    const QRect slider = part(QStyle::SC_ScrollBarSlider);
    if (slider == m_drawn)
        return;
    // The style draws the slider's edge a pixel beyond the rectangle it gives for it.
    const QMargins edge(2, 2, 2, 2);
    update(QRegion(slider + edge) + (m_drawn + edge) + part(QStyle::SC_ScrollBarSubLine) + part(QStyle::SC_ScrollBarAddLine));
}

void FollowingScrollBar::paintEvent(QPaintEvent *event)
{
    m_drawn = part(QStyle::SC_ScrollBarSlider);
    QScrollBar::paintEvent(event);
}

QAbstractItemDelegate *makeTrafficCells(QObject *parent)
{
    return new PlainCells(parent);
}

void TrafficTable::doItemsLayout()
{
    const int firstNew = std::exchange(m_firstNew, -1);
    if (firstNew < 0) {
        QTableView::doItemsLayout();
        return;
    }
    updateGeometries();
    // New rows that are in view without a scroll (the table was not full yet); a scroll to the
    // end exposes and paints them itself.
    const int top = rowViewportPosition(firstNew);
    if (top < viewport()->height())
        viewport()->update(0, qMax(0, top), viewport()->width(), viewport()->height());
}

TrafficTable::TrafficTable(QWidget *parent) : QTableView(parent)
{
    // The rows cover the viewport once it is full; paintEvent() fills what they leave.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrafficTable::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const QBrush background = viewport()->palette().brush(viewport()->backgroundRole());
    auto *cells = dynamic_cast<PlainCells *>(itemDelegate());
    const QHeaderView *header = horizontalHeader();
    const int rows = model() ? model()->rowCount() : 0;
    const QRect area = event->region().boundingRect();
    const int first = rows > 0 ? rowAt(area.top()) : -1;
    if (first < 0 || !cells || showGrid() || isRightToLeft() || header->sectionsMoved()
        || (selectionModel() && selectionModel()->hasSelection())) {
        for (const QRect &r : event->region())
            painter.fillRect(r, background);
        painter.end();
        QTableView::paintEvent(event);
        return;
    }
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    // As the view gives it to each cell of an enabled item.
    if (option.state & QStyle::State_Enabled)
        option.palette.setCurrentColorGroup(QPalette::Normal);
    ColumnPlaces left{}, width{};
    for (int c = 0; c < TrafficModel::Columns; ++c) {
        if (isColumnHidden(c))
            continue;
        left[c] = columnViewportPosition(c);
        width[c] = columnWidth(c);
    }
    const int start = -header->offset();
    for (int &l : left)
        l -= start;
    const int bottom = rowAt(area.bottom());
    const int last = bottom < 0 ? rows - 1 : bottom;
    Tails tails;
    for (int row = first; row <= last; ++row) {
        option.rect = QRect(start, rowViewportPosition(row), header->length(), rowHeight(row));
        cells->paintRow(&painter, option, model()->index(row, 0), left, width, tails);
    }
    cells->drawTails(&painter, option, tails);
    const int top = rowViewportPosition(first);
    for (const QRect &r : event->region() - QRect(start, top, header->length(), rowViewportPosition(last) + rowHeight(last) - top))
        painter.fillRect(r, background);
}

void TrafficTable::reset()
{
    m_firstNew = -1;
    QTableView::reset();
}

StatisticsLabel::StatisticsLabel(QWidget *parent) : QLabel(parent)
{
    setAutoFillBackground(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const GlyphLine &StatisticsLabel::line()
{
    if (m_font.use(font()) || m_shown != text()) {
        m_shown = text();
        m_line = GlyphLine::of(m_font.raw, m_shown);
        m_elidedWidth = -1;
    }
    return m_line;
}

bool StatisticsLabel::isCut()
{
    const GlyphLine &l = line();
    return (l.isEmpty() ? fontMetrics().horizontalAdvance(m_shown) : l.width) > contentsRect().width();
}

bool StatisticsLabel::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QLabel::event(event);
    if (isCut())
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text(), this, rect());
    else
        QToolTip::hideText();
    return true;
}

// The columns of a label height tall that the glyphs of one line and another touch where they differ
// (a glyph, or its place); from the glyphs' ink, a pixel either side for its edge.
// The columns of a line's glyph at place (after at), a pixel either side of its ink for its edge.
static QRect inkColumns(const QRawFont &font, quint32 glyph, QPointF place, int height)
{
    const QRectF r = font.boundingRect(glyph).translated(place);
    const int left = int(std::floor(r.left())) - 1;
    return QRect(left, 0, int(std::ceil(r.right())) + 1 - left, height);
}

static QRegion differences(const GlyphLine &was, const GlyphLine &now, QPointF at, int height)
{
    const QList<quint32> a = was.run.glyphIndexes(), b = now.run.glyphIndexes();
    const QList<QPointF> pa = was.run.positions(), pb = now.run.positions();
    QRegion changed;
    for (qsizetype i = 0; i < qMax(a.size(), b.size()); ++i) {
        if (i < a.size() && i < b.size() && a[i] == b[i] && pa[i] == pb[i])
            continue;
        if (i < a.size())
            changed += inkColumns(was.run.rawFont(), a[i], at + pa[i], height);
        if (i < b.size())
            changed += inkColumns(now.run.rawFont(), b[i], at + pb[i], height);
    }
    return changed;
}

// The glyphs of a line whose ink reaches into area: all that drawing the line there draws.
static QGlyphRun touching(const GlyphLine &line, QPointF at, const QRegion &area, int height)
{
    const QList<quint32> glyphs = line.run.glyphIndexes();
    const QList<QPointF> places = line.run.positions();
    QList<quint32> kept;
    QList<QPointF> keptPlaces;
    for (qsizetype i = 0; i < glyphs.size(); ++i) {
        if (area.intersects(inkColumns(line.run.rawFont(), glyphs[i], at + places[i], height))) {
            kept << glyphs[i];
            keptPlaces << places[i];
        }
    }
    QGlyphRun run;
    run.setRawFont(line.run.rawFont());
    run.setGlyphIndexes(kept);
    run.setPositions(keptPlaces);
    return run;
}

void StatisticsLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int top = (height() - fontMetrics().height()) / 2;
    const QRect room = contentsRect();
    const bool cut = isCut();
    if (cut && m_elidedWidth != room.width()) {
        m_elided = m_line.elided(m_font.raw, room.width());
        m_elidedWidth = room.width();
    }
    const GlyphLine &shown = cut ? m_elided : m_line;
    if (shown.isEmpty()) {
        m_canvas = QPixmap();
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().windowText().color());
        painter.drawText(room.adjusted(0, top, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         cut ? fontMetrics().elidedText(m_shown, Qt::ElideRight, room.width()) : m_shown);
        return;
    }
    const QPointF at(room.left(), top);
    const QRgb in[2] = {palette().window().color().rgba(), palette().windowText().color().rgba()};
    const qreal ratio = devicePixelRatioF();
    QRegion changed;
    if (m_canvas.size() != size() * ratio || m_canvas.devicePixelRatio() != ratio || m_drawnAt != at
        || !std::equal(in, in + 2, m_drawnIn) || m_drawn.run.rawFont() != shown.run.rawFont()) {
        m_canvas = QPixmap(size() * ratio);
        m_canvas.setDevicePixelRatio(ratio);
        changed = rect();
    } else {
        changed = differences(m_drawn, shown, at, height());
    }
    if (!changed.isEmpty()) {
        QPainter canvas(&m_canvas);
        canvas.setClipRegion(changed);
        canvas.fillRect(rect(), palette().window());
        canvas.setPen(palette().windowText().color());
        canvas.drawGlyphRun(at, changed == QRegion(rect()) ? shown.run : touching(shown, at, changed, height()));
        m_drawn = shown;
        m_drawnAt = at;
        std::copy(in, in + 2, m_drawnIn);
    }
    painter.drawPixmap(0, 0, m_canvas);
}

// Every verdict text a row can show.
static QStringList verdictTexts()
{
    QStringList verdicts;
    TrafficRow reply;
    reply.kind = TrafficRow::Reply;
    for (Refusal r : {Refusal::None, Refusal::NoReply, Refusal::Short, Refusal::Long, Refusal::OtherAddress,
                      Refusal::OtherFunction, Refusal::BadCrc, Refusal::Exception}) {
        reply.verdict.refusal = r;
        for (int code = 1; code <= (r == Refusal::Exception ? 6 : 1); ++code) {
            reply.verdict.exceptionCode = std::uint8_t(code);
            verdicts << reply.verdictText();
        }
    }
    reply.verdict = ReplyVerdict{Refusal::NoReply};
    reply.verdict.echoOnly = true;
    verdicts << reply.verdictText() << QStringLiteral("unsolicited") << QStringLiteral("echo");
    return verdicts;
}

// The table: rows of one height, no grid, columns sized for what they hold. Gives the width of
// the columns shown.
int TrafficWindow::buildTable(int longestFrame, bool withLine)
{
    Table = new TrafficTable(this);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setAccessibleName(QStringLiteral("Traffic"));
    Table->setModel(m_model);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->setVisible(false);
    // Rows of one height, set once: a batch of new rows then costs no measuring.
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    // Each column as wide as its heading and the widest text it can hold; the bytes column takes
    // what the window gives beyond them, and shows the window's longest frame at the start. No
    // horizontal scroll bar: it would be drawn again with every batch.
    QHeaderView *header = Table->horizontalHeader();
    header->setStretchLastSection(false);
    const QFontMetrics texts = Table->fontMetrics();
    const QStringList verdicts = verdictTexts();
    QStringList lines; // the scan's steps: baud rate and parity of each code
    for (const QString &parameters : communicationParameterTexts())
        lines << parameters.section(QLatin1Char(','), 0, 1);
    const QStringList held[] = {{QStringLiteral("00:00:00.000")}, {QStringLiteral("00000.000")},
                                {QStringLiteral("TX"), QStringLiteral("RX")},
                                {HexText(QByteArray(qMax(1, longestFrame), '\0')).trimmed()}, {QStringLiteral("00000")},
                                verdicts, {QStringLiteral("00000.0")}, lines};
    int total = 0;
    for (int c = 0; c < TrafficModel::Columns; ++c) {
        int width = header->fontMetrics().horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString()) + 16;
        for (const QString &text : held[c])
            width = qMax(width, texts.horizontalAdvance(text) + 2 * PlainCells::kPadding);
        Table->setColumnWidth(c, width);
        header->setSectionResizeMode(c, c == TrafficModel::Bytes ? QHeaderView::Stretch : QHeaderView::Interactive);
        if (c != TrafficModel::Line || withLine)
            total += width;
    }
    Table->setColumnHidden(TrafficModel::Line, !withLine);
    Table->setWordWrap(false);
    // Rows told apart by their colour, not a grid: a grid is drawn again with every batch.
    Table->setShowGrid(false);
    Table->setVerticalScrollBar(new FollowingScrollBar(Qt::Vertical, Table));
    // The scroll bar's holder paints its own background, so the moving slider does not repaint
    // the table's frame and the window beneath it.
    if (auto *holder = Table->findChild<QWidget *>(QStringLiteral("qt_scrollarea_vcontainer")))
        holder->setAutoFillBackground(true);
    // By pixels, so that following the end is a blit by whole rows' heights.
    Table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Every other row in the alternate colour, painted by the cells themselves (most of them are
    // pictures with their background in them): the view's own would fill each cell first.
    Table->setAlternatingRowColors(false);
    auto *style = new CellsPaintRowsStyle;
    style->setParent(Table);
    Table->setStyle(style);
    auto *cells = new PlainCells(Table);
    Table->setItemDelegate(cells);
    connect(m_model, &QAbstractItemModel::modelReset, this, [cells] { cells->forget(); });
    return total;
}

// The statistics line above the table and the buttons below it; the window as wide as the table.
void TrafficWindow::buildControls(int tableWidth)
{
    Statistics = new StatisticsLabel(this);
    Statistics->setObjectName(QStringLiteral("Statistics"));
    Statistics->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Pause = new QPushButton(QStringLiteral("Pause"), this);
    Pause->setObjectName(QStringLiteral("Pause"));
    Pause->setCheckable(true);
    ErrorsOnly = new QCheckBox(QStringLiteral("Errors only"), this);
    ErrorsOnly->setObjectName(QStringLiteral("ErrorsOnly"));
    Reset = new QPushButton(QStringLiteral("Reset"), this);
    Reset->setObjectName(QStringLiteral("Reset"));
    Save = new QPushButton(QStringLiteral("Save…"), this);
    Save->setObjectName(QStringLiteral("Save"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Pause);
    buttons->addWidget(ErrorsOnly);
    buttons->addStretch();
    buttons->addWidget(Reset);
    buttons->addWidget(Save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Statistics);
    layout->addWidget(Table, 1);
    layout->addLayout(buttons);
    resize(tableWidth + 2 * Table->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent)
               + layout->contentsMargins().left() + layout->contentsMargins().right(),
           height());
}

void TrafficWindow::connectControls()
{
    connect(Pause, &QPushButton::toggled, this, [this](bool paused) {
        // Frames are still recorded and counted while paused; they appear on resume.
        Pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        if (!paused)
            refresh();
    });
    connect(ErrorsOnly, &QCheckBox::toggled, m_model, &TrafficModel::setErrorsOnly);
    connect(Reset, &QPushButton::clicked, this, [this] {
        m_recorder->reset();
        refresh();
    });
    connect(Save, &QPushButton::clicked, this, [this] {
        QString selected;
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save traffic"), QStringLiteral("traffic.csv"),
                                                          QStringLiteral("CSV (*.csv);;Text log (*.txt)"), &selected);
        if (path.isEmpty())
            return;
        QString error;
        if (!save(path, !selected.startsWith(QLatin1String("Text")), &error))
            Statistics->setText(QStringLiteral("Cannot save %1: %2").arg(path, error));
    });
    // Copy puts the selected rows on the clipboard, one a line, cells tab-separated.
    auto *copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(rowsText(false, true)); });
    addAction(copy);
    Table->addAction(copy);
    Table->setContextMenuPolicy(Qt::ActionsContextMenu);
}

TrafficWindow::TrafficWindow(TrafficRecorder *recorder, const QString &caption, int longestFrame, bool withLine,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), m_recorder(recorder)
{
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic - ") + caption);
    resize(860, 480);
    m_model = new TrafficModel(recorder, this);

    buildControls(buildTable(longestFrame, withLine));
    connectControls();

    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, [this] {
        if (!Pause->isChecked())
            refresh();
    });
    m_batch.start();
    refresh();
}

void TrafficWindow::refresh()
{
    if (m_model->rowCount() > 0 && m_recorder->nextRow() == m_shownNext && m_recorder->firstRow() == m_shownFirst)
        return; // nothing new since the last batch
    m_shownNext = m_recorder->nextRow();
    m_shownFirst = m_recorder->firstRow();
    const bool atEnd = Table->verticalScrollBar()->value() == Table->verticalScrollBar()->maximum();
    const int shown = m_model->rowCount();
    if (m_model->sync() && m_model->rowCount() > shown)
        Table->expectRowsFrom(shown);
    Statistics->setText(statisticsLine(m_recorder->statistics()));
    if (atEnd)
        Table->followEnd();
}

QString TrafficWindow::rowsText(bool csv, bool selectedOnly) const
{
    QStringList lines;
    const auto quote = [csv](QString cell) {
        if (!csv)
            return cell;
        return QLatin1Char('"') + cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    };
    const QLatin1Char separator(csv ? ',' : '\t');
    if (csv) {
        QStringList header;
        for (int c = 0; c < TrafficModel::Columns; ++c)
            header << quote(m_model->headerData(c, Qt::Horizontal).toString());
        lines << header.join(separator);
    }
    QList<int> rows;
    if (selectedOnly) {
        for (const QModelIndex &index : Table->selectionModel()->selectedRows())
            rows << index.row();
        std::sort(rows.begin(), rows.end());
    } else {
        for (int r = 0; r < m_model->rowCount(); ++r)
            rows << r;
    }
    for (int r : std::as_const(rows)) {
        const TrafficRow *row = m_model->rowAt(r);
        if (!row)
            continue;
        QStringList cells;
        for (int c = 0; c < TrafficModel::Columns; ++c) {
            QString text = TrafficModel::cellText(*row, c);
            if (c == TrafficModel::Time)
                text = QDateTime::fromMSecsSinceEpoch(row->wallMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            cells << quote(text);
        }
        lines << cells.join(separator);
    }
    return lines.join(QLatin1Char('\n')) + (lines.isEmpty() ? QString() : QStringLiteral("\n"));
}

bool TrafficWindow::save(const QString &path, bool csv, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(rowsText(csv, false).toUtf8()) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
