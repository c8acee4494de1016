#include "widgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBackingStore>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPixmap>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextLayout>
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

// ---------------------------------------------------------------------------------------------
// TextBox

namespace {

// QPlainTextEdit's layout: the text document's margin around the text, lines broken at word
// boundaries (or anywhere in a word longer than the line), each line's leading included.
constexpr qreal kMargin = 4;
// Distinct texts kept laid out: a box alternates between a few (empty, request, reply, status).
constexpr std::size_t kCachedLayouts = 4;

const QEvent::Type kSyncEvent = QEvent::Type(QEvent::registerEventType());

// The boxes with a new text not shown yet, and the one posted event that shows them all: a tick
// sets three boxes, and each posted event costs the event loop a wake-up.
QList<QPointer<TextBox>> &pendingBoxes()
{
    static QList<QPointer<TextBox>> boxes;
    return boxes;
}

int g_passes = 0; // TextBox::Pass objects alive

class PendingBoxes : public QObject
{
public:
    bool event(QEvent *event) override
    {
        if (event->type() != kSyncEvent)
            return QObject::event(event);
        TextBox::syncPending();
        return true;
    }
};

} // namespace

struct TextBox::Laid {
    QString text;
    int width = 0;
    QTextLayout layout;
    qreal height = 0; // of the lines, margins not included
    // The viewport showing the text unscrolled and unselected, drawn at its first paint: a
    // repaint of a text shown before is one copy of pixels.
    QPixmap picture;
    QPalette::ColorGroup pictureGroup = QPalette::Active;
};

// What a screen reader asks of a read-only QPlainTextEdit: the text, the selection, where a
// character is.
class TextBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TextBoxAccessible(TextBox *box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? box()->toPlainText() : QAccessibleWidget::text(t);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && box()->hasSelection()) {
            *start = box()->m_selStart;
            *end = box()->m_selEnd;
        }
    }
    int selectionCount() const override { return box()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { box()->setSelection(start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            box()->setSelection(0, 0);
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            box()->setSelection(start, end);
    }
    int cursorPosition() const override { return box()->m_selEnd; }
    void setCursorPosition(int position) override { box()->setSelection(position, position); }
    QString text(int start, int end) const override
    {
        const QString all = box()->toPlainText();
        start = std::clamp(start, 0, int(all.size()));
        end = std::clamp(end, start, int(all.size()));
        return all.mid(start, end - start);
    }
    int characterCount() const override { return int(box()->toPlainText().size()); }
    QRect characterRect(int offset) const override
    {
        const QRect local = box()->characterRect(offset);
        return local.isNull() ? local : QRect(box()->viewport()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const QPoint local = box()->viewport()->mapFromGlobal(point);
        return box()->viewport()->rect().contains(local) ? box()->positionAt(local) : -1;
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    TextBox *box() const { return static_cast<TextBox *>(widget()); }
};

static QAccessibleInterface *textBoxAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("TextBox") && object && object->isWidgetType())
        return new TextBoxAccessible(static_cast<TextBox *>(object));
    return nullptr;
}

TextBox::TextBox(const QString &name, QWidget *parent) : QAbstractScrollArea(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(textBoxAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setObjectName(name);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // lines wrap, anywhere if they must
    viewport()->setCursor(Qt::IBeamCursor);
    // The frame and the viewport cover the whole box: nothing beneath it is painted first, and
    // the viewport paints its own background.
    setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
}

TextBox::~TextBox() = default;

void TextBox::setPlainText(const QString &text)
{
    if (text == m_text)
        return;
    const QString before = m_text;
    m_text = text;
    if (hasSelection() || m_anchor >= 0) {
        m_selStart = m_selEnd = 0;
        m_anchor = -1;
        viewport()->update();
    }
    if (verticalScrollBar()->value() != 0)
        verticalScrollBar()->setValue(0);
    // Laid out and repainted once, after whatever else this pass of the event loop sets.
    if (!m_pending) {
        m_pending = true;
        static PendingBoxes *const carrier = new PendingBoxes;
        if (pendingBoxes().isEmpty() && g_passes == 0)
            QCoreApplication::postEvent(carrier, new QEvent(kSyncEvent));
        pendingBoxes().append(this);
    }
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, before, text);
        QAccessible::updateAccessibility(&event);
    }
    emit textChanged();
}

