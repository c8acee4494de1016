// The parameter window against simulated modules on the in-process line, which sees the exact
// settings text of every reopen, so parity counts here.
#include "support/guitest.h"

#include "modbus.h"
#include "setfrm.h"

#include <QScopeGuard>

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kSerialFault = QStringLiteral("Serial fault, Please check the serial port");
const QString kReadFrameText = QStringLiteral("00 03 00 64 00 03 45 C5 ");
const QStringList kScanSettings = {
    QStringLiteral("4800,N,8,1"), QStringLiteral("9600,N,8,1"), QStringLiteral("19200,N,8,1"),
    QStringLiteral("38400,N,8,1"), QStringLiteral("4800,E,8,1"), QStringLiteral("9600,E,8,1"),
    QStringLiteral("19200,E,8,1"), QStringLiteral("38400,E,8,1"),
};
constexpr int kScanTimeout = 8000; // a full scan takes about 1.2 s

std::unique_ptr<SetFrm> openWindow()
{
    std::unique_ptr<SetFrm> w(static_cast<SetFrm *>(createSetFrm()));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    return w;
}

// What a scan did, step by step: the settings of each reopen (taken right after the step wrote its
// request), every status shown, and whether Text_Parameter ever showed something.
struct ScanLog {
    QStringList settings;
    QStringList statuses;
    QStringList parameterTexts;
    std::function<void(int step)> afterStep; // runs once a step has sent its request

    explicit ScanLog(SetFrm *w)
    {
        m_connections << QObject::connect(w->TM_Acquisition_A, &WindowTimer::Timer, w, [this, w] {
            settings << simLine(w)->lastSettings();
            if (afterStep)
                afterStep(w->ScanStep);
        });
        m_connections << QObject::connect(w->Text_Message, &QPlainTextEdit::textChanged, w, [this, w] {
            if (!w->Text_Message->toPlainText().isEmpty())
                statuses << w->Text_Message->toPlainText();
        });
        m_connections << QObject::connect(w->Text_Parameter, &QPlainTextEdit::textChanged, w, [this, w] {
            if (!w->Text_Parameter->toPlainText().isEmpty())
                parameterTexts << w->Text_Parameter->toPlainText();
        });
    }
    ~ScanLog()
    {
        for (const QMetaObject::Connection &c : std::as_const(m_connections))
            QObject::disconnect(c);
    }
    ScanLog(const ScanLog &) = delete;
    ScanLog &operator=(const ScanLog &) = delete;

private:
    QList<QMetaObject::Connection> m_connections;
};

bool idle(const SetFrm *w)
{
    return w->Command_OK1->text() == kReadCaption && !w->TM_Acquisition_A->isEnabled()
           && !w->TM_Overtime_A->isEnabled() && w->ScanStep == 0;
}

QStringList shownLines(const SetFrm *w)
{
    return w->Text_Parameter->toPlainText().split(QLatin1Char('\n'));
}

QStringList expectedLines(int address, const QString &parameters, int model)
{
    return {QStringLiteral("Moudle address: %1").arg(address),
            QStringLiteral("Communication parameters: ") + parameters,
            QStringLiteral("Moudle model: KV%1ADAM").arg(model)};
}

// A read reply with registers 100..102 and a good CRC, from the given address byte.
QByteArray readReply(int from, std::uint16_t address, std::uint16_t code, std::uint16_t model)
{
    QByteArray p;
    p += char(from);
    p += char(0x03);
    p += char(0x06);
    for (std::uint16_t v : {address, code, model}) {
        p += char(v >> 8);
        p += char(v & 0xFF);
    }
    return Crc16(p, std::uint8_t(p.size() - 1));
}

QString codeText(int code)
{
    return communicationParameterTexts().value(code - 1);
}
} // namespace

class TestSetFrm : public QObject
{
    Q_OBJECT
private slots:
    void layout();
    void codeTable();
    void scanFindsModule_data();
    void scanFindsModule();
    void scanRejects_data();
    void scanRejects();
    void stopThenReadGoesOn();
    void lateTimeOutJudgedFirst_data();
    void lateTimeOutJudgedFirst();
    void decodesRegisters_data();
    void decodesRegisters();
    void addressChange_data();
    void addressChange();
    void parameterChangeThenScan();
    void parameterRequest_data();
    void parameterRequest();
    void badBoxTextsSendNothing_data();
    void badBoxTextsSendNothing();
    void portClosedSendsNothing();
    void explain();
    void scanEndsWhenPortGoes_data();
    void scanEndsWhenPortGoes();
};

