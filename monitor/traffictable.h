// The traffic monitor's table and its scroll bar.
#pragma once

#include <QScrollBar>
#include <QTableView>

// The table's scroll bar. Every batch moves the slider a little: only where it was drawn and where
// it is now are drawn again (and the arrows), not the whole bar. A groove drawn whole is a gradient
// over the bar's height, which Qt's raster engine hands to its worker threads and waits for.
class FollowingScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QRect part(QStyle::SubControl control) const;
    QRect m_drawn; // the slider as the last paint drew it
};

// The monitor's table: rows of one height, no grid, no horizontal scroll bar, rows told apart by
// their colour, which the cells paint (TrafficCells). A batch that only adds rows at the end moves
// the picture up by a blit (when the view follows the end) and paints the new rows, instead of
// every visible cell again.
class TrafficTable : public QTableView
{
public:
    explicit TrafficTable(QWidget *parent = nullptr);
    // The next layout follows rows added from this one on, and nothing else.
    void expectRowsFrom(int row) { m_firstNew = row; }
    // To the last row, laying the new ones out once (scrollToBottom() lays out twice).
    void followEnd()
    {
        executeDelayedItemsLayout();
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    void doItemsLayout() override;
    void reset() override;

private:
    int m_firstNew = -1;
};
