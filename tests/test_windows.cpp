// The windows' wiring, as people use them on simulated modules: Main opens every model's window,
// each shows its model row, polls and writes through its buttons; the serial group; SetFrm's scan
// and writes. The rules behind the buttons are the core's and are tested there.
//
// What people type and leave behind in the editable boxes of every window: only the exact text of
// a list entry is a choice in the model, port and communication-parameter boxes; focus moving
// away or Return closes nothing and picks nothing; a user's change of the entry is a Click.

#include "support/guitest.h"

#include "decoders.h"
#include "models.h"
#include "modbus.h"
#include "setfrm.h"
#include "digitalwindow.h"
#include "toolwindows.h"

#include <QApplication>
#include <QGroupBox>
#include <QListView>
#include <QScrollBar>
#include <QWheelEvent>

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kFault = QStringLiteral("Serial fault, Please check the serial port");

// Each timer tells which line it was given: line n holds 30 + n, or 150 + n for the periods.
const QList<int> kPeriodLines{2, 5, 8, 11, 15, 19, 20};
QByteArray numberedTimingFile()
{
    QByteArray text;
    for (int n = 1; n <= 20; ++n)
        text += QStringLiteral("Line %1%2\r\n").arg(n, -6).arg((kPeriodLines.contains(n) ? 150 : 30) + n, 5).toLatin1();
    return text;
}

// The texts of the labels prefix_0, prefix_1, ... joined by '|'.
QString texts(QWidget *w, const QString &prefix)
{
    QStringList t;
    for (int i = 0; auto *l = child<QLabel>(w, prefix + QString::number(i)); ++i)
        t << l->text();
    return t.join('|');
}

// Indicators prefix_0, ... as '1' for "ON" in green, '0' for "OFF" in white, '?' for anything else.
QString states(QWidget *w, const QString &prefix)
{
    QString out;
    for (int i = 0; auto *l = child<QLabel>(w, prefix + QString::number(i)); ++i) {
        const QString style = l->styleSheet();
        out += l->text() == QLatin1String("ON") && style.contains(QLatin1String("#00FF00"))    ? '1'
               : l->text() == QLatin1String("OFF") && style.contains(QLatin1String("#FFFFFF")) ? '0' : '?';
    }
    return out;
}

QString message(ModuleWindow *w)
{
    return w->Text_Message->toPlainText();
}

// The port button's caption and the lamp beside it.
QString port(ModuleWindow *w)
{
    return w->Command_Port->text() + QLatin1Char(' ') + w->Shape1->fillColor().name();
}

