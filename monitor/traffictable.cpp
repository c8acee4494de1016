#include "traffictable.h"

#include "trafficcells.h"

#include <QApplication>
#include <QHeaderView>
#include <QProxyStyle>
#include <QStyleFactory>

namespace {
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
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setVisible(false);
    // Rows of one height, set once: a batch of new rows then costs no measuring.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    setWordWrap(false);
    // Rows told apart by their colour, not a grid: a grid is drawn again with every batch.
    setShowGrid(false);
    setVerticalScrollBar(new FollowingScrollBar(Qt::Vertical, this));
    // The scroll bar's holder paints its own background, so the moving slider does not repaint
    // the table's frame and the window beneath it.
    if (auto *holder = findChild<QWidget *>(QStringLiteral("qt_scrollarea_vcontainer")))
        holder->setAutoFillBackground(true);
    // By pixels, so that following the end is a blit by whole rows' heights.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Every other row in the alternate colour, painted by the cells themselves (most of them are
    // pictures with their background in them): the view's own would fill each cell first.
    setAlternatingRowColors(false);
    auto *style = new CellsPaintRowsStyle;
    style->setParent(this);
    setStyle(style);
    setItemDelegate(new TrafficCells(this));
}

void TrafficTable::reset()
{
    m_firstNew = -1;
    QTableView::reset();
}
