// The two combined windows against simulated modules on the in-process line: two read cycles
// that exclude each other, and a write that suspends and resumes whichever of them runs.
#include "support/guitest.h"

#include "combinedwindow.h"
#include "modbus.h"

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kOpenPort = QStringLiteral("Please open serial port！");
const QString kNoAddress = QStringLiteral("Module Address Not Selected！");
const QString kAcquisition = QStringLiteral("Acquisition");
const QString kStop = QStringLiteral("Stop");
const QByteArray kReply7710 = QByteArray::fromHex("01030C080008000800080008000800F60B"); // six times 2048
const QByteArray kReply7720 = QByteArray::fromHex("0103080019001A03E9FFFF94D4");         // 25, 26, 1001, 65535
constexpr int A = CombinedWindow::kCycleA, B = CombinedWindow::kCycleB;

// A window on module 1 of its model (silent for tests that feed the replies themselves).
struct Rig {
    GuiTestEnvironment env;
    SimModule *module;
    std::unique_ptr<CombinedWindow> w;
    explicit Rig(const QString &model = QStringLiteral("KV7710ADAM"), const QByteArray &timing = shortTimingFile())
        : env(timing), module(env.bus.addModule(model.mid(2, 4).toInt(), 1, 2)),
          w(static_cast<CombinedWindow *>(createTestWindow(model)))
    {
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
    }
};

QByteArray framed(const QByteArray &payload)
{
    return Crc16(payload, std::uint8_t(payload.size() - 1));
}

// The controls of one read cycle, and the request it sends to module 1 of a KV7710ADAM.
struct Cycle {
    QPushButton *button;
    WindowTimer *timer;
    QString request;
};
Cycle cycle(CombinedWindow *w, int c)
{
    if (c == A)
        return {w->Command_OK1, w->TM_Acquisition_A, QStringLiteral("01 03 00 00 00 06 C5 C8 ")};
    return {w->Command_OK2, w->TM_Acquisition_B, QStringLiteral("01 02 00 00 00 04 79 C9 ")};
}

// The indicators as '1' for "ON" in green, '0' for "OFF" in white, '?' for anything else.
template <typename Label>
QString states(const QVector<Label *> &indicators)
{
    QString out;
    for (const Label *l : indicators) {
        const bool on = l->text() == QLatin1String("ON") && l->styleSheet().contains(QLatin1String("color: #00FF00"));
        const bool off = l->text() == QLatin1String("OFF") && l->styleSheet().contains(QLatin1String("color: #FFFFFF"));
        out += on ? '1' : off ? '0' : '?';
    }
    return out;
}

QStringList texts(const QVector<QLabel *> &labels)
{
    QStringList list;
    for (const QLabel *l : labels)
        list << l->text();
    return list;
}

// Function codes of the frames written since frame `from`.
QList<int> functionsSince(ModuleWindow *w, qsizetype from)
{
    QList<int> functions;
    for (const QByteArray &frame : simLine(w)->writes().mid(from))
        functions << std::uint8_t(frame.at(1));
    return functions;
}

// One exchange of a cycle driven by hand: the tick sends, the bytes arrive, the time-out judges.
void readExchange(CombinedWindow *w, int c, const QByteArray &reply)
{
    c == A ? w->TM_Acquisition_A_Timer() : w->TM_Acquisition_B_Timer();
    simLine(w)->injectBytes(reply);
    c == A ? w->TM_Overtime_A_Timer() : w->TM_Overtime_B_Timer();
}

void cycleRows()
{
    QTest::addColumn<int>("c");
    QTest::newRow("analog") << A;
    QTest::newRow("digital") << B;
}
} // namespace

