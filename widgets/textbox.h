// The read-only text box: declared here; laid out and drawn in textbox.cpp, selected and copied in
// textboxselection.cpp, read to screen readers in textboxaccessible.cpp.
#pragma once

#include <QAbstractScrollArea>

#include <memory>
#include <vector>

class QPainter;

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
    void selectionChanged();

    QString m_text;
    QString m_shown; // the text the scroll bar and the last repaint are for
    bool m_pending = false; // among the boxes syncPending() brings up to date
    int m_selStart = 0, m_selEnd = 0, m_anchor = -1;
    std::vector<std::unique_ptr<Laid>> m_cache; // most recently used first
};
