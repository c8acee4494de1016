// The traffic monitor of one module window: every frame since the window opened, with its time,
// direction, bytes, verdict and response time, in a table that a screen reader reads as one; a
// statistics line; Pause, Errors only, Reset, copy of the selected rows and Save as text or CSV.
// The view follows the recorder in batches, about three times a second.
#pragma once

#include "trafficlog.h"

#include <QAbstractTableModel>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QGlyphRun>
#include <QRawFont>
#include <QCheckBox>
#include <QTableView>
#include <QTimer>
#include <QWidget>

#include <deque>

// The recorder's rows as a table, all of them or the errors only. It shows the rows as of its
// last sync(), so a view never sees them move under it between two batches.
class TrafficModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Time, SinceFirst, Direction, Bytes, Length, Verdict, Response, Line, Columns };
    // data() in this role: the recorder's number of the row (stays with the row until a reset).
    static constexpr int RowNumberRole = Qt::UserRole + 1;

    explicit TrafficModel(const TrafficRecorder *recorder, QObject *parent = nullptr);
    // Takes in what the recorder has done since the last call: rows dropped at the front, rows
    // added at the end. True when rows were only added (or nothing changed).
    bool sync();
    void setErrorsOnly(bool on);
    const TrafficRow *rowAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    static QString cellText(const TrafficRow &row, int column);

    // The recorder's number of a shown row (what RowNumberRole gives).
    quint64 numberAt(int row) const { return m_errorsOnly ? m_errors[std::size_t(row)] : m_first + quint64(row); }

private:
    void rebuild();

    const TrafficRecorder *m_recorder;
    bool m_errorsOnly = false;
    quint64 m_first = 0;  // all rows: recorder row number of model row 0
    int m_count = 0;      // all rows: how many
    quint64 m_synced = 0; // the recorder's rows before this one have been looked at
    std::deque<quint64> m_errors; // errors only: the recorder row numbers shown
};

// A line of text as the font's glyphs side by side: glyph indexes and advances looked up without
// the shaping a QString draw goes through. Enough for this window's own texts (times, hex,
// verdicts, figures); empty when the font lacks a glyph, and the caller then draws the text.
struct GlyphLine {
    QGlyphRun run;
    qreal width = 0;
    bool isEmpty() const { return run.glyphIndexes().isEmpty(); }
    static GlyphLine of(const QRawFont &font, const QString &text);
    // The line cut to at most width with "…" at the end; empty when the font has no "…".
    GlyphLine elided(const QRawFont &font, qreal width) const;
};

// The raw font of the font a text is drawn in, looked up again only when that font changes.
struct GlyphFont {
    QFont font;
    QRawFont raw;
    // True when f is not the font of the last call: raw is then f's, and lines of the old one
    // are to be made again.
    bool use(const QFont &f);
};

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

// A delegate that draws the cells of a traffic table as the monitor's does, with nothing drawn
// yet: what a cell looks like however the monitor's own comes to draw it.
QAbstractItemDelegate *makeTrafficCells(QObject *parent);

// The monitor's table. A batch that only adds rows at the end moves the picture up by a blit
// (when the view follows the end) and paints the new rows, instead of every visible cell again.
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

protected:
    // With nothing selected and the columns in their order, a row is drawn as a whole: its times,
    // then the rest, most often one picture (see the cells' delegate). The table paints its
    // viewport's background itself.
    void paintEvent(QPaintEvent *event) override;

private:
    int m_firstNew = -1;
};

class TrafficWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kBatchMs = 300;

    // longestFrame: the most bytes a frame of the window takes (the bytes column shows that many
    // at the start); withLine: the window tags its frames with the line's settings (the Line
    // column is shown).
    TrafficWindow(TrafficRecorder *recorder, const QString &caption, int longestFrame, bool withLine,
                  QWidget *parent = nullptr);

    // The rows shown (after the filter), as text: tab-separated, or CSV with a header row.
    QString rowsText(bool csv, bool selectedOnly) const;
    bool save(const QString &path, bool csv, QString *error) const;
    void refresh(); // one batch now

    TrafficTable *Table;
    QLabel *Statistics;
    QPushButton *Pause, *Reset, *Save;
    QCheckBox *ErrorsOnly;

private:
    int buildTable(int longestFrame, bool withLine);
    void buildControls(int tableWidth);
    void connectControls();

    TrafficRecorder *m_recorder;
    TrafficModel *m_model;
    QTimer m_batch;
    quint64 m_shownFirst = 0, m_shownNext = 0;
};
