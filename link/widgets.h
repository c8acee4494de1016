// Small controls the windows share: the round lamp of the serial group, a timer that behaves
// like the windows' timers (an interval of 0 never fires; enabling an enabled timer changes
// nothing), the clickable label, the drop-down box and the read-only text box.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QComboBox>
#include <QPixmap>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QPainter;

// The font for texts that end in a full-width "！" (U+FF01), the status box's and the message
// boxes': the font as it resolves, then IPAPGothic (fonts-ipafont-gothic, which the package
// depends on) for the characters it lacks. The usual Latin fonts have no "！", and the fallback
// Qt would pick varies with the fonts installed: Droid Sans Fallback's is an em wide and its lines
// are taller, which pushed the two-line status into a scroll bar. IPAPGothic's "！" is about as wide
// as a "!", and its lines are no taller than DejaVu Sans's.
QFont withFullWidthMarks(const QFont &font);

class Lamp : public QWidget
{
    Q_OBJECT
public:
    explicit Lamp(QWidget *parent = nullptr);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_fill = Qt::black;
};

class WindowTimer : public QObject
{
    Q_OBJECT
public:
    WindowTimer(const QString &name, QObject *parent);
    void setInterval(int ms);
    int interval() const { return m_interval; }
    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }

signals:
    void Timer();

private:
    void apply();
    QTimer m_timer;
    int m_interval = 0;
    bool m_enabled = false;
};

// A label that reports a left click, for indicators the user switches.
class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();
protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// The editable drop-down box of every window. What the user types stays as typed: no completion
// while typing, Return adds nothing to the list, and focus leaving the box neither selects an
// entry nor reports one. `activated` (the box's Click) is a change of the selected entry the user
// made: a pick from the open list, an arrow or Page key in the box, the mouse wheel over it.
class ChoiceBox : public QComboBox
{
    Q_OBJECT
public:
    ChoiceBox(const QString &name, QWidget *parent);
    // For boxes whose choice must be one of the list (model, port, communication parameters):
    // the list position of the text when it is exactly one entry, -1 for any other text.
    int entryIndex() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool blinkCaret(QEvent *event);
    void dropCaretPictures();

    QObject *m_lineControl = nullptr; // the line edit's text control, whose timer blinks the caret
    int m_lastTimer = 0;
    bool m_forwarding = false;
    // The caret's area as the line edit paints it in the two phases of the blink, the phase it
    // shows next, and whether the line edit is painting into one of them. Dropped whenever the
    // line edit is painted any other way (its text, caret, focus, palette or size changed).
    QPixmap m_caretPictures[2];
    QRect m_caretArea;
    int m_caretPhase = 0;
    bool m_renderingCaret = false;
};

// The read-only text boxes of the serial group (request, reply, status): looks and behaves like
// a read-only QPlainTextEdit (same frame, font, margins, word wrap, vertical scroll bar when
// needed, mouse selection, Ctrl+A, Ctrl+C, the Copy/Select All menu) and reads the same to
// accessibility tools, but it repaints only when what it shows changes. The windows empty the
// boxes at every tick and fill them again in the same or a later pass of the event loop, mostly
// with the text they held before: the text is taken at once, the box is brought up to date once
// per pass, and the last few laid-out texts are kept, so a repeated text costs no shaping.
class TextBox : public QAbstractScrollArea
{
    Q_OBJECT
public:
    // Lays out and repaints every box whose text changed in this pass of the event loop: later
    // (one posted event calls it), or at once.
    static void syncPending(bool now = false);
    // While one lives, boxes given a new text post nothing: the last one to end lays them out and
    // repaints them at once. A window applying what a tick or a judgement decided opens one, and
    // its boxes then cost the event loop no wake-up of their own. (A message box shown meanwhile
    // brings them up to date first: see Prompt.)
    class Pass
    {
    public:
        Pass();
        ~Pass();
        Pass(const Pass &) = delete;
        Pass &operator=(const Pass &) = delete;
    };
    explicit TextBox(const QString &name, QWidget *parent = nullptr);
    ~TextBox() override;

    QString toPlainText() const { return m_text; }
    void setPlainText(const QString &text);
    void clear() { setPlainText(QString()); }

    bool hasSelection() const { return m_selStart != m_selEnd; }
    QString selectedText() const;
    // Selects characters [start, end) of the text, clamped to it.
    void setSelection(int start, int end);
    void selectAll();
    void copy() const;

signals:
    void textChanged();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    friend class TextBoxAccessible;
    struct Laid;
    const Laid &laid();
    void adjustScrollBar();
    qreal topOffset() const;
    int positionAt(const QPoint &viewportPos);
    QRect characterRect(int offset);
    void drawText(QPainter &p, const Laid &l, const QRect &rect);
    const QPixmap &picture(Laid &l);
    bool showsPicture() const;
    bool wholeInView() const;
    static void drawIntoWindows(const std::vector<TextBox *> &boxes);
    void selectionChanged();

    QString m_text;
    QString m_shown; // the text the scroll bar and the last repaint are for
    bool m_pending = false; // among the boxes syncPending() brings up to date
    int m_selStart = 0, m_selEnd = 0, m_anchor = -1;
    std::vector<std::unique_ptr<Laid>> m_cache; // most recently used first
};
