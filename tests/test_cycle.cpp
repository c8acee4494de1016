// The test windows' cycle and the parameter window's scan, stepped with a fake clock: no event
// loop, no widget, no port. A fake module answers each frame at once (or not at all); every
// action that reaches the outside is logged with its time, and the tests compare logs.
#include "cycle.h"
#include "scan.h"

#include <QMap>
#include <QTest>

#include <functional>

namespace {

using Module = std::function<QByteArray(const QByteArray &request)>;

// A module at address 1 that echoes writes and answers reads with count data bytes of 0x05
// (function 02) or registers of 0x0100 (function 03).
QByteArray answer(const QByteArray &request)
{
    if (request.size() < 8 || request[0] != 1)
        return {};
    const auto function = std::uint8_t(request[1]);
    if (function == 0x06 || function == 0x0F)
        return withCrc(request.left(6));
    const int count = std::uint8_t(request[4]) * 256 + std::uint8_t(request[5]);
    QByteArray reply = request.left(2);
    if (function == 0x02)
        reply += char((count + 7) / 8) + QByteArray((count + 7) / 8, 0x05);
    else
        reply += char(2 * count) + QByteArray(2 * count, 0).replace(0, 1, "\x01");
    return withCrc(reply);
}

// Timers as the windows' behave: an interval of 0 never fires, enabling an enabled one changes
// nothing, a repeating timer is due again one interval after it was due.
class FakeClock
{
public:
    struct Timer {
        int interval = 0;
        bool enabled = false;
        int due = 0;
    };
    static int key(TimerRef t) { return int(t.kind) * 100 + t.index; }

    void setInterval(TimerRef t, int ms) { timers[key(t)].interval = ms; }
    void apply(const CycleActions &actions)
    {
        for (const CycleAction &a : actions) {
            switch (a.kind) {
            case CycleAction::Pause: log << QStringLiteral("%1 pause %2").arg(now).arg(a.ms); now += a.ms; break;
            case CycleAction::Clear: received.clear(); break;
            case CycleAction::Prompt: log << QStringLiteral("%1 prompt %2").arg(now).arg(a.text); break;
            case CycleAction::Send:
                log << QStringLiteral("%1 send %2").arg(now).arg(QString::fromLatin1(a.frame.toHex()));
                received = module ? module(a.frame) : QByteArray();
                break;
            case CycleAction::Enable: {
                Timer &t = timers[key(a.timer)];
                if (!t.enabled)
                    t.due = now + t.interval;
                t.enabled = true;
                break;
            }
            case CycleAction::Disable: timers[key(a.timer)].enabled = false; break;
            case CycleAction::Judged:
                log << QStringLiteral("%1 judged %2%3").arg(now).arg(a.verdict.accepted() ? "ok" : a.verdict.reason(), a.decode ? " decode" : "");
                break;
            case CycleAction::Caption: log << QStringLiteral("%1 caption %2 %3").arg(now).arg(a.cycle).arg(a.text); break;
            case CycleAction::Reopen: log << QStringLiteral("%1 reopen %2").arg(now).arg(a.step); reopens << a.step; break;
            }
        }
    }
    // Fires due timers in time order until `until`; fire(timer) returns the machine's actions.
    void run(int until, const std::function<CycleActions(TimerRef)> &fire)
    {
        while (true) {
            int best = -1;
            for (auto it = timers.cbegin(); it != timers.cend(); ++it)
                if (it->enabled && it->interval > 0 && it->due <= until && (best < 0 || it->due < timers[best].due))
                    best = it.key();
            if (best < 0)
                break;
            Timer &t = timers[best];
            now = t.due;
            t.due += t.interval;
            apply(fire(TimerRef{TimerRef::Kind(best / 100), best % 100}));
        }
        now = until;
    }

    int now = 0;
    QMap<int, Timer> timers;
    QByteArray received;
    Module module = answer;
    QStringList log;
    QList<int> reopens;
};

// A test window: reads cycles and one write, with a port and an address box per cycle.
struct Window {
    explicit Window(QVector<AcquisitionCycle::Read> reads, bool write = true) : m(std::move(reads), write)
    {
        for (int i = 0; i < m.reads(); ++i) {
            clock.setInterval({TimerRef::Acquisition, i}, 100);
            clock.setInterval({TimerRef::ReadTimeout, i}, 40);
        }
        clock.setInterval({TimerRef::WriteTimeout, 0}, 50);
    }
    void run(int until)
    {
        clock.run(until, [this](TimerRef t) {
            switch (t.kind) {
            case TimerRef::Acquisition: return m.tick(t.index, portOpen, address, clock.received);
            case TimerRef::ReadTimeout: return m.readTimeout(t.index, clock.received);
            case TimerRef::WriteTimeout: return m.writeTimeout(clock.received);
            }
            return CycleActions();
        });
    }
    void click(int cycle) { clock.apply(m.click(cycle)); }
    void validate()
    {
        clock.apply(m.validate(portOpen, address, [](std::uint8_t a) { return writeCoilsRequest(a, {true, false, true, false}); }));
    }
    QStringList log() const { return clock.log; }

