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

template <typename W>
std::unique_ptr<W> openWindow(const QString &model)
{
    std::unique_ptr<W> w(qobject_cast<W *>(createTestWindow(model)));
    if (w) {
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
    }
    return w;
}

// tm.rc whose line n holds 100 + n, so every timer tells which line it was given.
QByteArray numberedTimingFile()
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

// A read reply with its byte count and CRC; registers beyond the list read 0.
QByteArray readReply(int address, int function, const QList<int> &registers, int count = 8)
{
    QByteArray p;
    p += char(address);
    p += char(function);
    p += char(2 * count);
    for (int i = 0; i < count; ++i) {
        const int r = registers.value(i);
        p += char(r >> 8);
        p += char(r & 0xFF);
    }
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
} // namespace

class TestAnalog : public QObject
{
    Q_OBJECT
private slots:
    void inputLayout_data();
    void inputLayout();
    void channelsFromOneReply_data();
    void channelsFromOneReply();
    void rejectedRepliesKeepValues_data();
    void rejectedRepliesKeepValues();
    void moduleFaultsWhileAcquiring_data();
    void moduleFaultsWhileAcquiring();
    void replyAfterStopStillShown();
    void tickPreconditions_data();
    void tickPreconditions();

    void outputLayout();
    void sliderPositionsAreWritten_data();
    void sliderPositionsAreWritten();
    void sliderStepsAndDrag();
    void validateTwiceSendsTwice();
    void validatePreconditions_data();
    void validatePreconditions();
    void writeReplyJudgement_data();
    void writeReplyJudgement();
};

void TestAnalog::inputLayout_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("frameCaption");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<int>("overtimeLine");
    QTest::addColumn<int>("acquisitionLine");
    QTest::newRow("1710") << "KV1710ADAM" << " DS18B20 Input "
                          << QStringList{"DS1", "DS2", "DS3", "DS4", "DS5", "DS6", "DS7", "DS8"} << 1 << 2;
    QTest::newRow("1730") << "KV1730ADAM" << " Analog Input "
                          << QStringList{"AI_1", "AI_2", "AI_3", "AI_4", "AI_5", "AI_6", "AI_7", "AI_8"} << 4 << 5;
    QTest::newRow("1740") << "KV1740ADAM" << " Analog Input "
                          << QStringList{"VI_1", "VI_2", "VI_3", "VI_4", "VI_5", "VI_6", "VI_7", "VI_8"} << 4 << 5;
}

