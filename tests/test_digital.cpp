// The five digital windows against simulated modules on the in-process line.
#include "support/guitest.h"

#include "digitalwindow.h"
#include "modbus.h"
#include "settingsfiles.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QSet>

namespace {
std::unique_ptr<DigitalWindow> openWindow(const QString &model)
{
    std::unique_ptr<DigitalWindow> w(static_cast<DigitalWindow *>(createTestWindow(model)));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    return w;
}

QString green() { return QStringLiteral("color: #00FF00"); }

bool shownOn(const QLabel *l)
{
    return l->text() == QLatin1String("ON") && l->styleSheet().contains(green());
}

bool shownOff(const QLabel *l)
{
    return l->text() == QLatin1String("OFF") && l->styleSheet().contains(QStringLiteral("color: #FFFFFF"));
}

QList<int> onIndices(const QVector<QLabel *> &indicators)
{
    QList<int> on;
    for (int i = 0; i < indicators.size(); ++i) {
        if (shownOn(indicators[i]))
            on << i;
        else if (!shownOff(indicators[i]))
            on << -1000 - i; // neither state: shows up as a mismatch
    }
    return on;
}

// One read exchange driven by hand: the tick sends, the bytes arrive, the time-out judges.
void readExchange(DigitalWindow *w, const QByteArray &reply)
{
    w->TM_Acquisition_A_Timer();
    simLine(w)->injectBytes(reply);
    w->TM_Overtime_A_Timer();
}
} // namespace

class TestDigital : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void inputsFollowTheModule_data();
    void inputsFollowTheModule();
    void exchangeBoxesCopyAndReadAloud();
    void outputsWriteTheirBytes_data();
    void outputsWriteTheirBytes();
    void rejectedRepliesLeaveIndicators_data();
    void rejectedRepliesLeaveIndicators();
    void stopWithReplyInFlight();
    void overdueTimeOutJudgedBeforeNextTick();
    void validateSuspendsAndResumes();
    void validateWhileIdleStartsNothing();
    void validateFailureResumes();
    void stopDuringWriteIsHonoured();
    void tickPreconditions_data();
    void tickPreconditions();
    void floodStaysBounded();
    void missingTimingFile();
};

void TestDigital::layout_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("inputs");
    QTest::addColumn<int>("outputs");
    QTest::addColumn<QString>("outputFrame");
    QTest::addColumn<QString>("lastOutput");
    QTest::addColumn<int>("width");
    QTest::newRow("5510") << "KV5510ADAM" << 8 << 4 << " Relay Output " << "RY_04" << 9375;
    QTest::newRow("5520") << "KV5520ADAM" << 0 << 8 << " Relay Output " << "RY_08" << 6030;
    QTest::newRow("5530") << "KV5530ADAM" << 16 << 0 << "" << "" << 6030;
    QTest::newRow("5540") << "KV5540ADAM" << 0 << 16 << " Digital Output " << "DO_16" << 6030;
    QTest::newRow("5550") << "KV5550ADAM" << 8 << 8 << " Digital Output " << "DO_08" << 9375;
}

void TestDigital::layout()
{
    QFETCH(QString, model);
    QFETCH(int, inputs);
    QFETCH(int, outputs);
    QFETCH(QString, outputFrame);
    QFETCH(QString, lastOutput);
    QFETCH(int, width);
    GuiTestEnvironment env;
    auto w = openWindow(model);
    QCOMPARE(w->objectName(), model);
    QCOMPARE(w->windowTitle(), model);
    QCOMPARE(w->size(), QSize(twips(width), twips(7080)));
    QCOMPARE(w->DI_SHOW.size(), inputs);
    QCOMPARE(w->DO_SHOW.size(), outputs);
    QCOMPARE(bool(child<QPushButton>(w.get(), QStringLiteral("Command_OK1"))), inputs > 0);
    QCOMPARE(bool(child<QPushButton>(w.get(), QStringLiteral("Command_OK2"))), outputs > 0);
    if (inputs) {
        QCOMPARE(w->Frame7->title(), QStringLiteral(" Digital Input "));
        QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
        QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label18_%1").arg(inputs - 1))->text(),
                 QStringLiteral("DI_%1").arg(inputs, 2, 10, QLatin1Char('0')));
        QCOMPARE(child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_0"))->currentText(), QStringLiteral("1"));
        QCOMPARE(w->Label17->text(), QStringLiteral("Moudle Address"));
    }
    if (outputs) {
        QCOMPARE(w->Frame6->title(), outputFrame);
        QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label15_%1").arg(outputs - 1))->text(), lastOutput);
        QCOMPARE(w->Command_OK2->text(), QStringLiteral("Validate"));
        QComboBox *box = child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_1"));
        QCOMPARE(box->count(), 254);
        QCOMPARE(box->itemText(253), QStringLiteral("254"));
    }
    for (QLabel *l : w->DI_SHOW)
        QVERIFY(shownOff(l));
    for (QLabel *l : w->DO_SHOW)
        QVERIFY(shownOff(l));
    QVERIFY(env.messages.isEmpty());
}