void TextBox::syncPending(bool now)
{
    std::vector<TextBox *> drawn;
    for (const QPointer<TextBox> &box : std::exchange(pendingBoxes(), {})) {
        if (!box)
            continue;
        box->m_pending = false;
        if (box->m_text == box->m_shown)
            continue;
        box->m_shown = box->m_text;
        box->adjustScrollBar();
        // Each box by itself (repainting a parent leaves opaque children out), or drawn with the
        // others of its window.
        if (!now)
            box->viewport()->update();
        else if (box->showsPicture() && box->wholeInView())
            drawn.push_back(box);
        else
            box->viewport()->repaint();
    }
    drawIntoWindows(drawn);
}

bool TextBox::showsPicture() const
{
    return !hasSelection() && verticalScrollBar()->value() == 0;
}

// Whether the viewport can be drawn into its window's backing store as it is: wholly in view, in
// a window that shows a plain raster store, opaque, nothing over it.
bool TextBox::wholeInView() const
{
    const QWidget *top = window();
    const QWindow *handle = top->windowHandle();
    if (!handle || !handle->isExposed() || handle->surfaceType() != QSurface::RasterSurface || !top->backingStore()
        || top->testAttribute(Qt::WA_TranslucentBackground) || viewport()->nativeParentWidget() != top
        || !viewport()->isVisible() || !viewport()->updatesEnabled())
        return false;
    for (const QWidget *w = viewport(); w; w = w->parentWidget())
        if (w->graphicsEffect())
            return false;
    // A store not yet resized with its window is left to the repaint that resizes it.
    return QRect(QPoint(), top->backingStore()->size())
               .contains(QRect(viewport()->mapTo(top, QPoint()), viewport()->size()))
        && viewport()->visibleRegion() == QRegion(viewport()->rect());
}

// Boxes wholly in view whose picture is what their viewport shows: drawn straight into their
// window's backing store, one painter and one flush for all the boxes of a window, instead of a
// paint event each through the widgets' repaint machinery.
void TextBox::drawIntoWindows(const std::vector<TextBox *> &boxes)
{
    std::vector<bool> done(boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        if (done[i])
            continue;
        QWidget *top = boxes[i]->window();
        QBackingStore *store = top->backingStore();
        QRegion region;
        std::vector<std::pair<QPoint, TextBox *>> here;
        for (std::size_t j = i; j < boxes.size(); ++j)
            if (!done[j] && boxes[j]->window() == top) {
                done[j] = true;
                const QPoint at = boxes[j]->viewport()->mapTo(top, QPoint());
                here.emplace_back(at, boxes[j]);
                region += QRect(at, boxes[j]->viewport()->size());
            }
        store->beginPaint(region);
        {
            QPainter p(store->paintDevice());
            for (const auto &[at, box] : here)
                p.drawPixmap(at, box->picture(const_cast<Laid &>(box->laid())));
        }
        store->endPaint();
        store->flush(region, top->windowHandle());
    }
}

TextBox::Pass::Pass()
{
    ++g_passes;
}

TextBox::Pass::~Pass()
{
    // Repainted now, so no repaint request is posted for them.
    if (--g_passes == 0)
        syncPending(true);
}

