// Modules behind a serial device server: korvant-sim serving RTU frames on a TCP port, reached by
// the windows through a file sys/COM2 naming it and by korvant-cli --port tcp://.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "setfrm.h"
#include "testwindow.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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

const QString kNormal = QStringLiteral("Communication Data Normal！");

} // namespace

class TestE2eTcp : public QObject
{
    Q_OBJECT
private slots:
    // Nothing listens; then a module answers in four pieces 30 ms apart and its reply is still
    // judged whole; the server goes away mid-poll: one message, the port closed, the next Open works.
    void refusedSplitAndLost()
    {
        TcpEnvironment env(refusingTarget());
        auto w = owned(createTestWindow(QStringLiteral("KV5510ADAM")));
        auto *acquisition = child<QPushButton>(w.get(), QStringLiteral("Command_OK1"));
        QVERIFY(!openPort(w.get()));
        QCOMPARE(env.messages.size(), 1);
        QVERIFY(env.messages[0].startsWith(QStringLiteral("Serial port does not exist！\n")));
        QVERIFY(env.messages[0].contains("refused"));
        env.messages.clear();
        SimProcess server;
        const QString target =
            server.startTcp({"--module", "5510:1:8", "--inputs", "0x05", "--fault", "pieces=4", "--fault", "gap=30"});
        env.writeSys(QStringLiteral("COM2"), target.toLatin1());
        QVERIFY(!target.isEmpty() && openPort(w.get()));
        QVERIFY(w->Combo1->toolTip().startsWith(target));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), 10000);
        QCOMPARE(w->Text_Message->toPlainText(), kNormal);
        server.kill();
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_Port->text(), QStringLiteral("Open Port"), 10000);
        QCOMPARE(env.messages, QStringList{QStringLiteral("Serial fault, Please check the serial port")});
        QCOMPARE(acquisition->text(), QStringLiteral("Acquisition"));
        SimProcess again;
        env.writeSys(QStringLiteral("COM2"), again.startTcp({"--module", "5510:1:2"}).toLatin1());
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Message->toPlainText(), kNormal, 10000);
    }

    void scanAnswersAtTheFirstStep()
    {
        SimProcess server;
        TcpEnvironment env(server.startTcp({"--module", "5550:7:8"}));
        auto w = owned<SetFrm>(createSetFrm());
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_OK1->text(), QStringLiteral("Read"), 10000);
        // The module's own code comes from its registers; the scan stopped at its first step.
        QCOMPARE(w->Text_Parameter->toPlainText(),
                 QStringLiteral("Moudle address: 7\nCommunication parameters: 38400,Even,8,1\nMoudle model: KV5550ADAM"));
        QCOMPARE(w->Combo2->currentText() + w->Combo3->currentText(), QStringLiteral("4800None"));
        // The probe, the open and the scan's reopen all went over one connection.
        QCOMPARE(server.log().count(QStringLiteral("client connected")), 1);
    }

    void commandLineTool()
    {
        SimProcess server;
        const QString target = server.startTcp({"--module", "5510:3:6", "--inputs", "0x81"});
        QProcess cli;
        const QString program = QStringLiteral(KORVANT_BINARY_DIR "/cli/korvant-cli");
        cli.start(program, {"read", "5510", "--port", target, "--address", "3", "--quiet"});
        QVERIFY(cli.waitForFinished(10000) && cli.exitCode() == 0);
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        QVERIFY2(out.startsWith(QStringLiteral("DI_01: ON\nDI_02: OFF\n")) && out.contains(QStringLiteral("DI_08: ON")),
                 qPrintable(out));
        cli.start(program, {"read", "5510", "--port", refusingTarget(), "--quiet"});
        QVERIFY(cli.waitForFinished(10000) && cli.exitCode() == 3);
        QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains(QStringLiteral("refused")));
    }
};

QTEST_MAIN(TestE2eTcp)
#include "test_e2e_tcp.moc"