void TestDigital::inputsFollowTheModule_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("number");
    QTest::addColumn<QList<int>>("inputsOn");
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("reply");
    QTest::newRow("5510 inputs 1 and 3") << "KV5510ADAM" << 5510 << QList<int>{0, 2}
                                         << "01 02 00 00 00 08 79 CC " << "01 02 01 05 61 8B ";
    QTest::newRow("5530 inputs 1, 3 and 16") << "KV5530ADAM" << 5530 << QList<int>{0, 2, 15}
                                             << "01 02 00 00 00 10 79 C6 " << "01 02 02 05 80 BB 48 ";
}

// What a technician does with the boxes of a finished exchange: selects and copies the reply,
// or has a screen reader read request, reply and status.
void TestDigital::exchangeBoxesCopyAndReadAloud()
{
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2)->setDiscreteInput(0, true);
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kDataNormal);
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton); // Stop: the boxes keep the last exchange
    QTRY_VERIFY(!w->TM_Overtime_A->isEnabled());
    const QString request = QStringLiteral("01 02 00 00 00 08 79 CC ");
    const QString reply = QStringLiteral("01 02 01 01 60 48 ");
    QCOMPARE(w->Text_Send->toPlainText(), request);
    QCOMPARE(w->Text_Receive->toPlainText(), reply);

    QTest::mouseClick(w->Text_Receive->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keySequence(w->Text_Receive, QKeySequence::SelectAll);
    QTest::keySequence(w->Text_Receive, QKeySequence::Copy);
    QCOMPARE(QGuiApplication::clipboard()->text(), reply);

    for (const auto &[box, text] : {std::pair{w->Text_Send, request}, std::pair{w->Text_Receive, reply},
                                    std::pair{w->Text_Message, kDataNormal}}) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(box);
        QVERIFY(a && a->textInterface());
        QCOMPARE(a->textInterface()->text(0, a->textInterface()->characterCount()), text);
    }
}

void TestDigital::inputsFollowTheModule()
{
    QFETCH(QString, model);
    QFETCH(int, number);
    QFETCH(QList<int>, inputsOn);
    QFETCH(QString, request);
    QFETCH(QString, reply);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(number, 1, 2);
    for (int i : inputsOn)
        module->setDiscreteInput(i, true);
    auto w = openWindow(model);
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    // The timers of tm.rc drive the exchange.
    QTRY_COMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    QCOMPARE(w->Text_Send->toPlainText(), request);
    QCOMPARE(w->Text_Receive->toPlainText(), reply);
    QCOMPARE(onIndices(w->DI_SHOW), inputsOn);
    // An input that changes on the module shows at a later exchange.
    module->setDiscreteInput(inputsOn.first(), false);
    QTRY_COMPARE(onIndices(w->DI_SHOW), inputsOn.mid(1));
    QVERIFY(env.messages.isEmpty());
}