void TestSetFrm::layout()
{
    // A tm.rc of short intervals must not reach this window's fixed timers.
    GuiTestEnvironment env(shortTimingFile(5, 5, 5));
    auto w = openWindow();
    QCOMPARE(w->objectName(), QStringLiteral("SetFrm"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Parameter Setting"));
    QCOMPARE(w->size(), QSize(twips(9375), twips(7080)));
    QCOMPARE(child<QGroupBox>(w.get(), QStringLiteral("Frame7"))->title(), QStringLiteral(" Module Parameter Reading "));
    QCOMPARE(child<QGroupBox>(w.get(), QStringLiteral("Frame2"))->title(), QStringLiteral(" Moudle Address Change "));
    QCOMPARE(child<QGroupBox>(w.get(), QStringLiteral("Frame3"))->title(),
             QStringLiteral(" Communication Parameter Change "));
    for (const char *frame : {"Frame7", "Frame2", "Frame3"})
        QCOMPARE(child<QGroupBox>(w.get(), QString::fromLatin1(frame))->width(), twips(6615));

    const QList<std::pair<QString, QString>> captions = {
        {QStringLiteral("Explain_0"), QStringLiteral("Explain")},
        {QStringLiteral("Explain_1"), QStringLiteral("Explain")},
        {QStringLiteral("Command_OK1"), QStringLiteral("Read")},
        {QStringLiteral("Command_OK2"), QStringLiteral("Validate")},
        {QStringLiteral("Command_OK3"), QStringLiteral("Validate")},
    };
    for (const auto &[name, text] : captions) {
        auto *button = child<QPushButton>(w.get(), name);
        QVERIFY2(button, qPrintable(name));
        QCOMPARE(button->text(), text);
    }
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label6"))->text(), QStringLiteral("New Moudle Address"));
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label7"))->text(), QStringLiteral("Moudle Address"));
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label8"))->text(), QStringLiteral("Communication Parameters"));
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label6"))->parentWidget()->objectName(), QStringLiteral("Frame2"));

    auto *text = child<QPlainTextEdit>(w.get(), QStringLiteral("Text_Parameter"));
    QVERIFY(text);
    QCOMPARE(text->size(), QSize(twips(3255), twips(1695)));
    QVERIFY(text->toPlainText().isEmpty());

    for (const char *name : {"Combo_Addr_0", "Combo_Addr_1"}) {
        auto *box = child<QComboBox>(w.get(), QString::fromLatin1(name));
        QVERIFY2(box, name);
        QVERIFY(box->isEditable());
        QCOMPARE(box->count(), 254);
        QCOMPARE(box->itemText(253), QStringLiteral("254"));
        QCOMPARE(box->currentText(), QStringLiteral("1"));
    }
    auto *baud = child<QComboBox>(w.get(), QStringLiteral("Combo_Baud"));
    QVERIFY(baud && baud->isEditable());
    QStringList items;
    for (int i = 0; i < baud->count(); ++i)
        items << baud->itemText(i);
    QCOMPARE(items, QStringList({"4800,None,8,1", "9600,None,8,1", "19200,None,8,1", "38400,None,8,1",
                                 "4800,Even,8,1", "9600,Even,8,1", "19200,Even,8,1", "38400,Even,8,1"}));
    QCOMPARE(baud->currentText(), QStringLiteral("9600,None,8,1"));

    const QList<std::pair<QString, int>> timers = {{QStringLiteral("TM_Acquisition_A"), 150},
                                                   {QStringLiteral("TM_Overtime_A"), 120},
                                                   {QStringLiteral("TM_Overtime_B"), 300}};
    for (const auto &[name, interval] : timers) {
        auto *timer = w->findChild<WindowTimer *>(name);
        QVERIFY2(timer, qPrintable(name));
        QCOMPARE(timer->interval(), interval);
        QVERIFY(!timer->isEnabled());
    }
    QCOMPARE(w->ScanStep, qint16(0));
    QCOMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
    QVERIFY(env.messages.isEmpty());

    // Without a tm.rc at all the window loads silently too: it never reads the file.
    QFile::remove(QStringLiteral("sys/tm.rc"));
    auto again = openWindow();
    QVERIFY(env.messages.isEmpty());
}

void TestSetFrm::codeTable()
{
    for (int code = 1; code <= 8; ++code)
        QCOMPARE(communicationParameterCode(codeText(code)), code);
    for (const char *text : {"9600", "9600,even,8,1", "9600,Even,8,1 ", "", "38400,Odd,8,1"})
        QCOMPARE(communicationParameterCode(QString::fromLatin1(text)), 0);
    // The lines are joined by CR LF with nothing after the last (the worked example).
    QCOMPARE(parameterLines(HexText(QByteArray::fromHex("0003060001000215863FD7"))),
             QStringLiteral("Moudle address: 1\r\nCommunication parameters: 9600,None,8,1\r\nMoudle model: KV5510ADAM"));
}

void TestSetFrm::scanFindsModule_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("parity");
    QTest::newRow("code 1, first step") << 1 << 17 << 1710 << "4800" << "None";
    QTest::newRow("code 3, 19200 None") << 3 << 1 << 5510 << "19200" << "None";
    QTest::newRow("code 7, not at 19200 None") << 7 << 254 << 7720 << "19200" << "Even";
    QTest::newRow("code 8, last step") << 8 << 3 << 5550 << "38400" << "Even";
}

void TestSetFrm::scanFindsModule()
{
    QFETCH(int, code);
    QFETCH(int, address);
    QFETCH(int, model);
    QFETCH(QString, baud);
    QFETCH(QString, parity);
    GuiTestEnvironment env;
    env.bus.addModule(model, std::uint8_t(address), code);
    auto w = openWindow();
    ScanLog log(w.get());
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QVERIFY(w->TM_Acquisition_A->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);

    QCOMPARE(log.settings, kScanSettings.mid(0, code));
    QStringList statuses(code - 1, kError);
    statuses << kNormal;
    QCOMPARE(log.statuses, statuses);
    QCOMPARE(shownLines(w.get()), expectedLines(address, codeText(code), model));
    QCOMPARE(w->Combo2->currentText(), baud);
    QCOMPARE(w->Combo3->currentText(), parity);
    QCOMPARE(w->Combo2->currentIndex(), w->Combo2->findText(baud));
    QCOMPARE(CommSettings, kScanSettings[code - 1]);
    QCOMPARE(ParityLetter, kScanSettings[code - 1].section(QLatin1Char(','), 1, 1));
    QVERIFY(w->portIsOpen() && w->MSComm1->isOpen());
    QCOMPARE(simLine(w.get())->lastSettings(), kScanSettings[code - 1]);
    QCOMPARE(w->Text_Send->toPlainText(), kReadFrameText);
    QCOMPARE(w->Text_Receive->toPlainText(), HexText(readReply(0, std::uint16_t(address), std::uint16_t(code),
                                                               std::uint16_t(model))));
    const QList<QByteArray> writes = simLine(w.get())->writes();
    QCOMPARE(writes.size(), code);
    for (const QByteArray &frame : writes)
        QCOMPARE(frame, QByteArray::fromHex("00030064000345C5"));
    QVERIFY(env.messages.isEmpty());

    // Closing saves the boxes the scan left.
    w->close();
    QCOMPARE(env.readSys(QStringLiteral("set.rc")), QStringLiteral("1\r\n%1\r\n%2\r\n").arg(baud, parity).toLatin1());
}

void TestSetFrm::scanRejects_data()
{
    QTest::addColumn<QString>("line");
    QTest::newRow("no module") << "none";
    QTest::newRow("reply from address 1") << "address 1";
    QTest::newRow("reply with a bad CRC") << "bad crc";
    QTest::newRow("exception reply") << "exception";
    QTest::newRow("one byte too many") << "extra byte";
    QTest::newRow("one byte short") << "truncate";
}

void TestSetFrm::scanRejects()
{
    QFETCH(QString, line);
    GuiTestEnvironment env;
    auto w = openWindow();
    ScanLog log(w.get());
    if (line == QLatin1String("address 1")) {
        // Answers at every step, but as module 1 rather than with the broadcast address.
        const QByteArray reply = readReply(1, 1, 2, 5510);
        log.afterStep = [&w, reply](int) { simLine(w.get())->injectBytes(reply); };
    } else if (line != QLatin1String("none")) {
        for (int code = 1; code <= 8; ++code) {
            SimModule *m = env.bus.addModule(5510, std::uint8_t(code), code);
            m->faults.badCrc = line == QLatin1String("bad crc");
            m->faults.exception = line == QLatin1String("exception");
            m->faults.extraByte = line == QLatin1String("extra byte");
            m->faults.truncate = line == QLatin1String("truncate");
        }
    }
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);

    QCOMPARE(log.settings, kScanSettings);
    QCOMPARE(log.statuses, QStringList(8, kError));
    QVERIFY2(log.parameterTexts.isEmpty(), qPrintable(log.parameterTexts.join(QLatin1Char('|'))));
    QVERIFY(w->Text_Receive->toPlainText().isEmpty());
    QCOMPARE(simLine(w.get())->writes().size(), 8);
    if (line != QLatin1String("none"))
        QVERIFY(!w->ReceiveHex.isEmpty()); // the module did answer
    QVERIFY(w->portIsOpen() && w->MSComm1->isOpen());
    QCOMPARE(simLine(w.get())->lastSettings(), QStringLiteral("38400,E,8,1"));
    QCOMPARE(w->Combo2->currentText(), QStringLiteral("38400"));
    QCOMPARE(w->Combo3->currentText(), QStringLiteral("Even"));
    QCOMPARE(ParityLetter, QStringLiteral("E"));
    QVERIFY(env.messages.isEmpty());
}

