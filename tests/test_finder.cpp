// The bus finder's steps on a fake clock over simulated modules: what it sends, what it makes of
// silence, a valid reply, a collision, an exception and a shared address, and how it merges a
// module heard at two settings of a line that carries no parity.
#include "finder.h"
#include "linesettings.h"
#include "simmodule.h"

#include <QTest>

namespace {

struct Module {
    int model, address, code;
    bool exception = false;
    int delayMs = 0;
};

struct Sweep {
    QVector<FinderRow> rows;
    bool fault = false;
    int probes = 0;
    qint64 endUs = 0;
    QList<int> opened;
};

// Runs a whole sweep: every reply comes after the line time of request and reply plus the module's
// delay, and the clock jumps to each probe's deadline; a reply later than that comes at once in
// the next probe's time. parityBlind: a line that carries no parity
// (a pseudo-terminal); deviceServer: every module hears every setting.
Sweep run(const QList<Module> &modules, FinderOptions options, bool parityBlind = false, bool deviceServer = false)
{
    SimBus bus;
    for (const Module &m : modules) {
        SimModule *module = bus.addModule(m.model, std::uint8_t(m.address), m.code);
        module->faults.exception = m.exception;
        module->faults.delayMs = m.delayMs;
    }
    options.lineCarriesSettings = !deviceServer;
    BusFinder finder(options);
    Sweep s;
    qint64 now = 0;
    int code = 0;
    QByteArray late;
    for (BusFinder::Next n = finder.start(now); n.kind != BusFinder::Next::Done;) {
        if (n.kind == BusFinder::Next::Open) {
            code = n.code;
            s.opened << code;
            n = finder.opened(true, now);
            continue;
        }
        int delayMs = 0;
        QByteArray reply = bus.exchange(n.frame, deviceServer ? 0 : baudForCode(code),
                                        deviceServer || parityBlind ? 0 : parityForCode(code), &delayMs);
        qint64 last = reply.isEmpty() ? -1 : now + lineTimeUs(code, int(n.frame.size() + reply.size())) + delayMs * 1000;
        if (!late.isEmpty()) {
            reply = late + reply;
            last = now + 100;
            late.clear();
        } else if (last > n.deadlineUs) {
            late = reply;
            reply.clear();
            last = -1;
        }
        now = n.deadlineUs;
        n = finder.judged(reply, last, now);
    }
    s.rows = finder.rows();
    s.fault = finder.faultFound();
    s.probes = finder.probesSent();
    s.endUs = now;
    return s;
}

QStringList rowTexts(const QVector<FinderRow> &rows)
{
    QStringList texts;
    for (const FinderRow &r : rows)
        texts << QStringLiteral("%1 %2 %3 KV%4 @%5 %6").arg(int(r.kind)).arg(r.address).arg(r.code).arg(r.model)
                     .arg(r.heardCode).arg(r.note).trimmed();
    return texts;
}

} // namespace

class TestFinder : public QObject
{
    Q_OBJECT
private slots:
    // The wait for each probe: the line time of the 8-byte request and 11-byte reply at the
    // setting (11 bits a byte with parity) plus the turnaround; code 0 is a device server.
    void timeouts()
    {
        const struct { int code, turnaroundMs, timeoutMs; qint64 us; } cases[] = {{2, 20, 0, 19792 + 20000},
            {7, 5, 0, 10886 + 5000}, {5, 0, 0, 43542}, {0, 20, 0, 43542 + 20000}, {1, 20, 300, 300000}};
        for (const auto &c : cases) {
            FinderOptions o;
            o.turnaroundMs = c.turnaroundMs;
            o.timeoutMs = c.timeoutMs;
            QCOMPARE(BusFinder(o).timeoutUs(c.code), c.us);
        }
    }