class TestCombined : public QObject
{
    Q_OBJECT
private slots:
    void layout_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("analogCaptions");
        QTest::newRow("7710") << "KV7710ADAM" << QStringList{"AI_1", "AI_2", "AI_3 ", "AI_4 ", "AI_5", "AI_6"};
        QTest::newRow("7720") << "KV7720ADAM" << QStringList{"T_1", "T_2", "T_3 ", "T_4 "};
    }
    void layout()
    {
        QFETCH(QString, model);
        QFETCH(QStringList, analogCaptions);
        // Every line its own interval, so a timer fed from the wrong line shows.
        QByteArray timing;
        for (int line = 1; line <= 20; ++line)
            timing += QStringLiteral("Line %1%2\r\n").arg(line, -6).arg(1000 + line, 5).toLatin1();
        Rig rig(model, timing);
        CombinedWindow *w = rig.w.get();
        QCOMPARE(w->windowTitle() + '|' + w->Frame2->title() + '|' + w->Frame7->title() + '|' + w->Frame6->title(),
                 model + "| Analog Input | Digital Input | Digital Output ");
        QCOMPARE(w->Command_OK1->text() + w->Command_OK2->text() + w->Command_OK3->text(), "AcquisitionAcquisitionValidate");
        QCOMPARE(w->size(), QSize(twips(9375), twips(7080)));
        // Middle column as tall as the serial frame; the right column split between the two others.
        const QRect serial = w->Frame1->geometry(), analog = w->Frame2->geometry();
        const QRect in = w->Frame7->geometry(), out = w->Frame6->geometry();
        QVERIFY(analog.top() == serial.top() && analog.bottom() == serial.bottom() && analog.left() > serial.right());
        QVERIFY(in.left() > analog.right() && in.left() == out.left() && in.bottom() < out.top());
        QVERIFY(in.top() == serial.top() && out.bottom() == serial.bottom() && in.width() == analog.width());
        QCOMPARE(texts(w->Label18), analogCaptions + QStringList({"DI_01", "DI_02", "DI_03", "DI_04"}));
        QCOMPARE(texts(w->Label15), QStringList({"DO_01", "DO_02", "DO_03", "DO_04"}));
        QCOMPARE(child(w, QStringLiteral("Label18_%1").arg(analogCaptions.size() + 3))->parentWidget(), w->Frame7);
        QVERIFY(child(w, "DI_SHOW_3") == w->DI_SHOW[3] && child(w, "DO_SHOW_3") == w->DO_SHOW[3]);
        QCOMPARE(child(w, QStringLiteral("AI_SHOW_%1").arg(analogCaptions.size() - 1)), w->AI_SHOW.last());
        QCOMPARE(states(w->DI_SHOW) + states(w->DO_SHOW), QStringLiteral("00000000"));
        QCOMPARE(texts({w->Label6, w->Label17, w->Label16}), QStringList(3, "Moudle Address"));
        QCOMPARE(w->Combo_Addr[2]->parentWidget(), w->Frame6);
        const QList<int> intervals = {w->TM_Overtime_A->interval(), w->TM_Overtime_B->interval(),
                                      w->TM_Overtime_C->interval(), w->TM_Acquisition_A->interval(),
                                      w->TM_Acquisition_B->interval()};
        QCOMPARE(intervals, QList<int>({1016, 1017, 1018, 1019, 1020}));
        QVERIFY(rig.env.messages.isEmpty());
    }

    void analogValues_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QList<int>>("registers");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("request");
        QTest::newRow("7710 all 2048") << "KV7710ADAM" << QList<int>(6, 2048) << QStringList(6, "10.00mA")
                                       << "01 03 00 00 00 06 C5 C8 ";
        QTest::newRow("7720 sensors") << "KV7720ADAM" << QList<int>{25, 26, 1001, 65535}
                                      << QStringList{"25℃", "26℃", "Not Connect", "Not Connect"} << "01 03 00 00 00 04 44 09 ";
    }
    void analogValues()
    {
        QFETCH(QString, model);
        QFETCH(QList<int>, registers);
        QFETCH(QStringList, shown);
        QFETCH(QString, request);
        Rig rig(model);
        CombinedWindow *w = rig.w.get();
        for (int i = 0; i < registers.size(); ++i)
            rig.module->setHolding(i, std::uint16_t(registers[i]));
        QVERIFY(openPort(w));
        w->Command_OK1->click();
        QCOMPARE(w->Command_OK1->text(), kStop);
        QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
        QCOMPARE(w->Text_Send->toPlainText(), request);
        QCOMPARE(texts(w->AI_SHOW), shown);
        // A changed register shows at a later exchange.
        rig.module->setHolding(0, 4095);
        const bool kv7710 = model.contains(QLatin1String("7710"));
        QTRY_COMPARE(w->AI_SHOW[0]->text(), kv7710 ? QStringLiteral("20.00mA") : QStringLiteral("Not Connect"));
        // The other model's reply, good but of the other length, is refused and leaves the values.
        w->Command_OK1->click();
        QTRY_VERIFY(!w->TM_Overtime_A->isEnabled());
        rig.module->faults.silent = true;
        const QStringList before = texts(w->AI_SHOW);
        readExchange(w, A, kv7710 ? kReply7720 : kReply7710);
        QCOMPARE(w->Text_Message->toPlainText() + w->Text_Receive->toPlainText(), kError);
        QCOMPARE(texts(w->AI_SHOW), before);
        readExchange(w, A, kv7710 ? kReply7710 : kReply7720);
        QCOMPARE(w->Text_Receive->toPlainText(), HexText(kv7710 ? kReply7710 : kReply7720));
        QCOMPARE(w->AI_SHOW[0]->text(), kv7710 ? QStringLiteral("10.00mA") : QStringLiteral("25℃"));
        QVERIFY(rig.env.messages.isEmpty());
    }

    void digitalInputs_data()
    {
        QTest::addColumn<int>("data");
        QTest::addColumn<QString>("on");
        QTest::newRow("05") << 0x05 << "1010";
        QTest::newRow("0A") << 0x0A << "0101";
    }
    void digitalInputs()
    {
        QFETCH(int, data);
        QFETCH(QString, on);
        Rig rig;
        CombinedWindow *w = rig.w.get();
        rig.module->faults.silent = true;
        QVERIFY(openPort(w));
        w->Command_OK2->click();
        // All four on first, so every indicator that should be off has to change.
        readExchange(w, B, framed(QByteArray::fromHex("0102010F")));
        QCOMPARE(states(w->DI_SHOW), QStringLiteral("1111"));
        readExchange(w, B, framed(QByteArray::fromHex("010201") + char(data)));
        QCOMPARE(w->Text_Send->toPlainText() + w->Text_Message->toPlainText(), cycle(w, B).request + kNormal);
        QCOMPARE(states(w->DI_SHOW), on);
        QCOMPARE(texts(w->AI_SHOW).join(QString()), QString());
    }

    void outputsWriteTheirByte_data()
    {
        QTest::addColumn<QList<int>>("clicked");
        QTest::addColumn<QString>("on");
        QTest::addColumn<QString>("request");
        QTest::newRow("DO_01 and DO_03") << QList<int>{0, 2} << "1010" << "01 0F 00 00 00 04 01 05 FE 95 ";
        QTest::newRow("twice is off") << QList<int>{3, 3, 1} << "0100" << "01 0F 00 00 00 04 01 02 BF 57 ";
    }
    void outputsWriteTheirByte()
    {
        QFETCH(QList<int>, clicked);
        QFETCH(QString, on);
        QFETCH(QString, request);
        Rig rig;
        CombinedWindow *w = rig.w.get();
        QVERIFY(openPort(w));
        for (int i : clicked)
            QTest::mouseClick(w->DO_SHOW[i], Qt::LeftButton);
        QCOMPARE(states(w->DO_SHOW), on);
        QVERIFY(simLine(w)->writes().isEmpty());
        w->Command_OK3->click();
        QCOMPARE(w->Text_Send->toPlainText(), request);
        QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
        QString coils;
        for (int i = 0; i < 4; ++i)
            coils += rig.module->coil(i) ? '1' : '0';
        QCOMPARE(coils + states(w->DO_SHOW), on + on);
    }

    void replyAfterStop_data() { cycleRows(); }
    void replyAfterStop()
    {
        QFETCH(int, c);
        Rig rig;
        CombinedWindow *w = rig.w.get();
        rig.module->faults.silent = true;
        QVERIFY(openPort(w));
        cycle(w, c).button->click();
        c == A ? w->TM_Acquisition_A_Timer() : w->TM_Acquisition_B_Timer();
        cycle(w, c).button->click();
        QCOMPARE(cycle(w, c).button->text(), kAcquisition);
        const QByteArray reply = c == A ? kReply7710 : QByteArray::fromHex("01020105618B");
        simLine(w)->injectBytes(reply);
        c == A ? w->TM_Overtime_A_Timer() : w->TM_Overtime_B_Timer();
        // Judged and shown all the same; only the digital indicators wait for a running cycle.
        QCOMPARE(w->Text_Message->toPlainText() + w->Text_Receive->toPlainText(), kNormal + HexText(reply));
        QCOMPARE(texts(w->AI_SHOW), c == A ? QStringList(6, "10.00mA") : QStringList(6, QString()));
        QCOMPARE(states(w->DI_SHOW), QStringLiteral("0000"));
    }

    void switching_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<bool>("duringWrite");
        QTest::newRow("analog, then digital") << A << false;
        QTest::newRow("digital, then analog") << B << false;
        QTest::newRow("analog, then digital during a write") << A << true;
        QTest::newRow("digital, then analog during a write") << B << true;
    }
    void switching()
    {
        QFETCH(int, first);
        QFETCH(bool, duringWrite);
        Rig rig;
        CombinedWindow *w = rig.w.get();
        const Cycle from = cycle(w, first), to = cycle(w, 1 - first);
        QVERIFY(openPort(w));
        // Sampled right after every write judgement.
        QList<bool> bothRunning;
        connect(w->TM_Overtime_C, &WindowTimer::Timer, this, [&] {
            bothRunning << (w->TM_Acquisition_A->isEnabled() && w->TM_Acquisition_B->isEnabled());
        });
        from.button->click();
        QTRY_COMPARE(w->Text_Send->toPlainText(), from.request);
        if (duringWrite) {
            w->Command_OK3->click();
            QCOMPARE(w->ResumeAcquisition, first + 1);
        }
        to.button->click();
        QCOMPARE(from.button->text() + to.button->text(), kAcquisition + kStop);
        QTRY_COMPARE(bothRunning, duringWrite ? QList<bool>{false} : QList<bool>());
        QCOMPARE(w->ResumeAcquisition, 0);
        QVERIFY(!from.timer->isEnabled() && to.timer->isEnabled());
        // From here on only the second cycle polls.
        const qsizetype before = simLine(w)->writes().size();
        QTRY_VERIFY(functionsSince(w, before).size() >= 3);
        QCOMPARE(functionsSince(w, before), QList<int>(functionsSince(w, before).size(), first == A ? 0x02 : 0x03));
        QVERIFY(rig.env.messages.isEmpty());
    }

    void validateDuringCycle_data()
    {
        QTest::addColumn<int>("c");
        QTest::addColumn<bool>("stop"); // "Stop" clicked while the write is out
        QTest::newRow("analog") << A << false;
        QTest::newRow("digital") << B << false;
        QTest::newRow("analog, stopped during the write") << A << true;
        QTest::newRow("digital, stopped during the write") << B << true;
    }
    void validateDuringCycle()
    {
        QFETCH(int, c);
        QFETCH(bool, stop);
        Rig rig;
        CombinedWindow *w = rig.w.get();
        const Cycle run = cycle(w, c);
        QVERIFY(openPort(w));
        run.button->click();
        QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
        QTest::mouseClick(w->DO_SHOW[1], Qt::LeftButton);
        w->Command_OK3->click();
        QCOMPARE(rig.env.pauses, QList<int>{300});
        QCOMPARE(w->ResumeAcquisition, c + 1);
        QVERIFY(!run.timer->isEnabled());
        QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 0F 00 00 00 04 01 02 BF 57 "));
        if (stop)
            run.button->click();
        QTRY_VERIFY(!w->TM_Overtime_C->isEnabled());
        QCOMPARE(w->Text_Message->toPlainText(), kNormal);
        QCOMPARE(w->ResumeAcquisition, 0);
        QVERIFY(rig.module->coil(1));
        QCOMPARE(run.timer->isEnabled(), !stop);
        QVERIFY(!cycle(w, 1 - c).timer->isEnabled());
        QCOMPARE(run.button->text(), stop ? kAcquisition : kStop);
        if (!stop) // polling goes on with the button still at "Stop"
            QTRY_COMPARE(w->Text_Send->toPlainText(), run.request);
        QVERIFY(rig.env.messages.isEmpty());
    }

    void validateWhileIdleStartsNothing()
    {
        Rig rig;
        CombinedWindow *w = rig.w.get();
        QVERIFY(openPort(w));
        w->Command_OK3->click();
        QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
        QVERIFY(!w->TM_Overtime_C->isEnabled() && !w->TM_Acquisition_A->isEnabled());
        QVERIFY(!w->TM_Acquisition_B->isEnabled() && w->ResumeAcquisition == 0 && rig.env.pauses.isEmpty());
        QCOMPARE(w->Command_OK1->text() + w->Command_OK2->text(), kAcquisition + kAcquisition);
        QCOMPARE(simLine(w)->writes().size(), 1);
    }

    void preconditions_data()
    {
        QTest::addColumn<int>("c");
        QTest::addColumn<bool>("atValidate"); // refused by Validate while the cycle runs, or by a tick
        QTest::addColumn<bool>("open");
        QTest::addColumn<QString>("message");
        QTest::newRow("tick, analog, port closed") << A << false << false << kOpenPort;
        QTest::newRow("tick, digital, port closed") << B << false << false << kOpenPort;
        QTest::newRow("tick, analog, no address") << A << false << true << "Moudle address not selected！";
        QTest::newRow("tick, digital, no address") << B << false << true << kNoAddress;
        QTest::newRow("Validate, analog, port closed") << A << true << false << kOpenPort;
        QTest::newRow("Validate, digital, no address") << B << true << true << kNoAddress;
    }
    void preconditions()
    {
        QFETCH(int, c);
        QFETCH(bool, atValidate);
        QFETCH(bool, open);
        QFETCH(QString, message);
        Rig rig;
        CombinedWindow *w = rig.w.get();
        const Cycle run = cycle(w, c);
        if (open || atValidate)
            QVERIFY(openPort(w));
        if (!atValidate) {
            // Only the box of the cycle's own panel is emptied.
            w->Combo_Addr[c]->setEditText(QString());
            run.button->click();
            QCOMPARE(run.button->text(), kStop);
            QTRY_COMPARE(run.button->text(), kAcquisition);
            QCOMPARE(rig.env.messages, QStringList{message});
            QVERIFY(!run.timer->isEnabled() && simLine(w)->writes().isEmpty());
            return;
        }
        run.button->click();
        open ? w->Combo_Addr[2]->setEditText(QString()) : QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        w->Command_OK3->click();
        // The write is refused; the suspended cycle resumes, or, with no port, ends idle at once.
        QCOMPARE(rig.env.messages, QStringList{message});
        QCOMPARE(rig.env.pauses, open ? QList<int>{300} : QList<int>({500, 300}));
        QCOMPARE(w->ResumeAcquisition, 0);
        QCOMPARE(run.timer->isEnabled(), open);
        QVERIFY(!cycle(w, 1 - c).timer->isEnabled());
        QCOMPARE(run.button->text(), open ? kStop : kAcquisition);
        if (open)
            QTRY_COMPARE(w->Text_Send->toPlainText(), run.request);
        QVERIFY(!functionsSince(w, 0).contains(0x0F));
    }

    void threeAddressesThreeModules()
    {
        Rig rig; // its module 1 must hear nothing
        CombinedWindow *w = rig.w.get();
        SimModule *analog = rig.env.bus.addModule(7710, 3, 2);
        SimModule *inputs = rig.env.bus.addModule(7710, 5, 2);
        SimModule *outputs = rig.env.bus.addModule(7710, 7, 2);
        for (int i = 0; i < 6; ++i)
            analog->setHolding(i, 4095);
        analog->setDiscreteInput(3, true);
        inputs->setDiscreteInput(1, true);
        for (int p = 0; p < 3; ++p)
            w->Combo_Addr[p]->setEditText(QString::number(3 + 2 * p));
        QVERIFY(openPort(w));
        w->Command_OK1->click();
        QTRY_COMPARE(texts(w->AI_SHOW), QStringList(6, QStringLiteral("20.00mA")));
        QVERIFY(w->Text_Send->toPlainText().startsWith(QLatin1String("03 03 ")));
        w->Command_OK2->click();
        QTRY_COMPARE(states(w->DI_SHOW), QStringLiteral("0100"));
        QVERIFY(w->Text_Send->toPlainText().startsWith(QLatin1String("05 02 ")));
        QTest::mouseClick(w->DO_SHOW[2], Qt::LeftButton);
        w->Command_OK3->click();
        QVERIFY(w->Text_Send->toPlainText().startsWith(QLatin1String("07 0F ")));
        QTRY_VERIFY(outputs->coil(2));
        QVERIFY(!analog->coil(2) && !inputs->coil(2));
        QVERIFY(rig.env.messages.isEmpty() && !rig.module->coil(2));
    }
};

QTEST_MAIN(TestCombined)
#include "test_combined.moc"