const TextBox::Laid &TextBox::laid()
{
    const int width = viewport()->width();
    const auto hit = std::find_if(m_cache.begin(), m_cache.end(), [&](const std::unique_ptr<Laid> &l) {
        return l->width == width && l->text == m_text;
    });
    if (hit != m_cache.end()) {
        std::rotate(m_cache.begin(), hit, hit + 1);
        return *m_cache.front();
    }
    auto l = std::make_unique<Laid>();
    l->text = m_text;
    l->width = width;
    l->layout.setText(m_text);
    l->layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    l->layout.setTextOption(option);
    l->layout.setCacheEnabled(true);
    const qreal lineWidth = width > 0 ? width - 2 * kMargin : qreal(INT_MAX);
    l->layout.beginLayout();
    for (QTextLine line = l->layout.createLine(); line.isValid(); line = l->layout.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(kMargin, l->height));
        l->height += line.height();
        if (line.leading() < 0)
            l->height += std::ceil(line.leading());
    }
    l->layout.endLayout();
    if (m_cache.size() >= kCachedLayouts)
        m_cache.pop_back();
    m_cache.insert(m_cache.begin(), std::move(l));
    return *m_cache.front();
}

// As QPlainTextEdit: the scroll bar counts lines; it is needed when the lines and the margins
// are taller than the viewport.
void TextBox::adjustScrollBar()
{
    const Laid &l = laid();
    const int lines = l.layout.lineCount();
    const qreal visible = viewport()->height() - kMargin - 1;
    const qreal y = l.height + kMargin;
    int fromBottom = lines;
    if (y > visible) {
        int first = 0;
        while (first < lines && l.layout.lineAt(first).naturalTextRect().top() < y - visible)
            ++first;
        fromBottom = lines - first;
    }
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, qMax(0, lines - fromBottom));
    bar->setPageStep(fromBottom);
}

// The viewport's y of the layout's y = 0: the top margin above the first line, or the lines
// scrolled past.
qreal TextBox::topOffset() const
{
    const int top = verticalScrollBar()->value();
    if (top <= 0 || m_cache.empty())
        return kMargin;
    const QTextLayout &layout = m_cache.front()->layout;
    return top <= layout.lineCount() ? -layout.lineAt(top - 1).rect().bottom() : kMargin;
}

bool TextBox::event(QEvent *event)
{
    if (event->type() == QEvent::Paint) {
        // The frame; under it what a parent would show, for styles whose frame leaves corners.
        QPainter p(this);
        p.fillRect(rect(), palette().window());
    }
    return QAbstractScrollArea::event(event);
}

void TextBox::paintEvent(QPaintEvent *event)
{
    Laid &l = const_cast<Laid &>(laid());
    QPainter p(viewport());
    if (showsPicture())
        p.drawPixmap(0, 0, picture(l));
    else
        drawText(p, l, event->rect());
}

const QPixmap &TextBox::picture(Laid &l)
{
    const qreal ratio = viewport()->devicePixelRatioF();
    const QPalette::ColorGroup group = palette().currentColorGroup();
    if (l.picture.deviceIndependentSize() != QSizeF(viewport()->size()) || l.picture.devicePixelRatio() != ratio
        || l.pictureGroup != group) {
        l.picture = QPixmap(viewport()->size() * ratio);
        l.picture.setDevicePixelRatio(ratio);
        l.pictureGroup = group;
        QPainter picture(&l.picture);
        drawText(picture, l, viewport()->rect());
    }
    return l.picture;
}

// The viewport's background and the text over it, limited to rect.
void TextBox::drawText(QPainter &p, const Laid &l, const QRect &rect)
{
    p.fillRect(rect, palette().base());
    QRect clip = rect;
    clip.setRight(qMin(clip.right(), viewport()->width() - int(kMargin) + 1)); // right margin stays clear
    p.setClipRect(clip);
    p.setPen(palette().text().color());
    QList<QTextLayout::FormatRange> selections;
    if (hasSelection()) {
        const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
        QTextLayout::FormatRange range;
        range.start = m_selStart;
        range.length = m_selEnd - m_selStart;
        range.format.setBackground(palette().brush(group, QPalette::Highlight));
        range.format.setForeground(palette().brush(group, QPalette::HighlightedText));
        selections << range;
    }
    l.layout.draw(&p, QPointF(0, topOffset()), selections, clip);
}

