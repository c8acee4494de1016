// The analog windows through the real serial line on korvant-sim over a pseudo-terminal.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "analoginputwindow.h"
#include "analogoutputwindow.h"

namespace {
constexpr int kWaitMs = 10000;
const QString kNormal = QStringLiteral("Communication Data Normal！");

template <typename W>
std::unique_ptr<W> openWindow(SimProcess &sim, const QString &model)
{
    // Room for the line time at 9600 baud and the pseudo-terminal.
    sim.writeSys(QStringLiteral("tm.rc"), shortTimingFile(200, 400, 200));
    sim.writeSys(QStringLiteral("set.rc"), "1\r\n9600\r\nNone\r\n");
    setSerialLineFactory({}); // the real QSerialPort line
    std::unique_ptr<W> w(qobject_cast<W *>(createTestWindow(model)));
    if (w) {
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->show();
    }
    return w;
}
} // namespace

class TestE2eAnalog : public QObject
{
    Q_OBJECT
private slots:
    void inputWindowReadsTheModule();
    void outputWindowWritesTheModule();
};

void TestE2eAnalog::inputWindowReadsTheModule()
{
    PromptRecorder prompts;
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--module"), QStringLiteral("1740:1:2"), QStringLiteral("--holding"),
                       QStringLiteral("2047,4095,65535,0,409,819,1,3000")}));
    auto w = openWindow<AnalogInputWindow>(sim, QStringLiteral("KV1740ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, kWaitMs);
    QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 03 00 00 00 08 44 0C "));
    QStringList texts;
    for (const QLabel *l : w->AI_SHOW)
        texts << l->text();
    QCOMPARE(texts, (QStringList{"5.00V", "10.00V", "160.04V", "0.00V", "1.00V", "2.00V", "0.00V", "7.33V"}));
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QCOMPARE(w->Command_OK1->text(), QStringLiteral("Acquisition"));
    QVERIFY(prompts.messages.isEmpty());
}

void TestE2eAnalog::outputWindowWritesTheModule()
{
    PromptRecorder prompts;
    SimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--module"), QStringLiteral("1720:1:2")}));
    auto w = openWindow<AnalogOutputWindow>(sim, QStringLiteral("KV1720ADAM"));
    QVERIFY(w);
    QVERIFY(openPort(w.get()));
    w->HScroll1->setValue(4000);
    QCOMPARE(w->Label_I->text(), QStringLiteral("4.00"));
    QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
    QCOMPARE(w->Text_Send->toPlainText(), QStringLiteral("01 06 00 00 0F A0 8C 42 "));
    QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, kWaitMs);
    // The module echoes a write it carried out.
    QCOMPARE(w->Text_Receive->toPlainText(), QStringLiteral("01 06 00 00 0F A0 8C 42 "));
    QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("-> 01 06 00 00 0F A0 8C 42")), kWaitMs);
    QVERIFY(prompts.messages.isEmpty());
}

QTEST_MAIN(TestE2eAnalog)
#include "test_e2e_analog.moc"