// The tool with Main shown; the windows it opened go with it.
struct Tool : ToolWindows {
    Tool() { main.show(); }
    ~Tool()
    {
        for (const ModelRow &row : modelTable())
            delete registry.window(row.name);
        delete registry.window(QStringLiteral("SetFrm"));
    }
    ModuleWindow *choose(int modelIndex)
    {
        main.Combo_Model->setCurrentIndex(modelIndex);
        QTest::mouseClick(main.Command1[0], Qt::LeftButton);
        return registry.window(main.Combo_Model->currentText());
    }
    ModuleWindow *open(const QString &name)
    {
        ModuleWindow *w = registry.open(name);
        QApplication::setActiveWindow(w);
        return w;
    }
};

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT
private slots:
    void everyModel_data()
    {
        QTest::addColumn<int>("index");
        for (const ModelRow &row : modelTable())
            QTest::newRow(qPrintable(row.name)) << int(&row - modelTable().data());
    }

    // Opened from Main: the window shows its row, each read cycle polls module 7 (typed into its
    // address box, the other read boxes say "x") and shows it, a damaged reply leaves the values, a
    // write to module 9 (the write's box) suspends the running read and reaches that module, and
    // closing brings Main back. The frames, captions and conversions are the model row's (pinned in
    // test_core); register 0 of an analog module holds 253, the others 0.
    void everyModel()
    {
        QFETCH(int, index);
        const ModelRow &row = modelTable()[index];
        GuiTestEnvironment env(numberedTimingFile());
        SimModule *module = env.bus.addModule(row.name.mid(2, 4).toInt(), 7, 2);
        module->setDiscreteInput(0, true);
        module->setDiscreteInput(2, true);
        module->setHolding(0, 253);
        SimModule *target = env.bus.addModule(row.name.mid(2, 4).toInt(), 9, 2);
        Tool tool;
        QPointer<ModuleWindow> w = tool.choose(index);
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->objectName() + w->windowTitle(), row.name + row.name);
        QCOMPARE(w->size(), QSize(row.twoColumns() ? 625 : 402, 472)); // 15 twips a pixel at 96 DPI
        QStringList titles;
        for (QGroupBox *g : w->findChildren<QGroupBox *>())
            if (g != w->Frame1)
                titles << g->title();
        QStringList frames{row.analogFrame, row.inputFrame, row.outputFrame};
        frames.removeAll(QString());
        QCOMPARE(titles, row.kind == PanelKind::AnalogOutput ? QStringList{" Analog Output "} : frames);
        QCOMPARE(texts(w, "Label18_"), (row.analogCaptions + row.inputCaptions).join('|'));
        QCOMPARE(texts(w, "Label15_"), row.outputCaptions.join('|'));
        const QList<std::pair<const char *, int>> timers{{"TM_Overtime_A", row.lineOvertimeA},
            {"TM_Overtime_B", row.lineOvertimeB}, {"TM_Overtime_C", row.lineOvertimeC},
            {"TM_Acquisition_A", row.lineAcquisitionA}, {"TM_Acquisition_B", row.lineAcquisitionB}};
        for (const auto &[name, line] : timers) {
            auto *t = child<WindowTimer>(w, QString::fromLatin1(name));
            QVERIFY2(line ? t && t->interval() == (QByteArray(name).contains("Acq") ? 150 : 30) + line : !t, name);
        }
        if (auto *box = child<QComboBox>(w, QStringLiteral("Combo_Addr_%1").arg(row.kind == PanelKind::Combined ? 2 : 1)))
            enterText(box, QStringLiteral("9"), false);
        QVERIFY(openPort(w));

        const QVector<AcquisitionCycle::Read> reads = modelReads(row);
        for (int c = 0; c < reads.size(); ++c) {
            for (int other = 0; other < reads.size(); ++other) // a cycle reading another's box would say so
                enterText(child<QComboBox>(w, QStringLiteral("Combo_Addr_%1").arg(other)), other == c ? "7" : "x", false);
            auto *button = child<QPushButton>(w, QStringLiteral("Command_OK%1").arg(c + 1));
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(button->text(), QStringLiteral("Stop"));
            if (c > 0) // the cycles share the port
                QCOMPARE(child<QPushButton>(w, QStringLiteral("Command_OK1"))->text(), QStringLiteral("Acquisition"));
            const QString request = HexText(readRequest(7, reads[c].function, 0, reads[c].count));
            QTRY_COMPARE(message(w) + w->Text_Send->toPlainText(), kNormal + request);
            const QByteArray reply = bytesFromHexText(w->ReceiveHex);
            if (reads[c].function == 0x03) // register 0 holds 253
                QCOMPARE(texts(w, "AI_SHOW_") + reply.mid(3, 2).toHex(),
                         analogTexts(reply, row.conversion, reads[c].count).join('|') + "00fd");
            else
                QCOMPARE(states(w, "DI_SHOW_"), QStringLiteral("1010000000000000").left(reads[c].count));
            QCOMPARE(w->Text_Receive->toPlainText(), w->ReceiveHex);
        }
        // A reply with a bad CRC says so and changes nothing shown.
        const QString before = texts(w, "AI_SHOW_") + states(w, "DI_SHOW_");
        module->setDiscreteInput(0, false);
        module->setHolding(0, 1);
        module->faults.badCrc = !reads.isEmpty();
        if (!reads.isEmpty()) {
            QTRY_COMPARE(message(w), kError);
            QCOMPARE(texts(w, "AI_SHOW_") + states(w, "DI_SHOW_") + w->Text_Receive->toPlainText(), before);
        }
        module->faults.badCrc = false;

        const bool analogOutput = row.kind == PanelKind::AnalogOutput; // its button keeps the name Command_OK2
        auto *validate = child<QPushButton>(w, QStringLiteral("Command_OK%1").arg(analogOutput ? 2 : reads.size() + 1));
        if (row.outputs() > 0) {
            QTest::mouseClick(child<QLabel>(w, QStringLiteral("DO_SHOW_0")), Qt::LeftButton);
            QTest::mouseClick(child<QLabel>(w, QStringLiteral("DO_SHOW_2")), Qt::LeftButton);
            QTest::mouseClick(child<QLabel>(w, QStringLiteral("DO_SHOW_2")), Qt::LeftButton);
            QCOMPARE(states(w, "DO_SHOW_"), QStringLiteral("1").leftJustified(row.outputs(), '0'));
        } else if (analogOutput) {
            // Arrows step 1, the track 1000; a drag shows only when the thumb is let go.
            auto *slider = child<QScrollBar>(w, QStringLiteral("HScroll1"));
            slider->setSliderDown(true);
            slider->setSliderPosition(16500);
            QCOMPARE(child<QLabel>(w, "Label_I")->text(), QStringLiteral("0.00"));
            slider->setSliderDown(false);
            QCOMPARE(child<QLabel>(w, "Label_I")->text(), QStringLiteral("16.50"));
            slider->setValue(0);
            slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            for (int i = 0; i < 4; ++i)
                slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
            QCOMPARE(child<QLabel>(w, "Label_I")->text(), QStringLiteral("4.00"));
        }
        if (validate) {
            QCOMPARE(validate->text(), QStringLiteral("Validate"));
            QList<bool> on(row.outputs(), false);
            if (!on.isEmpty())
                on[0] = true;
            const QString frame = HexText(row.outputs() ? writeCoilsRequest(9, on) : writeRegisterRequest(9, 0, 4001));
            if (reads.isEmpty()) // clicks and the slider alone send nothing
                QVERIFY(simLine(w)->writes().isEmpty());
            QTest::mouseClick(validate, Qt::LeftButton);
            QCOMPARE(w->Text_Send->toPlainText(), frame);
            QCOMPARE(env.pauses, reads.isEmpty() ? QList<int>() : QList<int>{300}); // a running read waits
            QTRY_COMPARE(message(w), kNormal);
            QCOMPARE(row.outputs() ? int(target->coil(0)) + int(target->coil(2)) : int(target->holding(0)),
                     row.outputs() ? 1 : 4001);
            if (!reads.isEmpty()) // and polls on afterwards
                QTRY_COMPARE(w->Text_Send->toPlainText().left(6), QStringLiteral("07 0%1 ").arg(reads.last().function));
        }
        if (!reads.isEmpty()) {
            auto *running = child<QPushButton>(w, QStringLiteral("Command_OK%1").arg(reads.size()));
            QTest::mouseClick(running, Qt::LeftButton);
            QCOMPARE(running->text(), QStringLiteral("Acquisition"));
        }
        QVERIFY(env.messages.isEmpty());
        w->close();
        QVERIFY(tool.main.isVisible());
        QTRY_VERIFY(!w);
    }

    // The " Communication Set" frame: set.rc in the boxes, open and close, the faults of a port, the
    // receive buffer, and set.rc written on close (a line that fails while polling is test_e2e's).
    void serialGroup()
    {
        GuiTestEnvironment env(shortTimingFile(), "3\r\n19200\r\nEven\r\n");
        Tool tool;
        auto *w = static_cast<DigitalWindow *>(tool.choose(4));
        QCOMPARE(w->Frame1->title(), QStringLiteral(" Communication Set"));
        QCOMPARE(w->Combo1->count(), 9);
        QCOMPARE(w->Combo1->currentText() + w->Combo2->currentText() + w->Combo3->currentText() + w->Combo4->currentText()
                     + w->Combo5->currentText(), QStringLiteral("COM319200Even81"));
        QVERIFY(!w->Combo4->isEnabled() && !w->Combo5->isEnabled());
        QCOMPARE(port(w), QStringLiteral("Open Port #000000"));
        QVERIFY(openPort(w));
        QCOMPARE(port(w), QStringLiteral("Colse Port #00ff00"));
        QCOMPARE(simLine(w)->lastSettings() + SerialValues::instance().CommSettings, QStringLiteral("19200,E,8,119200,E,8,1"));
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        QCOMPARE(port(w), QStringLiteral("Open Port #000000"));
        QCOMPARE(env.pauses, QList<int>{500});
        // Parity words as letters; one it does not know keeps the letter of the previous open.
        enterText(w->Combo3, QStringLiteral("Odd"), false);
        QVERIFY(openPort(w));
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        enterText(w->Combo3, QStringLiteral("odd"), false);
        QVERIFY(openPort(w));
        QCOMPARE(simLine(w)->lastSettings(), QStringLiteral("19200,O,8,1"));
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        enterText(w->Combo3, QStringLiteral("Even"), false);
        // A port that is missing or taken, and a rate the line refuses.
        const auto restorePorts = qScopeGuard([] { SimLine::resetPorts(); });
        for (const auto fault : {&SimLine::setPortMissing, &SimLine::setPortInUse}) {
            fault(3, true);
            QVERIFY(!openPort(w));
            SimLine::resetPorts();
        }
        enterText(w->Combo2, QStringLiteral("1234x"), true);
        QVERIFY(!openPort(w));
        QCOMPARE(env.messages, (QStringList{QStringLiteral("Serial port does not exist！"),
                                            QStringLiteral("Serial port is already open！"), kFault}));
        QCOMPARE(port(w), QStringLiteral("Open Port #000000"));
        enterText(w->Combo2, QStringLiteral("9600"), false);
        QVERIFY(openPort(w));
        // Bytes arriving in pieces are joined; a flood is cut to the longest reply and a margin.
        simLine(w)->injectBytes(QByteArray::fromHex("0102"));
        simLine(w)->injectBytes(QByteArray::fromHex("000A44"));
        QTRY_COMPARE(w->ReceiveHex, QStringLiteral("01 02 00 0A 44 "));
        for (int i = 0; i < 16; ++i)
            simLine(w)->injectBytes(QByteArray(4096, '\xA5'));
        QTRY_COMPARE(w->ReceiveHex.size(), (8 + 16) * 3);
        // Closing writes the boxes to set.rc; the next window of the model starts from them.
        w->Combo1->setCurrentIndex(4);
        w->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("5\r\n9600\r\nEven\r\n"));
        QTRY_VERIFY(!tool.registry.window(QStringLiteral("KV5510ADAM")));
        ModuleWindow *again = tool.choose(4);
        QCOMPARE(again->Combo1->currentText() + again->Combo2->currentText() + again->Command_Port->text(),
                 QStringLiteral("COM59600Open Port"));
        again->Combo1->setCurrentIndex(-1);
        again->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")).left(3), QByteArray("0\r\n"));
    }

    // SetFrm: its own fixed timers, the scan that finds a module, both writes, and a scan the port's
    // closing or failing ends without reopening it.
    void parameterWindow()
    {
        GuiTestEnvironment env(shortTimingFile(5, 5, 5));
        SimModule *module = env.bus.addModule(1740, 4, 3);
        Tool tool;
        QCOMPARE(tool.main.objectName() + '|' + tool.main.windowTitle(), QStringLiteral("Main|KORVANT Debugging Software_V1.42B"));
        QCOMPARE(tool.main.Combo_Model->currentText() + '|' + tool.main.Command1[0]->text() + '|' + tool.main.Command1[1]->text(),
                 QStringLiteral("Combo_Model|Function Testing|Parameter Setting"));
        // "Parameter Setting" opens SetFrm whatever the model box says.
        QTest::mouseClick(tool.main.Command1[1], Qt::LeftButton);
        auto *w = static_cast<SetFrm *>(tool.registry.window(QStringLiteral("SetFrm")));
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Parameter Setting"));
        QCOMPARE(QList<int>({w->TM_Acquisition_A->interval(), w->TM_Overtime_A->interval(), w->TM_Overtime_B->interval()}),
                 QList<int>({150, 120, 300}));
        QCOMPARE(w->Combo_Baud->count(), 8);
        QCOMPARE(w->Combo_Baud->currentText() + w->Command_OK1->text(), QStringLiteral("9600,None,8,1Read"));
        QVERIFY(openPort(w));
        for (QPushButton *b : std::as_const(w->Explain))
            b->click();
        QCOMPARE(env.messages, QStringList(2, kExplainMessage));
        QVERIFY(simLine(w)->writes().isEmpty());
        env.messages.clear();
        w->Command_OK1->click();
        QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(w->Command_OK1->text() == QStringLiteral("Read") && !w->TM_Overtime_A->isEnabled(), 5000);
        QCOMPARE(w->Text_Parameter->toPlainText(),
                 QStringLiteral("Moudle address: 4\nCommunication parameters: 19200,None,8,1\nMoudle model: KV1740ADAM"));
        QCOMPARE(message(w) + w->Combo2->currentText() + w->Combo3->currentText() + simLine(w)->lastSettings(),
                 kNormal + "19200None19200,N,8,1");
        QCOMPARE(simLine(w)->writes(), QList<QByteArray>(3, parameterReadRequest()));
        QCOMPARE(w->ScanStep, qint16(0));
        // The new address, broadcast; then module 9 to 38400,Even.
        enterText(w->Combo_Addr[0], QStringLiteral("9"), false);
        w->Command_OK2->click();
        QTRY_COMPARE(message(w), kNormal);
        QCOMPARE(int(module->address()), 9);
        enterText(w->Combo_Addr[0], QStringLiteral("x"), false); // the parameter write must not read it
        enterText(w->Combo_Addr[1], QStringLiteral("9"), true);
        enterText(w->Combo_Baud, QStringLiteral("38400,Even,8,1"), false);
        w->Command_OK3->click();
        QTRY_COMPARE(message(w), kNormal);
        QCOMPARE(module->code(), 8);
        QCOMPARE(w->Text_Parameter->toPlainText().left(17), QStringLiteral("Moudle address: 4"));
        QVERIFY(env.messages.isEmpty());
        // A scan ends when the port is closed or fails, and never reopens it.
        module->faults.silent = true;
        for (const bool fails : {false, true}) {
            QVERIFY(w->portIsOpen() || openPort(w));
            w->Command_OK1->click();
            QTRY_VERIFY(w->ScanStep >= 2);
            fails ? simLine(w)->fail() : w->Command_Port->click();
            const int opens = simLine(w)->openCount();
            QTRY_VERIFY(w->Command_OK1->text() == QStringLiteral("Read") && !w->TM_Overtime_A->isEnabled());
            QVERIFY(!w->TM_Acquisition_A->isEnabled() && w->ScanStep == 0);
            QVERIFY(!w->portIsOpen() && !w->MSComm1->isOpen());
            QCOMPARE(simLine(w)->openCount(), opens);
        }
        QCOMPARE(env.messages, QStringList{kFault});
        w->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")).left(3), QByteArray("1\r\n"));
        QVERIFY(tool.main.isVisible());
    }

    void onlyAListEntryIsAChoice()
    {
        const QString notValid = QStringLiteral("Communication parameters are not valid！");
        const QString noPort = QStringLiteral("Serial port does not exist！");
        // An empty message: the choice is taken (by Command_OK3, the parameter write, or Command_Port);
        // frame: what reaches the module.
        const struct { const char *window, *box, *text; bool paste; QString message; QByteArray frame; } cases[] = {
            {"SetFrm", "Combo_Baud", "9600", false, notValid, {}}, {"SetFrm", "Combo_Baud", "9600", true, notValid, {}},
            {"SetFrm", "Combo_Baud", "9600,even,8,1", false, notValid, {}},
            {"SetFrm", "Combo_Baud", "9600,even,8,1", true, notValid, {}},
            {"SetFrm", "Combo_Baud", "19200,Even,8,1", false, {}, QByteArray::fromHex("010600650007D817")},
            {"KV5510ADAM", "Combo1", "COM12", false, noPort, {}}, {"KV1730ADAM", "Combo1", "COM0", false, noPort, {}},
            {"SetFrm", "Combo1", "com2", true, noPort, {}}, {"KV7710ADAM", "Combo1", "COM2", false, {}, {}}};
        for (const auto &c : cases) {
            GuiTestEnvironment env;
            env.bus.addModule(5510, 1, 2);
            Tool tool;
            ModuleWindow *w = tool.open(QString::fromLatin1(c.window));
            auto *box = child<QComboBox>(w, QString::fromLatin1(c.box));
            const bool portBox = box == w->Combo1;
            QVERIFY(portBox || openPort(w));
            enterText(box, QString::fromLatin1(c.text), c.paste);
            QTest::mouseClick(portBox ? w->Command_Port : child<QPushButton>(w, QStringLiteral("Command_OK3")), Qt::LeftButton);
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
            QApplication::setActiveWindow(&tool.main);
            enterText(tool.main.Combo_Model, QString::fromLatin1(text), false);
            if (key != Qt::Key_unknown)
                QTest::keyClick(tool.main.Combo_Model, key);
            QCOMPARE(tool.main.Combo_Model->currentText(), QString::fromLatin1(text));
            QCOMPARE(tool.main.Combo_Model->count(), 11); // Return adds nothing to the list
            QTest::mouseClick(tool.main.Command1[0], Qt::LeftButton);
            ModuleWindow *w = tool.registry.window(QStringLiteral("KV5510ADAM"));
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

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
