// The two combined windows against simulated modules on the in-process line: two read cycles
// that exclude each other, and a write that suspends and resumes whichever of them runs.
#include "support/guitest.h"

#include "combinedwindow.h"
#include "modbus.h"

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kAnalogRequest = QStringLiteral("01 03 00 00 00 06 C5 C8 "); // KV7710ADAM, module 1
const QString kDigitalRequest = QStringLiteral("01 02 00 00 00 04 79 C9 ");
const QByteArray kReply7710 = QByteArray::fromHex("01030C080008000800080008000800F60B"); // six times 2048
const QByteArray kReply7720 = QByteArray::fromHex("0103080019001A03E9FFFF94D4");         // 25, 26, 1001, 65535

std::unique_ptr<CombinedWindow> openWindow(const QString &model = QStringLiteral("KV7710ADAM"))
{
    std::unique_ptr<CombinedWindow> w(static_cast<CombinedWindow *>(createTestWindow(model)));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    return w;
}

QByteArray framed(const QByteArray &payload)
{
    return Crc16(payload, std::uint8_t(payload.size() - 1));
}

QPushButton *cycleButton(CombinedWindow *w, int cycle)
{
    return cycle == CombinedWindow::kCycleA ? w->Command_OK1 : w->Command_OK2;
}

WindowTimer *cycleTimer(CombinedWindow *w, int cycle)
{
    return cycle == CombinedWindow::kCycleA ? w->TM_Acquisition_A : w->TM_Acquisition_B;
}

QString cycleRequest(int cycle)
{
    return cycle == CombinedWindow::kCycleA ? kAnalogRequest : kDigitalRequest;
}

// Indices of the indicators showing "ON" in green; one in neither state shows as a mismatch.
template <typename Label>
QList<int> onIndices(const QVector<Label *> &indicators)
{
    QList<int> on;
    for (int i = 0; i < indicators.size(); ++i) {
        const QString style = indicators[i]->styleSheet();
        if (indicators[i]->text() == QLatin1String("ON") && style.contains(QLatin1String("color: #00FF00")))
            on << i;
        else if (indicators[i]->text() != QLatin1String("OFF") || !style.contains(QLatin1String("color: #FFFFFF")))
            on << -1000 - i;
    }
    return on;
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
    const QList<QByteArray> writes = simLine(w)->writes();
    for (qsizetype i = from; i < writes.size(); ++i)
        functions << std::uint8_t(writes[i].at(1));
    return functions;
}

// One exchange of a cycle driven by hand: the tick sends, the bytes arrive, the time-out judges.
void readExchange(CombinedWindow *w, int cycle, const QByteArray &reply)
{
    if (cycle == CombinedWindow::kCycleA) {
        w->TM_Acquisition_A_Timer();
        simLine(w)->injectBytes(reply);
        w->TM_Overtime_A_Timer();
    } else {
        w->TM_Acquisition_B_Timer();
        simLine(w)->injectBytes(reply);
        w->TM_Overtime_B_Timer();
    }
}
} // namespace

class TestCombined : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void analogValues_data();
    void analogValues();
    void otherModelsLengthRejected_data();
    void otherModelsLengthRejected();
    void digitalInputs_data();
    void digitalInputs();
    void outputsWriteTheirByte_data();
    void outputsWriteTheirByte();
    void replyAfterStop_data();
    void replyAfterStop();
    void startingOneStopsTheOther_data();
    void startingOneStopsTheOther();
    void validateSuspendsAndResumes_data();
    void validateSuspendsAndResumes();
    void validateWhileIdleStartsNothing();
    void stopDuringWriteIsHonoured_data();
    void stopDuringWriteIsHonoured();
    void switchDuringWrite_data();
    void switchDuringWrite();
    void validateFailureResumes_data();
    void validateFailureResumes();
    void tickPreconditions_data();
    void tickPreconditions();
    void threeAddressesThreeModules();
};