void TestSetFrm::stopThenReadGoesOn()
{
    GuiTestEnvironment env;
    env.bus.addModule(5520, 9, 8);
    auto w = openWindow();
    ScanLog log(w.get());
    log.afterStep = [&w](int step) {
        if (step == 3)
            w->Command_OK1->click();
    };
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Command_OK1->text(), kReadCaption, kScanTimeout);
    // The request of the third step is still judged after "Stop".
    QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Overtime_A->isEnabled(), kScanTimeout);
    QCOMPARE(log.statuses, QStringList(3, kError));
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QCOMPARE(w->ScanStep, qint16(3));

    log.afterStep = {};
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);
    QCOMPARE(log.settings, kScanSettings);
    QCOMPARE(log.settings.value(3), QStringLiteral("38400,N,8,1"));
    QCOMPARE(simLine(w.get())->writes().size(), 8);
    QCOMPARE(shownLines(w.get()), expectedLines(9, codeText(8), 5520));
}

void TestSetFrm::lateTimeOutJudgedFirst_data()
{
    QTest::addColumn<bool>("answered");
    QTest::newRow("module answered") << true;
    QTest::newRow("no answer") << false;
}

void TestSetFrm::lateTimeOutJudgedFirst()
{
    QFETCH(bool, answered);
    GuiTestEnvironment env;
    auto w = openWindow();
    ScanLog log(w.get());
    QVERIFY(openPort(w.get()));
    w->Command_OK1->click();
    // A busy event loop delivers the next tick before the time-out of the first request.
    w->TM_Acquisition_A_Timer();
    QVERIFY(w->TM_Overtime_A->isEnabled());
    const QByteArray reply = readReply(0, 4, 1, 1740);
    if (answered)
        simLine(w.get())->injectBytes(reply);
    w->TM_Acquisition_A_Timer();
    if (answered) {
        QCOMPARE(w->Text_Message->toPlainText(), kNormal);
        QCOMPARE(shownLines(w.get()), expectedLines(4, codeText(1), 1740));
        QVERIFY(idle(w.get()));
        QCOMPARE(simLine(w.get())->writes().size(), 1);
        QCOMPARE(simLine(w.get())->lastSettings(), kScanSettings[0]);
    } else {
        // Judged, then the scan went on with its second combination.
        QCOMPARE(w->ScanStep, qint16(2));
        QCOMPARE(simLine(w.get())->writes().size(), 2);
        QCOMPARE(simLine(w.get())->lastSettings(), kScanSettings[1]);
        QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
        QCOMPARE(log.statuses, QStringList{kError});
    }
}

