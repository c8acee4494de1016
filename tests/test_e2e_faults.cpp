// The adapter pulled out in the middle of an exchange, for every kind of window that is not the
// digital one: the analog input, analog output, combined and parameter windows on the real serial
// line against korvant-sim on a pseudo-terminal. Killing the simulator removes the far end of the
// line, as unplugging a USB adapter does.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "analoginputwindow.h"
#include "analogoutputwindow.h"
#include "combinedwindow.h"
#include "setfrm.h"

namespace {
constexpr int kWaitMs = 10000;
const QString kSerialFault = QStringLiteral("Serial fault, Please check the serial port");
const QString kNormal = QStringLiteral("Communication Data Normal！");

// What "idle" means for one window: the captions its buttons fall back to, and the timers that
// must all be off.
struct IdleState {
    QList<QPair<QPushButton *, QString>> captions;
    QList<WindowTimer *> timers;
};

// Starts the simulator with these modules, then creates the window on the real serial line and
// opens its port. Null when any step fails.
template <typename W>
std::unique_ptr<W> openOnSim(SimProcess &sim, const QStringList &simArgs, const std::function<ModuleWindow *()> &create)
{
    if (!sim.start(simArgs))
        return nullptr;
    // Room for the line time at 9600 baud and the pseudo-terminal.
    sim.writeSys(QStringLiteral("tm.rc"), shortTimingFile(200, 400, 200));
    sim.writeSys(QStringLiteral("set.rc"), "1\r\n9600\r\nNone\r\n");
    setSerialLineFactory({}); // the real QSerialPort line
    std::unique_ptr<W> w(qobject_cast<W *>(create()));
    if (!w)
        return nullptr;
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    if (!openPort(w.get()))
        return nullptr;
    return w;
}

// The adapter is pulled: the window says so exactly once, closes its port, turns its lamp black and
// stops everything that polls. Check QTest::currentTestFailed() after it.
void pullAdapter(SimProcess &sim, ModuleWindow *w, const PromptRecorder &prompts, const IdleState &idle)
{
    sim.kill();
    QTRY_COMPARE_WITH_TIMEOUT(w->Command_Port->text(), QStringLiteral("Open Port"), kWaitMs);
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QVERIFY(!w->MSComm1->isOpen());
    for (const auto &[button, caption] : idle.captions)
        QCOMPARE(button->text(), caption);
    // A time-out armed before the failure still runs out and is judged; after that all is quiet.
    for (WindowTimer *timer : idle.timers)
        QTRY_VERIFY2_WITH_TIMEOUT(!timer->isEnabled(), qPrintable(timer->objectName()), kWaitMs);
    QCOMPARE(prompts.messages, QStringList{kSerialFault});
}

// The adapter is back: the simulator runs again (with these modules) and "Open Port" works.
bool plugBackIn(SimProcess &sim, const QStringList &simArgs, ModuleWindow *w)
{
    return sim.start(simArgs) && openPort(w) && w->MSComm1->isOpen();
}

QStringList texts(const QVector<QLabel *> &labels)
{
    QStringList t;
    for (const QLabel *l : labels)
        t << l->text();
    return t;
}
} // namespace

class TestE2eFaults : public QObject
{
    Q_OBJECT
private slots:
    void analogInput();
    void analogOutput_data();
    void analogOutput();
    void combined_data();
    void combined();
    void parameterScan();
};

void TestE2eFaults::analogInput()
{
    PromptRecorder prompts;
    SimProcess sim; // stops the simulator however the test ends
    auto w = openOnSim<AnalogInputWindow>(sim, {"--module", "1730:1:2", "--holding", "0,0,0,0,0,0,0,0"},
                                          [] { return createTestWindow(QStringLiteral("KV1730ADAM")); });
    QVERIFY2(w, qPrintable(prompts.messages.join(QLatin1Char('|'))));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, kWaitMs);

    pullAdapter(sim, w.get(), prompts, {{{w->Command_OK1, "Acquisition"}}, {w->TM_Acquisition_A, w->TM_Overtime_A}});
    if (QTest::currentTestFailed())
        return;

    QVERIFY(plugBackIn(sim, {"--module", "1730:1:2", "--holding", "4095,2048,0,0,0,0,0,0"}, w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->AI_SHOW[0]->text(), QStringLiteral("20.00mA"), kWaitMs);
    QCOMPARE(w->AI_SHOW[1]->text(), QStringLiteral("10.00mA"));
    QCOMPARE(prompts.messages, QStringList{kSerialFault});
}

void TestE2eFaults::analogOutput_data()
{
    QTest::addColumn<bool>("writeFirst");
    // The write is on its way (sent, not yet judged) when the line goes.
    QTest::newRow("write outstanding") << true;
    // The line goes right after the port opened; "Validate" comes before the window noticed.
    QTest::newRow("right after open") << false;
}

