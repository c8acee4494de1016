// The analog-input windows (KV1710/1730/1740ADAM) and the analog-output window (KV1720ADAM)
// against simulated modules on the in-process line.
#include "support/guitest.h"

#include "analoginputwindow.h"
#include "analogoutputwindow.h"
#include "modbus.h"

namespace {
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
const QString kRange = QStringLiteral("Module address must be a number from 0 to 255！");

QByteArray numberedTimingFile() // line n holds 100 + n: every timer tells which line it was given
{
    QByteArray text;
    for (int i = 1; i <= 20; ++i)
        text += QStringLiteral("Line %1").arg(i, -6).toLatin1() + QByteArray::number(100 + i).rightJustified(5) + "\r\n";
    return text;
}

QByteArray frame(const QByteArray &payload)
{
    return Crc16(payload, std::uint8_t(payload.size() - 1));
}

// A read reply of eight registers with its byte count and CRC; registers beyond the list read 0.
QByteArray readReply(int address, int function, const QList<int> &registers)
{
    QByteArray p = QByteArray(1, char(address)) + char(function) + char(16);
    for (int i = 0; i < 8; ++i)
        p.append(char(registers.value(i) >> 8)).append(char(registers.value(i) & 0xFF));
    return frame(p);
}

QStringList shown(const QVector<QLabel *> &labels)
{
    QStringList texts;
    for (const QLabel *l : labels)
        texts << l->text();
    return texts;
}

void setHolding(SimModule *module, const QList<int> &values)
{
    for (int i = 0; i < values.size(); ++i)
        module->setHolding(i, std::uint16_t(values[i]));
}

// A window of `model`, shown, on a bus with one module `number` at `address` (none for 0).
template <typename W>
struct Rig {
    GuiTestEnvironment env;
    SimModule *module;
    std::unique_ptr<W> w;
    explicit Rig(const QString &model, int number = 0, int address = 1, const QByteArray &timing = shortTimingFile())
        : env(timing), module(number ? env.bus.addModule(number, std::uint8_t(address), 2) : nullptr),
          w(qobject_cast<W *>(createTestWindow(model)))
    {
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
    }
    bool open() { return openPort(w.get()); }
    QList<QByteArray> writes() const { return simLine(w.get())->writes(); }
    QString message() const { return w->Text_Message->toPlainText(); }
};
using InRig = Rig<AnalogInputWindow>;
using OutRig = Rig<AnalogOutputWindow>;
} // namespace
Q_DECLARE_METATYPE(SimFaults)

class TestAnalog : public QObject
{
    Q_OBJECT
private slots:
    void layouts();
    void channelsFromOneReply_data();
    void channelsFromOneReply();
    void rejectedRepliesKeepValues_data();
    void rejectedRepliesKeepValues();
    void replyAfterStopStillShown();
    void preconditions_data();
    void preconditions();
    void validateWrites_data();
    void validateWrites();
};

void TestAnalog::layouts()
{
    struct Input { const char *model, *frame, *caption; int overtimeLine, acquisitionLine; };
    for (const Input &m : {Input{"KV1710ADAM", " DS18B20 Input ", "DS%1", 1, 2},
                           Input{"KV1730ADAM", " Analog Input ", "AI_%1", 4, 5},
                           Input{"KV1740ADAM", " Analog Input ", "VI_%1", 4, 5}}) {
        InRig r(QString::fromLatin1(m.model), 0, 1, numberedTimingFile());
        QCOMPARE(child<QGroupBox>(r.w.get(), QStringLiteral("Frame7"))->title(), QString::fromLatin1(m.frame));
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(child<QLabel>(r.w.get(), QStringLiteral("Label18_%1").arg(i))->text(),
                     QString::fromLatin1(m.caption).arg(i + 1));
            QCOMPARE(child<QLabel>(r.w.get(), QStringLiteral("AI_SHOW_%1").arg(i)), r.w->AI_SHOW[i]);
        }
        QCOMPARE(child<WindowTimer>(r.w.get(), QStringLiteral("TM_Overtime_A"))->interval(), 100 + m.overtimeLine);
        QCOMPARE(child<WindowTimer>(r.w.get(), QStringLiteral("TM_Acquisition_A"))->interval(), 100 + m.acquisitionLine);
    }
    OutRig r(QStringLiteral("KV1720ADAM"), 0, 1, numberedTimingFile());
    QCOMPARE(child<QGroupBox>(r.w.get(), QStringLiteral("Frame6"))->title(), QStringLiteral(" Analog Output "));
    QCOMPARE(child<QPushButton>(r.w.get(), QStringLiteral("Command_OK2"))->text(), QStringLiteral("Validate"));
    QCOMPARE(child<QLabel>(r.w.get(), QStringLiteral("Label_mA"))->text(), QStringLiteral("mA"));
    QCOMPARE(child<WindowTimer>(r.w.get(), QStringLiteral("TM_Overtime_B"))->interval(), 103);
    // The slider: arrows step 1, the track 1000, and a drag shows only when the thumb is let go.
    QScrollBar *s = child<QScrollBar>(r.w.get(), QStringLiteral("HScroll1"));
    s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    for (int i = 0; i < 4; ++i)
        s->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(s->value(), 4001);
    QCOMPARE(r.w->Label_I->text(), QStringLiteral("4.00"));
    s->setSliderDown(true);
    s->setSliderPosition(16500);
    QCOMPARE(r.w->Label_I->text(), QStringLiteral("4.00"));
    s->setSliderDown(false);
    QCOMPARE(r.w->Label_I->text(), QStringLiteral("16.50"));
}

