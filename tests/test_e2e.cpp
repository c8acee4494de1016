// End to end against korvant-sim as a program (every panel kind polls, and SetFrm scans, in
// test_windows on the in-process line; the simulator's frames are test_sim's): a window on the real
// serial line over a pseudo-terminal; the simulator's link and lock; and modules behind a serial
// device server, korvant-sim serving RTU frames on a loopback TCP port, reached by the windows
// through a file sys/COM2 naming it; the windows behind an adapter that echoes.
//
// korvant-cli end to end: the program run as a process against korvant-sim on a pseudo-terminal,
// judged by its exit status, its output and the frames the simulator logged: each subcommand, and
// each way a run can fail; its parsing and the lines it prints are test_core's tables.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "busfinder.h"
#include "conversions.h"
#include "digitalwindow.h"
#include "modbus.h"
#include "portsdialog.h"
#include "prompt.h"
#include "setfrm.h"
#include "trafficlog.h"

#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <cerrno>
#include <ranges>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int kWaitMs = 10000;
const QString kNormal = QStringLiteral("Communication Data Normal！");
const QString kError = QStringLiteral("Communication Data Error！");
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

struct Run {
    int status = -1;
    QString out, err;
};

const QString kCli = QStringLiteral(KORVANT_BINARY_DIR "/cli/korvant-cli");

// Runs program in folder (the current one when empty) with env, and waits for it to end.
Run runProgram(const QString &program, const QStringList &args, const QString &folder = {},
               const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(30000)) // QProcess's destructor kills it
        return {-1, {}, program + QStringLiteral(" did not finish")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Runs korvant-cli in the simulator's folder (so COM1 is its pty), or in folder with HOME at home
// and XDG_DATA_HOME at xdg (none when empty), and waits for it to end.
Run runCli(const SimProcess &sim, const QStringList &args, const QString &folder = {}, const QString &home = {},
           const QString &xdg = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!home.isEmpty()) {
        env.insert(QStringLiteral("HOME"), home);
        xdg.isEmpty() ? env.remove(QStringLiteral("XDG_DATA_HOME")) : env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
    }
    return runProgram(kCli, args, folder.isEmpty() ? sim.dir.path() : folder, env);
}

// korvant-cli started in folder (the simulator's, where COM1 is its pty), not waited for.
void startCli(QProcess &p, const QString &folder, const QStringList &args)
{
    p.setWorkingDirectory(folder);
    p.start(kCli, args);
}

bool writeFile(const QString &path, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile f(path);
    return f.open(mode) && f.write(bytes) == bytes.size();
}

