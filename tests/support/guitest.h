// What the GUI tests share: a scratch working folder with its own sys/ files and short timer
// intervals, message boxes and pauses recorded instead of shown, and simulated modules on an
// in-process line.
#pragma once

#include "modulewindow.h"
#include "prompt.h"
#include "simline.h"
#include "simmodule.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QGlyphRun>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>

#include <memory>

// tm.rc lines for tests: read time-outs 40 ms, periods 100 ms, write time-outs 50 ms.
inline QByteArray shortTimingFile(int overtime = 40, int period = 100, int write = 50)
{
    const int lines[20] = {overtime, period, write, overtime, period, overtime, write, period, write, overtime,
                           period, write, overtime, write, period, overtime, overtime, write, period, period};
    QByteArray text;
    for (int i = 0; i < 20; ++i)
        text += QStringLiteral("Line %1%2\r\n").arg(i + 1, -6).arg(lines[i], 5).toLatin1();
    return text;
}

// Message boxes and pauses recorded instead of shown, and the scratch folder current, for as long
// as it lives.
struct GuiTestEnvironment {
    explicit GuiTestEnvironment(const QByteArray &timing = shortTimingFile(),
                                const QByteArray &setRc = "1\r\n9600\r\nNone\r\n")
        : m_previous(QDir::currentPath())
    {
        QDir(m_dir.path()).mkdir(QStringLiteral("sys"));
        writeSys(QStringLiteral("tm.rc"), timing);
        writeSys(QStringLiteral("set.rc"), setRc);
        QDir::setCurrent(m_dir.path());
        setPromptSink([this](const QString &title, const QString &text) {
            titles << title;
            messages << text;
        });
        setPauseSink([this](int ms) { pauses << ms; });
        useSimulatedBus(&bus);
    }
    ~GuiTestEnvironment()
    {
        setPromptSink({});
        setPauseSink({});
        setSerialLineFactory({});
        QDir::setCurrent(m_previous);
    }
    // A fixture that cannot be written fails the test.
    void writeSys(const QString &name, const QByteArray &bytes)
    {
        QFile f(m_dir.filePath(QStringLiteral("sys/") + name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            QTest::qFail(qPrintable(QStringLiteral("cannot write sys/%1: %2").arg(name, f.errorString())), __FILE__, __LINE__);
    }
    QByteArray readSys(const QString &name) const
    {
        QFile f(m_dir.filePath(QStringLiteral("sys/") + name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString path() const { return m_dir.path(); }

    SimBus bus;
    QStringList messages, titles;
    QList<int> pauses;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// The window's control of that name; a name that finds nothing fails the test.
template <typename T = QWidget>
T *child(QWidget *window, const QString &name)
{
    T *found = window->findChild<T *>(name);
    if (!found)
        QTest::qFail(qPrintable(QStringLiteral("%1 has no %2").arg(window->objectName(), name)), __FILE__, __LINE__);
    return found;
}

// A window shown and owned by the test: closing it does not delete it.
template <typename W = ModuleWindow>
std::unique_ptr<W> owned(ModuleWindow *window)
{
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->show();
    return std::unique_ptr<W>(static_cast<W *>(window));
}

inline SimLine *simLine(ModuleWindow *w)
{
    return w->findChild<SimLine *>(QStringLiteral("MSComm1"));
}

// Clicks "Open Port" and checks the port came open.
inline bool openPort(ModuleWindow *w)
{
    QTest::mouseClick(w->Command_Port, Qt::LeftButton);
    return w->portIsOpen();
}

// A table's rows as the user reads them, each row's cells joined by '|'; the column leftOut shows
// empty (a time that differs from run to run).
inline QStringList tableTexts(QTableWidget *t, int leftOut = -1)
{
    QStringList rows;
    for (int r = 0; r < t->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < t->columnCount(); ++c)
            cells << (c == leftOut || !t->item(r, c) ? QString() : t->item(r, c)->text());
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// Replaces a box's text as a user does: click into it, select all, then type or paste; then the key
// then, if one is given (Tab leaves the box, Return takes the text).
inline void enterText(QLineEdit *edit, const QString &text, bool paste = false, Qt::Key then = Qt::Key_unknown)
{
    QTest::mouseClick(edit, Qt::LeftButton);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (paste) {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    } else if (text.isEmpty()) {
        QTest::keyClick(edit, Qt::Key_Delete);
    } else {
        QTest::keyClicks(edit, text);
    }
    if (then != Qt::Key_unknown)
        QTest::keyClick(edit, then);
}
inline void enterText(QComboBox *box, const QString &text, bool paste) { enterText(box->lineEdit(), text, paste); }

// The texts of a window that do not fit, measured with each control's own font and style: a
// caption wider than its label or running into a neighbour, a button's or check box's caption wider
// than it, a text box that needs its scroll bar, a status whose closing "！" the font cannot draw.
inline QStringList cutTexts(QWidget *window)
{
    QStringList cut;
    for (QLabel *l : window->findChildren<QLabel *>()) {
        if (!l->isVisible() || l->text().isEmpty())
            continue;
        const QRect text = QStyle::alignedRect(l->layoutDirection(), QStyle::visualAlignment(l->layoutDirection(), l->alignment()),
                                               l->fontMetrics().size(Qt::TextSingleLine, l->text()), l->contentsRect());
        bool fits = l->contentsRect().contains(text);
        for (QWidget *other : l->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            fits = fits && (other == l || !other->isVisible() || !other->geometry().intersects(text.translated(l->pos())));
        if (!fits)
            cut << l->objectName() + ": " + l->text();
    }
    for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
        if (b->isVisible() && b->sizeHint().width() > b->width())
            cut << b->objectName() + ": " + b->text();
    for (QAbstractScrollArea *box : window->findChildren<QAbstractScrollArea *>())
        if ((qobject_cast<TextBox *>(box) || qobject_cast<QPlainTextEdit *>(box)) && box->verticalScrollBar()->maximum() > 0)
            cut << box->objectName() + " scrolls";
    if (auto *status = window->findChild<TextBox *>(QStringLiteral("Text_Message")); status && !status->toPlainText().isEmpty()) {
        QTextLayout layout(status->toPlainText(), status->font());
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> last = layout.glyphRuns(int(status->toPlainText().size()) - 1, 1);
        if (last.isEmpty() || !last[0].rawFont().supportsCharacter(status->toPlainText().back()))
            cut << QStringLiteral("Text_Message: no glyph for its last character");
    }
    return cut;
}

// Right-clicks target (at a point of it) and picks the entry named pick from the menu that pops up; the entries it
// offered (without their shortcuts).
inline QStringList rightClick(QWidget *target, const QString &pick, QPoint at = QPoint(5, 5))
{
    QStringList offered;
    QTimer::singleShot(0, target, [&offered, pick] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        const QList<QAction *> actions = menu ? menu->actions() : QList<QAction *>();
        if (menu)
            menu->close();
        for (QAction *a : actions) {
            offered << a->text().section(QLatin1Char('\t'), 0, 0);
            if (a->text() == pick)
                a->trigger();
        }
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
    QApplication::sendEvent(target, &click);
    return offered;
}
