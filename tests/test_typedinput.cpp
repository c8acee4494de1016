// What people type and leave behind in the editable boxes of every window: only the exact text of
// a list entry is a choice in the model, port and communication-parameter boxes; focus moving
// away or Return closes nothing and picks nothing; a user's change of the entry is a Click.
#include "support/guitest.h"

#include "models.h"
#include "setfrm.h"
#include "settingsfiles.h"
#include "toolwindows.h"

#include <QListView>
#include <QWheelEvent>

namespace {

void wheel(QWidget *w, int delta)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

struct Tool : ToolWindows {
    ModuleWindow *open(const QString &name)
    {
        ModuleWindow *w = registry.open(name);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        QApplication::setActiveWindow(w);
        opened.emplace_back(w);
        return w;
    }
    std::vector<std::unique_ptr<ModuleWindow>> opened;
};

QStringList moduleWindows()
{
    QStringList names;
    for (const ModelRow &row : modelTable())
        names << row.name;
    names << QStringLiteral("SetFrm");
    return names;
}

} // namespace

class TestTypedInput : public QObject
{
    Q_OBJECT
private slots:
    void onlyAListEntryIsAChoice_data();
    void onlyAListEntryIsAChoice();
    void onlyAModelNameOpensAWindow_data();
    void onlyAModelNameOpensAWindow();
    void onlyTheUsersChangeClosesThePort_data();
    void onlyTheUsersChangeClosesThePort();
    void timingLinesWithoutInterval_data();
    void timingLinesWithoutInterval();
};

void TestTypedInput::onlyAListEntryIsAChoice_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("paste");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message"); // empty: the choice is taken
    QTest::addColumn<QByteArray>("frame"); // what reaches the module, empty for nothing
    const QString notValid = QStringLiteral("Communication parameters are not valid！");
    const QString noPort = QStringLiteral("Serial port does not exist！");
    QTest::newRow("comm box, typed prefix") << "SetFrm" << "Combo_Baud" << "9600" << false << "Command_OK3" << notValid << QByteArray();
    QTest::newRow("comm box, pasted prefix") << "SetFrm" << "Combo_Baud" << "9600" << true << "Command_OK3" << notValid << QByteArray();
    QTest::newRow("comm box, typed lower case") << "SetFrm" << "Combo_Baud" << "9600,even,8,1" << false << "Command_OK3" << notValid << QByteArray();
    QTest::newRow("comm box, pasted lower case") << "SetFrm" << "Combo_Baud" << "9600,even,8,1" << true << "Command_OK3" << notValid << QByteArray();
    QTest::newRow("comm box, typed entry") << "SetFrm" << "Combo_Baud" << "19200,Even,8,1" << false << "Command_OK3" << QString()
                                           << QByteArray::fromHex("010600650007D817");
    QTest::newRow("port box, COM12") << "KV5510ADAM" << "Combo1" << "COM12" << false << "Command_Port" << noPort << QByteArray();
    QTest::newRow("port box, COM0") << "KV1730ADAM" << "Combo1" << "COM0" << false << "Command_Port" << noPort << QByteArray();
    QTest::newRow("port box, com2") << "SetFrm" << "Combo1" << "com2" << true << "Command_Port" << noPort << QByteArray();
    QTest::newRow("port box, COM2 typed") << "KV7710ADAM" << "Combo1" << "COM2" << false << "Command_Port" << QString() << QByteArray();
}

void TestTypedInput::onlyAListEntryIsAChoice()
{
    QFETCH(QString, window);
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(bool, paste);
    QFETCH(QString, button);
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2);
    Tool tool;
    ModuleWindow *w = tool.open(window);
    if (box != QLatin1String("Combo1"))
        QVERIFY(openPort(w));
    enterText(child<QComboBox>(w, box), text, paste);
    QTest::mouseClick(child<QPushButton>(w, button), Qt::LeftButton);
    QCOMPARE(child<QComboBox>(w, box)->currentText(), text); // nothing completed or replaced it
    QCOMPARE(env.messages, message.isEmpty() ? QStringList() : QStringList{message});
    if (box == QLatin1String("Combo1")) {
        QCOMPARE(w->portIsOpen(), message.isEmpty());
        QCOMPARE(simLine(w)->isOpen(), message.isEmpty());
    }
    QCOMPARE(simLine(w)->writes(), frame.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{frame});
}

void TestTypedInput::onlyAModelNameOpensAWindow_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("how"); // what follows the typing: click, Tab then click, Return
    QTest::addColumn<bool>("opens");
    QTest::newRow("lower case, click") << "kv5510adam" << "click" << false;
    QTest::newRow("lower case, Tab") << "kv5510adam" << "tab" << false;
    QTest::newRow("lower case, Return") << "kv5510adam" << "return" << false;
    QTest::newRow("prefix, click") << "KV55" << "click" << false;
    QTest::newRow("prefix, Return") << "KV55" << "return" << false;
    QTest::newRow("exact, click") << "KV5510ADAM" << "click" << true;
}