void TestSetFrm::decodesRegisters_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("worked example") << QByteArray::fromHex("0003060001000215863FD7")
                                    << expectedLines(1, QStringLiteral("9600,None,8,1"), 5510);
    QTest::newRow("code 0") << readReply(0, 7, 0, 1730) << expectedLines(7, QString(), 1730);
    QTest::newRow("code 9") << readReply(0, 7, 9, 1730) << expectedLines(7, QString(), 1730);
    QTest::newRow("code 0x0105") << readReply(0, 7, 0x0105, 1730) << expectedLines(7, QString(), 1730);
    QTest::newRow("model 0") << readReply(0, 12, 5, 0) << expectedLines(12, QStringLiteral("4800,Even,8,1"), 0);
    QTest::newRow("largest values") << readReply(0, 65535, 8, 65535)
                                    << expectedLines(65535, QStringLiteral("38400,Even,8,1"), 65535);
}

void TestSetFrm::decodesRegisters()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, lines);
    GuiTestEnvironment env;
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    // One scan step driven by hand: send, the reply arrives, the time-out judges.
    w->TM_Acquisition_A_Timer();
    QCOMPARE(w->ScanStep, qint16(1));
    simLine(w.get())->injectBytes(reply);
    w->TM_Overtime_A_Timer();
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(shownLines(w.get()), lines);
    QCOMPARE(w->Text_Receive->toPlainText(), HexText(reply));
    QVERIFY(idle(w.get()));
}