void TestAnalog::inputLayout()
{
    QFETCH(QString, model);
    QFETCH(QString, frameCaption);
    QFETCH(QStringList, captions);
    QFETCH(int, overtimeLine);
    QFETCH(int, acquisitionLine);
    GuiTestEnvironment env(numberedTimingFile());
    auto w = openWindow<AnalogInputWindow>(model);
    QVERIFY(w);
    QCOMPARE(w->objectName(), model);
    QCOMPARE(w->windowTitle(), model);
    QCOMPARE(w->size(), QSize(twips(6030), twips(7080)));
    QCOMPARE(child<QGroupBox>(w.get(), QStringLiteral("Frame7"))->title(), frameCaption);
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label17"))->text(), QStringLiteral("Moudle Address"));
    QComboBox *box = child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_0"));
    QVERIFY(box);
    QCOMPARE(box->currentText(), QStringLiteral("1"));
    QCOMPARE(box->count(), 254);
    QVERIFY(!child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_1")));
    QVERIFY(!child<QPushButton>(w.get(), QStringLiteral("Command_OK2")));
    QCOMPARE(child<QPushButton>(w.get(), QStringLiteral("Command_OK1"))->text(), QStringLiteral("Acquisition"));

    QStringList captionTexts;
    for (int i = 0; i < 8; ++i) {
        QLabel *caption = child<QLabel>(w.get(), QStringLiteral("Label18_%1").arg(i));
        QLabel *value = child<QLabel>(w.get(), QStringLiteral("AI_SHOW_%1").arg(i));
        QVERIFY(caption && value);
        QCOMPARE(w->AI_SHOW[i], value);
        captionTexts << caption->text();
        QVERIFY(value->text().isEmpty());
        QCOMPARE(value->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        QVERIFY(value->styleSheet().contains(QStringLiteral("background-color: #000000")));
        QVERIFY(value->styleSheet().contains(QStringLiteral("color: #FFFFFF")));
        QVERIFY(value->font().pointSizeF() > caption->font().pointSizeF());
        // Beside its caption, channel 1 at the top.
        QVERIFY(value->geometry().left() > caption->geometry().right());
        QVERIFY(qAbs(value->geometry().center().y() - caption->geometry().center().y()) < twips(200));
        if (i > 0)
            QVERIFY(value->geometry().top() >= w->AI_SHOW[i - 1]->geometry().bottom());
        QVERIFY(w->Frame7->contentsRect().contains(value->geometry()));
    }
    QCOMPARE(captionTexts, captions);

    WindowTimer *overtime = w->findChild<WindowTimer *>(QStringLiteral("TM_Overtime_A"));
    WindowTimer *acquisition = w->findChild<WindowTimer *>(QStringLiteral("TM_Acquisition_A"));
    QVERIFY(overtime && acquisition);
    QCOMPARE(overtime->interval(), 100 + overtimeLine);
    QCOMPARE(acquisition->interval(), 100 + acquisitionLine);
    QVERIFY(!overtime->isEnabled() && !acquisition->isEnabled());
    QVERIFY(env.messages.isEmpty());
}

void TestAnalog::channelsFromOneReply_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("pieces");
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("request");
    const QString request1 = QStringLiteral("01 03 00 00 00 08 44 0C ");
    QTest::newRow("1710 temperatures") << "KV1710ADAM" << 1710 << 1 << 1
        << QList<int>{0, 253, 9999, 10000, 10055, 65534, 65535, 1}
        << QStringList{"0.0℃", "25.3℃", "999.9℃", "-0.0℃", "-5.5℃", "-5553.4℃", "Not Connect", "0.1℃"} << request1;
    QTest::newRow("1730 currents") << "KV1730ADAM" << 1730 << 1 << 1
        << QList<int>{0, 1, 2048, 4095, 65535, 1024, 3071, 4096}
        << QStringList{"0.00mA", "0.00mA", "10.00mA", "20.00mA", "320.07mA", "5.00mA", "15.00mA", "20.00mA"}
        << request1;
    QTest::newRow("1740 voltages") << "KV1740ADAM" << 1740 << 1 << 1
        << QList<int>{2047, 4095, 65535, 0, 409, 819, 1, 3000}
        << QStringList{"5.00V", "10.00V", "160.04V", "0.00V", "1.00V", "2.00V", "0.00V", "7.33V"} << request1;
    QTest::newRow("1730 at address 7, reply in pieces") << "KV1730ADAM" << 1730 << 7 << 4
        << QList<int>{4095, 0, 0, 0, 0, 0, 0, 2048}
        << QStringList{"20.00mA", "0.00mA", "0.00mA", "0.00mA", "0.00mA", "0.00mA", "0.00mA", "10.00mA"}
        << QStringLiteral("07 03 00 00 00 08 44 6A ");
}

void TestAnalog::channelsFromOneReply()
{
    QFETCH(QString, model);
    QFETCH(int, number);
    QFETCH(int, address);
    QFETCH(int, pieces);
    QFETCH(QList<int>, registers);
    QFETCH(QStringList, texts);
    QFETCH(QString, request);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(number, std::uint8_t(address), 2);
    setHolding(module, registers);
    module->faults.pieces = pieces;
    auto w = openWindow<AnalogInputWindow>(model);
    QVERIFY(w);
    w->Combo_Addr[0]->setEditText(QString::number(address));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->Text_Send->toPlainText(), request);
    QCOMPARE(HexText(simLine(w.get())->writes().first()), request);
    QCOMPARE(w->Text_Receive->toPlainText(), HexText(readReply(address, 3, registers)));
    QCOMPARE(shown(w->AI_SHOW), texts);
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QVERIFY(env.messages.isEmpty());
}