void TestCombined::layout_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QStringList>("analogCaptions");
    QTest::newRow("7710") << "KV7710ADAM" << QStringList{"AI_1", "AI_2", "AI_3 ", "AI_4 ", "AI_5", "AI_6"};
    QTest::newRow("7720") << "KV7720ADAM" << QStringList{"T_1", "T_2", "T_3 ", "T_4 "};
}

void TestCombined::layout()
{
    QFETCH(QString, model);
    QFETCH(QStringList, analogCaptions);
    // Every line its own interval, so a timer fed from the wrong line shows.
    QByteArray timing;
    for (int line = 1; line <= 20; ++line)
        timing += QStringLiteral("Line %1").arg(line, -6).toLatin1() + QByteArray::number(1000 + line).rightJustified(5)
                  + "\r\n";
    GuiTestEnvironment env(timing);
    auto w = openWindow(model);
    QCOMPARE(w->objectName(), model);
    QCOMPARE(w->windowTitle(), model);
    QCOMPARE(w->size(), QSize(twips(9375), twips(7080)));

    QCOMPARE(w->Frame2->title(), QStringLiteral(" Analog Input "));
    QCOMPARE(w->Frame7->title(), QStringLiteral(" Digital Input "));
    QCOMPARE(w->Frame6->title(), QStringLiteral(" Digital Output "));
    // Middle column as tall as the serial frame; the right column split between the two others.
    const QRect serial = w->Frame1->geometry(), analog = w->Frame2->geometry();
    const QRect in = w->Frame7->geometry(), out = w->Frame6->geometry();
    QCOMPARE(analog.top(), serial.top());
    QCOMPARE(analog.bottom(), serial.bottom());
    QVERIFY(analog.left() > serial.right() && in.left() > analog.right());
    QCOMPARE(in.left(), out.left());
    QCOMPARE(in.top(), serial.top());
    QCOMPARE(out.bottom(), serial.bottom());
    QVERIFY(in.bottom() < out.top());
    QCOMPARE(in.width(), analog.width());
    QCOMPARE(out.width(), analog.width());
    QVERIFY(QRect(QPoint(0, 0), w->size()).contains(in.united(out)));

    const int n = int(analogCaptions.size());
    QCOMPARE(w->AI_SHOW.size(), n);
    for (int i = 0; i < n; ++i) {
        QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label18_%1").arg(i))->text(), analogCaptions[i]);
        QCOMPARE(child<QLabel>(w.get(), QStringLiteral("AI_SHOW_%1").arg(i))->text(), QString());
        QCOMPARE(w->AI_SHOW[i]->parentWidget(), w->Frame2);
    }
    for (int j = 0; j < 4; ++j) {
        const QLabel *diCaption = child<QLabel>(w.get(), QStringLiteral("Label18_%1").arg(n + j));
        QCOMPARE(diCaption->text(), QStringLiteral("DI_0%1").arg(j + 1));
        QCOMPARE(diCaption->parentWidget(), w->Frame7);
        QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label15_%1").arg(j))->text(), QStringLiteral("DO_0%1").arg(j + 1));
        QCOMPARE(child<QLabel>(w.get(), QStringLiteral("DI_SHOW_%1").arg(j)), w->DI_SHOW[j]);
        QCOMPARE(child<ClickLabel>(w.get(), QStringLiteral("DO_SHOW_%1").arg(j)), w->DO_SHOW[j]);
    }
    QCOMPARE(w->Label18.size(), n + 4);
    QCOMPARE(onIndices(w->DI_SHOW), QList<int>());
    QCOMPARE(onIndices(w->DO_SHOW), QList<int>());

    const QStringList captionNames = {"Label6", "Label17", "Label16"};
    const QList<QGroupBox *> frames = {w->Frame2, w->Frame7, w->Frame6};
    for (int p = 0; p < 3; ++p) {
        QCOMPARE(child<QLabel>(w.get(), captionNames[p])->text(), QStringLiteral("Moudle Address"));
        QComboBox *box = child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_%1").arg(p));
        QCOMPARE(box->parentWidget(), frames[p]);
        QCOMPARE(box->currentText(), QStringLiteral("1"));
        QCOMPARE(box->count(), 254);
    }
    QCOMPARE(child<QPushButton>(w.get(), QStringLiteral("Command_OK1"))->text(), QStringLiteral("Acquisition"));
    QCOMPARE(child<QPushButton>(w.get(), QStringLiteral("Command_OK2"))->text(), QStringLiteral("Acquisition"));
    QCOMPARE(child<QPushButton>(w.get(), QStringLiteral("Command_OK3"))->text(), QStringLiteral("Validate"));

    const QList<QPair<QString, int>> timers = {{"TM_Overtime_A", 16}, {"TM_Overtime_B", 17}, {"TM_Overtime_C", 18},
                                               {"TM_Acquisition_A", 19}, {"TM_Acquisition_B", 20}};
    for (const auto &[name, line] : timers) {
        const WindowTimer *timer = w->findChild<WindowTimer *>(name);
        QVERIFY2(timer, qPrintable(name));
        QCOMPARE(timer->interval(), 1000 + line);
        QVERIFY(!timer->isEnabled());
    }
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(env.messages.isEmpty());
}