    // Rows: kind (0 module, 1 exception, 2 shared address, 3 note about a setting), address,
    // code, model, the setting it answered at, note. blind: no parity on the line (a pty);
    // server: a device server, where every module hears every setting.
    void sweeps()
    {
        const QList<int> all{1, 2, 3, 4, 5, 6, 7, 8};
        const struct { QList<Module> modules; QList<int> codes; int to; bool blind, server; QStringList rows; bool fault; int probes; } cases[] = {
            {{}, all, 254, false, false, {}, false, 8},
            {{{5510, 7, 3}}, all, 254, false, false, {"0 7 3 KV5510 @3"}, false, 8 + 254},
            {{{5510, 3, 2}, {1730, 200, 2}}, all, 254, false, false, {"0 3 2 KV5510 @2", "0 200 2 KV1730 @2"}, false, 8 + 254},
            {{{5520, 9, 6, true}}, all, 254, false, false, {"1 9 0 KV0 @6 exception 1"}, false, 8 + 254},
            {{{5510, 4, 2}, {5530, 4, 2}, {5540, 10, 2}}, all, 254, false, false,
             {"2 4 0 KV0 @2 shared address?", "0 10 2 KV5540 @2"}, true, 8 + 254},
            {{{7710, 40, 7}}, all, 254, true, false,
             {"0 40 7 KV7710 @7 answers at 19200,None,8,1 too; its code says 19200,Even,8,1"}, false, 8 + 2 * 254},
            {{{7710, 40, 7}}, {3}, 254, true, false,
             {"0 40 7 KV7710 @3 answers at this setting but its code says another (19200,Even,8,1)"}, false, 1 + 254},
            {{{5510, 20, 2}}, {2}, 10, false, false,
             {"3 0 0 KV0 @2 a module answers the broadcast (address 20) but none answered at addresses 1 to 10"}, false, 1 + 10},
            {{{5510, 20, 2}, {5510, 30, 2}}, {2}, 10, false, false,
             {"3 0 0 KV0 @2 several modules or noise at the broadcast, but none answered at addresses 1 to 10"}, true, 1 + 10},
            {{{5510, 1, 2}, {7710, 2, 7}}, all, 254, false, true, {"0 1 2 KV5510 @0", "0 2 7 KV7710 @0"}, false, 1 + 254}};
        for (const auto &c : cases) {
            FinderOptions o;
            o.codes = c.codes;
            o.to = c.to;
            const Sweep s = run(c.modules, o, c.blind, c.server);
            QCOMPARE(rowTexts(s.rows), c.rows);
            QVERIFY(s.fault == c.fault && s.probes == c.probes);
        }
    }

    // Broadcasts in code order first, then one sweep per setting that heard anything, each
    // opened once; the whole run takes exactly the probes' time-outs.
    void orderAndTime()
    {
        FinderOptions o;
        o.to = 5;
        const Sweep s = run({{5510, 1, 2}, {5510, 2, 8}}, o);
        QCOMPARE(s.opened, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 2, 8}));
        qint64 total = 0;
        for (int code = 1; code <= 8; ++code)
            total += BusFinder(o).timeoutUs(code);
        total += 5 * (BusFinder(o).timeoutUs(2) + BusFinder(o).timeoutUs(8));
        QCOMPARE(s.endUs, total);
        const FinderRow r = s.rows.value(1);
        QCOMPARE(r.baud(), 38400);
        QCOMPARE(r.parity(), 'E');
        QVERIFY(r.responseMs > 0 && r.responseMs < BusFinder(o).timeoutUs(8) / 1000.0);
    }

    // Modules that answer after their time-out: the bytes come just after the next probe went
    // out, sooner than any reply to it could, and name the module (or the shared address) before,
    // not a shared address at the next one.
    void lateReplies()
    {
        for (const bool shared : {false, true}) {
            SimBus bus;
            bus.addModule(5510, 7, 2);
            if (shared)
                bus.addModule(5530, 7, 2);
            FinderOptions o;
            o.codes = {2};
            o.from = 6;
            o.to = 8;
            BusFinder f(o);
            f.start(0);
            BusFinder::Next n = f.opened(true, 0);
            n = f.judged(withCrc(QByteArray::fromHex("000306000700021586")), 20000, n.deadlineUs);
            QByteArray late;
            qint64 sentUs = n.deadlineUs;
            for (n = f.opened(true, sentUs); n.kind == BusFinder::Next::Send;) {
                const QByteArray reply = late;
                late = bus.exchange(n.frame, 9600, 'N');
                const qint64 nowUs = n.deadlineUs;
                n = f.judged(reply, reply.isEmpty() ? -1 : sentUs + 100, nowUs);
                sentUs = nowUs;
            }
            QCOMPARE(rowTexts(f.rows()), QStringList{shared ? "2 7 0 KV0 @2 shared address? (the replies came after the time-out)"
                                                            : "0 7 2 KV5510 @2 answered after its time-out: give it a longer turnaround"});
            QCOMPARE(f.faultFound(), shared);
        }
    }

    // Progress, time left, stop and a port that will not reopen.
    void progressAndStop()
    {
        FinderOptions o;
        o.codes = {2};
        o.to = 4;
        BusFinder f(o);
        BusFinder::Next n = f.start(0);
        n = f.opened(true, 0);
        QCOMPARE(f.timeLeftUs(), f.timeoutUs(2));
        n = f.judged(QByteArray("\x01\x02", 2), 1000, n.deadlineUs);
        QCOMPARE(n.kind, BusFinder::Next::Open);
        QCOMPARE(f.probesPlanned(), 1 + 4);
        QCOMPARE(f.timeLeftUs(), 4 * f.timeoutUs(2));
        n = f.opened(true, 0);
        QCOMPARE(f.probesSent(), 2);
        f.stop();
        QVERIFY(!f.running());
        QCOMPARE(f.judged({}, -1, 0).kind, BusFinder::Next::Done);
        QCOMPARE(f.timeLeftUs(), 0);

        BusFinder g(o);
        g.start(0);
        QCOMPARE(g.opened(false, 0).kind, BusFinder::Next::Done);
        QVERIFY(g.rows().isEmpty() && !g.running());
    }
};

QTEST_GUILESS_MAIN(TestFinder)
#include "test_finder.moc"