void TestSetFrm::addressChange_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("addressAfter");
    QTest::newRow("to 5") << "5" << QByteArray::fromHex("00060064000509C7") << kNormal << 5;
    QTest::newRow("typed 12x") << "12x" << Crc16(QByteArray::fromHex("00060064000C"), 5) << kNormal << 12;
    QTest::newRow("to 254") << "254" << Crc16(QByteArray::fromHex("0006006400FE"), 5) << kNormal << 254;
    // The module refuses 0 and 255 with an exception reply: sent as typed, judged an error.
    QTest::newRow("to 0") << "0" << Crc16(QByteArray::fromHex("000600640000"), 5) << kError << 1;
    QTest::newRow("to 255") << "255" << Crc16(QByteArray::fromHex("0006006400FF"), 5) << kError << 1;
}

void TestSetFrm::addressChange()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QFETCH(QString, status);
    QFETCH(int, addressAfter);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(5530, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    w->Text_Parameter->setPlainText(QStringLiteral("kept"));
    w->Combo_Addr[0]->setEditText(text);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), HexText(frame));
    QCOMPARE(simLine(w.get())->writes(), QList<QByteArray>{frame});
    QVERIFY(w->TM_Overtime_B->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Overtime_B->isEnabled(), 3000);
    QCOMPARE(w->Text_Message->toPlainText(), status);
    QCOMPARE(w->Text_Receive->toPlainText(), status == kNormal ? HexText(frame) : QString());
    QCOMPARE(int(module->address()), addressAfter);
    QCOMPARE(w->Text_Parameter->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(w->Command_OK2->text(), QStringLiteral("Validate"));
    QVERIFY(env.messages.isEmpty());

    if (addressAfter == 1)
        return;
    // A scan reports the new address, a request to it is answered and one to the old is not.
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);
    QCOMPARE(shownLines(w.get()), expectedLines(addressAfter, codeText(2), 5530));
    for (const int to : {addressAfter, 1}) {
        w->Combo_Addr[1]->setEditText(QString::number(to));
        QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Overtime_B->isEnabled(), 3000);
        QCOMPARE(w->Text_Message->toPlainText(), to == addressAfter ? kNormal : kError);
    }
    QVERIFY(env.messages.isEmpty());
}

void TestSetFrm::parameterChangeThenScan()
{
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(5510, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    w->Combo_Baud->setCurrentIndex(5);
    QCOMPARE(w->Combo_Baud->currentText(), QStringLiteral("9600,Even,8,1"));
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 06 00 65 00 06 19 D7 "));
    QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Overtime_B->isEnabled(), 3000);
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->Text_Receive->toPlainText(), QStringLiteral("01 06 00 65 00 06 19 D7 "));
    QCOMPARE(module->code(), 6);
    // Nothing in the window follows the change by itself.
    QCOMPARE(simLine(w.get())->lastSettings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(w->Combo3->currentText(), QStringLiteral("None"));

    ScanLog log(w.get());
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);
    QStringList statuses(5, kError);
    statuses << kNormal;
    QCOMPARE(log.statuses, statuses); // silent at 9600,None now
    QCOMPARE(shownLines(w.get()), expectedLines(1, QStringLiteral("9600,Even,8,1"), 5510));
    QCOMPARE(w->Combo2->currentText(), QStringLiteral("9600"));
    QCOMPARE(w->Combo3->currentText(), QStringLiteral("Even"));
    QVERIFY(env.messages.isEmpty());
}

