// korvant-cli end to end: the program run as a process against korvant-sim on a pseudo-terminal,
// judged by its exit status, its output and the frames the simulator logged.
#include "support/simprocess.h"

#include "modbus.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <csignal>

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

QString cliProgram()
{
    return QStringLiteral(KORVANT_BINARY_DIR "/cli/korvant-cli");
}

// Runs korvant-cli in the simulator's folder (so COM1 is its pty) and waits for it to end.
Run runCli(const SimProcess &sim, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(sim.dir.path());
    p.start(cliProgram(), args);
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        r.err = QStringLiteral("korvant-cli did not finish");
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The requests the simulator received, in order, as hex text.
QStringList requests(SimProcess &sim)
{
    QStringList frames;
    // "hh:mm:ss.zzz <- 01 02 00 00 00 08 79 CC (at 9600 baud)"
    for (const QString &line : sim.log().split(QLatin1Char('\n'))) {
        const qsizetype at = line.indexOf(QLatin1String(" <- "));
        if (at >= 0)
            frames << line.mid(at + 4).section(QLatin1Char('('), 0, 0).trimmed();
    }
    return frames;
}

// Every line of out as a JSON object; a line that is not one fails the test that asked.
QList<QJsonObject> jsonLines(const QString &out)
{
    QList<QJsonObject> objects;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        objects << (doc.isObject() ? doc.object() : QJsonObject{{"unparsed", line}});
    }
    return objects;
}

QString frameText(const QByteArray &frame)
{
    return HexText(frame).trimmed();
}

// Waits until the simulator has logged n requests.
bool sawRequests(SimProcess &sim, int n)
{
    return QTest::qWaitFor([&] { return requests(sim).size() >= n; }, 5000);
}

} // namespace