void TestDigital::outputsWriteTheirBytes_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("number");
    QTest::addColumn<QList<int>>("clicked");
    QTest::addColumn<QString>("request");
    QTest::newRow("5510 relays 1 and 3") << "KV5510ADAM" << 5510 << QList<int>{0, 2} << "01 0F 00 00 00 04 01 05 FE 95 ";
    QTest::newRow("5540 output 9") << "KV5540ADAM" << 5540 << QList<int>{8}
                                   << HexText(Crc16(QByteArray::fromHex("010F00000010020001"), 8));
    QTest::newRow("5550 twice is off") << "KV5550ADAM" << 5550 << QList<int>{1, 1, 6}
                                       << HexText(Crc16(QByteArray::fromHex("010F000000080140"), 7));
}

void TestDigital::outputsWriteTheirBytes()
{
    QFETCH(QString, model);
    QFETCH(int, number);
    QFETCH(QList<int>, clicked);
    QFETCH(QString, request);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(number, 1, 2);
    auto w = openWindow(model);
    QVERIFY(openPort(w.get()));
    QSet<int> on;
    for (int i : clicked) {
        QTest::mouseClick(w->DO_SHOW[i], Qt::LeftButton);
        if (!on.remove(i))
            on.insert(i);
    }
    // Clicks only change the indicators; nothing goes out before "Validate".
    QVERIFY(simLine(w.get())->writes().isEmpty());
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), request);
    QTRY_COMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    QCOMPARE(w->Text_Receive->toPlainText().left(18), request.left(18));
    for (int i = 0; i < w->DO_SHOW.size(); ++i) {
        QCOMPARE(module->coil(i), on.contains(i));
        QCOMPARE(shownOn(w->DO_SHOW[i]), on.contains(i));
    }
    QCOMPARE(simLine(w.get())->writes().size(), 1);
}

void TestDigital::rejectedRepliesLeaveIndicators_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("no reply") << QByteArray();
    QTest::newRow("exception") << Crc16(QByteArray::fromHex("018201"), 2);
    QTest::newRow("bad crc") << QByteArray::fromHex("01020105618C");
}

void TestDigital::rejectedRepliesLeaveIndicators()
{
    QFETCH(QByteArray, reply);
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2)->faults.silent = true;
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    readExchange(w.get(), Crc16(QByteArray::fromHex("010201A0"), 3));
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    const QList<int> before = onIndices(w->DI_SHOW);
    QCOMPARE(before, (QList<int>{5, 7}));
    readExchange(w.get(), reply);
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Error！"));
    QCOMPARE(w->Text_Receive->toPlainText(), QString());
    QCOMPARE(onIndices(w->DI_SHOW), before);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
}

void TestDigital::stopWithReplyInFlight()
{
    GuiTestEnvironment env;
    env.bus.addModule(5530, 1, 2)->faults.silent = true;
    auto w = openWindow(QStringLiteral("KV5530ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    w->TM_Acquisition_A_Timer();
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    simLine(w.get())->injectBytes(QByteArray::fromHex("0102020580BB48"));
    w->TM_Overtime_A_Timer();
    // Judged and shown, but the indicators stay as they were.
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    QCOMPARE(w->Text_Receive->toPlainText(), QStringLiteral("01 02 02 05 80 BB 48 "));
    QCOMPARE(onIndices(w->DI_SHOW), QList<int>());
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
}

void TestDigital::overdueTimeOutJudgedBeforeNextTick()
{
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2)->faults.silent = true;
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    w->TM_Acquisition_A_Timer();
    simLine(w.get())->injectBytes(QByteArray::fromHex("01020105618B"));
    // The next tick comes before the time-out of the first request.
    w->TM_Acquisition_A_Timer();
    QCOMPARE(onIndices(w->DI_SHOW), (QList<int>{0, 2}));
    QVERIFY(w->TM_Overtime_A->isEnabled());
    QCOMPARE(w->ReceiveHex, QString());
}

void TestDigital::validateSuspendsAndResumes()
{
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(5550, 1, 2);
    auto w = openWindow(QStringLiteral("KV5550ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTest::mouseClick(w->DO_SHOW[0], Qt::LeftButton);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(env.pauses, QList<int>{300});
    QCOMPARE(w->ResumeAcquisition, 1);
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QCOMPARE(w->Text_Send->toPlainText(), HexText(Crc16(QByteArray::fromHex("010F000000080101"), 7)));
    QTRY_COMPARE(w->ResumeAcquisition, 0);
    QVERIFY(w->TM_Acquisition_A->isEnabled());
    QVERIFY(module->coil(0));
    // Polling goes on with the button still at "Stop".
    QTRY_COMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 02 00 00 00 08 79 CC "));
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
}

void TestDigital::validateWhileIdleStartsNothing()
{
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2);
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QVERIFY(env.pauses.isEmpty());
    QCOMPARE(simLine(w.get())->writes().size(), 1);
}

void TestDigital::validateFailureResumes()
{
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2);
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    w->Combo_Addr[1]->setEditText(QString());
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList{QStringLiteral("Module Address Not Selected！")});
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(w->TM_Acquisition_A->isEnabled());
    w->Combo_Addr[1]->setEditText(QStringLiteral("300"));
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(env.messages.last(), QStringLiteral("Module address must be a number from 0 to 255！"));
    QVERIFY(w->TM_Acquisition_A->isEnabled());
    QTest::mouseClick(w->Command_Port, Qt::LeftButton);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    // With no port the suspended cycle ends idle: one message, no second one at the next tick.
    QCOMPARE(env.messages.last(), QStringLiteral("Please open serial port！"));
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    for (const QByteArray &frame : simLine(w.get())->writes())
        QVERIFY(frame[1] != 0x0F);
}