void TestSetFrm::parameterRequest_data()
{
    QTest::addColumn<int>("moduleAt");
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QString>("baudText");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("status");
    QTest::newRow("module 12") << 12 << "12" << "38400,None,8,1" << Crc16(QByteArray::fromHex("0C0600650004"), 5)
                               << kNormal;
    QTest::newRow("to 12, module at 1 silent") << 1 << "12" << "4800,None,8,1"
                                               << Crc16(QByteArray::fromHex("0C0600650001"), 5) << kError;
    QTest::newRow("broadcast 0") << 1 << "0" << "19200,Even,8,1" << Crc16(QByteArray::fromHex("000600650007"), 5)
                                        << kNormal;
    QTest::newRow("address 255") << 1 << "255" << "9600,Even,8,1" << Crc16(QByteArray::fromHex("FF0600650006"), 5)
                                 << kError;
}

void TestSetFrm::parameterRequest()
{
    QFETCH(int, moduleAt);
    QFETCH(QString, addressText);
    QFETCH(QString, baudText);
    QFETCH(QByteArray, frame);
    QFETCH(QString, status);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(5540, std::uint8_t(moduleAt), 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    w->Combo_Addr[1]->setEditText(addressText);
    w->Combo_Baud->setEditText(baudText);
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(simLine(w.get())->writes(), QList<QByteArray>{frame});
    QCOMPARE(w->Text_Send->toPlainText(), HexText(frame));
    QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Overtime_B->isEnabled(), 3000);
    QCOMPARE(w->Text_Message->toPlainText(), status);
    const bool reached = moduleAt == addressText.toInt() || addressText == QLatin1String("0");
    QCOMPARE(module->code(), reached ? communicationParameterCode(baudText) : 2);
    QVERIFY(env.messages.isEmpty());
}

void TestSetFrm::badBoxTextsSendNothing_data()
{
    QTest::addColumn<int>("button"); // 2: address change, 3: parameter change
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QString>("baudText");
    QTest::addColumn<QString>("message");
    const QString noAddress = QStringLiteral("Module Address Not Selected！");
    QTest::newRow("new address empty") << 2 << "" << "9600,None,8,1" << noAddress;
    QTest::newRow("new address abc") << 2 << "abc" << "9600,None,8,1" << kAddressRangeMessage;
    QTest::newRow("new address 256") << 2 << "256" << "9600,None,8,1" << kAddressRangeMessage;
    QTest::newRow("new address -1") << 2 << "-1" << "9600,None,8,1" << kAddressRangeMessage;
    QTest::newRow("module address empty") << 3 << "" << "9600,None,8,1" << noAddress;
    QTest::newRow("module address 300") << 3 << "300" << "9600,None,8,1" << kAddressRangeMessage;
    QTest::newRow("module address empty, bad code") << 3 << "" << "9600" << noAddress;
    QTest::newRow("baud only") << 3 << "1" << "9600" << kParametersNotValid;
    QTest::newRow("lower-case parity") << 3 << "1" << "9600,even,8,1" << kParametersNotValid;
    QTest::newRow("trailing blank") << 3 << "1" << "9600,Even,8,1 " << kParametersNotValid;
    QTest::newRow("empty parameters") << 3 << "1" << "" << kParametersNotValid;
}

void TestSetFrm::badBoxTextsSendNothing()
{
    QFETCH(int, button);
    QFETCH(QString, addressText);
    QFETCH(QString, baudText);
    QFETCH(QString, message);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(5510, 1, 2);
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    // Leftovers of an earlier exchange are cleared all the same.
    w->Text_Send->setPlainText(QStringLiteral("old"));
    w->Text_Message->setPlainText(QStringLiteral("old"));
    w->Combo_Addr[button - 2]->setEditText(addressText);
    w->Combo_Baud->setEditText(baudText);
    QTest::mouseClick(button == 2 ? w->Command_OK2 : w->Command_OK3, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList{message});
    QVERIFY(simLine(w.get())->writes().isEmpty());
    QVERIFY(w->Text_Send->toPlainText().isEmpty());
    QVERIFY(w->Text_Message->toPlainText().isEmpty());
    QVERIFY(w->SendHex.isEmpty());
    QVERIFY(!w->TM_Overtime_B->isEnabled());
    QCOMPARE(module->code(), 2);
    QCOMPARE(int(module->address()), 1);
}

