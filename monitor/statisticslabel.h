// The traffic monitor's statistics line.
#pragma once

#include "glyphline.h"

#include <QLabel>
#include <QPixmap>

// The statistics line: a label that paints its one line of text as glyphs looked up once per
// text, over its own background, and whose new text never lays the window out again. What it
// shows is kept as a picture; a new text is drawn into it only where its glyphs differ from the
// last one's (a batch changes a few digits), and the picture is copied to the screen.
class StatisticsLabel : public QLabel
{
public:
    explicit StatisticsLabel(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {100, fontMetrics().height() + 6}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The line does not fit: it ends in "…" and its tool tip holds all of it.
    bool isCut();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    const GlyphLine &line();
    GlyphFont m_font;
    QString m_shown;
    GlyphLine m_line;
    GlyphLine m_elided;
    int m_elidedWidth = -1;
    QPixmap m_canvas;
    GlyphLine m_drawn;   // the glyphs the canvas shows,
    QPointF m_drawnAt;   // where,
    QRgb m_drawnIn[2]{}; // over which background and in which colour
};
