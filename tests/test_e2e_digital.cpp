// KV5510ADAM through the real serial line on korvant-sim over a pseudo-terminal: polling,
// switching relays, and the adapter pulled out in the middle of polling.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "digitalwindow.h"

class TestE2eDigital : public QObject
{
    Q_OBJECT
private slots:
    void acquireAndSwitchRelays();
    void adapterPulledMidAcquisition();

private:
    std::unique_ptr<DigitalWindow> openWindow(SimProcess &sim)
    {
        sim.writeSys(QStringLiteral("tm.rc"), shortTimingFile(60, 150, 80));
        sim.writeSys(QStringLiteral("set.rc"), "1\r\n9600\r\nNone\r\n");
        setSerialLineFactory({}); // the real QSerialPort line
        std::unique_ptr<DigitalWindow> w(static_cast<DigitalWindow *>(createTestWindow(QStringLiteral("KV5510ADAM"))));
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
        return w;
    }
};

void TestE2eDigital::acquireAndSwitchRelays()
{
    PromptRecorder prompts;
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--module"), QStringLiteral("5510:1:2"), QStringLiteral("--inputs"),
                       QStringLiteral("0x05")}));
    auto w = openWindow(sim);
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), 10000);
    QCOMPARE(w->DI_SHOW[0]->text(), QStringLiteral("ON"));
    QCOMPARE(w->DI_SHOW[1]->text(), QStringLiteral("OFF"));
    QCOMPARE(w->DI_SHOW[2]->text(), QStringLiteral("ON"));

    QTest::mouseClick(w->DO_SHOW[1], Qt::LeftButton);
    QTest::mouseClick(w->DO_SHOW[3], Qt::LeftButton);
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 0F 00 00 00 04 01 0A BE 91 "));
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 0F 00 00 00 04 54 08 "), 10000);
    // The simulator took the write and the polling went on afterwards.
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("01 0F 00 00 00 04 01 0A BE 91")), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Send->toPlainText(), QStringLiteral("01 02 00 00 00 08 79 CC "), 10000);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Stop"));
    QVERIFY(prompts.messages.isEmpty());
}

void TestE2eDigital::adapterPulledMidAcquisition()
{
    PromptRecorder prompts;
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--module"), QStringLiteral("5510:1:2")}));
    auto w = openWindow(sim);
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"), 10000);

    sim.kill();
    QTRY_COMPARE_WITH_TIMEOUT(w->Command_Port->text(), QStringLiteral("Open Port"), 10000);
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QVERIFY(!w->TM_Acquisition_A->isEnabled());
    QCOMPARE(prompts.messages, QStringList{QStringLiteral("Serial fault, Please check the serial port")});

    // The adapter is back: "Open Port" works again and so does polling.
    QVERIFY(sim.start({QStringLiteral("--module"), QStringLiteral("5510:1:2"), QStringLiteral("--inputs"),
                       QStringLiteral("0x02")}));
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 02 20 49 "), 10000);
    QCOMPARE(prompts.messages.size(), 1);
}

QTEST_MAIN(TestE2eDigital)
#include "test_e2e_digital.moc"
