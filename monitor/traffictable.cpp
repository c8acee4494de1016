#include "traffictable.h"

#include "trafficcells.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>

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