    AcquisitionCycle m;
    FakeClock clock;
    bool portOpen = true;
    QString address = QStringLiteral("1");
};

const AcquisitionCycle::Read kDigital{0x02, 0, 8, AcquisitionCycle::Read::DigitalAddressMessage, true};
const AcquisitionCycle::Read kAnalog{0x03, 0, 6, AcquisitionCycle::Read::AnalogAddressMessage, false};
const QString kReadFrame = QStringLiteral("01020000000879cc");
const QString kWriteFrame = QStringLiteral("010f0000000401 05fe95").remove(QLatin1Char(' '));

} // namespace

class TestCycle : public QObject
{
    Q_OBJECT
private slots:
    void readsEveryPeriodUntilStopped_data();
    void readsEveryPeriodUntilStopped();
    void tickPreconditions_data();
    void tickPreconditions();
    void writeSuspendsAndResumes_data();
    void writeSuspendsAndResumes();
    void cyclesExcludeEachOther();
    void overdueReplyIsJudgedBeforeTheNextTick();
    void lineLostStopsEverything();
    void scanFindsTheModuleAtItsSetting_data();
    void scanFindsTheModuleAtItsSetting();
    void scanEnds();
    void parameterWrites_data();
    void parameterWrites();
};

void TestCycle::readsEveryPeriodUntilStopped_data()
{
    QTest::addColumn<bool>("analog");
    QTest::newRow("digital") << false;
    QTest::newRow("analog") << true;
}

// Stopped with a request out: its reply is judged all the same, but digital inputs change only
// while their cycle runs.
void TestCycle::readsEveryPeriodUntilStopped()
{
    QFETCH(bool, analog);
    Window w({analog ? kAnalog : kDigital});
    const QString read = analog ? QStringLiteral("010300000006c5c8") : kReadFrame;
    w.click(0);
    w.run(220);
    w.click(0);
    w.run(1000);
    QCOMPARE(w.log(), (QStringList{"0 caption 0 Stop", "100 send " + read, "140 judged ok decode", "200 send " + read,
                                   "220 caption 0 Acquisition", analog ? "240 judged ok decode" : "240 judged ok"}));
    QVERIFY(!w.m.enabled({TimerRef::Acquisition, 0}));
}

void TestCycle::tickPreconditions_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("analog");
    QTest::addColumn<QString>("message");
    QTest::newRow("port closed") << false << "1" << false << kOpenPortFirst;
    QTest::newRow("no address, digital") << true << "" << false << kAddressNotSelected;
    QTest::newRow("no address, analog") << true << "" << true << kAnalogAddressNotSelected;
    QTest::newRow("address 256") << true << "256" << false << kAddressRangeMessage;
    QTest::newRow("address abc") << true << "abc" << true << kAddressRangeMessage;
}

void TestCycle::tickPreconditions()
{
    QFETCH(bool, portOpen);
    QFETCH(QString, address);
    QFETCH(bool, analog);
    QFETCH(QString, message);
    Window w({analog ? kAnalog : kDigital});
    w.portOpen = portOpen;
    w.address = address;
    w.click(0);
    w.run(1000);
    // The click itself tests nothing; the first tick stops the cycle with one message.
    QCOMPARE(w.log(), (QStringList{"0 caption 0 Stop", "100 caption 0 Acquisition", "100 prompt " + message}));
}

void TestCycle::writeSuspendsAndResumes_data()
{
    QTest::addColumn<bool>("acquiring");
    QTest::addColumn<bool>("stopDuringWrite");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<QStringList>("log"); // from the Validate at 150 on
    const QString rd = "send " + kReadFrame;
    QTest::newRow("while acquiring") << true << false << "1" << true
                                     << QStringList{"150 pause 300", "450 send " + kWriteFrame, "500 judged ok", "600 " + rd};
    QTest::newRow("while idle") << false << false << "1" << true << QStringList{"150 send " + kWriteFrame, "200 judged ok"};
    QTest::newRow("stopped during the write") << true << true << "1" << true
                                              << QStringList{"150 pause 300", "450 send " + kWriteFrame, "460 caption 0 Acquisition", "500 judged ok"};
    QTest::newRow("bad address resumes") << true << false << "x" << true
                                         << QStringList{"150 pause 300", "450 prompt " + kAddressRangeMessage, "550 " + rd};
    QTest::newRow("no port ends idle") << true << false << "1" << false
                                       << QStringList{"150 pause 300", "450 caption 0 Acquisition", "450 prompt " + kOpenPortFirst};
}

