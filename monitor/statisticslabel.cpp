#include "statisticslabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

#include <cmath>

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