void TestCombined::analogValues_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("number");
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("reply");
    QTest::newRow("7710 all 2048") << "KV7710ADAM" << 7710 << QList<int>{2048, 2048, 2048, 2048, 2048, 2048}
                                   << QStringList(6, QStringLiteral("10.00mA")) << kAnalogRequest
                                   << HexText(kReply7710);
    QTest::newRow("7710 range") << "KV7710ADAM" << 7710 << QList<int>{0, 1, 4095, 65535, 2048, 0}
                                << QStringList{"0.00mA", "0.00mA", "20.00mA", "320.07mA", "10.00mA", "0.00mA"}
                                << kAnalogRequest << QString();
    QTest::newRow("7720 sensors") << "KV7720ADAM" << 7720 << QList<int>{25, 26, 1001, 65535}
                                  << QStringList{"25℃", "26℃", "Not Connect", "Not Connect"}
                                  << "01 03 00 00 00 04 44 09 " << HexText(kReply7720);
    QTest::newRow("7720 limit") << "KV7720ADAM" << 7720 << QList<int>{1000, 0, 999, 1002}
                                << QStringList{"1000℃", "0℃", "999℃", "Not Connect"}
                                << "01 03 00 00 00 04 44 09 " << QString();
}

void TestCombined::analogValues()
{
    QFETCH(QString, model);
    QFETCH(int, number);
    QFETCH(QList<int>, registers);
    QFETCH(QStringList, shown);
    QFETCH(QString, request);
    QFETCH(QString, reply);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(number, 1, 2);
    for (int i = 0; i < registers.size(); ++i)
        module->setHolding(i, std::uint16_t(registers[i]));
    auto w = openWindow(model);
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->Text_Send->toPlainText(), request);
    if (!reply.isEmpty())
        QCOMPARE(w->Text_Receive->toPlainText(), reply);
    QCOMPARE(texts(w->AI_SHOW), shown);
    // A changed register shows at a later exchange.
    module->setHolding(0, 4095);
    QTRY_COMPARE(w->AI_SHOW[0]->text(), model == QLatin1String("KV7710ADAM") ? QStringLiteral("20.00mA")
                                                                             : QStringLiteral("Not Connect"));
    QVERIFY(env.messages.isEmpty());
}

void TestCombined::otherModelsLengthRejected_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QByteArray>("ownReply");
    QTest::addColumn<QByteArray>("otherReply");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("7710 gets 13 bytes") << "KV7710ADAM" << kReply7710 << kReply7720
                                        << QStringList(6, QStringLiteral("10.00mA"));
    QTest::newRow("7720 gets 17 bytes") << "KV7720ADAM" << kReply7720 << kReply7710
                                        << QStringList{"25℃", "26℃", "Not Connect", "Not Connect"};
}

