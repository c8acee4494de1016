// Small controls the windows share: the round lamp of the serial group, a timer that behaves
// like the windows' timers (an interval of 0 never fires; enabling an enabled timer changes
// nothing), the clickable label, the drop-down box and the read-only text box.
#pragma once

#include "textbox.h"

#include <QColor>
#include <QComboBox>
#include <QPixmap>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <QWidget>


// The font for texts that end in a full-width "！" (U+FF01), the status box's and the message
// boxes': the font as it resolves, then IPAPGothic (fonts-ipafont-gothic, which the package
// depends on) for the characters it lacks. The usual Latin fonts have no "！", and the fallback
// Qt would pick varies with the fonts installed: Droid Sans Fallback's is an em wide and its lines
// are taller, which pushed the two-line status into a scroll bar. IPAPGothic's "！" is about as wide
// as a "!", and its lines are no taller than DejaVu Sans's.
QFont withFullWidthMarks(const QFont &font);

// Shows a window raised and active: a window opened a second time comes to the front.
void showRaised(QWidget *window);
// The program's icon, sys/kv.ico, on a window, where the file gives one.
void setProgramIcon(QWidget *window);

template <typename T>
T *named(T *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

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
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
