// The combined windows through the real serial line on korvant-sim over a pseudo-terminal: both
// read cycles in turn, and a write in the middle of the digital one.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "combinedwindow.h"

namespace {
constexpr int kWaitMs = 10000;
}

class TestE2eCombined : public QObject
{
    Q_OBJECT
private slots:
    void acquireAndSwitch_data();
    void acquireAndSwitch();
};

void TestE2eCombined::acquireAndSwitch_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("holding");
    QTest::addColumn<QString>("analogReply");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("7710") << "KV7710ADAM" << "2048,2048,2048,2048,2048,2048"
                          << "01 03 0C 08 00 08 00 08 00 08 00 08 00 08 00 F6 0B "
                          << QStringList(6, QStringLiteral("10.00mA"));
    QTest::newRow("7720") << "KV7720ADAM" << "25,26,1001,65535" << "01 03 08 00 19 00 1A 03 E9 FF FF 94 D4 "
                          << QStringList{"25℃", "26℃", "Not Connect", "Not Connect"};
}

void TestE2eCombined::acquireAndSwitch()
{
    QFETCH(QString, model);
    QFETCH(QString, holding);
    QFETCH(QString, analogReply);
    QFETCH(QStringList, shown);
    PromptRecorder prompts;
    SimProcess sim; // stops the simulator however the test ends
    QVERIFY2(sim.start({QStringLiteral("--module"), model.mid(2, 4) + QStringLiteral(":1:2"), QStringLiteral("--holding"),
                        holding, QStringLiteral("--inputs"), QStringLiteral("0x05")}),
             qPrintable(sim.log()));
    // Line time at 9600 baud plus the pseudo-terminal: give each exchange room.
    sim.writeSys(QStringLiteral("tm.rc"), shortTimingFile(200, 400, 200));
    sim.writeSys(QStringLiteral("set.rc"), "1\r\n9600\r\nNone\r\n");
    setSerialLineFactory({});
    std::unique_ptr<CombinedWindow> w(static_cast<CombinedWindow *>(createTestWindow(model)));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    QVERIFY(openPort(w.get()));

    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), analogReply, kWaitMs);
    QStringList values;
    for (const QLabel *l : w->AI_SHOW)
        values << l->text();
    QCOMPARE(values, shown);

    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), kWaitMs);
    QStringList inputs;
    for (const QLabel *l : w->DI_SHOW)
        inputs << l->text();
    QCOMPARE(inputs, (QStringList{"ON", "OFF", "ON", "OFF"}));

    QTest::mouseClick(w->DO_SHOW[0], Qt::LeftButton);
    QTest::mouseClick(w->DO_SHOW[2], Qt::LeftButton);
    QTest::mouseClick(w->Command_OK3, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 0F 00 00 00 04 01 05 FE 95 "));
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 0F 00 00 00 04 54 08 "), kWaitMs);
    QVERIFY(sim.log().contains(QStringLiteral("01 0F 00 00 00 04 01 05 FE 95")));
    // The digital polling resumes after the write.
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Send->toPlainText(), QStringLiteral("01 02 00 00 00 04 79 C9 "), kWaitMs);
    QCOMPARE(w->Command_OK2->text(), QStringLiteral("Stop"));
    QVERIFY(prompts.messages.isEmpty());
}

QTEST_MAIN(TestE2eCombined)
#include "test_e2e_combined.moc"