void TestCombined::otherModelsLengthRejected()
{
    QFETCH(QString, model);
    QFETCH(QByteArray, ownReply);
    QFETCH(QByteArray, otherReply);
    QFETCH(QStringList, shown);
    GuiTestEnvironment env;
    auto w = openWindow(model);
    QVERIFY(openPort(w.get()));
    readExchange(w.get(), CombinedWindow::kCycleA, ownReply);
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(texts(w->AI_SHOW), shown);
    readExchange(w.get(), CombinedWindow::kCycleA, otherReply);
    QCOMPARE(w->Text_Message->toPlainText(), kError);
    QCOMPARE(w->Text_Receive->toPlainText(), QString());
    QCOMPARE(texts(w->AI_SHOW), shown);
}

void TestCombined::digitalInputs_data()
{
    QTest::addColumn<int>("data");
    QTest::addColumn<QList<int>>("on");
    QTest::newRow("05") << 0x05 << QList<int>{0, 2};
    QTest::newRow("F5 high digit ignored") << 0xF5 << QList<int>{0, 2};
    QTest::newRow("0A") << 0x0A << QList<int>{1, 3};
    QTest::newRow("0F") << 0x0F << QList<int>{0, 1, 2, 3};
    QTest::newRow("F0") << 0xF0 << QList<int>();
}

void TestCombined::digitalInputs()
{
    QFETCH(int, data);
    QFETCH(QList<int>, on);
    GuiTestEnvironment env;
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    // The complement first, so every indicator has to change.
    QList<int> complement;
    for (int b = 0; b < 4; ++b)
        if (!on.contains(b))
            complement << b;
    readExchange(w.get(), CombinedWindow::kCycleB, framed(QByteArray::fromHex("010201") + char(~data & 0x0F)));
    QCOMPARE(onIndices(w->DI_SHOW), complement);
    readExchange(w.get(), CombinedWindow::kCycleB, framed(QByteArray::fromHex("010201") + char(data)));
    QCOMPARE(w->Text_Send->toPlainText(), kDigitalRequest);
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(onIndices(w->DI_SHOW), on);
    QVERIFY(texts(w->AI_SHOW).join(QString()).isEmpty());
}

void TestCombined::outputsWriteTheirByte_data()
{
    QTest::addColumn<QList<int>>("clicked");
    QTest::addColumn<QString>("request");
    QTest::newRow("DO_01 and DO_03") << QList<int>{0, 2} << "01 0F 00 00 00 04 01 05 FE 95 ";
    QTest::newRow("none") << QList<int>() << HexText(framed(QByteArray::fromHex("010F0000000401" "00")));
    QTest::newRow("all") << QList<int>{0, 1, 2, 3} << HexText(framed(QByteArray::fromHex("010F0000000401" "0F")));
    QTest::newRow("twice is off") << QList<int>{3, 3, 1} << HexText(framed(QByteArray::fromHex("010F0000000401" "02")));
}

void TestCombined::outputsWriteTheirByte()
{
    QFETCH(QList<int>, clicked);
    QFETCH(QString, request);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QList<int> on;
    for (int i : clicked) {
        QTest::mouseClick(w->DO_SHOW[i], Qt::LeftButton);
        if (!on.removeOne(i))
            on << i;
    }
    std::sort(on.begin(), on.end());
    QCOMPARE(onIndices(w->DO_SHOW), on);
    QVERIFY(simLine(w.get())->writes().isEmpty());
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), request);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->Text_Receive->toPlainText().left(18), request.left(18));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(module->coil(i), on.contains(i));
    QCOMPARE(onIndices(w->DO_SHOW), on);
    QCOMPARE(simLine(w.get())->writes().size(), 1);
}

void TestCombined::replyAfterStop_data()
{
    QTest::addColumn<int>("cycle");
    QTest::newRow("analog values still change") << int(CombinedWindow::kCycleA);
    QTest::newRow("digital indicators stay") << int(CombinedWindow::kCycleB);
}

