// The parameter window against simulated modules on the in-process line, which sees the exact
// settings text of every reopen, so parity counts here.
#include "support/guitest.h"

#include "linesettings.h"
#include "modbus.h"
#include "setfrm.h"

#include <QScopeGuard>

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kOpenPort = QStringLiteral("Please open serial port！");
const QString kFault = QStringLiteral("Serial fault, Please check the serial port");
const QByteArray kReadFrame = QByteArray::fromHex("00030064000345C5");
const QStringList kScanSettings = {"4800,N,8,1", "9600,N,8,1", "19200,N,8,1", "38400,N,8,1",
                                   "4800,E,8,1", "9600,E,8,1", "19200,E,8,1", "38400,E,8,1"};
constexpr int kScanTimeout = 8000; // a full scan takes about 1.2 s

std::unique_ptr<SetFrm> openWindow()
{
    std::unique_ptr<SetFrm> w(static_cast<SetFrm *>(createSetFrm()));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    return w;
}

// What a scan did: the settings of each reopen (taken right after the step wrote its request), every
// status shown, and every text Text_Parameter showed.
struct ScanLog {
    QStringList settings, statuses, parameterTexts;
    std::function<void(int step)> afterStep; // runs once a step has sent its request
    QObject context;                         // its end ends the connections
    explicit ScanLog(SetFrm *w)
    {
        QObject::connect(w->TM_Acquisition_A, &WindowTimer::Timer, &context, [this, w] {
            settings << simLine(w)->lastSettings();
            if (afterStep)
                afterStep(w->ScanStep);
        });
        QObject::connect(w->Text_Message, &TextBox::textChanged, &context, [this, w] {
            if (!w->Text_Message->toPlainText().isEmpty())
                statuses << w->Text_Message->toPlainText();
        });
        QObject::connect(w->Text_Parameter, &QPlainTextEdit::textChanged, &context, [this, w] {
            if (!w->Text_Parameter->toPlainText().isEmpty())
                parameterTexts << w->Text_Parameter->toPlainText();
        });
    }
};

bool idle(const SetFrm *w)
{
    return w->Command_OK1->text() == kReadCaption && !w->TM_Acquisition_A->isEnabled()
           && !w->TM_Overtime_A->isEnabled() && w->ScanStep == 0;
}

QStringList expectedLines(int address, const QString &parameters, int model)
{
    return QStringLiteral("Moudle address: %1\nCommunication parameters: %2\nMoudle model: KV%3ADAM")
        .arg(address).arg(parameters).arg(model).split('\n');
}

// A read reply with registers 100..102 and a good CRC, from the given address byte.
QByteArray readReply(int from, int address, int code, int model)
{
    QByteArray p = QByteArray(1, char(from)) + "\x03\x06";
    for (int v : {address, code, model})
        p += QByteArray(1, char(v >> 8)) + char(v & 0xFF);
    return Crc16(p, std::uint8_t(p.size() - 1));
}

const QStringList &kTexts = communicationParameterTexts(); // pinned by test_core

// Scans that find a module or reject every reply. code 0: no module at all.
struct ScanCase { const char *name, *fault; int code, address, model; };
const ScanCase kScans[] = {{"code 1, first step", "", 1, 17, 1710}, {"code 3, 19200 None", "", 3, 1, 5510},
                           {"code 8, last step", "", 8, 3, 5550},  {"no module", "", 0, 0, 0},
                           {"reply from address 1", "address 1", 0, 0, 0}, {"bad CRC", "bad crc", 8, 1, 5510},
                           {"one byte too many", "extra byte", 8, 1, 5510}};