void TestAnalog::channelsFromOneReply_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("address");
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("1710 temperatures") << "KV1710ADAM" << 1 << QList<int>{0, 253, 9999, 10000, 10055, 65534, 65535, 1}
        << QStringList{"0.0℃", "25.3℃", "999.9℃", "-0.0℃", "-5.5℃", "-5553.4℃", "Not Connect", "0.1℃"};
    QTest::newRow("1740 voltages") << "KV1740ADAM" << 1 << QList<int>{2047, 4095, 65535, 0, 409, 819, 1, 3000}
        << QStringList{"5.00V", "10.00V", "160.04V", "0.00V", "1.00V", "2.00V", "0.00V", "7.33V"};
    QTest::newRow("1730 at address 7") << "KV1730ADAM" << 7 << QList<int>{4095, 0, 0, 0, 0, 0, 0, 2048}
        << QStringList{"20.00mA", "0.00mA", "0.00mA", "0.00mA", "0.00mA", "0.00mA", "0.00mA", "10.00mA"};
}

void TestAnalog::channelsFromOneReply()
{
    QFETCH(QString, model);
    QFETCH(int, address);
    QFETCH(QList<int>, registers);
    QFETCH(QStringList, texts);
    const QString request = address == 1 ? QStringLiteral("01 03 00 00 00 08 44 0C ") : QStringLiteral("07 03 00 00 00 08 44 6A ");
    InRig r(model, model.mid(2, 4).toInt(), address);
    setHolding(r.module, registers);
    r.module->faults.pieces = 3;
    r.w->Combo_Addr[0]->setEditText(QString::number(address));
    QVERIFY(r.open());
    QTest::mouseClick(r.w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE(r.message(), kNormal);
    QCOMPARE(r.w->Text_Send->toPlainText(), request);
    QCOMPARE(HexText(r.writes().first()), request);
    QCOMPARE(r.w->Text_Receive->toPlainText(), HexText(readReply(address, 3, registers)));
    QCOMPARE(shown(r.w->AI_SHOW), texts);
    // A module gone quiet: new readings never arrive, the old ones stay, acquisition goes on.
    setHolding(r.module, QList<int>(8, 1));
    r.module->faults.silent = true;
    const qsizetype sent = r.writes().size();
    QTRY_VERIFY(r.writes().size() >= sent + 2);
    QTRY_COMPARE(r.message(), kError);
    QCOMPARE(shown(r.w->AI_SHOW), texts);
}

void TestAnalog::rejectedRepliesKeepValues_data()
{
    QTest::addColumn<QByteArray>("reply");
    const QByteArray good = readReply(1, 3, QList<int>(8, 4095));
    QByteArray badCrc = good;
    badCrc[badCrc.size() - 1] = char(~badCrc.at(badCrc.size() - 1));
    QTest::newRow("other address") << readReply(2, 3, QList<int>(8, 4095));
    QTest::newRow("bad CRC") << badCrc;
}

void TestAnalog::rejectedRepliesKeepValues()
{
    QFETCH(QByteArray, reply);
    InRig r(QStringLiteral("KV1730ADAM")); // no module: every byte on the line is the test's
    QVERIFY(r.open());
    const QStringList first{"0.00mA", "0.00mA", "10.00mA", "20.00mA", "2.50mA", "5.00mA", "7.50mA", "1.00mA"};
    r.w->TM_Acquisition_A_Timer();
    simLine(r.w.get())->injectBytes(readReply(1, 3, {0, 1, 2048, 4095, 512, 1024, 1536, 205}));
    r.w->TM_Overtime_A_Timer();
    QCOMPARE(r.message(), kNormal);
    QCOMPARE(shown(r.w->AI_SHOW), first);

    r.w->TM_Acquisition_A_Timer();
    simLine(r.w.get())->injectBytes(reply);
    r.w->TM_Overtime_A_Timer();
    QCOMPARE(r.message(), kError);
    QCOMPARE(r.w->Text_Receive->toPlainText(), QString());
    QCOMPARE(shown(r.w->AI_SHOW), first);
}

void TestAnalog::replyAfterStopStillShown()
{
    InRig r(QStringLiteral("KV1710ADAM"), 1710);
    setHolding(r.module, {253, 10055, 65535, 0, 0, 0, 0, 9999});
    r.module->faults.delayMs = 10; // lands after "Stop", before the time-out
    QVERIFY(r.open());
    r.w->Command_OK1->click();
    r.w->TM_Acquisition_A_Timer();
    r.w->Command_OK1->click();
    QVERIFY(r.w->ReceiveHex.isEmpty());
    QTRY_COMPARE(r.message(), kNormal);
    QCOMPARE(shown(r.w->AI_SHOW),
             (QStringList{"25.3℃", "-5.5℃", "Not Connect", "0.0℃", "0.0℃", "0.0℃", "0.0℃", "999.9℃"}));
}

void TestAnalog::preconditions_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("acquisition, empty address") << "KV1730ADAM" << true << "" << "Moudle address not selected！";
    QTest::newRow("acquisition, address 256") << "KV1730ADAM" << true << "256" << kRange;
    QTest::newRow("validate, empty address") << "KV1720ADAM" << true << "" << "Module Address Not Selected！";
    QTest::newRow("validate, port closed") << "KV1720ADAM" << false << "1" << "Please open serial port！";
}

