#include "textbox.h"

#include "textboxaccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QPixmap>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// QPlainTextEdit's layout: the text document's margin around the text, lines broken at word
// boundaries (or anywhere in a word longer than the line), each line's leading included.
constexpr qreal kMargin = 4;
// Distinct texts kept laid out: a box alternates between a few (empty, request, reply, status).
constexpr std::size_t kCachedLayouts = 4;

// The boxes with a new text not shown yet, and the one posted event that shows them all: a tick
// sets three boxes, and each posted event costs the event loop a wake-up.
QList<QPointer<TextBox>> g_pendingBoxes;

int g_passes = 0; // TextBox::Pass objects alive

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
        if (g_pendingBoxes.isEmpty() && g_passes == 0)
            QMetaObject::invokeMethod(QCoreApplication::instance(), [] { syncPending(); }, Qt::QueuedConnection);
        g_pendingBoxes.append(this);
    }
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, before, text);
        QAccessible::updateAccessibility(&event);
    }
    emit textChanged();
}

void TextBox::syncPending(bool now)
{
    for (const QPointer<TextBox> &box : std::exchange(g_pendingBoxes, {})) {
        if (!box)
            continue;
        box->m_pending = false;
        if (box->m_text == box->m_shown)
            continue;
        box->m_shown = box->m_text;
        box->adjustScrollBar();
        // Each box by itself: repainting a parent leaves opaque children out.
        if (now)
            box->viewport()->repaint();
        else
            box->viewport()->update();
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
    // The text in view from its top, unselected: the picture kept with its layout.
    if (!hasSelection() && verticalScrollBar()->value() == 0)
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