// A write from either change panel. Empty frame: refused with `prompt`, nothing sent.
struct WriteCase {
    const char *name, *address, *baud, *payload, *prompt; // button 2: address change, 3: parameter change
    int button, answered, addressAfter, codeAfter;
};
const WriteCase kWrites[] = {
    {"address to 5", "5", "", "000600640005", "", 2, 1, 5, 2},
    {"address typed 12x", "12x", "", "00060064000C", "", 2, 1, 12, 2},
    {"address 0 refused by the module", "0", "", "000600640000", "", 2, 0, 1, 2},
    {"module 1 to 9600,Even", "1", "9600,Even,8,1", "010600650006", "", 3, 1, 1, 6},
    {"to 12, module at 1 silent", "12", "4800,None,8,1", "0C0600650001", "", 3, 0, 1, 2},
    {"broadcast 0", "0", "19200,Even,8,1", "000600650007", "", 3, 1, 1, 7},
    {"new address empty", "", "", "", "Module Address Not Selected！", 2, 0, 1, 2},
    {"new address 256", "256", "", "", "range", 2, 0, 1, 2},
    {"module address 300", "300", "9600,None,8,1", "", "range", 3, 0, 1, 2},
    {"module address empty, bad code", "", "9600", "", "Module Address Not Selected！", 3, 0, 1, 2},
    {"baud only", "1", "9600", "", "Communication parameters are not valid！", 3, 0, 1, 2},
};

template <typename Case, std::size_t N>
void caseRows(const Case (&cases)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(cases[i].name) << int(i);
}
} // namespace

class TestSetFrm : public QObject
{
    Q_OBJECT
private slots:
    void scan_data() { caseRows(kScans); }
    void writes_data() { caseRows(kWrites); }

