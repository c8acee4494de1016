// The parameter window on the real serial line against korvant-sim on a pseudo-terminal: the scan
// finds a module by the baud rate the simulator sees on the line.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "setfrm.h"

class TestE2eSetFrm : public QObject
{
    Q_OBJECT
private slots:
    void scanFindsModuleAt19200();
};

void TestE2eSetFrm::scanFindsModuleAt19200()
{
    PromptRecorder prompts;
    SimProcess sim; // stops the simulator whatever happens below
    QVERIFY(sim.start({QStringLiteral("--module"), QStringLiteral("5510:1:3")}));
    sim.writeSys(QStringLiteral("set.rc"), "1\r\n9600\r\nNone\r\n");
    setSerialLineFactory({}); // the real QSerialPort line

    std::unique_ptr<SetFrm> w(static_cast<SetFrm *>(createSetFrm()));
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    QVERIFY(!qobject_cast<SimLine *>(w->MSComm1));
    QVERIFY2(openPort(w.get()), qPrintable(prompts.messages.join(QLatin1Char('|'))));

    QStringList statuses;
    connect(w->Text_Message, &TextBox::textChanged, w.get(), [&statuses, &w] {
        if (!w->Text_Message->toPlainText().isEmpty())
            statuses << w->Text_Message->toPlainText();
    });
    QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w->Command_OK1->text() == kReadCaption && !w->TM_Overtime_A->isEnabled(), 15000);

    QCOMPARE(statuses, QStringList({QStringLiteral("Communication Data Error！"), QStringLiteral("Communication Data Error！"),
                                    QStringLiteral("Communication Data Normal！")}));
    QCOMPARE(w->Text_Parameter->toPlainText().split(QLatin1Char('\n')),
             QStringList({QStringLiteral("Moudle address: 1"),
                          QStringLiteral("Communication parameters: 19200,None,8,1"),
                          QStringLiteral("Moudle model: KV5510ADAM")}));
    QCOMPARE(w->Combo2->currentText(), QStringLiteral("19200"));
    QCOMPARE(w->Combo3->currentText(), QStringLiteral("None"));
    QCOMPARE(w->ScanStep, qint16(0));
    QVERIFY(w->portIsOpen() && w->MSComm1->isOpen());
    QVERIFY2(prompts.messages.isEmpty(), qPrintable(prompts.messages.join(QLatin1Char('|'))));
}

QTEST_MAIN(TestE2eSetFrm)
#include "test_e2e_setfrm.moc"