// Nothing goes out, and acquisition stops again.
void TestAnalog::preconditions()
{
    QFETCH(QString, model);
    QFETCH(bool, portOpen);
    QFETCH(QString, address);
    QFETCH(QString, message);
    const bool output = model == QLatin1String("KV1720ADAM");
    Rig<TestWindow> r(model, model.mid(2, 4).toInt());
    QVERIFY(!portOpen || r.open());
    r.w->Combo_Addr[output ? 1 : 0]->setEditText(address);
    QTest::mouseClick(child<QPushButton>(r.w.get(), output ? QStringLiteral("Command_OK2") : QStringLiteral("Command_OK1")),
                      Qt::LeftButton);
    QTRY_COMPARE(r.env.messages, QStringList{message});
    QTRY_VERIFY(output || !r.w->acquiring(0));
    QVERIFY(r.writes().isEmpty() && r.w->Text_Send->toPlainText().isEmpty());
}

void TestAnalog::validateWrites_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("request");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<QByteArray>("injected");
    QTest::addColumn<QString>("received"); // empty: the reply is rejected
    auto echoed = [](int position, const char *display, const char *request) {
        QTest::addRow("%d", position) << position << QString::fromLatin1(display) << QString::fromLatin1(request)
                                      << SimFaults{} << QByteArray() << QString::fromLatin1(request);
    };
    echoed(0, "0.00", "01 06 00 00 00 00 89 CA ");
    echoed(1, "0.00", "01 06 00 00 00 01 48 0A "); // 1 uA shows 0.00, writes 1
    echoed(256, "0.26", "01 06 00 00 01 00 88 5A ");
    echoed(4000, "4.00", "01 06 00 00 0F A0 8C 42 ");
    echoed(20000, "20.00", "01 06 00 00 4E 20 BD B2 ");
    auto at4mA = [](const char *name, SimFaults faults, const QByteArray &injected, const QString &received) {
        QTest::newRow(name) << 4000 << QStringLiteral("4.00") << QStringLiteral("01 06 00 00 0F A0 8C 42 ") << faults
                            << injected << received;
    };
    const SimFaults silent{.silent = true};
    const QByteArray otherValue = frame(QByteArray::fromHex("010600000007"));
    at4mA("echo of another value", silent, otherValue, HexText(otherValue));
    at4mA("no reply", silent, {}, {});
    at4mA("bad CRC", SimFaults{.badCrc = true}, {}, {});
    at4mA("other address", silent, frame(QByteArray::fromHex("020600000FA0")), {});
}

void TestAnalog::validateWrites()
{
    QFETCH(int, position);
    QFETCH(QString, display);
    QFETCH(QString, request);
    QFETCH(SimFaults, faults);
    QFETCH(QByteArray, injected);
    QFETCH(QString, received);
    OutRig r(QStringLiteral("KV1720ADAM"), 1720);
    r.module->setHolding(0, 12345);
    r.module->faults = faults;
    QVERIFY(r.open());
    r.w->HScroll1->setValue(7); // from elsewhere, so that even position 0 is a change
    r.w->HScroll1->setValue(position);
    QCOMPARE(r.w->Label_I->text(), display);
    QVERIFY(r.writes().isEmpty()); // moving the slider alone sends nothing
    QTest::mouseClick(r.w->Command_OK2, Qt::LeftButton);
    QCOMPARE(r.w->Text_Send->toPlainText(), request);
    QCOMPARE(HexText(r.writes().value(0)), request);
    if (!injected.isEmpty())
        simLine(r.w.get())->injectBytes(injected);
    QTRY_VERIFY(!r.w->TM_Overtime_B->isEnabled());
    QCOMPARE(r.message(), received.isEmpty() ? kError : kNormal);
    QCOMPARE(r.w->Text_Receive->toPlainText(), received);
    QCOMPARE(r.w->Label_I->text(), display);
    if (received != request)
        return;
    QCOMPARE(r.module->holding(0), std::uint16_t(position));
    // Validate again: the same frame once more, although nothing changed.
    r.module->setHolding(0, 12345);
    QTest::mouseClick(r.w->Command_OK2, Qt::LeftButton);
    QCOMPARE(r.writes(), (QList<QByteArray>(2, r.writes().first())));
    QTRY_COMPARE(r.module->holding(0), std::uint16_t(position));
}

QTEST_MAIN(TestAnalog)
#include "test_analog.moc"
