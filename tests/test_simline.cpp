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
    const QByteArray p = QByteArray::fromHex(payloadHex);
    return Crc16(p, std::uint8_t(p.size() - 1));
}

// Port switches are process-wide; every test leaves them as it found them.
struct PortSwitchGuard {
    ~PortSwitchGuard() { SimLine::resetPorts(); }
};

} // namespace

class TestSimLine : public QObject
{
    Q_OBJECT
private slots:
    void openRecordsSettingsAndChecksPorts();
    void repliesFollowBaudAndParity();
    void delayedReplyArrivesInPieces();
    void closingDropsPendingReplies();
    void failClosesAndReports();
    void factoryHandsOutSimLines();
};

void TestSimLine::openRecordsSettingsAndChecksPorts()
{
    PortSwitchGuard guard;
    SimBus bus;
    SimLine line(&bus);
    QVERIFY(line.open(1, QStringLiteral("19200,N,8,1")).ok());
    QCOMPARE(line.lastSettings(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(line.openCount(), 1);
    QVERIFY(line.isOpen());

    QCOMPARE(line.open(1, QStringLiteral("9600,None,8,1")).fault, SerialLine::Fault::Other);
    QCOMPARE(line.lastSettings(), QStringLiteral("9600,None,8,1"));
    QVERIFY(!line.isOpen());
    QCOMPARE(line.openCount(), 1);

    QCOMPARE(line.probe(0).fault, SerialLine::Fault::DoesNotExist);
    QCOMPARE(line.probe(10).fault, SerialLine::Fault::DoesNotExist);
    QVERIFY(line.probe(9).ok());
    SimLine::setPortMissing(3, true);
    SimLine::setPortInUse(4, true);
    QCOMPARE(line.probe(3).fault, SerialLine::Fault::DoesNotExist);
    QCOMPARE(line.open(3, QStringLiteral("9600,N,8,1")).fault, SerialLine::Fault::DoesNotExist);
    QCOMPARE(line.probe(4).fault, SerialLine::Fault::InUse);
    QCOMPARE(line.open(4, QStringLiteral("9600,N,8,1")).fault, SerialLine::Fault::InUse);
    SimLine::setPortInUse(4, false);
    QVERIFY(line.open(4, QStringLiteral("9600,N,8,1")).ok());

    // A port another line holds is in use, as with the real line.
    SimLine other(&bus);
    QCOMPARE(other.probe(4).fault, SerialLine::Fault::InUse);
    QCOMPARE(other.open(4, QStringLiteral("9600,N,8,1")).fault, SerialLine::Fault::InUse);
    line.close();
    QVERIFY(other.open(4, QStringLiteral("9600,N,8,1")).ok());
    QCOMPARE(line.openCount(), 2);
}

void TestSimLine::repliesFollowBaudAndParity()
{
    SimBus bus;
    bus.addModule(5510, 1, 6)->setDiscreteInput(2, true); // 9600,Even
    bus.addModule(5530, 2, 2)->setDiscreteInput(0, true); // 9600,None
    SimLine line(&bus);
    QSignalSpy spy(&line, &SerialLine::received);

    const QByteArray read1 = QByteArray::fromHex("01020000000879CC");
    const QByteArray read2 = frame("020200000010");
    line.write(read1); // closed: neither recorded nor answered
    QVERIFY(line.writes().isEmpty());

    // At 9600,N only module 2 listens: the first thing that arrives is its reply, so module 1
    // stayed silent.
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    line.write(read1);
    line.write(read2);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), frame("0202020100"));
    QCOMPARE(line.writes(), QList<QByteArray>({read1, read2}));

    spy.clear();
    QVERIFY(line.open(1, QStringLiteral("9600,E,8,1")).ok());
    line.write(read2);
    line.write(read1);
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray(), frame("01020104"));

    spy.clear();
    line.injectBytes(QByteArray(300, '\x55'));
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toByteArray().size(), 300);
}

void TestSimLine::delayedReplyArrivesInPieces()
{
    SimBus bus;
    SimModule *m = bus.addModule(7710, 1, 2);
    m->setHolding(0, 2048);
    m->faults.delayMs = 150;
    m->faults.pieces = 3;
    m->faults.pieceGapMs = 60;
    SimLine line(&bus);
    QSignalSpy spy(&line, &SerialLine::received);
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());

    QElapsedTimer clock;
    clock.start();
    line.write(QByteArray::fromHex("010300000006C5C8"));
    QVERIFY(spy.wait(5000));
    const qint64 first = clock.elapsed();
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 5000);
    const qint64 last = clock.elapsed();
    QVERIFY2(first >= 140, qPrintable(QString::number(first)));
    QVERIFY2(last - first >= 100, qPrintable(QString::number(last - first)));
    QByteArray whole;
    for (const QList<QVariant> &args : spy)
        whole += args.at(0).toByteArray();
    QCOMPARE(whole.size(), 17);
    QVERIFY(whole.startsWith(QByteArray::fromHex("01030C0800")));
}

void TestSimLine::closingDropsPendingReplies()
{
    SimBus bus;
    SimModule *slow = bus.addModule(5510, 1, 2);
    slow->faults.delayMs = 100;
    bus.addModule(5530, 2, 2);
    SimLine line(&bus);
    QSignalSpy spy(&line, &SerialLine::received);
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    line.write(QByteArray::fromHex("01020000000879CC"));
    line.close();
    QVERIFY(line.open(1, QStringLiteral("9600,N,8,1")).ok());
    line.write(frame("020200000010"));
    // The fresh reply comes first; then give the stale one more than its delay to show up.
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.at(0).at(0).toByteArray().at(0), '\x02');
    QVERIFY(!spy.wait(300));
    QCOMPARE(spy.size(), 1);
}

void TestSimLine::failClosesAndReports()
{
    SimBus bus;
    bus.addModule(5510, 1, 2);
    SimLine line(&bus);
    QSignalSpy failed(&line, &SerialLine::failed);
    QSignalSpy received(&line, &SerialLine::received);
    line.fail(); // closed: nothing to report
    QCOMPARE(failed.size(), 0);

    QVERIFY(line.open(2, QStringLiteral("9600,N,8,1")).ok());
    line.write(QByteArray::fromHex("01020000000879CC"));
    line.fail(QStringLiteral("adapter pulled out"));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("adapter pulled out"));
    QVERIFY(!line.isOpen());
    line.write(QByteArray::fromHex("01020000000879CC"));
    QCOMPARE(line.writes().size(), 1);
    line.injectBytes("x");
    QVERIFY(!received.wait(200));
    // The port is free again after the failure.
    SimLine other(&bus);
    QVERIFY(other.probe(2).ok());
}

void TestSimLine::factoryHandsOutSimLines()
{
    SimBus bus;
    useSimulatedBus(&bus);
    std::unique_ptr<SerialLine> a = makeSerialLine();
    std::unique_ptr<SerialLine> b = makeSerialLine();
    setSerialLineFactory({});
    auto *simA = qobject_cast<SimLine *>(a.get());
    QVERIFY(simA);
    QCOMPARE(simA->bus(), &bus);
    QCOMPARE(SimLine::instances(), QList<SimLine *>({simA, qobject_cast<SimLine *>(b.get())}));
    b.reset();
    QCOMPARE(SimLine::instances(), QList<SimLine *>{simA});
}

QTEST_GUILESS_MAIN(TestSimLine)
#include "test_simline.moc"
