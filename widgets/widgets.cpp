#include "widgets.h"

#include <QApplication>
#include <QBackingStore>
#include <QCoreApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QWindow>

#include <algorithm>
#include <cmath>

QFont withFullWidthMarks(const QFont &font)
{
    QFont marked = font;
    // The family the font resolves to, not its name: a generic name such as "Sans Serif" is no
    // family of the font database, and Qt would then draw every character from the next one.
    marked.setFamilies({QFontInfo(font).family(), QStringLiteral("IPAPGothic")});
    return marked;
}

Lamp::Lamp(QWidget *parent) : QWidget(parent) {}

void Lamp::setFillColor(const QColor &color)
{
    m_fill = color;
    update();
}

void Lamp::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::black);
    p.setBrush(m_fill);
    const int d = qMin(width(), height()) - 1;
    p.drawEllipse(QRect((width() - d) / 2, (height() - d) / 2, d, d));
}

WindowTimer::WindowTimer(const QString &name, QObject *parent) : QObject(parent)
{
    setObjectName(name);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &WindowTimer::Timer);
}

void WindowTimer::setInterval(int ms)
{
    m_interval = qMax(0, ms);
    apply();
}

void WindowTimer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    apply();
}

void WindowTimer::apply()
{
    if (m_enabled && m_interval > 0) {
        if (!m_timer.isActive() || m_timer.interval() != m_interval)
            m_timer.start(m_interval);
    } else {
        m_timer.stop();
    }
}

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

namespace {

// The combo box's own line edit, with where its caret is drawn in reach.
class CaretLineEdit : public QLineEdit
{
public:
    using QLineEdit::QLineEdit;
    QRect caretRect() const { return cursorRect(); }
};

} // namespace

ChoiceBox::ChoiceBox(const QString &name, QWidget *parent) : QComboBox(parent)
{
    setObjectName(name);
    setEditable(true);
    setLineEdit(new CaretLineEdit(this));
    // The caret blinks by a timer of the line edit's text control, which asks the line edit for a
    // repaint of the caret's area: a posted update request and a pass of the repaint machinery
    // twice a second for as long as the box has focus, whatever the window does. The blink is
    // taken here instead and drawn straight into the window (see blinkCaret).
    for (QObject *child : lineEdit()->children())
        if (qstrcmp(child->metaObject()->className(), "QWidgetLineControl") == 0)
            m_lineControl = child;
    if (m_lineControl)
        m_lineControl->installEventFilter(this);
    // What the caret's area shows changes with these, and the pictures of its two phases with it
    // (a paint of the line edit drops them too; these come before it).
    connect(lineEdit(), &QLineEdit::textChanged, this, &ChoiceBox::dropCaretPictures);
    connect(lineEdit(), &QLineEdit::selectionChanged, this, &ChoiceBox::dropCaretPictures);
    connect(lineEdit(), &QLineEdit::cursorPositionChanged, this, &ChoiceBox::dropCaretPictures);
    // The line edit fills its own background (the field's colour, as drawn beneath it anyway),
    // so its blinking cursor repaints only itself, not the box and the group box beneath.
    lineEdit()->setAutoFillBackground(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The default completer completes inline and case-blind: "9600" would become a list entry
    // nobody picked.
    setCompleter(nullptr);
}

bool ChoiceBox::eventFilter(QObject *watched, QEvent *event)
{
    // Any paint of the line edit but the caret's own picture: what it shows may have changed.
    if (watched == lineEdit() && event->type() == QEvent::Paint && !m_renderingCaret)
        dropCaretPictures();
    if (watched == m_lineControl && event->type() == QEvent::Timer && !m_forwarding) {
        // The control's timers: the caret's blink repeats, a triple click's fires once and is
        // gone. A timer seen a second time in a row is the blink (a moved caret restarts it, and
        // its first blink then takes the ordinary way).
        const int id = static_cast<QTimerEvent *>(event)->timerId();
        const bool blink = id == m_lastTimer;
        m_lastTimer = id;
        if (blink && blinkCaret(event))
            return true;
    }
    return QComboBox::eventFilter(watched, event);
}

// The control toggles its caret with its repaint request held back, and the caret's area, painted
// by the line edit itself (the same pixels its repaint would give), goes straight into the window's
// backing store and to the screen: no update request, no other widget painted. False, and nothing
// done, when the area is not wholly in view in a plain raster window.
bool ChoiceBox::blinkCaret(QEvent *event)
{
    auto *edit = static_cast<CaretLineEdit *>(lineEdit());
    QWidget *top = window();
    const QWindow *handle = top->windowHandle();
    const QRect area = edit->caretRect() & edit->rect();
    if (area.isEmpty() || !handle || !handle->isExposed() || handle->surfaceType() != QSurface::RasterSurface
        || !top->backingStore() || top->testAttribute(Qt::WA_TranslucentBackground)
        || edit->nativeParentWidget() != top || !edit->isVisible() || !edit->updatesEnabled()
        || !edit->visibleRegion().contains(area))
        return false;
    for (const QWidget *w = edit; w; w = w->parentWidget())
        if (w->graphicsEffect())
            return false;
    const QRect inWindow(edit->mapTo(top, area.topLeft()), area.size());
    QBackingStore *store = top->backingStore();
    if (!QRect(QPoint(), store->size()).contains(inWindow))
        return false;
    {
        const QSignalBlocker quiet(m_lineControl);
        m_forwarding = true;
        QCoreApplication::sendEvent(m_lineControl, event);
        m_forwarding = false;
    }
    // Each phase is painted by the line edit once and copied at its later blinks: rendering the
    // area costs several times the copy (a painter, a redirected paint event, the text drawn).
    if (area != m_caretArea)
        dropCaretPictures();
    m_caretArea = area;
    QPixmap &caret = m_caretPictures[m_caretPhase];
    m_caretPhase ^= 1;
    if (caret.isNull()) {
        caret = QPixmap(area.size() * edit->devicePixelRatioF());
        caret.setDevicePixelRatio(edit->devicePixelRatioF());
        m_renderingCaret = true;
        edit->render(&caret, QPoint(), QRegion(area), QWidget::DrawWindowBackground);
        m_renderingCaret = false;
    }
    store->beginPaint(inWindow);
    {
        QPainter p(store->paintDevice());
        p.drawPixmap(inWindow.topLeft(), caret);
    }
    store->endPaint();
    store->flush(inWindow, top->windowHandle());
    return true;
}

void ChoiceBox::dropCaretPictures()
{
    m_caretPictures[0] = m_caretPictures[1] = QPixmap();
    m_caretPhase = 0;
}

int ChoiceBox::entryIndex() const
{
    return findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

// QComboBox takes the line edit's "editing finished" (focus out, Return) as a pick of the entry
// that matches the text case-blind, rewriting the text and emitting activated: the line edit is
// kept quiet while those two reach it.
void ChoiceBox::focusOutEvent(QFocusEvent *event)
{
    const QSignalBlocker quiet(lineEdit());
    QComboBox::focusOutEvent(event);
}

void ChoiceBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const QSignalBlocker quiet(lineEdit());
        QComboBox::keyPressEvent(event);
        return;
    }
    QComboBox::keyPressEvent(event);
}