void TestCombined::replyAfterStop()
{
    QFETCH(int, cycle);
    GuiTestEnvironment env;
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QPushButton *button = cycleButton(w.get(), cycle);
    QTest::mouseClick(button, Qt::LeftButton);
    if (cycle == CombinedWindow::kCycleA)
        w->TM_Acquisition_A_Timer();
    else
        w->TM_Acquisition_B_Timer();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("Acquisition"));
    const QByteArray reply = cycle == CombinedWindow::kCycleA ? kReply7710 : QByteArray::fromHex("01020105618B");
    simLine(w.get())->injectBytes(reply);
    if (cycle == CombinedWindow::kCycleA)
        w->TM_Overtime_A_Timer();
    else
        w->TM_Overtime_B_Timer();
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->Text_Receive->toPlainText(), HexText(reply));
    if (cycle == CombinedWindow::kCycleA)
        QCOMPARE(texts(w->AI_SHOW), QStringList(6, QStringLiteral("10.00mA")));
    QCOMPARE(onIndices(w->DI_SHOW), QList<int>());
}

void TestCombined::startingOneStopsTheOther_data()
{
    QTest::addColumn<int>("first");
    QTest::newRow("analog, then digital") << int(CombinedWindow::kCycleA);
    QTest::newRow("digital, then analog") << int(CombinedWindow::kCycleB);
}

void TestCombined::startingOneStopsTheOther()
{
    QFETCH(int, first);
    const int second = 1 - first;
    GuiTestEnvironment env;
    env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(cycleButton(w.get(), first), Qt::LeftButton);
    QTRY_COMPARE(w->Text_Send->toPlainText(), cycleRequest(first));
    QTest::mouseClick(cycleButton(w.get(), second), Qt::LeftButton);
    QCOMPARE(cycleButton(w.get(), first)->text(), QStringLiteral("Acquisition"));
    QCOMPARE(cycleButton(w.get(), second)->text(), QStringLiteral("Stop"));
    QVERIFY(!cycleTimer(w.get(), first)->isEnabled());
    QVERIFY(cycleTimer(w.get(), second)->isEnabled());
    const qsizetype before = simLine(w.get())->writes().size();
    QTRY_VERIFY(functionsSince(w.get(), before).size() >= 3);
    const int function = second == CombinedWindow::kCycleA ? 0x03 : 0x02;
    QCOMPARE(functionsSince(w.get(), before), QList<int>(functionsSince(w.get(), before).size(), function));
    QVERIFY(env.messages.isEmpty());
}

void TestCombined::validateSuspendsAndResumes_data()
{
    QTest::addColumn<int>("cycle");
    QTest::newRow("analog") << int(CombinedWindow::kCycleA);
    QTest::newRow("digital") << int(CombinedWindow::kCycleB);
}

void TestCombined::validateSuspendsAndResumes()
{
    QFETCH(int, cycle);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QPushButton *button = cycleButton(w.get(), cycle);
    WindowTimer *timer = cycleTimer(w.get(), cycle);
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QTest::mouseClick(w->DO_SHOW[1], Qt::LeftButton);
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(env.pauses, QList<int>{300});
    QCOMPARE(w->ResumeAcquisition, cycle + 1);
    QVERIFY(!timer->isEnabled());
    QCOMPARE(button->text(), QStringLiteral("Stop"));
    QCOMPARE(w->Text_Send->toPlainText(), HexText(framed(QByteArray::fromHex("010F000000040102"))));
    QTRY_COMPARE(w->ResumeAcquisition, 0);
    QVERIFY(timer->isEnabled());
    QVERIFY(!cycleTimer(w.get(), 1 - cycle)->isEnabled());
    QVERIFY(module->coil(1));
    // Polling goes on with the button still at "Stop".
    QTRY_COMPARE(w->Text_Send->toPlainText(), cycleRequest(cycle));
    QCOMPARE(button->text(), QStringLiteral("Stop"));
    QVERIFY(env.messages.isEmpty());
}

