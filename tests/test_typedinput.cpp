// What people type and leave behind in the editable boxes of every window: only the exact text of
// a list entry is a choice in the model, port and communication-parameter boxes; focus moving
// away or Return closes nothing and picks nothing; a user's change of the entry is a Click.
#include "support/guitest.h"

#include "models.h"
#include "setfrm.h"
#include "toolwindows.h"

#include <QListView>
#include <QWheelEvent>

namespace {

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

} // namespace

class TestTypedInput : public QObject
{
    Q_OBJECT
private slots:
    void onlyAListEntryIsAChoice()
    {
        const QString notValid = QStringLiteral("Communication parameters are not valid！");
        const QString noPort = QStringLiteral("Serial port does not exist！");
        // An empty message: the choice is taken; frame: what reaches the module.
        const struct {
            const char *window, *box, *text;
            bool paste;
            const char *button;
            QString message;
            QByteArray frame;
        } cases[] = {
            {"SetFrm", "Combo_Baud", "9600", false, "Command_OK3", notValid, {}},
            {"SetFrm", "Combo_Baud", "9600", true, "Command_OK3", notValid, {}},
            {"SetFrm", "Combo_Baud", "9600,even,8,1", false, "Command_OK3", notValid, {}},
            {"SetFrm", "Combo_Baud", "9600,even,8,1", true, "Command_OK3", notValid, {}},
            {"SetFrm", "Combo_Baud", "19200,Even,8,1", false, "Command_OK3", {}, QByteArray::fromHex("010600650007D817")},
            {"KV5510ADAM", "Combo1", "COM12", false, "Command_Port", noPort, {}},
            {"KV1730ADAM", "Combo1", "COM0", false, "Command_Port", noPort, {}},
            {"SetFrm", "Combo1", "com2", true, "Command_Port", noPort, {}},
            {"KV7710ADAM", "Combo1", "COM2", false, "Command_Port", {}, {}}};
        for (const auto &c : cases) {
            GuiTestEnvironment env;
            env.bus.addModule(5510, 1, 2);
            Tool tool;
            ModuleWindow *w = tool.open(QString::fromLatin1(c.window));
            auto *box = child<QComboBox>(w, QString::fromLatin1(c.box));
            const bool portBox = box == w->Combo1;
            QVERIFY(portBox || openPort(w));
            enterText(box, QString::fromLatin1(c.text), c.paste);
            QTest::mouseClick(child<QPushButton>(w, QString::fromLatin1(c.button)), Qt::LeftButton);
            QCOMPARE(box->currentText(), QString::fromLatin1(c.text)); // nothing completed or replaced it
            QCOMPARE(env.messages, c.message.isEmpty() ? QStringList() : QStringList{c.message});
            QVERIFY(!portBox || (w->portIsOpen() == c.message.isEmpty() && simLine(w)->isOpen() == c.message.isEmpty()));
            QCOMPARE(simLine(w)->writes(), c.frame.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{c.frame});
        }
    }

    // Typed, then a click on "Function Testing", Tab first or Return.
    void onlyAModelNameOpensAWindow()
    {
        const QList<std::pair<const char *, Qt::Key>> cases{{"kv5510adam", Qt::Key_unknown}, {"kv5510adam", Qt::Key_Tab},
            {"kv5510adam", Qt::Key_Return}, {"KV55", Qt::Key_unknown}, {"KV55", Qt::Key_Return}, {"KV5510ADAM", Qt::Key_unknown}};
        for (const auto &[text, key] : cases) {
            GuiTestEnvironment env;
            Tool tool;
            tool.main.show();
            QApplication::setActiveWindow(&tool.main);
            enterText(tool.main.Combo_Model, QString::fromLatin1(text), false);
            if (key != Qt::Key_unknown)
                QTest::keyClick(tool.main.Combo_Model, key);
            QCOMPARE(tool.main.Combo_Model->currentText(), QString::fromLatin1(text));
            QCOMPARE(tool.main.Combo_Model->count(), 11); // Return adds nothing to the list
            QTest::mouseClick(tool.main.Command1[0], Qt::LeftButton);
            std::unique_ptr<ModuleWindow> w(tool.registry.window(QStringLiteral("KV5510ADAM")));
            const bool opens = QByteArray(text) == "KV5510ADAM";
            QCOMPARE(w && w->isVisible(), opens);
            QCOMPARE(tool.main.isVisible(), !opens);
            QCOMPARE(env.titles + env.messages, opens ? QStringList() : (QStringList{"Prompt", "Please select module model！"}));
        }
    }

    // The rule lives in the serial group all windows share: each action once, each in another window.
    void onlyTheUsersChangeClosesThePort_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("action");
        const char *actions[] = {"click away", "Tab", "Return", "click into it, then Colse Port", "Down", "PageDown",
                                 "wheel", "pick from the list"};
        for (int i = 0; i < 8; ++i) {
            const QString window = i == 7 ? QStringLiteral("SetFrm") : modelTable()[i * 3 % 11].name;
            QTest::addRow("%s, %s", qPrintable(window), actions[i]) << window << QString::fromLatin1(actions[i]);
        }
    }

    void onlyTheUsersChangeClosesThePort()
    {
        QFETCH(QString, window);
        QFETCH(QString, action);
        GuiTestEnvironment env;
        Tool tool;
        ModuleWindow *w = tool.open(window);
        QVERIFY(openPort(w));
        // The baud box for keys and focus, the parity box for the wheel and the list.
        QComboBox *baud = w->Combo2;
        QTest::mouseClick(baud->lineEdit(), Qt::LeftButton);
        if (action == QLatin1String("click away")) {
            QTest::mouseClick(w->Text_Message->viewport(), Qt::LeftButton);
        } else if (action == QLatin1String("Tab") || action.endsWith(QLatin1String("Down"))) {
            QTest::keyClick(baud, action == QLatin1String("Tab")    ? Qt::Key_Tab
                                  : action == QLatin1String("Down") ? Qt::Key_Down
                                                                    : Qt::Key_PageDown);
        } else if (action == QLatin1String("Return")) {
            enterText(baud, QStringLiteral("9600"), false);
            QTest::keyClick(baud, Qt::Key_Return);
            QCOMPARE(baud->count(), 4);
        } else if (action == QLatin1String("wheel")) {
            const QPointF at(w->Combo3->width() / 2.0, w->Combo3->height() / 2.0);
            QWheelEvent e(at, w->Combo3->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(w->Combo3, &e);
        } else if (action == QLatin1String("pick from the list")) {
            w->Combo3->showPopup();
            auto *view = w->Combo3->view();
            QTRY_VERIFY(view->isVisible());
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
        }
        const bool closes = action == QLatin1String("wheel") || action.startsWith(QLatin1String("pick"))
                            || action.endsWith(QLatin1String("Down"));
        if (action.endsWith(QLatin1String("Colse Port")))
            QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        else
            QCOMPARE(env.pauses, closes ? QList<int>{500} : QList<int>());
        QCOMPARE(w->portIsOpen(), !closes && !action.endsWith(QLatin1String("Port")));
        QCOMPARE(simLine(w)->isOpen(), w->portIsOpen());
        QVERIFY(env.messages.isEmpty());
    }
};

QTEST_MAIN(TestTypedInput)
#include "test_typedinput.moc"
