// korvant-sim end to end: the simulator on a pseudo-terminal, driven by the tool's real serial
// line and by mbpoll as an independent Modbus master.
#include "modbus.h"
#include "qserialline.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString simPath = QStringLiteral(KORVANT_BINARY_DIR "/sim/korvant-sim");

// The simulator in a scratch folder; stopped (and its folder removed) whatever the test did.
struct SimProcess {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    QProcess process;

    QString link() const { return dir.filePath(QStringLiteral("sys/COM1")); }

    // Starts the simulator and waits until its link is in place.
    bool start(const QStringList &args)
    {
        if (!dir.isValid() || !QDir::setCurrent(dir.path()))
            return false;
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(simPath, QStringList{QStringLiteral("--dir"), dir.path()} + args);
        if (!process.waitForStarted(10000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (!QFileInfo(link()).isSymLink()) {
            if (clock.elapsed() > 10000 || process.state() != QProcess::Running)
                return false;
            process.waitForReadyRead(50);
        }
        return true;
    }

    ~SimProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
        QDir::setCurrent(previous);
    }
};

QByteArray frame(const char *payloadHex)
{
    const QByteArray p = QByteArray::fromHex(payloadHex);
    return Crc16(p, std::uint8_t(p.size() - 1));
}

// Collects everything the line receives.
struct Collector {
    QByteArray bytes;
    explicit Collector(SerialLine &line)
    {
        QObject::connect(&line, &SerialLine::received, &line, [this](const QByteArray &b) { bytes += b; });
    }
};

// Runs mbpoll once and returns "[n]: value" pairs it printed.
QMap<int, int> runMbpoll(const QStringList &args, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStandardPaths::findExecutable(QStringLiteral("mbpoll")), args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    *output = QString::fromLocal8Bit(p.readAll());
    QMap<int, int> values;
    static const QRegularExpression row(QStringLiteral("^\\[(\\d+)\\]:\\s+(-?\\d+)"), QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(*output); it.hasNext();) {
        const auto m = it.next();
        values.insert(m.captured(1).toInt(), m.captured(2).toInt());
    }
    return values;
}

} // namespace

class TestE2eSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void exchangesAtTheModulesBaudOnly();
    void survivesReopeningAndScanning();
    void noiseDoesNotStopTheSim();
    void mbpollReadsWhatTheSimWasGiven();
    void genericModuleShowsLiveInputs();
    void stopsCleanlyAndRemovesItsLink();
    void refusesBadCommandLines_data();
    void refusesBadCommandLines();
};

void TestE2eSim::initTestCase()
{
    QVERIFY2(QFileInfo(simPath).isExecutable(), qPrintable(simPath + " is not built"));
}

void TestE2eSim::exchangesAtTheModulesBaudOnly()
{
    SimProcess sim;
    QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x05", "--module", "5530:2:1", "--inputs", "0x8005"}));
    QSerialLine line;
    Collector got(line);
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    line.write(QByteArray::fromHex("01020000000879CC"));
    QTRY_COMPARE_WITH_TIMEOUT(got.bytes.size(), 6, 5000);
    QCOMPARE(got.bytes.toHex(' '), QByteArray::fromHex("01020105618B").toHex(' '));

    // Write relays 1 and 3, read them back.
    got.bytes.clear();
    line.write(QByteArray::fromHex("010F000000040105FE95"));
    QTRY_COMPARE_WITH_TIMEOUT(got.bytes.size(), 8, 5000);
    QCOMPARE(got.bytes, QByteArray::fromHex("010F000000045408"));
    got.bytes.clear();
    line.write(frame("010100000004"));
    QTRY_COMPARE_WITH_TIMEOUT(got.bytes.size(), 6, 5000);
    QCOMPARE(got.bytes, frame("01010105"));

    // At 4800 module 1 is deaf; module 2 (code 1) answers, and its reply is the first to come.
    QVERIFY(line.open(1, QStringLiteral("4800,N,8,1")).ok());
    got.bytes.clear();
    line.write(QByteArray::fromHex("01020000000879CC"));
    line.write(frame("020200000010"));
    QTRY_COMPARE_WITH_TIMEOUT(got.bytes.size(), 7, 5000);
    QCOMPARE(got.bytes.toHex(' '), frame("0202020580").toHex(' '));
    QVERIFY(!QSignalSpy(&line, &SerialLine::received).wait(300));
}