void TestCombined::validateWhileIdleStartsNothing()
{
    GuiTestEnvironment env;
    env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QVERIFY(!w->TM_Overtime_C->isEnabled());
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QVERIFY(!w->TM_Acquisition_B->isEnabled());
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QCOMPARE(w->Command_OK2->text(), QStringLiteral("Acquisition"));
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(env.pauses.isEmpty());
    QCOMPARE(simLine(w.get())->writes().size(), 1);
}

void TestCombined::stopDuringWriteIsHonoured_data()
{
    validateSuspendsAndResumes_data();
}

void TestCombined::stopDuringWriteIsHonoured()
{
    QFETCH(int, cycle);
    GuiTestEnvironment env;
    env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(cycleButton(w.get(), cycle), Qt::LeftButton);
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(w->ResumeAcquisition, cycle + 1);
    QTest::mouseClick(cycleButton(w.get(), cycle), Qt::LeftButton);
    QTRY_VERIFY(!w->TM_Overtime_C->isEnabled());
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QVERIFY(!w->TM_Acquisition_B->isEnabled());
    QCOMPARE(cycleButton(w.get(), cycle)->text(), QStringLiteral("Acquisition"));
}

void TestCombined::switchDuringWrite_data()
{
    startingOneStopsTheOther_data();
}

void TestCombined::switchDuringWrite()
{
    QFETCH(int, first);
    const int second = 1 - first;
    GuiTestEnvironment env;
    env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    // Sampled right after every write judgement.
    QList<bool> bothRunning;
    connect(w->TM_Overtime_C, &WindowTimer::Timer, this, [&] {
        bothRunning << (w->TM_Acquisition_A->isEnabled() && w->TM_Acquisition_B->isEnabled());
    });
    QTest::mouseClick(cycleButton(w.get(), first), Qt::LeftButton);
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(w->ResumeAcquisition, first + 1);
    QTest::mouseClick(cycleButton(w.get(), second), Qt::LeftButton);
    QCOMPARE(cycleButton(w.get(), first)->text(), QStringLiteral("Acquisition"));
    QTRY_COMPARE(bothRunning, QList<bool>{false});
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(!cycleTimer(w.get(), first)->isEnabled());
    QVERIFY(cycleTimer(w.get(), second)->isEnabled());
    QCOMPARE(cycleButton(w.get(), second)->text(), QStringLiteral("Stop"));
    // From here on only the second cycle polls.
    const qsizetype before = simLine(w.get())->writes().size();
    QTRY_VERIFY(functionsSince(w.get(), before).size() >= 3);
    const int function = second == CombinedWindow::kCycleA ? 0x03 : 0x02;
    QCOMPARE(functionsSince(w.get(), before), QList<int>(functionsSince(w.get(), before).size(), function));
}

void TestCombined::validateFailureResumes_data()
{
    QTest::addColumn<int>("cycle");
    QTest::addColumn<bool>("closePort");
    QTest::addColumn<QString>("message");
    QTest::newRow("analog, port closed") << int(CombinedWindow::kCycleA) << true << "Please open serial port！";
    QTest::newRow("digital, port closed") << int(CombinedWindow::kCycleB) << true << "Please open serial port！";
    QTest::newRow("analog, no address") << int(CombinedWindow::kCycleA) << false << "Module Address Not Selected！";
    QTest::newRow("digital, no address") << int(CombinedWindow::kCycleB) << false << "Module Address Not Selected！";
}