void TestCycle::writeSuspendsAndResumes()
{
    QFETCH(bool, acquiring);
    QFETCH(bool, stopDuringWrite);
    QFETCH(QString, address);
    QFETCH(bool, portOpen);
    QFETCH(QStringList, log);
    Window w({kDigital});
    if (acquiring)
        w.click(0);
    w.run(150);
    const qsizetype before = w.log().size();
    w.portOpen = portOpen;
    w.address = address;
    w.validate();
    w.address = QStringLiteral("1");
    w.portOpen = true;
    if (stopDuringWrite) {
        w.run(460);
        w.click(0);
    }
    w.run(640);
    QStringList after = w.log().mid(before);
    // Only the first read after the write matters here.
    while (after.size() > log.size())
        after.removeLast();
    QCOMPARE(after, log);
    QCOMPARE(w.m.suspended(), 0);
}

void TestCycle::cyclesExcludeEachOther()
{
    Window w({kAnalog, kDigital});
    w.click(0);
    w.run(150);
    w.click(1); // the digital cycle takes the port from the analog one
    QCOMPARE(w.m.acquiring(0), false);
    QCOMPARE(w.m.acquiring(1), true);
    w.validate(); // suspends the digital cycle
    QCOMPARE(w.m.suspended(), 2);
    w.click(0); // the analog one starts meanwhile: the digital one must not resume beside it
    w.run(2000);
    QVERIFY(w.m.enabled({TimerRef::Acquisition, 0}));
    QVERIFY(!w.m.enabled({TimerRef::Acquisition, 1}));
    QCOMPARE(w.m.suspended(), 0);
}

void TestCycle::overdueReplyIsJudgedBeforeTheNextTick()
{
    Window w({kDigital});
    w.clock.setInterval({TimerRef::ReadTimeout, 0}, 150); // longer than the period
    w.click(0);
    w.run(200);
    QCOMPARE(w.log(), (QStringList{"0 caption 0 Stop", "100 send " + kReadFrame, "200 judged ok decode", "200 send " + kReadFrame}));
}

void TestCycle::lineLostStopsEverything()
{
    Window w({kAnalog, kDigital});
    w.click(1);
    w.run(120);
    w.validate();
    w.clock.apply(w.m.lineLost());
    QVERIFY(!w.m.acquiring(0) && !w.m.acquiring(1));
    QCOMPARE(w.m.suspended(), 0);
    w.run(2000);
    QVERIFY(!w.m.enabled({TimerRef::Acquisition, 1}));
}

namespace {
// The parameter window on a bus whose one module listens at code `code` (0: no module).
struct Scan {
    explicit Scan(int code) : code(code)
    {
        clock.setInterval({TimerRef::Acquisition, 0}, ParameterCycle::kTickMs);
        clock.setInterval({TimerRef::ReadTimeout, 0}, ParameterCycle::kReadTimeoutMs);
        clock.setInterval({TimerRef::WriteTimeout, 0}, ParameterCycle::kWriteTimeoutMs);
        clock.module = [this](const QByteArray &request) -> QByteArray {
            if (setting != this->code || request != parameterReadRequest())
                return {};
            return withCrc(QByteArray::fromHex("000306000100") + char(this->code) + QByteArray::fromHex("1586"));
        };
    }
    void run(int until)
    {
        clock.run(until, [this](TimerRef t) {
            if (t.kind == TimerRef::ReadTimeout)
                return m.readTimeout(clock.received);
            if (t.kind == TimerRef::WriteTimeout)
                return m.writeTimeout(clock.received);
            CycleActions out = m.tick(portOpen, clock.received);
            if (!out.isEmpty() && out.last().kind == CycleAction::Reopen) {
                const int step = out.last().step;
                if (step >= 0 && step < ParameterCycle::kSteps)
                    setting = step + 1;
                clock.apply(out);
                return m.reopened(reopenWorks);
            }
            return out;
        });
    }
    ParameterCycle m;
    FakeClock clock;
    int code;
    int setting = 2;
    bool portOpen = true;
    bool reopenWorks = true;
};
} // namespace

void TestCycle::scanFindsTheModuleAtItsSetting_data()
{
    QTest::addColumn<int>("code");
    for (int code = 1; code <= 8; ++code)
        QTest::addRow("code %d", code) << code;
}