void TestDigital::stopDuringWriteIsHonoured()
{
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2);
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->ResumeAcquisition, 1);
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    QCOMPARE(w->ResumeAcquisition, 0);
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
}

void TestDigital::tickPreconditions_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("port closed") << false << "1" << "Please open serial port！";
    QTest::newRow("empty address") << true << "" << "Module Address Not Selected！";
    QTest::newRow("letters") << true << "abc" << "Module address must be a number from 0 to 255！";
    QTest::newRow("too big") << true << "256" << "Module address must be a number from 0 to 255！";
    QTest::newRow("negative") << true << "-1" << "Module address must be a number from 0 to 255！";
}

void TestDigital::tickPreconditions()
{
    QFETCH(bool, open);
    QFETCH(QString, address);
    QFETCH(QString, message);
    GuiTestEnvironment env;
    env.bus.addModule(5530, 1, 2);
    auto w = openWindow(QStringLiteral("KV5530ADAM"));
    if (open)
        QVERIFY(openPort(w.get()));
    w->Combo_Addr[0]->setEditText(address);
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QTRY_COMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QCOMPARE(env.messages, QStringList{message});
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QVERIFY(simLine(w.get())->writes().isEmpty());
    QCOMPARE(w->Text_Send->toPlainText(), QString());
}

void TestDigital::floodStaysBounded()
{
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(5510, 1, 2);
    module->setDiscreteInput(1, true);
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QRandomGenerator random(7);
    for (int chunk = 0; chunk < 256; ++chunk) {
        QByteArray noise(4096, '\0');
        random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        simLine(w.get())->injectBytes(noise);
        QVERIFY(w->ReceiveHex.size() <= (8 + 16) * 3); // the write echo is its longest reply
        if (chunk % 32 == 0)
            QCoreApplication::processEvents();
    }
    // The noise stops; the next exchanges are judged normally again.
    w->Text_Message->clear();
    QTRY_COMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
    QCOMPARE(onIndices(w->DI_SHOW), QList<int>{1});
}

void TestDigital::missingTimingFile()
{
    GuiTestEnvironment env;
    QFile::remove(QStringLiteral("sys/tm.rc"));
    auto w = openWindow(QStringLiteral("KV5510ADAM"));
    QCOMPARE(env.messages, QStringList{QStringLiteral("Cannot read ") + sysFileLabel(QStringLiteral("tm.rc"))});
    QVERIFY(w->isVisible());
    QCOMPARE(w->TM_Acquisition_A->interval(), 0);
    env.messages.clear();
    env.writeSys(QStringLiteral("tm.rc"), shortTimingFile().left(100));
    auto again = openWindow(QStringLiteral("KV5550ADAM"));
    QCOMPARE(env.messages.size(), 1);
    QVERIFY(env.messages[0].contains(QStringLiteral("of its 20 lines")));
}

QTEST_MAIN(TestDigital)
#include "test_digital.moc"