// The file's bytes; none when it cannot be read.
QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A run and what it must give: exit status, stdout (response times masked as #, clocks as "now")
// and stderr (a null err: not compared).
struct CliRun {
    QStringList args;
    int status;
    QString out, err = {};
};

// Each run (with more after its arguments) whose status, stdout or stderr differ, and what it
// gave; drop: what stdout is read without.
QString mismatches(const SimProcess &sim, const QList<CliRun> &runs, const QStringList &more = {}, const QString &drop = {})
{
    static const QRegularExpression times(QStringLiteral(R"(("response_ms[a-z0-9_]*":|response )(?=[0-9])[0-9.]+( ms)?)"));
    static const QRegularExpression clock(QStringLiteral("(\"time\":\")[0-9T:.+-]+"));
    QString wrong;
    for (const CliRun &run : runs) {
        Run r = runCli(sim, run.args + more);
        r.out.remove(QRegularExpression(drop.isEmpty() ? QStringLiteral("^$^") : drop)).replace(times, QStringLiteral("\\1#")).replace(clock, QStringLiteral("\\1now"));
        if (r.status != run.status || r.out != run.out || (!run.err.isNull() && r.err != run.err))
            wrong += QStringLiteral("%1: %2\n%3%4").arg(run.args.join(' ')).arg(r.status).arg(r.out, r.err);
    }
    return wrong;
}

// The requests the simulator received, in order, as hex text, once it has logged n of them.
// A log line reads "hh:mm:ss.zzz <- 01 02 00 00 00 08 79 CC (at 9600 baud)".
QStringList requests(SimProcess &sim, int n)
{
    QStringList frames;
    static_cast<void>(QTest::qWaitFor([&] { // a short list shows in the test's comparison
        frames.clear();
        for (const QString &line : sim.log().split(QLatin1Char('\n')))
            if (const qsizetype at = line.indexOf(QLatin1String(" <- ")); at >= 0)
                frames << line.mid(at + 4).section(QLatin1Char('('), 0, 0).trimmed();
        return frames.size() >= n;
    }, 5000));
    return frames;
}

// Waits until p printed n lines on stdout; out holds what it printed so far.
bool printed(QProcess &p, QByteArray &out, int n)
{
    return QTest::qWaitFor([&] { return (out += p.readAllStandardOutput()).count('\n') >= n; }, kWaitMs);
}

// Ends p as Ctrl+C does and waits for it; whether it ended by itself. Never kill(0): a process that
// is gone already has no id, and 0 is the whole group.
bool interrupt(QProcess &p)
{
    const pid_t pid = pid_t(p.processId());
    return pid > 0 && ::kill(pid, SIGINT) == 0 && p.waitForFinished(kWaitMs) && p.exitStatus() == QProcess::NormalExit;
}

// korvant-cli run on the simulator's line until the simulator took n requests, then the line gone
// (the simulator killed, as a pulled adapter or a device server gone): how the run ended.
Run cutOff(SimProcess &sim, const QStringList &args, int n)
{
    QProcess p;
    startCli(p, sim.dir.path(), args);
    const bool asked = requests(sim, n).size() >= n;
    sim.kill();
    if (!asked || !p.waitForFinished(kWaitMs)) // QProcess's destructor kills it
        return {-1, {}, QStringLiteral("korvant-cli was not cut off after %1 requests: %2").arg(n).arg(sim.log())};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
} // namespace

class TestE2e : public QObject
{
    Q_OBJECT
private slots:
    // A stopped simulator removes its link. A link no running simulator holds the lock of is stale,
    // even when its pty now belongs to someone else, and is replaced; a second simulator on a held
    // port is refused, as is a bad command line, which leaves no sys folder behind.
    void simulatorLinkAndLock()
    {
        SimProcess sim({"--module", "generic"});
        sim.process.terminate();
        QVERIFY(sim.process.waitForFinished(5000) && sim.process.exitStatus() == QProcess::NormalExit && sim.process.exitCode() == 0
                && !QFileInfo(sim.link()).isSymLink());

        const int pty = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(pty >= 0 && ::grantpt(pty) == 0 && ::unlockpt(pty) == 0);
        const auto closePty = qScopeGuard([pty] { ::close(pty); });
        const QString held = QString::fromLocal8Bit(::ptsname(pty));
        SimProcess second;
        QVERIFY(QFile::link(held, second.link()) && second.start({"--module", "generic"}));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(second.link()).symLinkTarget() != held, kWaitMs);
        // A simulator that must refuse to start ends with a failure, and says why.
        const Run refused = runProgram(SimProcess::program(), {"--dir", second.dir.path()});
        QVERIFY2(refused.status > 0 && refused.err.contains("held by another running simulator"), qPrintable(refused.err));
        QTemporaryDir dir;
        const Run bad = runProgram(SimProcess::program(), {"--dir", dir.path(), "--module", "9999:1:2"});
        QVERIFY2(bad.status > 0 && bad.err.contains("unknown model"), qPrintable(bad.err));
        QVERIFY(!QFileInfo::exists(dir.filePath("sys")));
    }

    // A module window over TCP: nothing listens; then a module answers in four pieces 30 ms apart and
    // its reply is still judged whole; the server goes away mid-poll: one message, the port closed.
    // The next Open works behind a gateway, COM2 mapped to it in the ports dialog over the device
    // server's target (a target mistyped is refused): its frames as they went over the wire, header
    // included, in its boxes and its traffic rows; then the Bus Finder there.
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
        QVERIFY(!target.isEmpty() && openPort(w.get()) && w->Combo1->toolTip().startsWith(target));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("01 02 01 05 61 8B "), kWaitMs);
        server.kill();
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_Port->text(), QStringLiteral("Open Port"), kWaitMs);
        QCOMPARE(QStringList(env.messages) << acquisition->text(), (QStringList{kFault, QStringLiteral("Acquisition")})); // and the button again
        SimProcess gateway;
        const QString mbap = gateway.startTcp({"--module", "5510:1", "--inputs", "0x05"}, "--mbap");
        QStringList asked;
        setAskSink([&](const QString &text) { asked << text; return true; });
        const auto restore = qScopeGuard([] { setAskSink({}); });
        PortsDialog *dialog = openPortsDialog(w.get(), 2);
        QTest::keyClicks(dialog->Text_Target, "mbap:/gw");
        QTest::keyClick(dialog->Text_Target, Qt::Key_Return);
        QCOMPARE(env.messages.takeLast(), "Type a target as tcp://HOST:PORT or mbap://HOST[:PORT]！");
        dialog->Text_Target->clear();
        QTest::keyClicks(dialog->Text_Target, "  " + mbap);
        QTest::mouseClick(dialog->Command_UseTarget, Qt::LeftButton);
        QCOMPARE(env.readSys(QStringLiteral("COM2")), mbap.toLatin1() + '\n');
        QCOMPARE(asked, QStringList{"./sys/COM2 stands for " + target + ".\nMake it stand for " + mbap + '?'});
        QCOMPARE(dialog->Command_UseTarget->text() + ' ' + dialog->Label_Com->text(), "Use target as COM2 COM2: " + mbap);
        const qsizetype before = w->traffic().rows().size();
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->Text_Receive->toPlainText(), QStringLiteral("00 02 00 00 00 04 01 02 01 05 "), kWaitMs);
        QCOMPARE(w->Text_Message->toPlainText() + w->Text_Send->toPlainText(), kNormal + "00 02 00 00 00 06 01 02 00 00 00 08 ");
        QStringList rows;
        for (const TrafficRow &row : w->traffic().rows() | std::views::drop(before) | std::views::take(4))
            rows << row.direction() + ' ' + HexText(row.bytes) + row.verdictText();
        QCOMPARE(rows, (QStringList{"TX 00 01 00 00 00 06 01 02 00 00 00 08 ", "RX 00 01 00 00 00 04 01 02 01 05 OK",
                                    "TX 00 02 00 00 00 06 01 02 00 00 00 08 ", "RX 00 02 00 00 00 04 01 02 01 05 OK"}));
        // The Bus Finder on COM2 asks units 1 to 3 once, the settings' boxes greyed with the reason.
        w.reset();
        auto f = owned<BusFinderWindow>(createBusFinder());
        enterText(f->Combo_To, QStringLiteral("3"), false);
        for (QCheckBox *box : f->Check_Code) // none ticked: no setting is tried anyway
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QTest::mouseClick(f->Command_Start, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f->Command_Start->text(), QStringLiteral("Start"), kWaitMs);
        QVERIFY(f->foundRows().size() == 1 && f->foundRows()[0].address == 1 && f->finder().probesSent() == 3 && !f->Frame_Codes->isEnabled()
                && f->traffic().rows().size() > 1 && f->traffic().rows()[1].verdictText() == "OK");
        QCOMPARE(f->Frame_Codes->toolTip(), "Behind a Modbus TCP gateway there are no line settings to try: the unit ids are asked once.");
    }

    // What a script relies on, run by run on one bus: the exit status of success and of each
    // failure the help lists (usage 2, port 3, no valid reply 4, exception 5, collision 6), stdout line by line
    // (JSON keys, values and their types; response times stand as #) and stderr word for word.
    // Then on the same bus: a port another program holds; set-comm reads the module after its write
    // as long as the new setting needs (from 38400 to 4800); korvant-cli's sys folder: the working
    // folder's sys/ (the simulator's link), else the one the launcher runs the windows in, which
    // doctor names first; a port that opens at the first settings and not at a later one (a device
    // without parity: the master side of a pseudo-terminal) exits 3.
    void contractOfEachRun()
    {
        SimProcess sim({"--module", "7720:4", "--holding", "25,1001,0,1000", "--inputs", "0x09", "--module", "5510:1",
                        "--module", "1720:2", "--module", "5530:9", "--fault", "exception", "--module", "5530:5:4", "--fault",
                        "delay=18"});
        const QString gone = sim.dir.filePath(QStringLiteral("gone")); // COM2 resolves as the windows resolve it
        QVERIFY(QFile::link(gone, sim.link(2)));
        const QString noPort = QStringLiteral("korvant-cli: port COM2 (%1) does not exist\n").arg(gone);
        const QString timeout = QStringLiteral("korvant-cli: no valid reply: time-out (no byte)\n");
        const QString exception = QStringLiteral("korvant-cli: the module answered with exception 1: illegal function\n");
        const auto none = [](int seq) {
            return QStringLiteral(R"({"address":3,"model":"KV5510ADAM","response_ms":null,"seq":%1,"time":"now","verdict":"timeout"})" "\n").arg(seq);
        };
        const auto ok = [](int seq, const char *channel, const char *raw, const char *text, const char *unit, const char *value) {
            return QStringLiteral(R"({"address":4,"channel":"%1","model":"KV7720ADAM","raw":%2,"response_ms":#,"seq":%3,"text":"%4",)"
                                  R"("time":"now","unit":"%5","value":%6,"verdict":"ok"})" "\n")
                .arg(QString::fromUtf8(channel), QString::fromUtf8(raw)).arg(seq)
                .arg(QString::fromUtf8(text), QString::fromUtf8(unit), QString::fromUtf8(value));
        };
        QString one, several; // address 1's inputs, all off; as read with another address
        for (int i = 1; i <= 8; ++i)
            several += QStringLiteral("address 1  DI_0%1: OFF\n").arg(i), one += QStringLiteral(R"({"address":1,"channel":"DI_0%1","model":"KV5510ADAM","raw":0,"response_ms":#,"seq":1,)"
                                  R"("text":"OFF","time":"now","unit":"","value":0,"verdict":"ok"})" "\n").arg(i);
        const QString stats = QStringLiteral(R"({"bad_crc":0,"exception":0,"long":0,"ok":%1,"other_address":0,"other_function":0,)"
                                             R"("requests":%2,"response_ms_max":%3,"response_ms_median":%3,"response_ms_min":%3,)"
                                             R"("response_ms_p99":%3,"retries":%4,"short":0,"success_pct":%5,"timeout":%6%7})" "\n");
        QList<CliRun> runs = {
            {{"--address", "4", "read", "KV7720ADAM", "--quiet"}, 0,
             "T_1: 25℃\nT_2: Not Connect\nT_3: 0℃\nT_4: 1000℃\nDI_01: ON\nDI_02: OFF\nDI_03: OFF\nDI_04: ON\n", ""},
            {{"write", "KV5510ADAM", "--on", "1,3"}, 0, "RY_01: ON\nRY_02: OFF\nRY_03: ON\nRY_04: OFF\n",
             "> 01 0F 00 00 00 04 01 05 FE 95\n< 01 0F 00 00 00 04 54 08   OK\n"},
            {{"write", "KV1720ADAM", "--ma", "4.005", "--address", "2", "--quiet"}, 0, "Analog Output: 4.00mA (4005)\n", ""},
            {{"write", "1720", "--ma", "20", "--address", "2", "--quiet", "--json"}, 0,
             R"({"address":2,"channel":"Analog Output","model":"KV1720ADAM","raw":20000,"response_ms":#,"seq":1,"text":"20.00mA",)"
             R"("time":"now","unit":"mA","value":20,"verdict":"ok"})" "\n", ""},
            {{"--version"}, 0, "korvant-cli " KORVANT_VERSION "\n", ""},
            {{"read", "KV5520ADAM"}, 2, "", "korvant-cli: KV5520ADAM has no inputs to read\nTry 'korvant-cli --help'.\n"},
            {{"read", "5510", "--port", "COM2"}, 3, "", noPort}, {{"scan", "--port", "COM2", "--quiet"}, 3, "", noPort},
            // Each attempt logged, a time-out asked again said so.
            {{"read", "5510", "--address", "3", "--retries", "1", "--timeout", "100"}, 4, "",
             "> 03 02 00 00 00 08 78 2E\n<    time-out (no byte), asked again\n> 03 02 00 00 00 08 78 2E\n<    time-out (no byte)\n" + timeout},
            {{"read", "5510", "--address", "1,3", "--timeout", "1000", "--quiet"}, 4, several, timeout},
            {{"write", "5510", "--on", "none", "--address", "3", "--quiet", "--json"}, 4, none(1), timeout},
            // A time-out asked again is a request of its own; several addresses, each with its
            // statistics, and the worst status wins (4 over 0, 5 over 4).
            {{"poll", "5510", "--address", "1,3", "--count", "1", "--retries", "1", "--timeout", "1000", "--json", "--quiet"}, 4,
             one + none(2) + none(3) + QStringLiteral("{\"address\":1,") + stats.arg(1).arg(1).arg("#").arg(0).arg(100).arg(0).arg("").mid(1)
                 + QStringLiteral("{\"address\":3,") + stats.arg(0).arg(2).arg("null").arg(1).arg(0).arg(2).arg("").mid(1)
                 + stats.arg(1).arg(3).arg("#").arg(1).arg(33.3).arg(2).arg(""), ""},
            {{"read", "5530", "--address", "3,9", "--timeout", "1000", "--quiet"}, 5, "", timeout + exception},
            // A poll whose only module answers with an exception.
            {{"poll", "5530", "--address", "9", "--count", "1", "--json", "--quiet"}, 5,
             R"({"address":9,"exception":{"code":1,"name":"illegal function"},"model":"KV5530ADAM","response_ms":#,"seq":1,)"
             R"("time":"now","verdict":"exception"})" "\n" + stats.arg(0).arg(1).arg("#").arg(0).arg(0).arg(0).arg("").replace("\"exception\":0", "\"exception\":1"), ""},
            // raw: a known function judged at its length; another taken until the line is quiet;
            // a frame sent without its CRC, exactly as given, goes unanswered.
            {{"raw", "01 02 00 00 00 08", "--json", "--quiet"}, 0,
             R"({"address":1,"reply":"01 02 01 00 A1 88","request":"01 02 00 00 00 08 79 CC","response_ms":#,"seq":1,"time":"now","verdict":"ok"})" "\n", ""},
            {{"raw", "01 01 00 00 00 04", "--quiet"}, 0, "reply 01 01 01 05 91 8B  verdict OK  response #\n", ""},
            {{"raw", "0111", "--quiet"}, 5, "reply 01 91 01 8C 50  verdict exception 1: illegal function  response #\n", exception},
            {{"raw", "01 02 00 00 00 08 00 00", "--no-crc", "--quiet", "--timeout", "100"}, 4, "reply -  verdict time-out (no byte)  response -\n", timeout},
            {{"survey", "--from", "20", "--to", "22", "--timeout", "25", "--json"}, 4,
             R"({"found":0,"note":"no module answered at addresses 20 to 22"})" "\n", "korvant-cli: no module answered at addresses 20 to 22\n"},
            // A time-out a loaded machine meets: a collision missed at 9600,None is heard at 9600,Even.
            {{"scan", "--timeout", "1000", "--quiet"}, 6, "",
             "korvant-cli: several modules answered at 9600,None,8,1 (a collision): korvant-cli find tells them apart\n"},
            {{"write", "5510", "--on", "1", "--address", "9", "--quiet"}, 5, "", exception},
            {{"poll", "7720", "--address", "4", "--count", "1", "--json", "--quiet"}, 0,
             ok(1, "T_1", "25", "25℃", "℃", "25") + ok(1, "T_2", "1001", "Not Connect", "℃", "null") + ok(1, "T_3", "0", "0℃", "℃", "0")
                 + ok(1, "T_4", "1000", "1000℃", "℃", "1000") + ok(2, "DI_01", "1", "ON", "", "1") + ok(2, "DI_02", "0", "OFF", "", "0")
                 + ok(2, "DI_03", "0", "OFF", "", "0") + ok(2, "DI_04", "1", "ON", "", "1")
                 + stats.arg(2).arg(2).arg("#").arg(0).arg(100).arg(0).arg(""), ""},
            // Not a terminal: no progress bar. Address 1 lies before --from, 9 answers with an exception.
            {{"survey", "--from", "2", "--to", "10", "--timeout", "1000", "--json"}, 0,
             R"({"address":2,"code":2,"model":"KV1720ADAM","response_ms":#})" "\n"
             R"({"address":4,"code":2,"model":"KV7720ADAM","response_ms":#})" "\n", ""}};
        for (CliRun &run : runs) // where a reply must come, a time-out a loaded machine meets
            run.args += (run.status == 0 || run.status == 5) && !run.args.contains("--timeout") ? QStringList{"--timeout", "1000"} : QStringList();
        const QString wrong = mismatches(sim, runs);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QCOMPARE(requests(sim, 5).mid(2, 3), (QStringList{"01 0F 00 00 00 04 01 05 FE 95", "02 06 00 00 0F A5 4C 72",
                                                          "02 06 00 00 4E 20 BD 81"}));
        // A refused read shows no values, not the ones the same read gave at an earlier address.
        const Run mixed = runCli(sim, {"poll", "5510", "--address", "1,3", "--count", "1", "--timeout", "1000", "--quiet"});
        QVERIFY2(mixed.out.section('\n', 1, 1).endsWith(QStringLiteral("  time-out (no byte)  -")), qPrintable(mixed.out));
        // A port another program holds names it, and the simulator, which keeps the pty open too.
        QProcess holder;
        startCli(holder, sim.dir.path(), {"poll", "5510", "--period", "100", "--quiet"});
        QVERIFY(holder.waitForStarted(kWaitMs) && holder.waitForReadyRead(kWaitMs));
        const Run r = runCli(sim, {"read", "5510"});
        const qint64 holderPid = holder.processId();
        QVERIFY(interrupt(holder));
        const QString held = QStringLiteral("korvant-cli: port COM1 (%1) is in use: held by ").arg(QFileInfo(sim.link()).symLinkTarget());
        QVERIFY2(r.status == 3 && r.err.startsWith(held) && r.err.contains(QStringLiteral("korvant-cli (PID %1)").arg(holderPid))
                     && r.err.contains(QStringLiteral("korvant-sim (PID %1)").arg(sim.process.processId())),
                 qPrintable(r.err));
        const Run comm = runCli(sim, {"set-comm", "4800,None,8,1", "--address", "5", "--baud", "38400"});
        QVERIFY2(comm.out == QStringLiteral("code 1 (4800,None,8,1) written to address 5, and it answers there\n")
                     && comm.err.count("   OK\n") == 3, qPrintable(comm.out + comm.err)); // the read, the write, the read
        QTemporaryDir home;
        const QString sys = home.filePath(QStringLiteral(".local/share/korvant/sys"));
        QVERIFY(QDir().mkpath(sys) && QFile::link(QFileInfo(sim.link()).symLinkTarget(), sys + QStringLiteral("/COM1")));
        QCOMPARE(runCli(sim, {"read", "5510", "--quiet"}, home.path(), home.path()).out.section('\n', 0, 0), QStringLiteral("DI_01: OFF"));
        QVERIFY(QFile::link(home.filePath("gone"), sys + QStringLiteral("/COM2")));
        QCOMPARE(runCli(sim, {"read", "5510", "--port", "COM2"}, home.path(), home.path()).err,
                 QStringLiteral("korvant-cli: port COM2 (%1) does not exist\n").arg(home.filePath("gone")));
        QCOMPARE(runCli(sim, {"doctor", "--json"}, home.path(), home.path()).out.section('\n', 0, 0), "{\"sys_folder\":\"" + sys + "\"}");
        QCOMPARE(runCli(sim, {"doctor"}, {}, home.path()).out.section('\n', 0, 0), QStringLiteral("sys folder ") + sim.dir.filePath("sys"));
        QCOMPARE(runCli(sim, {"doctor"}, home.path(), home.path(), "/x").out.section('\n', 0, 0), QStringLiteral("sys folder /x/korvant/sys"));
        QVERIFY(runCli(sim, {"--help"}, home.path(), home.path()).out.endsWith("\nThis run's sys folder: ~/.local/share/korvant/sys\n"));
        const Run ptmx = runCli(sim, {"doctor", "--port", "/dev/ptmx", "--timeout", "5", "--json", "--quiet"});
        const QStringList lines = ptmx.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(ptmx.status == 3 && lines.size() > 5 && ptmx.err.startsWith("korvant-cli: port /dev/ptmx cannot be opened")
                     && lines.last() == R"({"baud":38400,"code":4,"heard":"nothing","parity":"None"})", qPrintable(ptmx.out + ptmx.err));
        for (const QString &port : lines.mid(1, lines.size() - 5)) // the ports, then codes 1 to 4
            QVERIFY2(QJsonDocument::fromJson(port.toUtf8()).object().contains("latency_timer_ms"), qPrintable(port));
    }

    // A site's line: six modules at two settings, two of them sharing address 3, one 25 ms late,
    // one that ignores writes, behind an adapter that hands bytes over every 16 ms and echoes. find
    // tells them apart (the replies set aside from the echo are judged as on a line without one,
    // whose find is progressOnATerminal's); set-address refuses the broadcast on that bus; scan
    // tells the collision; a write meant for one module is made to one module, or to none.
    void findThenSetAddressOnABus()
    {
        SimProcess sim({"--latency", "16", "--module", "5510:3", "--module", "1730:3", "--module", "5530:9", "--fault", "nowrite",
                        "--module", "7710:40:7", "--fault", "delay=2", "--module", "5520:20", "--fault", "exception", "--module",
                        "5530:30", "--inputs", "0x05", "--fault", "delay=25", "--echo"});
        Run r = runCli(sim, {"find", "--codes", "7,2,3", "--to", "40", "--json"});
        QCOMPARE(r.status, 6);
        QStringList rows;
        for (const QString &line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            rows << QStringLiteral("%1 %2 %3 %4 %5 %6").arg(o["address"].toInt()).arg(o["code"].toInt()).arg(o["baud"].toInt())
                        .arg(o["parity"].toString(), o["model"].toString(), o["note"].toString());
            QVERIFY2(o.contains("note") || o["response_ms"].toDouble() > 0, qPrintable(line));
        }
        // The pty carries no parity: the 19200,Even module answers at 19200,None too, and is one row.
        QCOMPARE(rows, (QStringList{"3 0 9600 None  shared address?", "9 2 9600 None KV5530ADAM ",
                                    "20 0 9600 None  exception 1", "30 2 9600 None KV5530ADAM ",
                                    "40 7 19200 Even KV7710ADAM answers at 19200,None,8,1 too; its code says 19200,Even,8,1"}));
        QCOMPARE(r.err, QStringLiteral("korvant-cli: several modules answered at once: a shared address or a collision (see the notes)\n"));
        // At least: the broadcasts, the one at 9600 again (the late module's reply came after its
        // wait), 40 addresses at each setting and the shared address again.
        QVERIFY2(requests(sim, 3 + 1 + 3 * 40 + 1).size() >= 125, qPrintable(sim.log()));

        r = runCli(sim, {"set-address", "12", "--json"});
        const QString why = QStringLiteral("several modules answered the broadcast read, so nothing was written: connect one "
                                           "module only, or give --to-address A to write to the module at address A alone");
        QVERIFY2(r.status == 6 && r.out == QStringLiteral(R"({"address":12,"note":")") + why + QStringLiteral(R"(","verdict":"collision"})" "\n")
                     && r.err.endsWith("   several modules (the replies collided)\nkorvant-cli: " + why + "\n"), qPrintable(r.out + r.err));
        QVERIFY2(!sim.log().contains(QLatin1String("<- 00 06")), "a write went to the broadcast address");
        const QString shared = QStringLiteral("korvant-cli: several modules answered at address 3 (their replies collided), "
                                              "so nothing was written: disconnect all but one and try again\n");
        const QString wrong = mismatches(sim, {
            {{"find", "--codes", "4", "--to", "2", "--json"}, 4, "{\"note\":\"no module answered at the settings swept\"}\n"}, // none at 38400,None
            {{"scan", "--json"}, 6, "{\"baud\":9600,\"code\":2,\"note\":\"several modules answered at this setting (a collision)\",\"parity\":\"None\"}\n",
             "korvant-cli: several modules answered at 9600,None,8,1 (a collision): korvant-cli find tells them apart\n"},
            {{"survey", "--from", "3", "--to", "3"}, 6, "address 3  note several modules answered (their replies collided)\n",
             "korvant-cli: several modules share address 3: korvant-cli find tells them apart\n"},
            {{"set-address", "4", "--to-address", "3"}, 6, "", shared},
            {{"set-address", "30", "--to-address", "9", "--json"}, 6,
             R"({"address":30,"note":"address 30 is taken: a module answered there, so nothing was written","verdict":"taken"})" "\n",
             "korvant-cli: address 30 is taken: a module answered there, so nothing was written\n"},
            {{"set-address", "12", "--to-address", "8"}, 4, "", "korvant-cli: no module answered at address 8, so nothing was written\n"},
            {{"set-address", "12", "--to-address", "9"}, 4, "", "korvant-cli: written to 9, but no module answers at 12\n"},
            {{"set-comm", "19200,None,8,1", "--address", "9", "--json"}, 4,
             R"({"address":9,"code":3,"note":"written to 9, but no module answers at address 9 at 19200,None,8,1","verdict":"not_there"})" "\n",
             "korvant-cli: written to 9, but no module answers at address 9 at 19200,None,8,1\n"},
            {{"set-address", "12", "--to-address", "30"}, 0, "address 12 written to the module at address 30\n", ""},
            {{"set-comm", "38400,None,8,1", "--address", "12", "--json"}, 0,
             R"({"address":12,"baud":38400,"code":4,"parity":"None","verdict":"ok"})" "\n", ""},
            // Both modules are still at 3, and none came to 4.
            {{"set-address", "4", "--to-address", "3", "--json"}, 6, "{\"address\":4,\"note\":\"" + shared.mid(13).chopped(1) + "\",\"verdict\":\"collision\"}\n", shared},
            {{"survey", "--from", "4", "--to", "4"}, 4, "", "korvant-cli: no module answered at addresses 4 to 4\n"}}, {"--quiet", "--timeout", "200"});
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QVERIFY2(!sim.log().contains(QLatin1String("<- 03 06")), "a write went to address 3");
    }

    // site check: a module missing (at 8, it is at 9), at another code (3, not 2) and of another
    // model (KV1730ADAM where the site says KV1710ADAM); --sweep names the ones the site lacks.
    // A site made by site new (of addresses 1 to 3) matches the line but for the module at 9.
    // site poll: a line a module each round with its tags, the silent module asked in rounds 0
    // and 2 only, the CSV with the tags, statistics per module, exit 4 for the silent one.
    void siteCheckAndPoll()
    {
        SimProcess sim({"--module", "5510:1", "--module", "1730:2", "--module", "1720:3:3", "--holding", "4000", "--module", "5530:9"}, 2);
        QVERIFY(writeFile(sim.dir.filePath("p.kvsite"), R"({"format": 1, "name": "P", "port": "COM2", "code": 2, "modules": [
            {"address": 1, "model": "KV5510ADAM", "code": 2}, {"address": 2, "model": "KV1710ADAM", "code": 2},
            {"address": 3, "model": "KV1720ADAM", "code": 2}, {"address": 8, "model": "KV5530ADAM", "code": 2, "tag": "T"}]})"));
        const QString lines = "address 1  KV5510ADAM  code 2  ok\naddress 2  KV1710ADAM  code 2  KV1730ADAM answers at address 2, "
                              "the site says KV1710ADAM\naddress 3  KV1720ADAM  code 2  no reply\naddress 8  KV5530ADAM  code 2  \"T\"  no reply\n";
        const QString wrong = mismatches(sim, {
            {{"site", "check", "p.kvsite"}, 7, lines},
            {{"site", "check", "p.kvsite", "--port", "/dev/no-such-tty"}, 3, ""},
            {{"site", "check", "none.kvsite"}, 2, ""},
            {{"site", "check", "p.kvsite", "--sweep", "--codes", "2,3", "--to", "9"}, 7, lines
             + "address 9  code 2  baud 9600  parity None  model KV5530ADAM  not in the site\n"
               "address 3  code 3  baud 19200  parity None  model KV1720ADAM  not in the site\n"},
            {{"site", "new", "n.kvsite", "--port", "COM2", "--codes", "2,3", "--to", "3"}, 0, "address 1  KV5510ADAM  code 2\naddress 2  KV1730ADAM  code 2\n"
             "address 3  KV1720ADAM  code 3\nn.kvsite written: site \"n\", 3 modules, the line at code 2\n"},
            {{"site", "new", "e.kvsite", "--port", "COM2", "--codes", "5", "--to", "3"}, 4, ""},
            {{"site", "check", "n.kvsite", "--json", "--sweep", "--codes", "2", "--to", "9"}, 7, R"({"address":1,"code":2,"model":"KV5510ADAM","state":"ok","tag":""})" "\n"
             R"({"address":2,"code":2,"model":"KV1730ADAM","state":"ok","tag":""})" "\n"
             "{\"address\":3,\"code\":3,\"model\":\"KV1720ADAM\",\"state\":\"ok; at code 3 (19200,None,8,1), not the line's code 2 (9600,None,8,1)\",\"tag\":\"\"}" "\n"
             "{\"address\":9,\"baud\":9600,\"code\":2,\"model\":\"KV5530ADAM\",\"parity\":\"None\",\"state\":\"not in the site\"}\n"}},
            {"--quiet", "--timeout", "200"}, "  response \\S+ ms|\"response_ms\":[\\d.]+,");
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QVERIFY(writeFile(sim.dir.filePath("q.kvsite"), R"({"format": 1, "name": "Q", "port": "COM2", "code": 3, "modules": [
            {"address": 3, "model": "KV1720ADAM", "code": 3, "tag": "A2", "channels": {"AO": "valve, 1"}},
            {"address": 8, "model": "KV5530ADAM", "code": 3}]})"));
        Run r = runCli(sim, {"site", "poll", "q.kvsite", "--count", "3", "--period", "1", "--csv", "v.csv", "--quiet", "--timeout", "100"});
        const QString one = "address 3  KV1720ADAM  code 3  \"A2\"  OK T ms  AO TmA \"valve, 1\"\n";
        QCOMPARE(r.status, 4);
        QVERIFY2(r.out.replace(QRegularExpression("\\d+\\.\\d+"), "T").startsWith(one + one + "address 8  KV5530ADAM  code 3  no reply\n" + one), qPrintable(r.out));
        QVERIFY(r.out.contains("\naddress 8  ok 0  late 0  no reply 2  errors 0\n") && r.out.contains("\naddress 3  requests 4  ok 4  timeout 0"));
        const QStringList rows = QString::fromUtf8(readFile(sim.dir.filePath("v.csv"))).split('\n');
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0] + rows[1].section(',', 2), "time,window,address,channel,value,unit,raw,text,module_tag,channel_tag3,AO,4,mA,4000,4.00mA,A2,\"valve, 1\"");
    }

    // An adapter that echoes every request and hands bytes over every 16 ms: each subcommand
    // judges and decodes what follows the echo, learned from a read or from a write answered after
    // it; a time-out after the echo alone has no response time; doctor tells the echo at each
    // setting. On one module: the broadcast address write, and poll's times, each when its reply
    // was complete (after the simulator took the request, well before the next period).
    void echoingAdapter()
    {
        SimProcess sim({"--echo", "--latency", "16", "--module", "5510:1", "--inputs", "0x05", "--module", "5550:2",
                        "--module", "1720:3"});
        const QString wrong = mismatches(sim, {
            {{"write", "5550", "--on", "1,3", "--address", "2"}, 0, "DO_01: ON\nDO_02: OFF\nDO_03: ON\nDO_04: OFF\nDO_05: OFF\nDO_06: OFF\nDO_07: OFF\nDO_08: OFF\n", ""},
            {{"write", "1720", "--ma", "4", "--address", "3"}, 0, "Analog Output: 4.00mA (4000)\n", ""},
            {{"write", "5510", "--on", "1"}, 0, "RY_01: ON\nRY_02: OFF\nRY_03: OFF\nRY_04: OFF\n", ""},
            {{"survey", "--to", "3"}, 0, "address 1  code 2  model KV5510ADAM\naddress 2  code 2  model KV5550ADAM\naddress 3  code 2  model KV1720ADAM\n", ""},
            {{"read", "5510", "--address", "4", "--json", "--echo"}, 4,
             R"({"address":4,"model":"KV5510ADAM","response_ms":null,"seq":1,"time":"now","verdict":"timeout"})" "\n",
             "korvant-cli: no valid reply: time-out (no byte), echo only\n"},
            {{"raw", "04 06 00 00 00 01", "--echo"}, 4, "reply 04 06 00 00 00 01 48 5F  verdict time-out (no byte), echo only  response -\n",
             "korvant-cli: no valid reply: time-out (no byte), echo only\n"}}, {"--quiet"});
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        SimProcess one({"--echo", "--latency", "16", "--module", "5510:7"});
        QCOMPARE(runCli(one, {"set-address", "9", "--quiet"}).out, QStringLiteral("address 9 written\n"));
        Run r = runCli(one, {"poll", "5510", "--address", "9", "--period", "500", "--count", "3", "--json", "--quiet"});
        QCOMPARE(r.status, 0);
        QStringList times; // ms after the simulator took each request
        QCOMPARE(requests(one, 5).mid(2), QStringList(3, QStringLiteral("09 02 00 00 00 08 78 84")));
        const QStringList log = one.log().split(QLatin1Char('\n')).filter(QStringLiteral(" <- 09 02"));
        // The simulator takes a request after it was written: the reply's time lies no further from
        // then than its response time (to the millisecond each is cut to).
        for (const QString &line : r.out.split(QLatin1Char('\n')).filter(QStringLiteral("\"DI_01\""))) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            const QTime at = QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs).time();
            const int ms = (at.msecsSinceStartOfDay() - QTime::fromString(log.value(times.size()).left(12), QStringLiteral("hh:mm:ss.zzz")).msecsSinceStartOfDay() + 86400000) % 86400000;
            times << (ms <= o["response_ms"].toDouble() + 1 ? QStringLiteral("within") : QString::number(ms));
        }
        QCOMPARE(times, QStringList(3, QStringLiteral("within")));
        r = runCli(sim, {"doctor", "--port", "COM1", "--timeout", "60", "--quiet"});
        QStringList heard;
        for (const QString &line : r.out.split(QLatin1Char('\n')))
            if (line.startsWith("code "))
                heard << line.section(QLatin1String("  "), 2);
        // A pty carries no parity: the modules at 9600 answer at 9600,Even too.
        QCOMPARE(heard, (QStringList{"echo", "several modules", "echo", "echo", "echo", "several modules", "echo", "echo"}));
        QVERIFY2(r.status == 0 && r.err.contains("warning: the adapter echoes every request"), qPrintable(r.err));

        SimProcess quiet({"--module", "5510:1", "--fault", "silent"});
        r = runCli(quiet, {"doctor", "--port", "COM1", "--timeout", "20", "--quiet"});
        QVERIFY2(r.status == 4 && r.out.count("  nothing\n") == 8 && r.err.endsWith("nothing answered at any setting\n"), qPrintable(r.out + r.err));
        // scan asks at each of the eight settings in code order.
        r = runCli(quiet, {"scan", "--timeout", "20", "--json"});
        QVERIFY2(r.out == QStringLiteral(R"({"found":0,"note":"no module answered at any of the eight settings"})" "\n")
                     && r.err.startsWith("> 00 03 00 64 00 03 45 C5\n<    4800,N,8,1: time-out (no byte)\n") && r.err.count("time-out") == 8,
                 qPrintable(r.out + r.err));
    }

    // Behind a serial device server: the parameter window's scan stops at its first step, its probe,
    // open and reopen over one connection (what it shows of the module is test_windows'); korvant-cli's
    // scan there, answered at 4800,None, says the module's code 6 (a read or poll through --port
    // tcp:// or mbap:// is runsThatLoseTheirLine's and modulesBehindAGateway's). (A server
    // that refuses is refusedSplitAndLost's, the exit status of a port that fails contractOfEachRun's.)
    // The same behind a Modbus TCP gateway, whose scan goes to unit 0.
    void scanAndReadOverTcp()
    {
        for (const QString as : {"--tcp", "--mbap"}) {
            SimProcess server;
            const QString target = server.startTcp({"--realtime", "--module", "5510:3:6", "--inputs", "0x81"}, as); // no line, no line time
            {
                TcpEnvironment env(target);
                auto w = owned<SetFrm>(createSetFrm());
                QVERIFY(openPort(w.get()));
                QTest::mouseClick(w->Command_OK1, Qt::LeftButton);
                QTRY_COMPARE_WITH_TIMEOUT(w->Command_OK1->text(), QStringLiteral("Read"), kWaitMs);
                QCOMPARE(w->Combo2->currentText() + w->Combo3->currentText(), QStringLiteral("4800None"));
                QCOMPARE(server.log().count(QStringLiteral("client connected")), 1);
            }
            QCOMPARE(runCli(server, {"scan", "--port", target, "--quiet"}).out,
                     QStringLiteral("address 3  code 6  baud 9600  parity Even  model KV5510ADAM\n"));
        }
    }

    // korvant-cli behind a gateway: each request its own transaction; a unit nobody has is the
    // gateway's exception 0x0B, or silence with --gateway-silent; find sweeps the unit ids. mbpoll,
    // a general Modbus master, reads the same gateway.
    void modulesBehindAGateway()
    {
        SimProcess gateway, silent;
        const QString target = gateway.startTcp({"--module", "5510:3", "--inputs", "0x81", "--module", "5530:5:4"}, "--mbap");
        const QString quiet = silent.startTcp({"--gateway-silent"}, "--mbap");
        Run r = runCli(gateway, {"poll", "5510", "--port", target, "--address", "3", "--count", "2", "--period", "1"});
        QVERIFY2(r.status == 0 && r.err.contains("> 00 02 00 00 00 06 03 02 00 00 00 08\n< 00 02 00 00 00 04 03 02 01 81"), qPrintable(r.err));
        r = runCli(gateway, {"read", "5510", "--port", target, "--address", "9", "--retries", "0", "--json", "--quiet"});
        QVERIFY2(r.status == 5 && r.out.contains(R"("exception":{"code":11,"name":"target failed to respond"})"), qPrintable(r.out));
        r = runCli(silent, {"read", "5510", "--port", quiet, "--address", "9", "--retries", "0", "--timeout", "300"});
        QVERIFY2(r.status == 4 && r.err.contains("time-out (no byte)"), qPrintable(r.err));
        // find asks each unit id once: the codes ticked are not tried.
        r = runCli(gateway, {"find", "--port", target, "--to", "6", "--codes", "1"});
        QVERIFY2(r.status == 0 && r.out.remove(QRegularExpression("  response \\S+ ms")) == "address 3  code 2  baud 9600  parity None  model KV5510ADAM\n"
                     "address 5  code 4  baud 38400  parity None  model KV5530ADAM\n"
                     && r.err == "korvant-cli: Behind a Modbus TCP gateway there are no line settings to try: the unit ids are asked once.\n",
                 qPrintable(r.out + r.err));
        // site poll: the modules at the gateway's one setting, whatever code the site gives them (no note).
        QVERIFY(writeFile(gateway.dir.filePath("g.kvsite"), R"({"format": 1, "name": "G", "port": ")" + target.toUtf8() + R"(", "code": 2,
            "modules": [{"address": 3, "model": "KV5510ADAM", "code": 2}, {"address": 5, "model": "KV5530ADAM", "code": 4}]})"));
        r = runCli(gateway, {"site", "poll", "g.kvsite", "--count", "1", "--quiet"});
        QVERIFY2(r.status == 0 && r.out.replace(QRegularExpression("\\d+\\.\\d+"), "T").startsWith("address 3  KV5510ADAM  code 2  OK T ms  DI_01 ON")
                     && r.out.contains("\naddress 5  KV5530ADAM  code 4  OK T ms  DI_01 OFF"), qPrintable(r.out + r.err));
        // mbpoll: the inputs, the parameter registers, and the gateway's exception for a unit nobody has.
        const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
        if (mbpoll.isEmpty())
            QSKIP("mbpoll is not installed (scripts/deps.sh installs it)");
        const QString port = target.section(QLatin1Char(':'), -1);
        const auto poll = [&](const char *unit, const char *type, const char *from, const char *count) {
            const Run r = runProgram(mbpoll, {"-m", "tcp", "-a", unit, "-t", type, "-r", from, "-c", count, "-1", "-p", port,
                                              "127.0.0.1"});
            return QString(r.out + r.err).remove(QLatin1Char('\t'));
        };
        QVERIFY2(poll("3", "1", "1", "8").contains("[1]: 1\n[2]: 0\n[3]: 0\n[4]: 0\n[5]: 0\n[6]: 0\n[7]: 0\n[8]: 1\n"),
                 qPrintable(gateway.log()));
        QVERIFY(poll("3", "4", "101", "3").contains("[101]: 3\n[102]: 2\n[103]: 5510\n"));
        QVERIFY(poll("9", "4", "101", "3").contains("Target device failed to respond"));
    }

    // A Modbus TCP server no one here wrote: pymodbus, unit 3 with inputs 1 and 8 on, silent to
    // any other unit (a silent unit's time-out is modulesBehindAGateway's).
    void readsAPymodbusServer()
    {
        QProcess server;
        const QString script = QStringLiteral(KORVANT_SOURCE_DIR "/tests/support/pymodbus_server.py");
        if (runProgram(QStringLiteral("/usr/bin/python3"), {"-c", "import pymodbus.server"}).status != 0)
            QSKIP("python3-pymodbus is not installed (scripts/deps.sh installs it)");
        const QString port = refusingTarget().section(QLatin1Char(':'), -1);
        const QString target = QStringLiteral("mbap://127.0.0.1:") + port;
        server.start(QStringLiteral("/usr/bin/python3"), {script, port});
        SimProcess folder; // a working folder only
        Run r;
        // It takes a couple of seconds to listen: until then the port refuses (exit 3).
        QVERIFY(QTest::qWaitFor([&] {
            r = runCli(folder, {"read", "5510", "--port", target, "--address", "3"});
            return r.status != 3;
        }, 30000));
        QVERIFY2(r.status == 0 && r.out.startsWith("DI_01: ON\nDI_02: OFF\n") && r.out.contains("DI_08: ON"), qPrintable(r.out + r.err));
        QVERIFY2(r.err.contains("< 00 01 00 00 00 04 03 02 01 81"), qPrintable(r.err));
        QCOMPARE(runCli(folder, {"survey", "--port", target, "--from", "2", "--to", "4", "--quiet"}).out,
                 QStringLiteral("address 3  code 2  model KV5510ADAM\n"));
        // A function the tool does not use is judged at the length that came.
        r = runCli(folder, {"raw", "03 04 00 00 00 01", "--port", target, "--quiet"});
        QVERIFY2(r.status == 0 && r.out.startsWith("reply 00 01 00 00 00 05 03 04 02 00 00  verdict OK"), qPrintable(r.out));
        server.kill();
        server.waitForFinished(5000);
    }

    // On a terminal the progress bar (survey's, find's) shares the screen with the results: what the terminal shows,
    // carriage returns and erasures applied, is each result on a line of its own and no bar left.
    void progressOnATerminal()
    {
        SimProcess sim({"--module", "5510:2", "--module", "5530:4", "--quiet"});
        const struct { QStringList args; const char *bar; QStringList screen; } runs[] = {
            {{"survey", "--to", "5", "--timeout", "200"}, "] 5/5 address 5, 2 found",
             {"address 2  code 2  model KV5510ADAM", "address 4  code 2  model KV5530ADAM", ""}},
            {{"find", "--codes", "2", "--to", "5", "--timeout", "1000"}, "\r\033[K[####################....................] 3/6 probes, ",
             {"address 2  code 2  baud 9600  parity None  model KV5510ADAM  response #",
              "address 4  code 2  baud 9600  parity None  model KV5530ADAM  response #", ""}}};
        for (const auto &run : runs) {
            int master = -1, slave = -1;
            QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
            QProcess p;
            p.setChildProcessModifier([slave] { ::dup2(slave, STDOUT_FILENO), ::dup2(slave, STDERR_FILENO); });
            startCli(p, sim.dir.path(), run.args);
            const bool finished = p.waitForFinished(kWaitMs);
            ::close(slave);
            QByteArray shown;
            char buf[4096];
            for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
                shown.append(buf, n);
            ::close(master);
            QVERIFY(finished && p.exitCode() == 0);
            QVERIFY2(shown.contains(run.bar), shown.constData());
            QStringList screen{QString()};
            qsizetype column = 0;
            for (qsizetype i = 0; i < shown.size(); ++i) {
                QString &line = screen.last();
                if (shown.mid(i, 3) == "\033[K")
                    line.truncate(column), i += 2;
                else if (shown[i] == '\r')
                    column = 0;
                else if (shown[i] == '\n')
                    screen << QString(), column = 0;
                else
                    line = line.left(column).leftJustified(column) + QLatin1Char(shown[i]) + line.mid(column + 1), ++column;
            }
            QCOMPARE(screen.replaceInStrings(QRegularExpression(QStringLiteral("response [0-9.]+ ms$")), QStringLiteral("response #")), run.screen);
        }
    }

    // poll --csv on a full disk: said once on stderr, the poll goes on to its count, its summary
    // counts the rows lost (a line per channel of every accepted read), and it exits 8. (What the
    // lines hold is test_values' and pollLogsOnASmallDiskFilledAndFreed's.) Then Ctrl+C ends a
    // poll and a survey, each with what it had.
    void pollOnAFullDiskAndStoppedByCtrlC()
    {
        SimProcess sim({"--module", "7710:1", "--holding", "0,0,1024", "--quiet"});
        const Run r = runCli(sim, {"poll", "7710", "--count", "3", "--period", "20", "--quiet", "--json", "--csv", "/dev/full"});
        QCOMPARE(r.err, QStringLiteral("korvant-cli: cannot write the value log /dev/full: No space left on device\n"));
        QCOMPARE(QStringLiteral("exit %1, %2 ok, %3 lost").arg(r.status).arg(r.out.count(QStringLiteral("\"verdict\":\"ok\"")))
                     .arg(QJsonDocument::fromJson(r.out.section('\n', -2).toUtf8())["rows_lost"].toInt()), QStringLiteral("exit 8, 30 ok, 30 lost"));
        QProcess p;
        startCli(p, sim.dir.path(), {"poll", "7710", "--period", "50", "--quiet"});
        QByteArray out;
        // A combined model: the analog read, then the digital one, each a line.
        QVERIFY(printed(p, out, 4) && interrupt(p) && p.exitCode() == 0);
        // The statistics close the output (their lines are test_core's).
        const QStringList lines = QString::fromUtf8(out + p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 7 && lines[0].contains(QLatin1String("  OK  ")) && lines[0].contains(QLatin1String("AI_3: 5.00mA"))
                     && lines[1].contains(QLatin1String("DI_01: OFF")) && lines[lines.size() - 2] == QLatin1String("success 100.0%"),
                 out.constData());
        // A survey stops too, with what it found (on a line of its own: the poll's last request may
        // still be answered).
        SimProcess one({"--module", "7710:1", "--quiet"});
        QProcess survey;
        startCli(survey, one.dir.path(), {"survey", "--timeout", "200", "--quiet"});
        QByteArray found;
        QVERIFY(printed(survey, found, 1) && interrupt(survey) && survey.exitCode() == 0);
        QCOMPARE(found + survey.readAllStandardOutput(), QByteArray("address 1  code 2  model KV7710ADAM\n"));
    }

    // A poll whose simulator dies mid-way (a pulled adapter, a device server gone): what it had is
    // printed, the summary says it stopped early, and the exit status is 3, over a pty and TCP. A
    // read whose line goes before the (delayed) reply comes, and a find mid-sweep, say how and exit 3.
    void runsThatLoseTheirLine()
    {
        for (const bool tcp : {false, true}) {
            SimProcess sim;
            const QString target = tcp ? sim.startTcp({"--module", "5510:1"}) : QString();
            QVERIFY(tcp ? !target.isEmpty() : sim.start({"--module", "5510:1"}));
            const Run r = cutOff(sim, QStringList{"poll", "5510", "--period", "20", "--count", "1000", "--json", "--quiet"}
                                          + (tcp ? QStringList{"--port", target} : QStringList()), 4);
            const QStringList lines = r.out.trimmed().split('\n');
            const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
            QCOMPARE(r.status, 3);
            QCOMPARE(summary["stopped"].toString(), QStringLiteral("line lost"));
            // Every exchange printed was counted, and none refused: the lost one is not judged.
            QVERIFY2(summary["requests"].toInt() >= 3, qPrintable(r.out));
            QCOMPARE(summary["ok"].toInt(), summary["requests"].toInt());
            QCOMPARE(summary["requests"].toInt(), (lines.size() - 1) / 8);
        }
        const struct { QStringList sim, cli; int requests; QString err; } runs[] = {
            {{"--module", "5510:1", "--fault", "delay=3000"}, {"read", "5510", "--timeout", "10000", "--quiet"}, 1,
             "korvant-cli: the line failed: "},
            {{"--module", "5510:1"}, {"find", "--codes", "2"}, 3, "korvant-cli: the line failed: the device hung up\n"}};
        for (const auto &run : runs) {
            SimProcess sim(run.sim);
            const Run r = cutOff(sim, run.cli, run.requests);
            QVERIFY2(r.status == 3 && r.err.startsWith(run.err) && r.err.count('\n') == 1, qPrintable(r.err));
        }
    }

    // A reply in pieces (a byte each, 2 ms apart) is gathered whole; a byte trailing it 2 ms later,
    // within the quiet (3.5 characters at 4800 baud on a pty: 8 ms), makes it too long, though the
    // poll's next request is due before that quiet would end. On the real-time line no reply comes
    // before the request's and its own bytes and the silence between them (16.7 + 12.5 + 8 ms).
    void pollGathersRepliesInPieces()
    {
        SimProcess sim({"--realtime", "--module", "5510:1:1", "--module", "5510:2:1", "--fault", "extrabyte", "--fault", "pieces=7",
                        "--fault", "gap=2", "--quiet"});
        for (const auto &[address, verdict] : {std::pair{"1", "ok"}, std::pair{"2", "long"}}) {
            const Run r = runCli(sim, {"poll", "5510", "--address", address, "--baud", "4800", "--count", "2", "--period", "20", "--json"});
            const QList<QByteArray> lines = r.out.toUtf8().trimmed().split('\n');
            QCOMPARE(QJsonDocument::fromJson(lines.first()).object()["verdict"].toString(), QString::fromLatin1(verdict));
            QVERIFY2(QJsonDocument::fromJson(lines.first()).object()["response_ms"].toDouble() >= 37.1, lines.first().constData());
            QCOMPARE(QJsonDocument::fromJson(lines.last()).object()[QLatin1String(verdict)].toInt(), 2);
        }
    }

    // checkout report: HTML and CSV from korvant-cli, the PDF from korvant-report beside it on the
    // offscreen platform (its text read with pdftotext); a damaged last line warned of; a journal
    // it cannot read (2); a file it cannot write and korvant-report missing (3).
    void checkoutReport()
    {
        SimProcess sim;
        const QString folder = sim.dir.path();
        QVERIFY(QFile::copy(KORVANT_SOURCE_DIR "/docs/examples/pumphouse.checkout.jsonl", folder + "/j.jsonl"));
        QVERIFY(writeFile(folder + "/j.jsonl", "{\"time\":\"2026-03-0", QIODevice::Append));
        QVERIFY(QDir(folder).mkdir("bin") && QFile::copy(kCli, folder + "/bin/korvant-cli"));
        const QString missing = "korvant-cli: no PDF written: korvant-report, which makes it, is missing beside korvant-cli (" + folder + "/bin/korvant-report)\n";
        const QString warning = "korvant-cli: warning: line 11 is damaged and was skipped (cut off by a power cut?)\n";
        const struct { QString program; QStringList args; int status; QString err; } runs[] = {
            {kCli, {"report", "j.jsonl", "--pdf", "r.pdf", "--html", "r.html", "--csv", "r.csv"}, 0, warning},
            {kCli, {"report", "none.jsonl", "--csv", "n.csv"}, 2, "korvant-cli: none.jsonl: no such file\n"},
            {kCli, {"report", "j.jsonl", "--csv", "gone/r.csv"}, 3, warning + "korvant-cli: cannot write the report: gone/r.csv: No such file or directory\n"},
            {kCli, {"report", "j.jsonl", "--pdf", "gone/r.pdf"}, 3, warning + "korvant-report: gone/r.pdf: No such file or directory\n"},
            {kCli, {"report", "j.jsonl", "--pdf", "/dev/full"}, 3, warning + "korvant-report: /dev/full: No space left on device\n"},
            {folder + "/bin/korvant-cli", {"report", "j.jsonl", "--pdf", "s.pdf"}, 3, warning + missing}};
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        qunsetenv("QT_QPA_PLATFORM"); // korvant-report chooses offscreen itself
        for (const auto &run : runs) {
            const Run r = runProgram(run.program, QStringList{"checkout"} + run.args, folder);
            QCOMPARE(r.err, run.err);
            QCOMPARE(r.status, run.status);
        }
        qputenv("QT_QPA_PLATFORM", platform);
        // What each row and the header hold is test_checkout's; here that the files came of this journal.
        QVERIFY(readFile(folder + "/r.html").contains("<p>21 channels: 7 passed, 1 failed, 1 not tested, 12 untested.</p>"));
        QCOMPARE(readFile(folder + "/r.csv").split('\n').size(), 23);
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is missing: the PDF's text is not read");
        const QString pdf = runProgram(QStringLiteral("pdftotext"), {folder + "/r.pdf", "-"}).out.simplified();
        for (const char *line : {"Checkout report - Pump house", "Technician Maria Keller", "COM1 at 9600,None,8,1",
                                 "21 channels: 7 passed, 1 failed, 1 not tested, 12 untested.", "no transmitter", "Witness"})
            QVERIFY2(pdf.contains(QLatin1String(line)), qPrintable(pdf));
    }

    // poll --csv on a small disk (a 64 KiB tmpfs) filled mid-poll and freed again: no torn line,
    // the cause and the rows lost told, the summary's count the same, exit status 8. Root mounts
    // the disk here; elsewhere the case runs again in a private mount namespace (unshare -Urm).
    void pollLogsOnASmallDiskFilledAndFreed()
    {
        SimProcess sim;
        const QString disk = sim.dir.filePath(QStringLiteral("disk"));
        QVERIFY(QDir().mkdir(disk));
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k") != 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            if (qEnvironmentVariableIsSet("KORVANT_PRIVATE_MOUNT"))
                QSKIP(qPrintable("a tmpfs cannot be mounted in a private mount namespace: " + why));
            QProcess again;
            again.setProcessChannelMode(QProcess::MergedChannels);
            again.setProcessEnvironment([] { auto e = QProcessEnvironment::systemEnvironment(); e.insert("KORVANT_PRIVATE_MOUNT", "1"); return e; }());
            again.start(QStringLiteral("unshare"), {"-Urm", QCoreApplication::applicationFilePath(), QTest::currentTestFunction()});
            const bool ran = again.waitForFinished(60000);
            const QString out = QString::fromLocal8Bit(again.readAll());
            if (again.error() == QProcess::FailedToStart || out.contains(QLatin1String("SKIP   :")) || out.startsWith(QLatin1String("unshare:")))
                QSKIP(qPrintable("neither a mount (" + why + ") nor unshare -Urm works here: " + (out.isEmpty() ? again.errorString() : out.left(300))));
            QVERIFY2(ran && again.exitCode() == 0, qPrintable(out));
            return;
        }
        const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(disk).constData(), MNT_DETACH); });
        QVERIFY(sim.start({"--module", "7710:1", "--quiet"}));
        QProcess cli;
        startCli(cli, sim.dir.path(), {"poll", "7710", "--period", "20", "--quiet", "--csv", "disk/v.csv"});
        QString err;
        const auto said = [&](const char *text) {
            return QTest::qWaitFor([&] { return (err += QString::fromUtf8(cli.readAllStandardError())).contains(QLatin1String(text)); }, kWaitMs);
        };
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(disk + "/v.csv").size() > 1000; }, kWaitMs));
        QFile filler(disk + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {
        }
        QVERIFY2(said("korvant-cli: cannot write the value log disk/v.csv: No space left on device\n"), qPrintable(err));
        QVERIFY2(filler.remove(), qPrintable(filler.errorString()));
        QVERIFY2(said(" lost since "), qPrintable(err));
        QVERIFY(interrupt(cli) && cli.exitCode() == 8);
        const QString out = QString::fromUtf8(cli.readAllStandardOutput());
        static const QRegularExpression resumed(QStringLiteral("the value log disk/v\\.csv is written again: (\\d+) rows? lost since 20"));
        static const QRegularExpression summary(QStringLiteral("\nnot every value was logged: (\\d+) of (\\d+) rows lost\n$"));
        const QRegularExpressionMatch counts = summary.match(out);
        QCOMPARE(counts.captured(1), resumed.match(err).captured(1));
        QVERIFY2(counts.captured(1).toInt() < counts.captured(2).toInt(), qPrintable(out));
        static const QRegularExpression whole(QStringLiteral("^[-0-9T:.+]{29},KV7710ADAM,1,(AI_[1-6],0,mA,0,0\\.00mA|DI_0[1-4],0,,0,OFF)$"));
        const QList<QByteArray> lines = readFile(disk + "/v.csv").split('\n');
        QCOMPARE(lines.first(), QByteArray("time,window,address,channel,value,unit,raw,text"));
        for (const QByteArray &line : lines.mid(1, lines.size() - 2))
            QVERIFY2(whole.match(QString::fromUtf8(line)).hasMatch(), line.constData());
        QCOMPARE(lines.last(), QByteArray());
    }
};

QTEST_MAIN(TestE2e)
#include "test_e2e.moc"