void TestSetFrm::portClosedSendsNothing()
{
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 2);
    auto w = openWindow();
    for (QPushButton *button : {w->Command_OK1, w->Command_OK2, w->Command_OK3})
        QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList(3, QStringLiteral("Please open serial port！")));
    QCOMPARE(env.titles, QStringList(3, QStringLiteral("Prompt")));
    QCOMPARE(w->Command_OK1->text(), kReadCaption);
    QVERIFY(!w->TM_Acquisition_A->isEnabled() && !w->TM_Overtime_B->isEnabled());
    QVERIFY(w->Text_Send->toPlainText().isEmpty());
    QCOMPARE(simLine(w.get())->openCount(), 0);
    QVERIFY(simLine(w.get())->writes().isEmpty());
}

void TestSetFrm::explain()
{
    GuiTestEnvironment env;
    auto w = openWindow();
    QVERIFY(openPort(w.get()));
    w->Text_Message->setPlainText(QStringLiteral("untouched"));
    QCOMPARE(w->Explain.size(), 2);
    for (QPushButton *button : std::as_const(w->Explain))
        QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList(2, kExplainMessage));
    QCOMPARE(kExplainMessage, QStringLiteral("You need keep only one module in RS485 network when you use this order."));
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("untouched"));
    QVERIFY(simLine(w.get())->writes().isEmpty());
}

void TestSetFrm::scanEndsWhenPortGoes_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("ticks"); // the scan ends at once, or at the tick whose reopen fails
    QTest::newRow("Close Port clicked") << "close" << QStringList() << 2;
    QTest::newRow("baud box chosen") << "baud box" << QStringList() << 2;
    QTest::newRow("line fails") << "line fails" << QStringList{kSerialFault} << 2;
    // The close handler itself ends the scan, however it was reached.
    QTest::newRow("closed by a direct call") << "direct" << QStringList() << 2;
    QTest::newRow("reopen fails: port taken") << "taken" << QStringList{kSerialFault} << 3;
    QTest::newRow("reopen fails: port gone") << "gone" << QStringList{kSerialFault} << 3;
}

void TestSetFrm::scanEndsWhenPortGoes()
{
    QFETCH(QString, how);
    QFETCH(QStringList, messages);
    QFETCH(int, ticks);
    GuiTestEnvironment env;
    env.bus.addModule(5510, 1, 8);
    const auto restorePorts = qScopeGuard([] { SimLine::resetPorts(); });
    auto w = openWindow();
    ScanLog log(w.get());
    // After the second step has sent its request, the port goes away in one of several ways.
    log.afterStep = [&w, how](int step) {
        if (step != 2)
            return;
        if (how == QLatin1String("close"))
            w->Command_Port->click();
        else if (how == QLatin1String("baud box"))
            emit w->Combo2->activated(0);
        else if (how == QLatin1String("direct"))
            w->Command_Port_Click();
        else if (how == QLatin1String("line fails"))
            simLine(w.get())->fail();
        else if (how == QLatin1String("taken"))
            SimLine::setPortInUse(1, true);
        else
            SimLine::setPortMissing(1, true);
    };
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);

    QCOMPARE(env.messages, messages);
    QCOMPARE(log.settings.size(), ticks);
    // Only the two requests that went out were judged.
    QCOMPARE(log.statuses, QStringList(2, kError));
    QCOMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QVERIFY(!w->MSComm1->isOpen());
    // Nothing reopened the port or wrote to it after the second step.
    QCOMPARE(simLine(w.get())->writes().size(), 2);
    QCOMPARE(simLine(w.get())->openCount(), 3);
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    // "Read" now asks for the port instead of scanning a closed one.
    env.messages.clear();
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList{QStringLiteral("Please open serial port！")});
    QCOMPARE(w->Command_OK1->text(), kReadCaption);
}

QTEST_MAIN(TestSetFrm)
#include "test_setfrm.moc"