void TestCycle::scanFindsTheModuleAtItsSetting()
{
    QFETCH(int, code);
    Scan s(code);
    s.clock.apply(s.m.click(true));
    s.run(5000);
    QCOMPARE(s.clock.log.filter("judged").size(), code);
    QCOMPARE(s.clock.log.filter("judged ok decode").size(), 1);
    QVERIFY(s.clock.log.last().endsWith("caption 0 Read"));
    QCOMPARE(s.clock.reopens.size(), code);
    QCOMPARE(s.clock.reopens.last(), code - 1);
    QCOMPARE(s.m.found().code, code);
    QCOMPARE(s.m.found().model, 5510);
    QCOMPARE(s.m.step(), 0);
    QVERIFY(!s.m.scanning());
}

void TestCycle::scanEnds()
{
    // Nothing answers: eight steps in code order, then idle at step 0.
    Scan none(0);
    none.clock.apply(none.m.click(true));
    none.run(5000);
    QCOMPARE(none.clock.reopens, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    QCOMPARE(none.clock.log.filter("judged no reply").size(), 8);
    QVERIFY(!none.m.scanning() && none.m.step() == 0);
    // "Stop" pauses where the scan is; "Read" goes on from there.
    Scan paused(0);
    paused.clock.apply(paused.m.click(true));
    paused.run(460);
    paused.clock.apply(paused.m.click(true));
    QCOMPARE(paused.m.step(), 3);
    paused.run(2000);
    paused.clock.apply(paused.m.click(true));
    paused.run(2160);
    QCOMPARE(paused.clock.reopens, (QList<int>{0, 1, 2, 3}));
    // A port the user closed, or one that will not reopen, ends the scan.
    Scan closed(0);
    closed.clock.apply(closed.m.click(true));
    closed.run(320);
    closed.clock.apply(closed.m.portClosed());
    closed.run(2000);
    QCOMPARE(closed.clock.reopens.size(), 2);
    QVERIFY(!closed.m.scanning() && closed.m.step() == 0);
    Scan unplugged(0);
    unplugged.reopenWorks = false;
    unplugged.clock.apply(unplugged.m.click(true));
    unplugged.run(2000);
    QCOMPARE(unplugged.clock.reopens.size(), 1);
    QVERIFY(!unplugged.m.scanning());
    QVERIFY(unplugged.clock.log.filter("send").isEmpty());
    // A port closed behind the scan's back ends it at the next tick, without a reopen.
    Scan behind(0);
    behind.clock.apply(behind.m.click(true));
    behind.run(200);
    behind.portOpen = false;
    behind.run(2000);
    QCOMPARE(behind.clock.reopens.size(), 1);
    QVERIFY(!behind.m.scanning() && behind.m.step() == 0);
    // "Read" on a closed port only says so.
    Scan notOpen(0);
    notOpen.clock.apply(notOpen.m.click(false));
    QCOMPARE(notOpen.clock.log, QStringList{"0 prompt " + kOpenPortFirst});
}

void TestCycle::parameterWrites_data()
{
    QTest::addColumn<bool>("address"); // the address write, else the parameter write
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<QString>("expected");
    QTest::newRow("new address 7") << true << "7" << "" << "send 0006006400078806";
    QTest::newRow("new address empty") << true << "" << "" << "prompt " + kAddressNotSelected;
    QTest::newRow("new address 300") << true << "300" << "" << "prompt " + kAddressRangeMessage;
    QTest::newRow("code 7 to module 1") << false << "1" << "19200,Even,8,1" << "send 010600650007d817";
    QTest::newRow("prefix of an entry") << false << "1" << "9600" << "prompt " + kParametersNotValid;
    QTest::newRow("lower case") << false << "1" << "9600,even,8,1" << "prompt " + kParametersNotValid;
    QTest::newRow("no module address") << false << "" << "9600,None,8,1" << "prompt " + kAddressNotSelected;
}

void TestCycle::parameterWrites()
{
    QFETCH(bool, address);
    QFETCH(QString, addressText);
    QFETCH(QString, parameters);
    QFETCH(QString, expected);
    Scan s(0);
    s.clock.apply(address ? s.m.writeAddress(true, addressText) : s.m.writeParameters(true, addressText, parameters));
    QCOMPARE(s.clock.log, QStringList{"0 " + expected});
    QCOMPARE(s.m.enabled({TimerRef::WriteTimeout, 0}), expected.startsWith("send"));
}

QTEST_APPLESS_MAIN(TestCycle)
#include "test_cycle.moc"
