#include "widgets.h"

#include "settingsfiles.h"

#include <QApplication>
#include <QFontInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

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

void showRaised(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

void setProgramIcon(QWidget *window)
{
    const QIcon icon(sysFilePath(QStringLiteral("kv.ico")));
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        window->setWindowIcon(icon);
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

ChoiceBox::ChoiceBox(const QString &name, QWidget *parent) : QComboBox(parent)
{
    setObjectName(name);
    setEditable(true);
    // The line edit fills its own background (the field's colour, as drawn beneath it anyway),
    // so its blinking cursor repaints only itself, not the box and the group box beneath.
    lineEdit()->setAutoFillBackground(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The default completer completes inline and case-blind: "9600" would become a list entry
    // nobody picked.
    setCompleter(nullptr);
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
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QSignalBlocker quiet(enter ? lineEdit() : nullptr);
    QComboBox::keyPressEvent(event);
}
