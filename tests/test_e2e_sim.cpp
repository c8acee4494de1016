// korvant-sim end to end: the simulator on a pseudo-terminal, driven by the tool's real serial
// line and by mbpoll as an independent Modbus master.
#include "support/simprocess.h"

#include "modbus.h"
#include "qserialline.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

QByteArray frame(const char *payloadHex)
{
    return withCrc(QByteArray::fromHex(payloadHex));
}

// Writes a request and waits for `size` bytes of reply.
QByteArray ask(QSerialLine &line, const QByteArray &request, int size)
{
    QByteArray got;
    const auto c = QObject::connect(&line, &SerialLine::received, &line, [&got](const QByteArray &b) { got += b; });
    line.write(request);
    static_cast<void>(QTest::qWaitFor([&] { return got.size() >= size; }, 5000)); // a short reply shows in the result
    QObject::disconnect(c);
    return got;
}

// Runs mbpoll once and returns the "[n]: value" pairs it printed.
QMap<int, int> runMbpoll(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStandardPaths::findExecutable(QStringLiteral("mbpoll")), args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    QMap<int, int> values;
    static const QRegularExpression row(QStringLiteral("^\\[(\\d+)\\]:\\s+(-?\\d+)"), QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(QString::fromLocal8Bit(p.readAll())); it.hasNext();) {
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
    void mbpollReadsWhatTheSimWasGiven();
    void stopsCleanlyAndRemovesItsLink();
    void refusesBadCommandLines_data();
    void refusesBadCommandLines();
};

void TestE2eSim::initTestCase()
{
    QVERIFY2(QFileInfo(SimProcess::program()).isExecutable(), qPrintable(SimProcess::program() + " is not built"));
}

void TestE2eSim::exchangesAtTheModulesBaudOnly()
{
    SimProcess sim;
    QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x05", "--module", "5530:2:1", "--inputs", "0x8005"}));
    QSerialLine line;
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    QCOMPARE(ask(line, QByteArray::fromHex("01020000000879CC"), 6).toHex(' '), QByteArray("01 02 01 05 61 8b"));
    QCOMPARE(ask(line, QByteArray::fromHex("010F000000040105FE95"), 8), QByteArray::fromHex("010F000000045408"));
    QCOMPARE(ask(line, frame("010100000004"), 6), frame("01010105"));
    // At 4800 module 1 is deaf; module 2 (code 1) answers, and its reply is the first to come.
    QVERIFY(line.open(1, QStringLiteral("4800,N,8,1")).ok());
    line.write(QByteArray::fromHex("01020000000879CC"));
    QCOMPARE(ask(line, frame("020200000010"), 7).toHex(' '), frame("0202020580").toHex(' '));
    QVERIFY(!QSignalSpy(&line, &SerialLine::received).wait(300));
}

void TestE2eSim::mbpollReadsWhatTheSimWasGiven()
{
    if (QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty())
        QSKIP("mbpoll is not installed");
    SimProcess sim;
    QVERIFY(sim.start({"--module", "5510:1:2", "--inputs", "0x85", "--module", "7720:3:2", "--holding", "25,26,1001,65535"}));
    auto poll = [&sim](const char *address, const char *table, const char *count) {
        return runMbpoll({"-m", "rtu", "-a", address, "-b", "9600", "-P", "none", "-t", table, "-r", "1", "-c", count, "-1",
                          sim.link()});
    };
    QCOMPARE(poll("1", "1", "8"), (QMap<int, int>{{1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 1}}));
    QCOMPARE(poll("3", "4", "4"), (QMap<int, int>{{1, 25}, {2, 26}, {3, 1001}, {4, 65535}}));
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

    // A simulator killed outright leaves its link, and the freed pty goes to someone else: here
    // the test holds a live pty behind the link. No simulator holds the link's lock, so the next
    // simulator takes the link; while it runs, another one on the same port is refused.
    const int pty = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(pty >= 0 && ::grantpt(pty) == 0 && ::unlockpt(pty) == 0);
    const QString held = QString::fromLocal8Bit(::ptsname(pty));
    SimProcess second;
    QVERIFY(QFile::link(held, second.link()));
    QVERIFY(second.start({"--module", "generic"}));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(second.link()).symLinkTarget() != held, 10000);
    QProcess third;
    third.start(SimProcess::program(), {"--dir", second.dir.path()});
    QVERIFY(third.waitForFinished(10000));
    QVERIFY(third.exitCode() != 0);
    QVERIFY(QString::fromLocal8Bit(third.readAllStandardError()).contains("held by another running simulator"));
    ::close(pty);
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
    p.start(SimProcess::program(), QStringList{"--dir", dir.path()} + args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY(p.exitCode() != 0);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY(!QFileInfo::exists(dir.filePath("sys")));
}

QTEST_GUILESS_MAIN(TestE2eSim)
#include "test_e2e_sim.moc"