void TestAnalog::rejectedRepliesKeepValues_data()
{
    QTest::addColumn<QByteArray>("reply");
    const QList<int> other{4095, 4095, 4095, 4095, 4095, 4095, 4095, 4095};
    QByteArray badCrc = readReply(1, 3, other);
    badCrc[badCrc.size() - 1] = char(~badCrc.at(badCrc.size() - 1));
    // The short and long replies carry a correct CRC, so only their length rejects them.
    QByteArray shortPayload = readReply(1, 3, other).left(18);
    shortPayload[2] = char(15);
    QTest::newRow("20 bytes") << frame(shortPayload);
    QTest::newRow("22 bytes") << frame(readReply(1, 3, other).left(19) + char(0x0F));
    QTest::newRow("trailing byte") << readReply(1, 3, other) + char(0x00);
    QTest::newRow("other address") << readReply(2, 3, other);
    QTest::newRow("other function") << readReply(1, 4, other);
    QTest::newRow("exception") << frame(QByteArray::fromHex("018302"));
    QTest::newRow("bad CRC") << badCrc;
    QTest::newRow("no reply") << QByteArray();
}

void TestAnalog::rejectedRepliesKeepValues()
{
    QFETCH(QByteArray, reply);
    GuiTestEnvironment env; // no module: every byte on the line is the test's
    auto w = openWindow<AnalogInputWindow>(QStringLiteral("KV1730ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    const QStringList first{"0.00mA", "0.00mA", "10.00mA", "20.00mA", "2.50mA", "5.00mA", "7.50mA", "1.00mA"};

    w->TM_Acquisition_A_Timer();
    simLine(w.get())->injectBytes(readReply(1, 3, {0, 1, 2048, 4095, 512, 1024, 1536, 205}));
    w->TM_Overtime_A_Timer();
    QCOMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(shown(w->AI_SHOW), first);

    w->TM_Acquisition_A_Timer();
    QCOMPARE(w->Text_Receive->toPlainText(), QString());
    simLine(w.get())->injectBytes(reply);
    w->TM_Overtime_A_Timer();
    QCOMPARE(w->Text_Message->toPlainText(), kError);
    QCOMPARE(w->Text_Receive->toPlainText(), QString());
    QCOMPARE(shown(w->AI_SHOW), first);
    QVERIFY(!w->TM_Overtime_A->isEnabled());
}

void TestAnalog::moduleFaultsWhileAcquiring_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("extra byte") << "extraByte";
    QTest::newRow("truncated") << "truncate";
    QTest::newRow("bad CRC") << "badCrc";
    QTest::newRow("exception") << "exception";
    QTest::newRow("silent") << "silent";
}

void TestAnalog::moduleFaultsWhileAcquiring()
{
    QFETCH(QString, fault);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(1740, 1, 2);
    setHolding(module, {4095, 2047, 0, 0, 0, 0, 0, 0});
    auto w = openWindow<AnalogInputWindow>(QStringLiteral("KV1740ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    const QStringList first = shown(w->AI_SHOW);
    QCOMPARE(first.mid(0, 3), (QStringList{"10.00V", "5.00V", "0.00V"}));

    // New readings behind a faulty reply must not reach the labels.
    setHolding(module, {1, 1, 1, 1, 1, 1, 1, 1});
    SimFaults &f = module->faults;
    f.extraByte = fault == QLatin1String("extraByte");
    f.truncate = fault == QLatin1String("truncate");
    f.badCrc = fault == QLatin1String("badCrc");
    f.exception = fault == QLatin1String("exception");
    f.silent = fault == QLatin1String("silent");
    const qsizetype sent = simLine(w.get())->writes().size();
    QTRY_VERIFY(simLine(w.get())->writes().size() >= sent + 2);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kError);
    QCOMPARE(w->Text_Receive->toPlainText(), QString());
    QCOMPARE(shown(w->AI_SHOW), first);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QVERIFY(env.messages.isEmpty());
}

void TestAnalog::replyAfterStopStillShown()
{
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(1710, 1, 2);
    setHolding(module, {253, 10055, 65535, 0, 0, 0, 0, 9999});
    module->faults.delayMs = 10; // lands after "Stop", before the time-out
    auto w = openWindow<AnalogInputWindow>(QStringLiteral("KV1710ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    w->Command_OK1->click();
    w->TM_Acquisition_A_Timer();
    w->Command_OK1->click();
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QVERIFY(w->ReceiveHex.isEmpty());
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(shown(w->AI_SHOW),
             (QStringList{"25.3℃", "-5.5℃", "Not Connect", "0.0℃", "0.0℃", "0.0℃", "0.0℃", "999.9℃"}));
    QVERIFY(!w->TM_Overtime_A->isEnabled());
}

void TestAnalog::tickPreconditions_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("port closed") << false << "1" << "Please open serial port！";
    QTest::newRow("empty address") << true << "" << "Moudle address not selected！";
    QTest::newRow("address 256") << true << "256" << kRange;
    QTest::newRow("address abc") << true << "abc" << kRange;
}

void TestAnalog::tickPreconditions()
{
    QFETCH(bool, portOpen);
    QFETCH(QString, address);
    QFETCH(QString, message);
    GuiTestEnvironment env;
    env.bus.addModule(1730, 1, 2);
    auto w = openWindow<AnalogInputWindow>(QStringLiteral("KV1730ADAM"));
    QVERIFY(w);
    if (portOpen)
        QVERIFY(openPort(w.get()));
    w->Combo_Addr[0]->setEditText(address);
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QTRY_COMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QCOMPARE(env.messages, QStringList{message});
    QCOMPARE(env.titles, QStringList{QStringLiteral("Prompt")});
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QVERIFY(!w->TM_Overtime_A->isEnabled());
    QVERIFY(w->Text_Send->toPlainText().isEmpty());
    QVERIFY(simLine(w.get())->writes().isEmpty());
}

void TestAnalog::outputLayout()
{
    GuiTestEnvironment env(numberedTimingFile());
    auto w = openWindow<AnalogOutputWindow>(QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QCOMPARE(w->objectName(), QStringLiteral("KV1720ADAM"));
    QCOMPARE(w->windowTitle(), QStringLiteral("KV1720ADAM"));
    QCOMPARE(w->size(), QSize(twips(6030), twips(7080)));
    QCOMPARE(child<QGroupBox>(w.get(), QStringLiteral("Frame6"))->title(), QStringLiteral(" Analog Output "));
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label16"))->text(), QStringLiteral("Moudle Address"));
    QCOMPARE(child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_1"))->currentText(), QStringLiteral("1"));
    QVERIFY(!child<QComboBox>(w.get(), QStringLiteral("Combo_Addr_0")));
    QVERIFY(!child<QPushButton>(w.get(), QStringLiteral("Command_OK1")));
    QVERIFY(!w->findChild<WindowTimer *>(QStringLiteral("TM_Acquisition_A")));
    QCOMPARE(child<QPushButton>(w.get(), QStringLiteral("Command_OK2"))->text(), QStringLiteral("Validate"));

    auto *slider = child<QScrollBar>(w.get(), QStringLiteral("HScroll1"));
    QVERIFY(slider);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 20000);
    QCOMPARE(slider->singleStep(), 1);
    QCOMPARE(slider->pageStep(), 1000);
    QCOMPARE(slider->value(), 0);
    QVERIFY(!slider->hasTracking());

    QLabel *value = child<QLabel>(w.get(), QStringLiteral("Label_I"));
    QLabel *unit = child<QLabel>(w.get(), QStringLiteral("Label_mA"));
    QVERIFY(value && unit);
    QCOMPARE(value->text(), QStringLiteral("0.00"));
    QCOMPARE(unit->text(), QStringLiteral("mA"));
    QCOMPARE(value->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(unit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    for (QLabel *l : {value, unit}) {
        QVERIFY(l->styleSheet().contains(QStringLiteral("background-color: #000000")));
        QVERIFY(l->styleSheet().contains(QStringLiteral("color: #00FF00")));
        QVERIFY(l->font().pointSizeF() > w->Label16->font().pointSizeF() * 1.5);
    }
    QCOMPARE(unit->font(), value->font());
    QVERIFY(value->geometry().top() > slider->geometry().bottom());
    QVERIFY(unit->geometry().left() >= value->geometry().right());

    WindowTimer *overtime = w->findChild<WindowTimer *>(QStringLiteral("TM_Overtime_B"));
    QVERIFY(overtime);
    QCOMPARE(overtime->interval(), 103);
    QVERIFY(!overtime->isEnabled());
    QVERIFY(env.messages.isEmpty());
}

void TestAnalog::sliderPositionsAreWritten_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("request");
    QTest::newRow("0") << 0 << "0.00" << "01 06 00 00 00 00 89 CA ";
    QTest::newRow("1 uA shows 0.00, writes 1") << 1 << "0.00" << "01 06 00 00 00 01 48 0A ";
    QTest::newRow("256") << 256 << "0.26" << "01 06 00 00 01 00 88 5A ";
    QTest::newRow("4 mA") << 4000 << "4.00" << "01 06 00 00 0F A0 8C 42 ";
    QTest::newRow("20 mA") << 20000 << "20.00" << "01 06 00 00 4E 20 BD B2 ";
}

void TestAnalog::sliderPositionsAreWritten()
{
    QFETCH(int, position);
    QFETCH(QString, display);
    QFETCH(QString, request);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(1720, 1, 2);
    module->setHolding(0, 12345);
    auto w = openWindow<AnalogOutputWindow>(QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    w->HScroll1->setValue(7); // from elsewhere, so that even position 0 is a change
    w->HScroll1->setValue(position);
    QCOMPARE(w->Label_I->text(), display);
    // Moving the slider alone sends nothing.
    QVERIFY(simLine(w.get())->writes().isEmpty());
    QVERIFY(w->Text_Send->toPlainText().isEmpty());
    QCOMPARE(module->holding(0), std::uint16_t(12345));

    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), request);
    QCOMPARE(simLine(w.get())->writes().size(), 1);
    QCOMPARE(HexText(simLine(w.get())->writes().first()), request);
    QVERIFY(w->TM_Overtime_B->isEnabled());
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(w->Text_Receive->toPlainText(), request); // the module echoes the write
    QCOMPARE(module->holding(0), std::uint16_t(position));
    QVERIFY(!w->TM_Overtime_B->isEnabled());
    QCOMPARE(w->Label_I->text(), display);
    QVERIFY(env.messages.isEmpty());
    QVERIFY(env.pauses.isEmpty());
}

void TestAnalog::sliderStepsAndDrag()
{
    GuiTestEnvironment env;
    env.bus.addModule(1720, 1, 2);
    auto w = openWindow<AnalogOutputWindow>(QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    QScrollBar *s = w->HScroll1;
    s->triggerAction(QAbstractSlider::SliderSingleStepAdd); // arrow
    QCOMPARE(s->value(), 1);
    QCOMPARE(w->Label_I->text(), QStringLiteral("0.00"));
    for (int i = 0; i < 4; ++i)
        s->triggerAction(QAbstractSlider::SliderPageStepAdd); // track
    QCOMPARE(s->value(), 4001);
    QCOMPARE(w->Label_I->text(), QStringLiteral("4.00"));
    for (int i = 0; i < 10; ++i)
        s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(w->Label_I->text(), QStringLiteral("4.01"));
    s->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(w->Label_I->text(), QStringLiteral("3.01"));

    // A drag changes the display only when the thumb is let go.
    s->setSliderDown(true);
    s->setSliderPosition(15000);
    s->setSliderPosition(16500);
    QCOMPARE(w->Label_I->text(), QStringLiteral("3.01"));
    s->setSliderDown(false);
    QCOMPARE(s->value(), 16500);
    QCOMPARE(w->Label_I->text(), QStringLiteral("16.50"));

    s->triggerAction(QAbstractSlider::SliderToMaximum);
    s->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(s->value(), 20000);
    QCOMPARE(w->Label_I->text(), QStringLiteral("20.00"));
    QVERIFY(simLine(w.get())->writes().isEmpty());
}

void TestAnalog::validateTwiceSendsTwice()
{
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(1720, 1, 2);
    auto w = openWindow<AnalogOutputWindow>(QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    w->HScroll1->setValue(4000);
    const QByteArray expected = QByteArray::fromHex("010600000FA08C42");
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    module->setHolding(0, 0);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Text_Message->toPlainText(), QString());
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);
    QCOMPARE(simLine(w.get())->writes(), (QList<QByteArray>{expected, expected}));
    QCOMPARE(module->holding(0), std::uint16_t(4000));
}

void TestAnalog::validatePreconditions_data()
{
    QTest::addColumn<bool>("closePort");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("message");
    QTest::newRow("port closed") << true << "1" << "Please open serial port！";
    QTest::newRow("empty address") << false << "" << "Module Address Not Selected！";
    QTest::newRow("address 300") << false << "300" << kRange;
    QTest::newRow("address x") << false << "x" << kRange;
}

void TestAnalog::validatePreconditions()
{
    QFETCH(bool, closePort);
    QFETCH(QString, address);
    QFETCH(QString, message);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(1720, 1, 2);
    auto w = openWindow<AnalogOutputWindow>(QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    w->HScroll1->setValue(2000);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QTRY_COMPARE(w->Text_Message->toPlainText(), kNormal);

    if (closePort)
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
    w->HScroll1->setValue(3000);
    w->Combo_Addr[1]->setEditText(address);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(env.messages, QStringList{message});
    // The displays are cleared and nothing goes out.
    QVERIFY(w->Text_Send->toPlainText().isEmpty());
    QVERIFY(w->Text_Receive->toPlainText().isEmpty());
    QVERIFY(w->Text_Message->toPlainText().isEmpty());
    QVERIFY(w->SendHex.isEmpty());
    QCOMPARE(simLine(w.get())->writes().size(), 1);
    QVERIFY(!w->TM_Overtime_B->isEnabled());
    QCOMPARE(module->holding(0), std::uint16_t(2000));
}

void TestAnalog::writeReplyJudgement_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("injected");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("echo") << "" << QByteArray() << true;
    QTest::newRow("echo of another value") << "silent" << frame(QByteArray::fromHex("010600000007")) << true;
    QTest::newRow("no reply") << "silent" << QByteArray() << false;
    QTest::newRow("exception") << "exception" << QByteArray() << false;
    QTest::newRow("bad CRC") << "badCrc" << QByteArray() << false;
    QTest::newRow("extra byte") << "extraByte" << QByteArray() << false;
    QTest::newRow("other address") << "silent" << frame(QByteArray::fromHex("020600000FA0")) << false;
}

void TestAnalog::writeReplyJudgement()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, injected);
    QFETCH(bool, accepted);
    GuiTestEnvironment env;
    SimModule *module = env.bus.addModule(1720, 1, 2);
    module->faults.silent = fault == QLatin1String("silent");
    module->faults.exception = fault == QLatin1String("exception");
    module->faults.badCrc = fault == QLatin1String("badCrc");
    module->faults.extraByte = fault == QLatin1String("extraByte");
    auto w = openWindow<AnalogOutputWindow>(QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    w->HScroll1->setValue(4000);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    if (!injected.isEmpty())
        simLine(w.get())->injectBytes(injected);
    QTRY_VERIFY(!w->TM_Overtime_B->isEnabled());
    QCOMPARE(w->Text_Message->toPlainText(), accepted ? kNormal : kError);
    const QString received = injected.isEmpty() ? QStringLiteral("01 06 00 00 0F A0 8C 42 ") : HexText(injected);
    QCOMPARE(w->Text_Receive->toPlainText(), accepted ? received : QString());
    QCOMPARE(w->Label_I->text(), QStringLiteral("4.00"));
    QCOMPARE(w->HScroll1->value(), 4000);
}

QTEST_MAIN(TestAnalog)
#include "test_analog.moc"