void TextBox::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    adjustScrollBar();
}

void TextBox::scrollContentsBy(int, int)
{
    viewport()->update();
}

void TextBox::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange
        || event->type() == QEvent::StyleChange) {
        m_cache.clear();
        adjustScrollBar();
        viewport()->update();
    }
}

QString TextBox::selectedText() const
{
    return m_text.mid(m_selStart, m_selEnd - m_selStart);
}

void TextBox::setSelection(int start, int end)
{
    const int size = int(m_text.size());
    start = std::clamp(start, 0, size);
    end = std::clamp(end, 0, size);
    if (start > end)
        std::swap(start, end);
    if (start == end)
        start = end = 0;
    if (start == m_selStart && end == m_selEnd)
        return;
    m_selStart = start;
    m_selEnd = end;
    selectionChanged();
}

void TextBox::selectAll()
{
    setSelection(0, int(m_text.size()));
}

void TextBox::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TextBox::selectionChanged()
{
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent event(this, m_selStart, m_selEnd);
        event.setCursorPosition(m_selEnd);
        QAccessible::updateAccessibility(&event);
    }
}

// The text position nearest to a point of the viewport.
int TextBox::positionAt(const QPoint &viewportPos)
{
    const QTextLayout &layout = laid().layout;
    const qreal y = viewportPos.y() - topOffset();
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (y < line.rect().bottom() || i == layout.lineCount() - 1)
            return line.xToCursor(viewportPos.x());
    }
    return 0;
}

QRect TextBox::characterRect(int offset)
{
    const QTextLayout &layout = laid().layout;
    if (offset < 0 || offset >= m_text.size())
        return {};
    const QTextLine line = layout.lineForTextPosition(offset);
    if (!line.isValid())
        return {};
    const qreal x = line.cursorToX(offset);
    const qreal next = line.cursorToX(offset + 1);
    return QRectF(x, line.y() + topOffset(), qMax<qreal>(1, next - x), line.height()).toAlignedRect();
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::SelectAll) {
        selectAll();
        if (QGuiApplication::clipboard()->supportsSelection() && hasSelection())
            QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
        event->accept();
        return;
    }
    if (event == QKeySequence::Copy) {
        copy();
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TextBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_anchor = positionAt(event->position().toPoint());
    setSelection(m_anchor, m_anchor);
}

void TextBox::mouseMoveEvent(QMouseEvent *event)
{
    if (m_anchor < 0 || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    setSelection(m_anchor, positionAt(event->position().toPoint()));
}

void TextBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_anchor = -1;
    if (hasSelection() && QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
}

// A double click selects the word under the mouse.
void TextBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    const int at = positionAt(event->position().toPoint());
    const auto inWord = [this](int i) { return i >= 0 && i < m_text.size() && m_text.at(i).isLetterOrNumber(); };
    int start = at, end = at;
    while (inWord(start - 1))
        --start;
    while (inWord(end))
        ++end;
    m_anchor = -1;
    setSelection(start, end);
}

void TextBox::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copyAction = menu.addAction(tr("&Copy") + QLatin1Char('\t')
                                         + QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText));
    copyAction->setEnabled(hasSelection());
    connect(copyAction, &QAction::triggered, this, &TextBox::copy);
    menu.addSeparator();
    QAction *allAction = menu.addAction(tr("Select All") + QLatin1Char('\t')
                                        + QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText));
    allAction->setEnabled(!m_text.isEmpty());
    connect(allAction, &QAction::triggered, this, &TextBox::selectAll);
    // Actions the window gave the box come after its own (the traffic monitor).
    if (!actions().isEmpty()) {
        menu.addSeparator();
        menu.addActions(actions());
    }
    menu.exec(event->globalPos());
}
