// The in-process simulated line: what a window's settings text and frames turn into, and how the
// replies come back through the event loop.
#include "modbus.h"
#include "simline.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace {
QByteArray frame(const char *payloadHex)
{
    return withCrc(QByteArray::fromHex(payloadHex));
}
const QByteArray kRead1 = QByteArray::fromHex("01020000000879CC");
} // namespace

class TestSimLine : public QObject
{
    Q_OBJECT
private slots:
    void settingsDecideWhoAnswers();
    void delayedReplyArrivesInPieces();
    void failClosesAndReports();
};

// At 9600,N only module 2 listens, at 9600,E only module 1: the first reply tells who stayed silent.
void TestSimLine::settingsDecideWhoAnswers()
{
    SimBus bus;
    bus.addModule(5510, 1, 6)->setDiscreteInput(2, true); // 9600,Even
    bus.addModule(5530, 2, 2)->setDiscreteInput(0, true); // 9600,None
    SimLine line(&bus);
    QSignalSpy spy(&line, &SerialLine::received);
    const QByteArray read2 = frame("020200000010");
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    line.write(kRead1);
    line.write(read2);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), frame("0202020100"));
    spy.clear();
    QVERIFY(line.open(1, QStringLiteral("9600,E,8,1")).ok());
    line.write(read2);
    line.write(kRead1);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), frame("01020104"));
    // The settings text is recorded as given, even text a real port refuses (and the line stays closed).
    QCOMPARE(line.open(1, QStringLiteral("9600,None,8,1")).fault, SerialLine::Fault::Other);
    QVERIFY(line.lastSettings() == QStringLiteral("9600,None,8,1") && !line.isOpen());
}

void TestSimLine::delayedReplyArrivesInPieces()
{
    SimBus bus;
    SimModule *m = bus.addModule(7710, 1, 2);
    m->setHolding(0, 2048);
    m->faults = SimFaults{.delayMs = 150, .pieces = 3, .pieceGapMs = 60};
    SimLine line(&bus);
    QSignalSpy spy(&line, &SerialLine::received);
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    QElapsedTimer clock;
    clock.start();
    line.write(QByteArray::fromHex("010300000006C5C8"));
    QVERIFY(spy.wait(5000));
    const qint64 first = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 5000);
    QVERIFY2(first >= 140 && clock.elapsed() - first >= 100, qPrintable(QString::number(first)));
    QByteArray whole;
    for (const QList<QVariant> &args : spy)
        whole += args.at(0).toByteArray();
    QVERIFY(whole.size() == 17 && whole.startsWith(QByteArray::fromHex("01030C0800")));
}

void TestSimLine::failClosesAndReports()
{
    SimBus bus;
    bus.addModule(5510, 1, 2)->faults.delayMs = 100;
    SimLine line(&bus);
    QSignalSpy failed(&line, &SerialLine::failed);
    QSignalSpy received(&line, &SerialLine::received);
    line.fail(); // closed: nothing to report
    QCOMPARE(failed.size(), 0);
    QVERIFY(line.open(2, QStringLiteral("9600,N,8,1")).ok());
    line.write(kRead1);
    line.fail(QStringLiteral("adapter pulled out"));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("adapter pulled out"));
    QVERIFY(!line.isOpen());
    line.write(kRead1);
    QCOMPARE(line.writes().size(), 1);
    QVERIFY(!received.wait(300)); // the pending reply is dropped
    QVERIFY(SimLine(&bus).probe(2).ok()); // the port is free again
}

QTEST_GUILESS_MAIN(TestSimLine)
#include "test_simline.moc"
