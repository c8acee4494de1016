#include "textbox.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

// Selecting with the mouse and keys, copying, the Copy/Select All menu.

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
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    m_anchor = positionAt(event->position().toPoint());
    setSelection(m_anchor, m_anchor);
}

void TextBox::mouseMoveEvent(QMouseEvent *event)
{
    if (m_anchor < 0 || !(event->buttons() & Qt::LeftButton))
        return QAbstractScrollArea::mouseMoveEvent(event);
    setSelection(m_anchor, positionAt(event->position().toPoint()));
}

void TextBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    m_anchor = -1;
    if (hasSelection() && QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setText(selectedText(), QClipboard::Selection);
}

// A double click selects the word under the mouse.
void TextBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
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