    void layout()
    {
        // A tm.rc of short intervals must not reach this window's fixed timers.
        GuiTestEnvironment env(shortTimingFile(5, 5, 5));
        auto w = openWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("Parameter Setting"));
        QCOMPARE(w->size(), QSize(twips(9375), twips(7080)));
        const QList<std::pair<const char *, QString>> captions = {
            {"Frame7", " Module Parameter Reading "}, {"Frame2", " Moudle Address Change "},
            {"Frame3", " Communication Parameter Change "}, {"Explain_0", "Explain"}, {"Explain_1", "Explain"},
            {"Command_OK1", "Read"}, {"Command_OK2", "Validate"}, {"Command_OK3", "Validate"},
            {"Label6", "New Moudle Address"}, {"Label7", "Moudle Address"}, {"Label8", "Communication Parameters"}};
        for (const auto &[name, text] : captions) {
            QWidget *c = child(w.get(), QString::fromLatin1(name));
            QVERIFY2(c, name);
            QCOMPARE(c->property(qobject_cast<QGroupBox *>(c) ? "title" : "text").toString(), text);
        }
        auto *baud = child<QComboBox>(w.get(), QStringLiteral("Combo_Baud"));
        QVERIFY(baud && baud->isEditable() && baud->count() == 8 && child(w.get(), QStringLiteral("Combo_Addr_1")));
        QCOMPARE(baud->itemText(0) + '|' + baud->currentText(), QStringLiteral("4800,None,8,1|9600,None,8,1"));
        const QList<int> intervals = {w->TM_Acquisition_A->interval(), w->TM_Overtime_A->interval(),
                                      w->TM_Overtime_B->interval()};
        QCOMPARE(intervals, QList<int>({150, 120, 300}));
        // Without a tm.rc at all the window loads silently too: it never reads the file.
        QFile::remove(QStringLiteral("sys/tm.rc"));
        auto again = openWindow();
        QVERIFY(env.messages.isEmpty());
        // With the port closed every button only asks for it.
        for (QPushButton *button : {w->Command_OK1, w->Command_OK2, w->Command_OK3})
            button->click();
        QCOMPARE(env.messages, QStringList(3, kOpenPort));
        QCOMPARE(w->Command_OK1->text(), kReadCaption);
        QCOMPARE(simLine(w.get())->openCount(), 0);
        // Explain only warns.
        env.messages.clear();
        QVERIFY(openPort(w.get()));
        w->Text_Message->setPlainText(QStringLiteral("untouched"));
        for (QPushButton *button : std::as_const(w->Explain))
            button->click();
        QCOMPARE(env.messages, QStringList(2, kExplainMessage));
        QCOMPARE(kExplainMessage,
                 QStringLiteral("You need keep only one module in RS485 network when you use this order."));
        QVERIFY(simLine(w.get())->writes().isEmpty() && w->Text_Message->toPlainText() == QLatin1String("untouched"));
    }

    void scan()
    {
        QFETCH(int, row);
        const ScanCase &c = kScans[row];
        const QString fault = QString::fromLatin1(c.fault);
        const bool found = c.code > 0 && fault.isEmpty();
        const int steps = found ? c.code : 8;
        GuiTestEnvironment env;
        auto w = openWindow();
        ScanLog log(w.get());
        if (fault == QLatin1String("address 1")) // answers every step, as module 1 instead of the broadcast address
            log.afterStep = [&w](int) { simLine(w.get())->injectBytes(readReply(1, 1, 2, 5510)); };
        if (c.code > 0) {
            SimModule *m = env.bus.addModule(c.model, std::uint8_t(c.address), c.code);
            m->faults.badCrc = fault == QLatin1String("bad crc");
            m->faults.extraByte = fault == QLatin1String("extra byte");
        }
        QVERIFY(openPort(w.get()));
        w->Command_OK1->click();
        QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);
        QCOMPARE(log.settings, kScanSettings.mid(0, steps));
        QCOMPARE(log.statuses, found ? QStringList(steps - 1, kError) << kNormal : QStringList(8, kError));
        QCOMPARE(simLine(w.get())->writes(), QList<QByteArray>(steps, kReadFrame));
        QCOMPARE(w->Text_Receive->toPlainText(), found ? HexText(readReply(0, c.address, c.code, c.model)) : QString());
        const QStringList lines = expectedLines(c.address, kTexts.value(c.code - 1), c.model);
        QCOMPARE(log.parameterTexts, found ? QStringList{lines.join('\n')} : QStringList());
        // The port stays open at the last settings tried, and closing saves the boxes the scan left.
        QVERIFY(w->portIsOpen());
        QCOMPARE(simLine(w.get())->lastSettings(), kScanSettings[steps - 1]);
        const QStringList boxes = kTexts[steps - 1].split(','); // baud rate, parity, ...
        QCOMPARE(w->Combo2->currentIndex(), w->Combo2->findText(boxes[0]));
        QVERIFY(env.messages.isEmpty());
        w->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")),
                 QStringLiteral("1\r\n%1\r\n%2\r\n").arg(boxes[0], boxes[1]).toLatin1());
    }

    void lateTimeOutJudgedFirst()
    {
        for (const bool answered : {true, false}) {
            GuiTestEnvironment env;
            auto w = openWindow();
            ScanLog log(w.get());
            QVERIFY(openPort(w.get()));
            w->Command_OK1->click();
            // A busy event loop delivers the next tick before the time-out of the first request.
            w->TM_Acquisition_A_Timer();
            if (answered)
                simLine(w.get())->injectBytes(readReply(0, 4, 1, 1740));
            w->TM_Acquisition_A_Timer();
            // Judged, then the scan ended on the answer or went on with its second combination.
            QCOMPARE(log.statuses, QStringList{answered ? kNormal : kError});
            QCOMPARE(simLine(w.get())->writes().size(), answered ? 1 : 2);
            QCOMPARE(simLine(w.get())->lastSettings(), kScanSettings[answered ? 0 : 1]);
            QCOMPARE(w->Command_OK1->text(), answered ? kReadCaption : QStringLiteral("Stop"));
        }
    }

    void writes()
    {
        QFETCH(int, row);
        const WriteCase &c = kWrites[row];
        const QByteArray frame = *c.payload ? Crc16(QByteArray::fromHex(c.payload), 5) : QByteArray();
        const QString prompt = c.prompt == QByteArray("range") ? kAddressRangeMessage : QString::fromUtf8(c.prompt);
        GuiTestEnvironment env;
        SimModule *module = env.bus.addModule(5530, 1, 2);
        auto w = openWindow();
        QVERIFY(openPort(w.get()));
        // Leftovers of an earlier exchange are cleared all the same, but the parameter lines stay.
        w->Text_Send->setPlainText(QStringLiteral("old"));
        w->Text_Message->setPlainText(QStringLiteral("old"));
        w->Text_Parameter->setPlainText(QStringLiteral("kept"));
        w->Combo_Addr[c.button - 2]->setEditText(QString::fromLatin1(c.address));
        if (c.button == 3)
            w->Combo_Baud->setEditText(QString::fromLatin1(c.baud));
        (c.button == 2 ? w->Command_OK2 : w->Command_OK3)->click();
        QCOMPARE(env.messages, prompt.isEmpty() ? QStringList() : QStringList{prompt});
        QCOMPARE(simLine(w.get())->writes(), frame.isEmpty() ? QList<QByteArray>() : QList<QByteArray>{frame});
        QCOMPARE(w->Text_Send->toPlainText(), HexText(frame));
        QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Overtime_B->isEnabled(), 3000);
        QCOMPARE(w->Text_Message->toPlainText(), frame.isEmpty() ? QString() : c.answered ? kNormal : kError);
        QCOMPARE(w->Text_Receive->toPlainText(), c.answered ? HexText(frame) : QString());
        QCOMPARE(int(module->address()), c.addressAfter);
        QCOMPARE(module->code(), c.codeAfter);
        QCOMPARE(w->Text_Parameter->toPlainText(), QStringLiteral("kept"));
        if (!c.answered || c.address == QByteArray("0"))
            return;
        // Nothing in the window follows the change by itself; a new scan finds the module as changed.
        QCOMPARE(simLine(w.get())->lastSettings(), QStringLiteral("9600,N,8,1"));
        ScanLog log(w.get());
        w->Command_OK1->click();
        QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);
        QCOMPARE(log.statuses, QStringList(c.codeAfter - 1, kError) << kNormal);
        const QStringList lines = expectedLines(c.addressAfter, kTexts[c.codeAfter - 1], 5530);
        QCOMPARE(w->Text_Parameter->toPlainText(), lines.join('\n'));
    }

    void interruptedScan_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("ticks"); // the scan ends at once, or at the tick whose reopen fails
        QTest::newRow("Stop, then Read goes on") << "stop" << QStringList() << 3;
        QTest::newRow("Close Port clicked") << "close" << QStringList() << 2;
        QTest::newRow("baud box chosen") << "baud box" << QStringList() << 2;
        QTest::newRow("line fails") << "line fails" << QStringList{kFault} << 2;
        QTest::newRow("reopen fails: port taken") << "taken" << QStringList{kFault} << 3;
    }

    void interruptedScan()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, messages);
        QFETCH(int, ticks);
        const bool stop = how == QLatin1String("stop");
        const int sent = stop ? 3 : 2; // requests out when it happens
        GuiTestEnvironment env;
        env.bus.addModule(5520, 9, 8);
        const auto restorePorts = qScopeGuard([] { SimLine::resetPorts(); });
        auto w = openWindow();
        ScanLog log(w.get());
        const QMap<QString, std::function<void()>> actions = {
            {"stop", [&] { w->Command_OK1->click(); }}, {"close", [&] { w->Command_Port->click(); }},
            {"baud box", [&] { emit w->Combo2->activated(0); }}, {"line fails", [&] { simLine(w.get())->fail(); }},
            {"taken", [] { SimLine::setPortInUse(1, true); }}};
        log.afterStep = [&, sent](int step) {
            if (step == sent)
                actions[how]();
        };
        QVERIFY(openPort(w.get()));
        w->Command_OK1->click();
        // The request already out is still judged; only "Stop" keeps ScanStep and the port.
        QTRY_VERIFY_WITH_TIMEOUT(w->Command_OK1->text() == kReadCaption && !w->TM_Overtime_A->isEnabled(),
                                 kScanTimeout);
        QCOMPARE(w->ScanStep, qint16(stop ? 3 : 0));
        QCOMPARE(env.messages, messages);
        QCOMPARE(log.settings.size(), ticks);
        QCOMPARE(log.statuses, QStringList(sent, kError));
        QCOMPARE(w->portIsOpen() || w->MSComm1->isOpen(), stop);
        // Nothing reopened a port that went, or wrote to it.
        QCOMPARE(simLine(w.get())->writes().size(), sent);
        QCOMPARE(simLine(w.get())->openCount(), sent + 1);
        env.messages.clear();
        w->Command_OK1->click();
        if (!stop) { // "Read" asks for the port instead of scanning a closed one
            QCOMPARE(env.messages, QStringList{kOpenPort});
            QCOMPARE(w->Command_OK1->text(), kReadCaption);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(idle(w.get()), kScanTimeout);
        QCOMPARE(log.settings, kScanSettings); // step 4 went out as 38400,None,8,1
        QCOMPARE(w->Text_Parameter->toPlainText(), expectedLines(9, kTexts[7], 5520).join('\n'));
    }
};

QTEST_MAIN(TestSetFrm)
#include "test_setfrm.moc"
