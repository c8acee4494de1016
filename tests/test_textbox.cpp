// The read-only text box of the serial group: it must look and behave like the read-only
// QPlainTextEdit it stands in for, read the same to accessibility tools, and repaint nothing but
// itself, once a pass of the event loop, and only when its text changes.
#include "widgets.h"

#include <QAccessible>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

const QString kRequest = QStringLiteral("01 04 00 00 00 08 F1 CC ");
const QString kLongReply =
    QStringLiteral("01 04 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 E4 59 01 04 10 00 00 ");
const QString kNormal = QStringLiteral("Communication Data Normal！");

// Every pass of the event loop that is due now, posted events (and the repaints they ask for)
// included; no waiting.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// A box in a group box, as the serial group holds it, shown.
struct Framed {
    explicit Framed(QSize size, int x = 8) : frame(QStringLiteral(" Communication Set")), box(QStringLiteral("box"), &frame)
    {
        frame.resize(400, 200);
        box.setGeometry(QRect(QPoint(x, 30), size));
        frame.show();
    }
    QGroupBox frame;
    TextBox box;
};

} // namespace

class TestTextBox : public QObject
{
    Q_OBJECT
private slots:
    // A reply taller than the box, with its scroll bar; a wrapped, selected status line.
    void looksLikeReadOnlyPlainTextEdit()
    {
        for (const auto &[text, selectAll] : {std::pair{kLongReply, false}, std::pair{kNormal, true}}) {
            Framed f({145, 41}, 200);
            QPlainTextEdit edit(&f.frame);
            edit.setReadOnly(true);
            edit.setGeometry(QRect(QPoint(8, 30), f.box.size()));
            edit.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
            edit.setPlainText(text);
            f.box.setPlainText(text);
            if (selectAll) {
                edit.selectAll();
                f.box.selectAll();
            }
            settle();
            QCOMPARE(edit.verticalScrollBar()->isVisible(), !selectAll);
            QCOMPARE(f.box.verticalScrollBar()->isVisible(), !selectAll);
            // As the window shows them: each over the group box beneath.
            const QImage want = f.frame.grab(edit.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY(f.frame.grab(f.box.geometry()).toImage().convertToFormat(QImage::Format_RGB32) == want);
        }
    }

    // Keys and the mouse select and copy; a reader of the screen gets the text and the selection.
    void selectAndRead()
    {
        Framed f({300, 41});
        TextBox &box = f.box;
        QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
        box.setPlainText(kNormal);
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(20, 10)); // focus, as a user would
        QVERIFY(box.hasFocus());
        QTest::keySequence(&box, QKeySequence::SelectAll);
        QCOMPARE(box.selectedText(), kNormal);
        QTest::keySequence(&box, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), kNormal);
        // From left of the first character to the right end of the line: all of it.
        box.setPlainText(kRequest);
        QVERIFY(!box.hasSelection()); // a new text drops the selection
        settle();
        QTest::mousePress(box.viewport(), Qt::LeftButton, {}, QPoint(1, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(295, 10), box.viewport()->mapToGlobal(QPointF(295, 10)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box.viewport(), &move);
        QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, QPoint(295, 10));
        QCOMPARE(box.selectedText(), kRequest);

        box.setPlainText(kNormal);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&box);
        QVERIFY(a && a->textInterface());
        QCOMPARE(a->role(), QAccessible::EditableText);
        QVERIFY(a->state().readOnly);
        QAccessibleTextInterface *t = a->textInterface();
        QCOMPARE(t->characterCount(), int(kNormal.size()));
        QCOMPARE(t->text(0, t->characterCount()) + a->text(QAccessible::Value), kNormal + kNormal);
        t->setSelection(0, 0, 13);
        QCOMPARE(box.selectedText(), QStringLiteral("Communication"));
        int start = -1, end = -1;
        t->selection(0, &start, &end);
        QCOMPARE(std::pair(start, end), std::pair(0, 13));
        // Before the box has repainted, a reader already gets the new text.
        box.clear();
        QVERIFY(t->characterCount() == 0 && t->selectionCount() == 0);
    }

    void repaintsOnlyItselfAndOnlyOnChange()
    {
        Framed f({145, 65});
        QVERIFY(QTest::qWaitForWindowExposed(&f.frame));
        f.box.setPlainText(kRequest);
        PaintCounter frame(&f.frame), box(f.box.viewport());
        QTRY_VERIFY(box.paints > 0);
        settle();
        frame.paints = box.paints = 0;
        int changes = 0;
        connect(&f.box, &TextBox::textChanged, &f.box, [&] { ++changes; });
        // As a tick does: emptied, then the same request again.
        f.box.clear();
        QCOMPARE(f.box.toPlainText(), QString());
        f.box.setPlainText(kRequest);
        QCOMPARE(changes, 2);
        settle();
        QCOMPARE(box.paints, 0);
        // Emptied and then another text: one repaint for both.
        f.box.clear();
        f.box.setPlainText(kNormal);
        QTRY_COMPARE(box.paints, 1);
        settle();
        QCOMPARE(box.paints, 1);
        // Short and long texts: the scroll bar comes and goes, the group box beneath is left alone.
        for (const QString &text : {kLongReply, QString(), kRequest}) {
            box.paints = 0;
            f.box.setPlainText(text);
            QTRY_VERIFY(box.paints > 0);
        }
        QCOMPARE(frame.paints, 0);
        // Two boxes set in one pass, as a tick sets them: each shows its new text.
        TextBox other(QStringLiteral("other"), &f.frame);
        other.setGeometry(QRect(QPoint(160, 30), QSize(145, 65)));
        other.show();
        PaintCounter second(other.viewport());
        settle();
        box.paints = second.paints = 0;
        f.box.setPlainText(kNormal);
        other.setPlainText(kNormal);
        QTRY_VERIFY(box.paints > 0 && second.paints > 0);
        // Set while a window applies a tick: both repainted once when that ends, before the event
        // loop runs again, and the group box beneath left alone.
        settle();
        box.paints = second.paints = frame.paints = 0;
        {
            const TextBox::Pass pass;
            f.box.clear();
            f.box.setPlainText(kRequest);
            other.setPlainText(kRequest);
            QCOMPARE(box.paints + second.paints, 0);
        }
        QCOMPARE(box.paints, 1);
        QCOMPARE(second.paints, 1);
        settle();
        QCOMPARE(box.paints + second.paints + frame.paints, 2);
    }
};

QTEST_MAIN(TestTextBox)
#include "test_textbox.moc"