class TestE2eCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(cliProgram()).isExecutable(), qPrintable(cliProgram() + " is not built"));
        QVERIFY2(QFileInfo(SimProcess::program()).isExecutable(), qPrintable(SimProcess::program() + " is not built"));
    }

    void scanStopsAtTheFirstAnswer()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5550:7:3"}));
        const Run r = runCli(sim, {"scan", "--quiet"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("address 7  code 3  baud 19200  parity None  model KV5550ADAM\n"));
        // 4800 and 9600 unanswered, then 19200; nothing after.
        QVERIFY(sawRequests(sim, 3));
        QCOMPARE(requests(sim), QStringList(3, QStringLiteral("00 03 00 64 00 03 45 C5")));
    }

    void readsEveryChannelOfACombinedModel()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "7720:4", "--holding", "25,1001,0,1000", "--inputs", "0x09"}));
        const Run r = runCli(sim, {"--address", "4", "read", "KV7720ADAM", "--quiet"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("T_1: 25℃\nT_2: Not Connect\nT_3: 0℃\nT_4: 1000℃\n"
                                       "DI_01: ON\nDI_02: OFF\nDI_03: OFF\nDI_04: ON\n"));
        QVERIFY(r.err.isEmpty());
    }

    // The exit codes of a failed run; why a reply was refused is the core's business.
    void exitCodes()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:1", "--fault", "exception"}));
        QCOMPARE(runCli(sim, {"read", "KV5520ADAM"}).status, 2);
        Run r = runCli(sim, {"read", "5510", "--address", "2"});
        QCOMPARE(r.status, 4);
        QVERIFY2(r.err.contains(QLatin1String("> 02 02 00 00 00 08 79 FF")), qPrintable(r.err));
        QCOMPARE(runCli(sim, {"read", "KV5510ADAM", "--quiet"}).status, 5);
        // COM2 resolves through sys/COM2 as the windows resolve it, here to a device that is gone.
        const QString gone = sim.dir.filePath(QStringLiteral("gone"));
        QVERIFY(QFile::link(gone, sim.link(2)));
        r = runCli(sim, {"read", "5510", "--port", "COM2"});
        QCOMPARE(r.status, 3);
        QCOMPARE(r.err, QStringLiteral("korvant-cli: port COM2 (%1) does not exist: %1 does not exist\n").arg(gone));
    }

    void writesOutputsAndTheAnalogOutput()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:1", "--module", "1720:2"}));
        Run r = runCli(sim, {"write", "KV5510ADAM", "--on", "1,3", "--quiet"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("RY_01: ON\nRY_02: OFF\nRY_03: ON\nRY_04: OFF\n"));
        r = runCli(sim, {"write", "KV1720ADAM", "--ma", "4.005", "--address", "2", "--quiet"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("Analog Output: 4.00mA (4005)\n"));
        QVERIFY(sawRequests(sim, 2));
        QCOMPARE(requests(sim), (QStringList{"01 0F 00 00 00 04 01 05 FE 95", frameText(writeRegisterRequest(2, 0, 4005))}));
    }

    void setsAddressThenCommunicationParameters()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:1:2"}));
        Run r = runCli(sim, {"set-address", "5", "--quiet"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("address 5 written\n"));
        r = runCli(sim, {"set-comm", "19200,None,8,1", "--address", "5", "--quiet"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("code 3 (19200,None,8,1) written to address 5\n"));
        // The module now listens at 5 and 19200 only.
        QCOMPARE(runCli(sim, {"read", "5510", "--address", "5", "--baud", "19200", "--quiet"}).status, 0);
        QVERIFY(sawRequests(sim, 3));
        QCOMPARE(requests(sim).mid(0, 2), (QStringList{"00 06 00 64 00 05 09 C7", frameText(commWriteRequest(5, 3))}));
    }

    void surveyFindsThreeModules()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:3", "--module", "1730:17", "--module", "7720:200", "--quiet"}));
        const Run r = runCli(sim, {"survey", "--to", "201", "--timeout", "25", "--json"});
        QCOMPARE(r.status, 0);
        QStringList found;
        for (const QJsonObject &o : jsonLines(r.out))
            found << QStringLiteral("%1 %2 %3").arg(o["address"].toInt()).arg(o["code"].toInt()).arg(o["model"].toString());
        QCOMPARE(found, (QStringList{"3 2 KV5510ADAM", "17 2 KV1730ADAM", "200 2 KV7720ADAM"}));
        // Not a terminal: no progress bar.
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    void pollStopsOnCtrlC()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "7710:1", "--holding", "0,0,1024", "--quiet"}));
        QProcess p;
        p.setWorkingDirectory(sim.dir.path());
        p.start(cliProgram(), {"poll", "7710", "--period", "50", "--quiet"});
        QVERIFY(p.waitForStarted(10000));
        QByteArray out;
        // A combined model: the analog read, then the digital one, each a line.
        const bool polled = QTest::qWaitFor([&] {
            out += p.readAllStandardOutput();
            return out.count('\n') >= 4;
        }, 10000);
        // Never kill(0): a process that is gone already has no id, and 0 is the whole group.
        const pid_t pid = pid_t(p.processId());
        QVERIFY(pid > 0);
        ::kill(pid, SIGINT);
        const bool finished = p.waitForFinished(10000);
        if (!finished)
            p.kill();
        QVERIFY(polled && finished);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        out += p.readAllStandardOutput();
        const QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 7, out.constData());
        QVERIFY2(lines[0].contains(QLatin1String("  accepted  ")) && lines[0].contains(QLatin1String("AI_3: 5.00mA")), qPrintable(lines[0]));
        QVERIFY2(lines[1].contains(QLatin1String("DI_01: OFF")), qPrintable(lines[1]));
        QVERIFY2(lines[lines.size() - 3].startsWith(QLatin1String("requests ")), qPrintable(lines[lines.size() - 3]));
        QCOMPARE(lines[lines.size() - 2], QStringLiteral("success 100.0%"));
        QVERIFY(lines.last().startsWith(QLatin1String("response ms  min ")));
    }

    // A reply in pieces is gathered whole; a byte trailing a complete reply within the quiet gap
    // makes it too long, though the poll's next request is due before that gap would end.
    void pollGathersRepliesInPieces()
    {
        SimProcess sim;
        QVERIFY(sim.start({"--module", "5510:1", "--fault", "pieces=6", "--fault", "gap=3", "--module", "5510:2",
                           "--fault", "extrabyte", "--fault", "pieces=7", "--fault", "gap=3", "--quiet"}));
        for (const auto &[address, verdict] : {std::pair{"1", "ok"}, std::pair{"2", "long"}}) {
            const Run r = runCli(sim, {"poll", "5510", "--address", address, "--count", "2", "--period", "20", "--json"});
            const QList<QJsonObject> lines = jsonLines(r.out);
            QCOMPARE(lines.first()["verdict"].toString(), QString::fromLatin1(verdict));
            QCOMPARE(lines.last()[QLatin1String(verdict)].toInt(), 2);
        }
    }
};

QTEST_GUILESS_MAIN(TestE2eCli)
#include "test_e2e_cli.moc"