void TestE2eSim::survivesReopeningAndScanning()
{
    SimProcess sim;
    QVERIFY(sim.start({"--module", "1730:1:3"}));
    // The parameter window's scan: reopen at each baud rate and ask by broadcast. Only the
    // settings without parity: QSerialPort reads the attributes back after setting them, and a
    // pty always drops the parity bit, so even parity cannot be opened on a pty at all.
    const QStringList settings{"4800,N,8,1", "9600,N,8,1", "19200,N,8,1", "38400,N,8,1"};
    QStringList answered;
    for (int round = 0; round < 2; ++round) {
        for (const QString &s : settings) {
            QSerialLine line;
            Collector got(line);
            const SerialLine::Result opened = line.open(1, s);
            QVERIFY2(opened.ok(), qPrintable(s + ": " + opened.detail));
            line.write(QByteArray::fromHex("00030064000345C5"));
            if (QTest::qWaitFor([&] { return got.bytes.size() >= 11; }, 400)) {
                answered << s;
                QCOMPARE(got.bytes, frame("0003060001000306C2"));
            }
        }
    }
    QCOMPARE(answered, QStringList({"19200,N,8,1", "19200,N,8,1"}));
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void TestE2eSim::noiseDoesNotStopTheSim()
{
    SimProcess sim;
    QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x81"}));
    QSerialLine line;
    Collector got(line);
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    QByteArray noise(2000, '\0');
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 37 + 11) & 0xFF);
    line.write(noise);
    // Once the line has been quiet for a frame gap the next request is served; until then a
    // request may merge with the tail of the noise, so it is repeated.
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
        got.bytes.clear();
        line.write(QByteArray::fromHex("01020000000879CC"));
        return QTest::qWaitFor([&] { return got.bytes.size() >= 6; }, 300) && got.bytes == frame("01020181");
    }()), 10000);
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void TestE2eSim::mbpollReadsWhatTheSimWasGiven()
{
    if (QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty())
        QSKIP("mbpoll is not installed");
    SimProcess sim;
    QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x85", "--module", "7720:3:2", "--holding", "25,26,1001,65535"}));
    QString out;
    const QMap<int, int> inputs = runMbpoll({"-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-t", "1", "-r", "1",
                                             "-c", "8", "-1", sim.link()}, &out);
    QCOMPARE(inputs, (QMap<int, int>{{1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 1}}));
    const QMap<int, int> regs = runMbpoll({"-m", "rtu", "-a", "3", "-b", "9600", "-P", "none", "-t", "4", "-r", "1",
                                           "-c", "4", "-1", sim.link()}, &out);
    QCOMPARE(regs, (QMap<int, int>{{1, 25}, {2, 26}, {3, 1001}, {4, 65535}}));
    // Parameter registers 100..102 (references 101..103).
    const QMap<int, int> params = runMbpoll({"-m", "rtu", "-a", "3", "-b", "9600", "-P", "none", "-t", "4", "-r", "101",
                                             "-c", "3", "-1", sim.link()}, &out);
    QCOMPARE(params, (QMap<int, int>{{101, 3}, {102, 2}, {103, 7720}}));
    // Wrong baud rate: mbpoll times out and prints no values.
    const QMap<int, int> none = runMbpoll({"-m", "rtu", "-a", "1", "-b", "19200", "-P", "none", "-t", "1", "-r", "1",
                                           "-c", "8", "-o", "0.5", "-1", sim.link()}, &out);
    QVERIFY2(none.isEmpty(), qPrintable(out));
}

void TestE2eSim::genericModuleShowsLiveInputs()
{
    SimProcess sim;
    QVERIFY(sim.start({}));
    QSerialLine line;
    Collector got(line);
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    auto readInputs = [&]() -> int {
        got.bytes.clear();
        line.write(frame("010200000010"));
        if (!QTest::qWaitFor([&] { return got.bytes.size() >= 7; }, 3000))
            return -1;
        return std::uint8_t(got.bytes[3]) | (std::uint8_t(got.bytes[4]) << 8);
    };
    const int first = readInputs();
    QVERIFY(first > 0);
    QCOMPARE(qPopulationCount(quint32(first)), 1);
    QTRY_VERIFY_WITH_TIMEOUT(readInputs() != first, 5000);
    const int later = readInputs();
    QCOMPARE(qPopulationCount(quint32(later)), 1);
}

void TestE2eSim::stopsCleanlyAndRemovesItsLink()
{
    SimProcess sim;
    QVERIFY(sim.start({"--module", "generic"}));
    sim.process.terminate();
    QVERIFY(sim.process.waitForFinished(5000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());

    // A stale link left by a killed simulator is replaced by the next one.
    SimProcess second;
    QVERIFY(QDir().mkpath(second.dir.filePath("sys")));
    QVERIFY(QFile::link(second.dir.filePath("sys/gone"), second.link()));
    second.process.start(simPath, {"--dir", second.dir.path()});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(second.link()).symLinkTarget().startsWith("/dev/"), 10000);
}

void TestE2eSim::refusesBadCommandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown model") << QStringList{"--module", "9999:1:2"} << "unknown model";
    QTest::newRow("bad address") << QStringList{"--module", "5510:0:2"} << "address";
    QTest::newRow("bad code") << QStringList{"--module", "5510:1:9"} << "code";
    QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << "unknown option";
    QTest::newRow("fault before module") << QStringList{"--fault", "silent"} << "must follow";
    QTest::newRow("unknown fault") << QStringList{"--module", "5510", "--fault", "smoke"} << "unknown fault";
    QTest::newRow("port out of range") << QStringList{"--port", "12"} << "1..9";
}

void TestE2eSim::refusesBadCommandLines()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QProcess p;
    p.start(simPath, QStringList{"--dir", dir.path()} + args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY(p.exitCode() != 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(!QFileInfo::exists(dir.filePath("sys")));

    QProcess help;
    help.start(simPath, {"--help"});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(QString::fromLocal8Bit(help.readAllStandardError()).contains("--module"));
}

QTEST_GUILESS_MAIN(TestE2eSim)
#include "test_e2e_sim.moc"
