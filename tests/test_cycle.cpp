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
        int interval = 0, due = 0;
        bool enabled = false;
    };
    static int key(TimerRef t) { return int(t.kind) * 100 + t.index; }

    void setInterval(TimerRef t, int ms) { timers[key(t)].interval = ms; }
    void apply(const CycleActions &actions)
    {
        for (const CycleAction &a : actions) {
            const QString at = QString::number(now) + QLatin1Char(' ');
            switch (a.kind) {
            case CycleAction::Pause: log << at + QStringLiteral("pause %1").arg(a.ms); now += a.ms; break;
            case CycleAction::Clear: received.clear(); break;
            case CycleAction::Prompt: log << at + "prompt " + a.text; break;
            case CycleAction::Send:
                log << at + "send " + QString::fromLatin1(a.frame.toHex());
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
                log << at + "judged " + (a.verdict.accepted() ? "ok" : a.verdict.reason()) + (a.decode ? " decode" : "");
                break;
            case CycleAction::Caption: log << at + QStringLiteral("caption %1 ").arg(a.cycle) + a.text; break;
            case CycleAction::Reopen: log << at + QStringLiteral("reopen %1").arg(a.step); reopens << a.step; break;
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
    explicit Window(QVector<AcquisitionCycle::Read> reads) : m(std::move(reads), true)
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
        const auto coils = [](std::uint8_t a) { return writeCoilsRequest(a, {true, false, true, false}); };
        clock.apply(m.validate(portOpen, address, coils));
    }
    QStringList log() const { return clock.log; }

    AcquisitionCycle m;
    FakeClock clock;
    bool portOpen = true;
    QString address = QStringLiteral("1");
};

// The parameter window on a bus where nothing answers (finding a module is test_windows').
struct Scan {
    Scan()
    {
        clock.setInterval({TimerRef::Acquisition, 0}, ParameterCycle::kTickMs);
        clock.setInterval({TimerRef::ReadTimeout, 0}, ParameterCycle::kReadTimeoutMs);
        clock.setInterval({TimerRef::WriteTimeout, 0}, ParameterCycle::kWriteTimeoutMs);
        clock.module = {};
    }
    Scan &click(bool open = true)
    {
        clock.apply(m.click(open));
        return *this;
    }
    Scan &run(int until)
    {
        clock.run(until, [this](TimerRef t) {
            if (t.kind == TimerRef::ReadTimeout)
                return m.readTimeout(clock.received);
            if (t.kind == TimerRef::WriteTimeout)
                return m.writeTimeout(clock.received);
            CycleActions out = m.tick(portOpen, clock.received);
            if (!out.isEmpty() && out.last().kind == CycleAction::Reopen) {
                clock.apply(out);
                return m.reopened(reopenWorks);
            }
            return out;
        });
        return *this;
    }
    bool idle() const { return !m.scanning() && m.step() == 0; }
    ParameterCycle m;
    FakeClock clock;
    bool portOpen = true, reopenWorks = true;
};

const AcquisitionCycle::Read kDigital{0x02, 0, 8, AcquisitionCycle::Read::DigitalAddressMessage, true};
const AcquisitionCycle::Read kAnalog{0x03, 0, 6, AcquisitionCycle::Read::AnalogAddressMessage, false};
const QString kReadFrame = QStringLiteral("01020000000879cc");
const QString kWriteFrame = QStringLiteral("010f000000040105fe95");

} // namespace

class TestCycle : public QObject
{
    Q_OBJECT
private slots:
    // Stopped with a request out: its reply is judged all the same, but digital inputs change only
    // while their cycle runs.
    void readsEveryPeriodUntilStopped()
    {
        for (const bool analog : {false, true}) {
            Window w({analog ? kAnalog : kDigital});
            const QString read = "send " + (analog ? QStringLiteral("010300000006c5c8") : kReadFrame);
            w.click(0);
            w.run(220);
            w.click(0);
            w.run(1000);
            QCOMPARE(w.log(), (QStringList{"0 caption 0 Stop", "100 " + read, "140 judged ok decode", "200 " + read,
                                           "220 caption 0 Acquisition", analog ? "240 judged ok decode" : "240 judged ok"}));
            QVERIFY(!w.m.enabled({TimerRef::Acquisition, 0}));
        }
    }

    // The click itself tests nothing; the first tick stops the cycle with one message.
    void tickPreconditions()
    {
        const struct { bool portOpen; const char *address; bool analog; QString message; } cases[] = {
            {false, "1", false, kOpenPortFirst}, {true, "", false, kAddressNotSelected},
            {true, "", true, kAnalogAddressNotSelected}, {true, "256", false, kAddressRangeMessage},
            {true, "abc", true, kAddressRangeMessage}};
        for (const auto &c : cases) {
            Window w({c.analog ? kAnalog : kDigital});
            w.portOpen = c.portOpen;
            w.address = QString::fromLatin1(c.address);
            w.click(0);
            w.run(1000);
            QCOMPARE(w.log(), (QStringList{"0 caption 0 Stop", "100 caption 0 Acquisition", "100 prompt " + c.message}));
        }
    }

