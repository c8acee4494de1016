// End to end: a window on the real serial line against korvant-sim on a pseudo-terminal (every
// panel kind polls, and SetFrm scans, in test_windows on the in-process line; here the real line):
// a poll, a write, the adapter pulled out and put back; and the simulator as a program: its link
// and its lock. The simulator's frames are pinned by test_sim's tables.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "digitalwindow.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
} // namespace

class TestE2e : public QObject
{
    Q_OBJECT
private slots:
    // Polling and a relay write, then the adapter pulled mid-acquisition and put back.
    void digitalAndUnplugged()
    {
        PromptRecorder prompts;
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x05"}));
        // Room for the line time at 9600 baud and the pseudo-terminal.
        sim.writeSys(QStringLiteral("tm.rc"), shortTimingFile(200, 400, 200));
        sim.writeSys(QStringLiteral("set.rc"), "1\r\n9600\r\nNone\r\n");
        setSerialLineFactory({});
        auto w = owned<DigitalWindow>(createTestWindow(QStringLiteral("KV5510ADAM")));
        QVERIFY(openPort(w.get()) && !qobject_cast<SimLine *>(w->MSComm1));
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), kWaitMs);
        QCOMPARE(w->DI_SHOW[0]->text() + w->DI_SHOW[1]->text() + w->DI_SHOW[2]->text(), QStringLiteral("ONOFFON"));
        QTest::mouseClick(w->DO_SHOW[1], Qt::LeftButton);
        QTest::mouseClick(w->DO_SHOW[3], Qt::LeftButton);
        QTest::mouseClick(w->Command_OK2, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 0F 00 00 00 04 54 08 "), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(sim.log().contains(QStringLiteral("01 0F 00 00 00 04 01 0A BE 91")), kWaitMs);

        sim.kill();
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_Port->text(), QStringLiteral("Open Port"), kWaitMs);
        QCOMPARE(w->Shape1->fillColor().name() + w->Command_OK1->text(), QStringLiteral("#000000Acquisition"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->TM_Acquisition_A->isEnabled() && !w->TM_Overtime_A->isEnabled(), kWaitMs);
        QCOMPARE(prompts.messages, QStringList{QStringLiteral("Serial fault, Please check the serial port")});
        QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x02"}));
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 02 20 49 "), kWaitMs);
        QCOMPARE(prompts.messages.size(), 1);
    }

    // A stopped simulator removes its link. A link no running simulator holds the lock of is stale,
    // even when its pty now belongs to someone else, and is replaced; a second simulator on a held
    // port is refused, as is a bad command line, which leaves no sys folder behind.
    void simulatorLinkAndLock()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "generic"}));
        sim.process.terminate();
        QVERIFY(sim.process.waitForFinished(5000));
        QVERIFY(sim.process.exitStatus() == QProcess::NormalExit && sim.process.exitCode() == 0);
        QVERIFY(!QFileInfo(sim.link()).isSymLink());

        const int pty = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(pty >= 0 && ::grantpt(pty) == 0 && ::unlockpt(pty) == 0);
        const auto closePty = qScopeGuard([pty] { ::close(pty); });
        const QString held = QString::fromLocal8Bit(::ptsname(pty));
        SimProcess second;
        QVERIFY(QFile::link(held, second.link()));
        QVERIFY(second.start({"--module", "generic"}));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(second.link()).symLinkTarget() != held, kWaitMs);
        // What a simulator that must refuse to start says; nothing when it does not end with a failure.
        const auto refusal = [](const QStringList &args) {
            QProcess p;
            p.start(SimProcess::program(), args);
            const bool failed = p.waitForFinished(kWaitMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() != 0;
            return failed ? QString::fromLocal8Bit(p.readAllStandardError()) : QString();
        };
        QVERIFY(refusal({"--dir", second.dir.path()}).contains("held by another running simulator"));
        QTemporaryDir dir;
        QVERIFY(refusal({"--dir", dir.path(), "--module", "9999:1:2"}).contains("unknown model"));
        QVERIFY(!QFileInfo::exists(dir.filePath("sys")));
    }
};

QTEST_MAIN(TestE2e)
#include "test_e2e.moc"