void TestTypedInput::onlyAModelNameOpensAWindow()
{
    QFETCH(QString, text);
    QFETCH(QString, how);
    QFETCH(bool, opens);
    GuiTestEnvironment env;
    Tool tool;
    tool.main.show();
    QApplication::setActiveWindow(&tool.main);
    enterText(tool.main.Combo_Model, text, false);
    if (how == QLatin1String("tab"))
        QTest::keyClick(tool.main.Combo_Model, Qt::Key_Tab);
    if (how == QLatin1String("return"))
        QTest::keyClick(tool.main.Combo_Model, Qt::Key_Return);
    QCOMPARE(tool.main.Combo_Model->currentText(), text);
    QCOMPARE(tool.main.Combo_Model->count(), 11); // Return adds nothing to the list
    QTest::mouseClick(tool.main.Command1[0], Qt::LeftButton);
    ModuleWindow *w = tool.registry.window(QStringLiteral("KV5510ADAM"));
    QCOMPARE(w && w->isVisible(), opens);
    QCOMPARE(env.messages, opens ? QStringList() : QStringList{QStringLiteral("Please select module model！")});
    delete w;
}

void TestTypedInput::onlyTheUsersChangeClosesThePort_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("closes");
    const QStringList focusOnly = {"click away", "Tab", "Return", "click into it, then Colse Port"};
    const QStringList changes = {"Down", "PageDown", "wheel", "pick from the list"};
    int i = 0;
    for (const QString &window : moduleWindows()) {
        // Every window, each action in turn: the rule lives in one place, so one each suffices.
        QTest::addRow("%s, %s", qPrintable(window), qPrintable(focusOnly[i % 4])) << window << focusOnly[i % 4] << false;
        QTest::addRow("%s, %s", qPrintable(window), qPrintable(changes[i % 4])) << window << changes[i % 4] << true;
        ++i;
    }
}

void TestTypedInput::onlyTheUsersChangeClosesThePort()
{
    QFETCH(QString, window);
    QFETCH(QString, action);
    QFETCH(bool, closes);
    GuiTestEnvironment env;
    Tool tool;
    ModuleWindow *w = tool.open(window);
    QVERIFY(openPort(w));
    // The baud box for keys and focus, the parity box for the wheel and the list.
    QComboBox *baud = w->Combo2;
    QTest::mouseClick(baud->lineEdit(), Qt::LeftButton);
    if (action == QLatin1String("click away")) {
        QTest::mouseClick(w->Text_Message->viewport(), Qt::LeftButton);
    } else if (action == QLatin1String("Tab")) {
        QTest::keyClick(baud, Qt::Key_Tab);
    } else if (action == QLatin1String("Return")) {
        enterText(baud, QStringLiteral("9600"), false);
        QTest::keyClick(baud, Qt::Key_Return);
        QCOMPARE(baud->count(), 4);
    } else if (action == QLatin1String("Down") || action == QLatin1String("PageDown")) {
        QTest::keyClick(baud, action == QLatin1String("Down") ? Qt::Key_Down : Qt::Key_PageDown);
    } else if (action == QLatin1String("wheel")) {
        wheel(w->Combo3, -120);
    } else if (action == QLatin1String("pick from the list")) {
        w->Combo3->showPopup();
        auto *view = w->Combo3->view();
        QTRY_VERIFY(view->isVisible());
        const QModelIndex even = view->model()->index(1, 0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(even).center());
    }
    if (action.endsWith(QLatin1String("Colse Port"))) {
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        QVERIFY(!w->portIsOpen() && !simLine(w)->isOpen());
        return;
    }
    QCOMPARE(w->portIsOpen(), !closes);
    QCOMPARE(simLine(w)->isOpen(), !closes);
    QCOMPARE(env.pauses, closes ? QList<int>{500} : QList<int>());
    QVERIFY(env.messages.isEmpty());
}

void TestTypedInput::timingLinesWithoutInterval_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QList<int>>("bad"); // lines of tm.rc given a field with no usable interval
    QTest::addColumn<QString>("message");
    QTest::newRow("one line of the window") << "KV1730ADAM" << QList<int>{5} << ": line 5 gives no interval";
    QTest::newRow("two lines of the window") << "KV1740ADAM" << QList<int>{4, 5} << ": lines 4, 5 give no interval";
    QTest::newRow("another window's line") << "KV5510ADAM" << QList<int>{5} << QString();
    QTest::newRow("combined window") << "KV7720ADAM" << QList<int>{20, 16} << ": lines 16, 20 give no interval";
}

void TestTypedInput::timingLinesWithoutInterval()
{
    QFETCH(QString, window);
    QFETCH(QList<int>, bad);
    QFETCH(QString, message);
    // A letter, a zero and an overflowing number in turn.
    const QList<QByteArray> fields = {"    x", "    0", "99999"};
    QList<QByteArray> lines = shortTimingFile().split('\n');
    for (int i = 0; i < bad.size(); ++i)
        lines[bad[i] - 1] = lines[bad[i] - 1].left(11) + fields[i % fields.size()] + "\r";
    GuiTestEnvironment env(lines.join('\n'));
    Tool tool;
    tool.open(window);
    QCOMPARE(env.messages, message.isEmpty() ? QStringList()
                                             : QStringList{QStringLiteral("Cannot read ") + sysFileLabel(QStringLiteral("tm.rc")) + message});
}

QTEST_MAIN(TestTypedInput)
#include "test_typedinput.moc"