    // A Validate at 150; the log from there to the first read after the write.
    void writeSuspendsAndResumes()
    {
        const QString rd = "send " + kReadFrame, wr = "send " + kWriteFrame;
        const struct { bool acquiring, stopDuringWrite; const char *address; bool portOpen; QStringList log; } cases[] = {
            {true, false, "1", true, {"150 pause 300", "450 " + wr, "500 judged ok", "600 " + rd}},
            {false, false, "1", true, {"150 " + wr, "200 judged ok"}},
            {true, true, "1", true, {"150 pause 300", "450 " + wr, "460 caption 0 Acquisition", "500 judged ok"}},
            {true, false, "x", true, {"150 pause 300", "450 prompt " + kAddressRangeMessage, "550 " + rd}},
            {true, false, "1", false, {"150 pause 300", "450 caption 0 Acquisition", "450 prompt " + kOpenPortFirst}}};
        for (const auto &c : cases) {
            Window w({kDigital});
            if (c.acquiring)
                w.click(0);
            w.run(150);
            const qsizetype before = w.log().size();
            w.portOpen = c.portOpen;
            w.address = QString::fromLatin1(c.address);
            w.validate();
            w.address = QStringLiteral("1");
            w.portOpen = true;
            if (c.stopDuringWrite) {
                w.run(460);
                w.click(0);
            }
            w.run(640);
            QCOMPARE(w.log().mid(before, c.log.size()), c.log);
        }
    }

    void overdueReplyIsJudgedBeforeTheNextTick()
    {
        Window w({kDigital});
        w.clock.setInterval({TimerRef::ReadTimeout, 0}, 150); // longer than the period
        w.click(0);
        w.run(200);
        QCOMPARE(w.log(),
                 (QStringList{"0 caption 0 Stop", "100 send " + kReadFrame, "200 judged ok decode", "200 send " + kReadFrame}));
    }

    // Two cycles share the line, one at a time; a lost line stops both, and the write suspending
    // one resumes nothing.
    void lineLostStopsEverything()
    {
        Window w({kAnalog, kDigital});
        w.click(0);
        w.run(150);
        w.click(1); // the digital cycle takes the port from the analog one
        QVERIFY(!w.m.acquiring(0) && w.m.acquiring(1));
        w.validate(); // suspends the digital cycle
        QCOMPARE(w.m.suspended(), 2);
        w.click(0); // the analog one starts meanwhile: the digital one must not resume beside it
        w.run(2000);
        QVERIFY(w.m.enabled({TimerRef::Acquisition, 0}) && !w.m.enabled({TimerRef::Acquisition, 1}));
        QCOMPARE(w.m.suspended(), 0);
        w.validate(); // suspends the analog one
        w.clock.apply(w.m.lineLost());
        QVERIFY(!w.m.acquiring(0) && !w.m.acquiring(1));
        QCOMPARE(w.m.suspended(), 0);
        w.run(4000);
        QVERIFY(!w.m.enabled({TimerRef::Acquisition, 0}));
    }

    void scanEnds()
    {
        // Nothing answers: eight steps in code order, then idle at step 0.
        Scan none;
        none.click().run(5000);
        QCOMPARE(none.clock.reopens, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(none.clock.log.filter("judged no reply").size(), 8);
        QVERIFY(none.idle());
        // "Stop" pauses where the scan is; "Read" goes on from there.
        Scan paused;
        paused.click().run(460).click();
        QCOMPARE(paused.m.step(), 3);
        paused.run(2000).click().run(2160);
        QCOMPARE(paused.clock.reopens, (QList<int>{0, 1, 2, 3}));
        // A port the user closed, or one that will not reopen, ends the scan.
        Scan closed;
        closed.click().run(320);
        closed.clock.apply(closed.m.portClosed());
        closed.run(2000);
        QVERIFY(closed.clock.reopens.size() == 2 && closed.idle());
        Scan unplugged;
        unplugged.reopenWorks = false;
        unplugged.click().run(2000);
        QVERIFY(unplugged.clock.reopens.size() == 1 && !unplugged.m.scanning());
        QVERIFY(unplugged.clock.log.filter("send").isEmpty());
        // A port closed behind the scan's back ends it at the next tick, without a reopen.
        Scan behind;
        behind.click().run(200).portOpen = false;
        behind.run(2000);
        QVERIFY(behind.clock.reopens.size() == 1 && behind.idle());
        // "Read" on a closed port only says so.
        QCOMPARE(Scan().click(false).clock.log, QStringList{"0 prompt " + kOpenPortFirst});
    }

    void parameterWrites()
    {
        // The address write (no parameters), else the parameter write.
        const struct { bool address; const char *addressText, *parameters; QString expected; } cases[] = {
            {true, "7", "", "send 0006006400078806"}, {true, "", "", "prompt " + kAddressNotSelected},
            {true, "300", "", "prompt " + kAddressRangeMessage}, {false, "1", "19200,Even,8,1", "send 010600650007d817"},
            {false, "1", "9600", "prompt " + kParametersNotValid}, {false, "1", "9600,even,8,1", "prompt " + kParametersNotValid},
            {false, "", "9600,None,8,1", "prompt " + kAddressNotSelected}};
        for (const auto &c : cases) {
            Scan s;
            const QString address = QString::fromLatin1(c.addressText);
            s.clock.apply(c.address ? s.m.writeAddress(true, address) : s.m.writeParameters(true, address, c.parameters));
            QCOMPARE(s.clock.log, QStringList{"0 " + c.expected});
            QCOMPARE(s.m.enabled({TimerRef::WriteTimeout, 0}), c.expected.startsWith("send"));
        }
    }
};

QTEST_APPLESS_MAIN(TestCycle)
#include "test_cycle.moc"