void TestCombined::validateFailureResumes()
{
    QFETCH(int, cycle);
    QFETCH(bool, closePort);
    QFETCH(QString, message);
    GuiTestEnvironment env;
    env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(cycleButton(w.get(), cycle), Qt::LeftButton);
    if (closePort)
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
    else
        w->Combo_Addr[2]->setEditText(QString());
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList{message});
    QCOMPARE(env.pauses, closePort ? (QList<int>{500, 300}) : (QList<int>{300}));
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(cycleTimer(w.get(), cycle)->isEnabled());
    QVERIFY(!cycleTimer(w.get(), 1 - cycle)->isEnabled());
    QCOMPARE(cycleButton(w.get(), cycle)->text(), QStringLiteral("Stop"));
    if (closePort) {
        // The resumed cycle finds the port closed at its next tick.
        QTRY_COMPARE(cycleButton(w.get(), cycle)->text(), QStringLiteral("Acquisition"));
        QCOMPARE(env.messages, (QStringList{message, message}));
    } else {
        QTRY_COMPARE(w->Text_Send->toPlainText(), cycleRequest(cycle));
    }
    for (const QByteArray &frame : simLine(w.get())->writes())
        QVERIFY(frame[1] != 0x0F);
}

void TestCombined::tickPreconditions_data()
{
    QTest::addColumn<int>("cycle");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("message");
    QTest::newRow("analog, port closed") << int(CombinedWindow::kCycleA) << false << "Please open serial port！";
    QTest::newRow("analog, no address") << int(CombinedWindow::kCycleA) << true << "Moudle address not selected！";
    QTest::newRow("digital, port closed") << int(CombinedWindow::kCycleB) << false << "Please open serial port！";
    QTest::newRow("digital, no address") << int(CombinedWindow::kCycleB) << true << "Module Address Not Selected！";
}

void TestCombined::tickPreconditions()
{
    QFETCH(int, cycle);
    QFETCH(bool, open);
    QFETCH(QString, message);
    GuiTestEnvironment env;
    env.bus.addModule(7710, 1, 2);
    auto w = openWindow();
    if (open)
        QVERIFY(openPort(w.get()));
    // Only the box of the cycle's own panel is emptied.
    w->Combo_Addr[cycle]->setEditText(QString());
    QTest::mouseClick(cycleButton(w.get(), cycle), Qt::LeftButton);
    QCOMPARE(cycleButton(w.get(), cycle)->text(), QStringLiteral("Stop"));
    QTRY_COMPARE(cycleButton(w.get(), cycle)->text(), QStringLiteral("Acquisition"));
    QCOMPARE(env.messages, QStringList{message});
    QVERIFY(!cycleTimer(w.get(), cycle)->isEnabled());
    QVERIFY(simLine(w.get())->writes().isEmpty());
}

void TestCombined::threeAddressesThreeModules()
{
    GuiTestEnvironment env;
    SimModule *analog = env.bus.addModule(7710, 3, 2);
    SimModule *inputs = env.bus.addModule(7710, 5, 2);
    SimModule *outputs = env.bus.addModule(7710, 7, 2);
    for (int i = 0; i < 6; ++i)
        analog->setHolding(i, 4095);
    analog->setDiscreteInput(3, true);
    inputs->setDiscreteInput(1, true);
    auto w = openWindow();
    w->Combo_Addr[0]->setEditText(QStringLiteral("3"));
    w->Combo_Addr[1]->setEditText(QStringLiteral("5"));
    w->Combo_Addr[2]->setEditText(QStringLiteral("7"));
    QVERIFY(openPort(w.get()));

    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE(texts(w->AI_SHOW), QStringList(6, QStringLiteral("20.00mA")));
    QVERIFY(w->Text_Send->toPlainText().startsWith(QLatin1String("03 03 ")));

    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QTRY_COMPARE(onIndices(w->DI_SHOW), QList<int>{1});
    QVERIFY(w->Text_Send->toPlainText().startsWith(QLatin1String("05 02 ")));

    QTest::mouseClick(w->DO_SHOW[2], Qt::LeftButton);
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QVERIFY(w->Text_Send->toPlainText().startsWith(QLatin1String("07 0F ")));
    QTRY_VERIFY(outputs->coil(2));
    QVERIFY(!analog->coil(2) && !inputs->coil(2));
    QVERIFY(env.messages.isEmpty());
}

QTEST_MAIN(TestCombined)
#include "test_combined.moc"
