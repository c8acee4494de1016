// End to end against korvant-sim as a program (every panel kind polls, and SetFrm scans, in
// test_windows on the in-process line; the simulator's frames are test_sim's): a window on the real
// serial line over a pseudo-terminal; the simulator's link and lock; and modules behind a serial
// device server, korvant-sim serving RTU frames on a loopback TCP port, reached by the windows
// through a file sys/COM2 naming it (korvant-cli --port tcp:// is test_e2e_cli's).
#include "support/guitest.h"
#include "support/simprocess.h"

#include "digitalwindow.h"
#include "setfrm.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kFault = QStringLiteral("Serial fault, Please check the serial port");

// A port on which nothing listens (taken and given back at once).
QString refusingTarget()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(address.sin_port));
}

// The windows' own line, serial or TCP by what sys/COM2 holds; set.rc picks COM2 at 9600 None.
// The modules listen at other settings, which the device server's side decides.
struct TcpEnvironment : GuiTestEnvironment {
    explicit TcpEnvironment(const QString &target) : GuiTestEnvironment(shortTimingFile(200, 300, 200), "2\r\n9600\r\nNone\r\n")
    {
        setSerialLineFactory({});
        writeSys(QStringLiteral("COM2"), target.toLatin1() + "\n");
    }
};
} // namespace

class TestE2e : public QObject
{
    Q_OBJECT
private slots:
    // Polling on the real line (what the window does with the replies is test_windows'). A line lost
    // mid-poll is the TCP case below; the pty's hang-up as a failed line is test_qserialline's.
    void digitalOnThePty()
    {
        GuiTestEnvironment env;
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x05"}));
        // Room for the line time at 9600 baud and the pseudo-terminal; no set.rc: COM1 at 9600,None.
        sim.writeSys(QStringLiteral("tm.rc"), shortTimingFile(200, 400, 200));
        setSerialLineFactory({});
        auto w = owned<DigitalWindow>(createTestWindow(QStringLiteral("KV5510ADAM")));
        QVERIFY(openPort(w.get()) && !qobject_cast<SimLine *>(w->MSComm1));
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), kWaitMs);
        QVERIFY(env.messages.isEmpty());
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

    // Over TCP: nothing listens; then a module answers in four pieces 30 ms apart and its reply is still
    // judged whole; the server goes away mid-poll: one message, the port closed, the next Open works.
    void refusedSplitAndLost()
    {
        TcpEnvironment env(refusingTarget());
        auto w = owned(createTestWindow(QStringLiteral("KV5510ADAM")));
        auto *acquisition = child<QPushButton>(w.get(), QStringLiteral("Command_OK1"));
        QVERIFY(!openPort(w.get()));
        QVERIFY2(env.messages.size() == 1 && env.messages[0].startsWith(QStringLiteral("Serial port does not exist！\n"))
                     && env.messages[0].contains("refused"), qPrintable(env.messages.join('|')));
        env.messages.clear();
        SimProcess server;
        const QString target =
            server.startTcp({"--module", "5510:1:8", "--inputs", "0x05", "--fault", "pieces=4", "--fault", "gap=30"});
        env.writeSys(QStringLiteral("COM2"), target.toLatin1());
        QVERIFY(!target.isEmpty() && openPort(w.get()));
        QVERIFY(w->Combo1->toolTip().startsWith(target));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), kWaitMs);
        server.kill();
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_Port->text(), QStringLiteral("Open Port"), kWaitMs);
        QCOMPARE(env.messages, QStringList{kFault});
        QCOMPARE(acquisition->text(), QStringLiteral("Acquisition"));
        SimProcess again;
        env.writeSys(QStringLiteral("COM2"), again.startTcp({"--module", "5510:1:2"}).toLatin1());
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, kWaitMs);
    }

    void scanOverTcpAnswersAtTheFirstStep()
    {
        SimProcess server;
        TcpEnvironment env(server.startTcp({"--module", "5550:7:8"}));
        auto w = owned<SetFrm>(createSetFrm());
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_OK1->text(), QStringLiteral("Read"), kWaitMs);
        // The scan stopped at its first step (what it shows of the module is test_windows').
        QCOMPARE(w->Combo2->currentText() + w->Combo3->currentText(), QStringLiteral("4800None"));
        // The probe, the open and the scan's reopen all went over one connection.
        QCOMPARE(server.log().count(QStringLiteral("client connected")), 1);
    }
};

QTEST_MAIN(TestE2e)
#include "test_e2e.moc"
