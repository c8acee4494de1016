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

} // namespace

class TestTextBox : public QObject
{
    Q_OBJECT
private slots:
    void looksLikeReadOnlyPlainTextEdit_data();
    void looksLikeReadOnlyPlainTextEdit();
    void selectAllAndCopyByKeys();
    void mouseDragSelects();
    void readsAsTextToAccessibility();
    void sameTextAgainInOnePassRepaintsNothing();
    void changeRepaintsTheBoxNotWhatIsBeneath();
};

void TestTextBox::looksLikeReadOnlyPlainTextEdit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("selectAll");
    QTest::addColumn<bool>("scrolls");
    // A wrapped, selected status line; a reply taller than the box.
    const QSize small(145, 41);
    QTest::newRow("reply taller than the box: scroll bar") << kLongReply << small << false << true;
    QTest::newRow("status selected") << kNormal << small << true << false;
}

void TestTextBox::looksLikeReadOnlyPlainTextEdit()
{
    QFETCH(QString, text);
    QFETCH(QSize, size);
    QFETCH(bool, selectAll);
    QFETCH(bool, scrolls);
    QGroupBox frame(QStringLiteral(" Communication Set"));
    frame.resize(400, 200);
    QPlainTextEdit edit(&frame);
    edit.setReadOnly(true);
    edit.setGeometry(QRect(QPoint(8, 30), size));
    TextBox box(QStringLiteral("box"), &frame);
    box.setGeometry(QRect(QPoint(200, 30), size));
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    edit.setPlainText(text);
    box.setPlainText(text);
    if (selectAll) {
        edit.selectAll();
        box.selectAll();
    }
    settle();
    QCOMPARE(edit.verticalScrollBar()->isVisible(), scrolls);
    QCOMPARE(box.verticalScrollBar()->isVisible(), scrolls);
    // As the window shows them: each over the group box beneath.
    const QImage want = frame.grab(edit.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage got = frame.grab(box.geometry()).toImage().convertToFormat(QImage::Format_RGB32);
    QVERIFY(got == want);
}

void TestTextBox::selectAllAndCopyByKeys()
{
    TextBox box(QStringLiteral("box"));
    box.resize(145, 41);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.setPlainText(kNormal);
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, QPoint(20, 10)); // focus, as a user would
    QVERIFY(box.hasFocus());
    QTest::keySequence(&box, QKeySequence::SelectAll);
    QCOMPARE(box.selectedText(), kNormal);
    QTest::keySequence(&box, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), kNormal);
}

void TestTextBox::mouseDragSelects()
{
    TextBox box(QStringLiteral("box"));
    box.resize(300, 41);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.setPlainText(kRequest);
    settle();
    // From left of the first character to the right end of the line: all of it.
    QTest::mousePress(box.viewport(), Qt::LeftButton, {}, QPoint(1, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(295, 10), box.viewport()->mapToGlobal(QPointF(295, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box.viewport(), &move);
    QTest::mouseRelease(box.viewport(), Qt::LeftButton, {}, QPoint(295, 10));
    QCOMPARE(box.selectedText(), kRequest);
    // A new text drops the selection.
    box.setPlainText(kNormal);
    QVERIFY(!box.hasSelection());
}

void TestTextBox::readsAsTextToAccessibility()
{
    QWidget window;
    TextBox box(QStringLiteral("Text_Message"), &window);
    box.setGeometry(0, 0, 145, 41);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    box.setPlainText(kNormal);
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&box);
    QVERIFY(a);
    QCOMPARE(a->role(), QAccessible::EditableText);
    QVERIFY(a->state().readOnly);
    QAccessibleTextInterface *t = a->textInterface();
    QVERIFY(t);
    QCOMPARE(t->characterCount(), int(kNormal.size()));
    QCOMPARE(t->text(0, t->characterCount()), kNormal);
    QCOMPARE(a->text(QAccessible::Value), kNormal);
    t->setSelection(0, 0, 13);
    QCOMPARE(box.selectedText(), QStringLiteral("Communication"));
    int start = -1, end = -1;
    t->selection(0, &start, &end);
    QCOMPARE(std::pair(start, end), std::pair(0, 13));
    // Before the box has repainted, a reader already gets the new text.
    box.clear();
    QCOMPARE(t->characterCount(), 0);
    QCOMPARE(t->selectionCount(), 0);
}

void TestTextBox::sameTextAgainInOnePassRepaintsNothing()
{
    TextBox box(QStringLiteral("box"));
    box.resize(145, 41);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.setPlainText(kRequest);
    PaintCounter counter(box.viewport());
    QTRY_VERIFY(counter.paints > 0);
    settle();
    counter.paints = 0;
    int changes = 0;
    connect(&box, &TextBox::textChanged, &box, [&] { ++changes; });

    // As a tick does: emptied, then the same request again.
    box.clear();
    QCOMPARE(box.toPlainText(), QString());
    box.setPlainText(kRequest);
    QCOMPARE(changes, 2);
    settle();
    QCOMPARE(counter.paints, 0);

    // Emptied and then another text: one repaint for both.
    box.clear();
    box.setPlainText(kNormal);
    QTRY_COMPARE(counter.paints, 1);
    settle();
    QCOMPARE(counter.paints, 1);
}

void TestTextBox::changeRepaintsTheBoxNotWhatIsBeneath()
{
    QGroupBox frame(QStringLiteral(" Communication Set"));
    frame.resize(200, 200);
    TextBox box(QStringLiteral("box"), &frame);
    box.setGeometry(8, 30, 145, 65);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    PaintCounter frameCounter(&frame);
    PaintCounter boxCounter(box.viewport());
    settle();
    frameCounter.paints = boxCounter.paints = 0;
    // Short and long texts: the scroll bar comes and goes.
    for (const QString &text : {kRequest, kLongReply, QString(), kNormal}) {
        box.setPlainText(text);
        QTRY_VERIFY(boxCounter.paints > 0);
        boxCounter.paints = 0;
    }
    QCOMPARE(frameCounter.paints, 0);
}

QTEST_MAIN(TestTextBox)
#include "test_textbox.moc"
