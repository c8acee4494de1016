#include "textboxaccessible.h"

#include "textbox.h"

#include <QAccessibleWidget>

#include <algorithm>

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

QAccessibleInterface *textBoxAccessible(const QString &key, QObject *object)
{
    if (key == QLatin1String("TextBox") && object && object->isWidgetType())
        return new TextBoxAccessible(static_cast<TextBox *>(object));
    return nullptr;
}