void TestE2eFaults::analogOutput()
{
    QFETCH(bool, writeFirst);
    PromptRecorder prompts;
    SimProcess sim;
    auto w = openOnSim<AnalogOutputWindow>(sim, {"--module", "1720:1:2"},
                                           [] { return createTestWindow(QStringLiteral("KV1720ADAM")); });
    QVERIFY2(w, qPrintable(prompts.messages.join(QLatin1Char('|'))));
    w->HScroll1->setValue(4000);

    if (writeFirst) {
        QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
        QVERIFY(w->TM_Overtime_B->isEnabled());
        pullAdapter(sim, w.get(), prompts, {{{w->Command_OK2, "Validate"}}, {w->TM_Overtime_B}});
    } else {
        sim.kill();
        QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
        QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 06 00 00 0F A0 8C 42 "));
        pullAdapter(sim, w.get(), prompts, {{{w->Command_OK2, "Validate"}}, {w->TM_Overtime_B}});
    }
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Error！"));

    // With the port closed, "Validate" asks for it to be opened and sends nothing.
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(prompts.messages, (QStringList{kSerialFault, QStringLiteral("Please open serial port！")}));
    QVERIFY(w->Text_Send->toPlainText().isEmpty());

    QVERIFY(plugBackIn(sim, {"--module", "1720:1:2"}, w.get()));
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, kWaitMs);
    QCOMPARE(w->Text_Receive->toPlainText(), QStringLiteral("01 06 00 00 0F A0 8C 42 "));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("-> 01 06 00 00 0F A0 8C 42")), kWaitMs);
    QCOMPARE(prompts.messages.count(kSerialFault), 1);
}

void TestE2eFaults::combined_data()
{
    QTest::addColumn<int>("cycle");
    QTest::newRow("analog cycle") << int(CombinedWindow::kCycleA);
    QTest::newRow("digital cycle") << int(CombinedWindow::kCycleB);
}

void TestE2eFaults::combined()
{
    QFETCH(int, cycle);
    PromptRecorder prompts;
    SimProcess sim;
    auto w = openOnSim<CombinedWindow>(sim, {"--module", "7710:1:2", "--holding", "0,0,0,0,0,0", "--inputs", "0x00"},
                                       [] { return createTestWindow(QStringLiteral("KV7710ADAM")); });
    QVERIFY2(w, qPrintable(prompts.messages.join(QLatin1Char('|'))));
    QPushButton *start = cycle == CombinedWindow::kCycleA ? w->Command_OK1 : w->Command_OK2;
    QTest::mouseClick(start, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, kWaitMs);
    QCOMPARE(start->text(), QStringLiteral("Stop"));

    pullAdapter(sim, w.get(), prompts,
                {{{w->Command_OK1, "Acquisition"}, {w->Command_OK2, "Acquisition"}, {w->Command_OK3, "Validate"}},
                 {w->TM_Acquisition_A, w->TM_Acquisition_B, w->TM_Overtime_A, w->TM_Overtime_B, w->TM_Overtime_C}});
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(w->ResumeAcquisition, 0);

    QVERIFY(plugBackIn(sim, {"--module", "7710:1:2", "--holding", "4095,0,0,0,0,0", "--inputs", "0x05"}, w.get()));
    QTest::mouseClick(start, Qt::LeftButton);
    if (cycle == CombinedWindow::kCycleA) {
        QTRY_COMPARE_WITH_TIMEOUT(w->AI_SHOW[0]->text(), QStringLiteral("20.00mA"), kWaitMs);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(texts(w->DI_SHOW), (QStringList{"ON", "OFF", "ON", "OFF"}), kWaitMs);
    }
    QCOMPARE(prompts.messages, QStringList{kSerialFault});
}

void TestE2eFaults::parameterScan()
{
    PromptRecorder prompts;
    SimProcess sim;
    // A module that never answers keeps the scan going through all eight line settings.
    auto w = openOnSim<SetFrm>(sim, {"--module", "5510:1:2", "--fault", "silent"}, [] { return createSetFrm(); });
    QVERIFY2(w, qPrintable(prompts.messages.join(QLatin1Char('|'))));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(w->ScanStep >= 2, kWaitMs);

    pullAdapter(sim, w.get(), prompts,
                {{{w->Command_OK1, "Read"}, {w->Command_OK2, "Validate"}, {w->Command_OK3, "Validate"}},
                 {w->TM_Acquisition_A, w->TM_Overtime_A, w->TM_Overtime_B}});
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(w->ScanStep, qint16(0));

    QVERIFY(plugBackIn(sim, {"--module", "5510:7:2"}, w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Command_OK1->text(), QStringLiteral("Read"), kWaitMs);
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QVERIFY2(w->Text_Parameter->toPlainText().startsWith(QStringLiteral("Moudle address: 7")),
             qPrintable(w->Text_Parameter->toPlainText()));
    QVERIFY(w->portIsOpen());
    QCOMPARE(prompts.messages, QStringList{kSerialFault});
}

QTEST_MAIN(TestE2eFaults)
#include "test_e2e_faults.moc"
