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
    SimFaults faults = {};
    int answers = -1; // probes to its own address it answers (then it falls silent); -1: all
};

// latencyMs: an adapter that hands bytes over on a grid of that period (a USB latency timer).
// gateway: korvant-sim's Modbus TCP gateway in front (1: exception 0x0B for a unit nobody has, 2: silent).
struct Line {
    bool parityBlind = false, deviceServer = false;
    int latencyMs = 0, gateway = 0;
};

struct Sweep {
    QVector<FinderRow> rows;
    bool fault = false;
    int probes = 0, planned = 0;
    qint64 endUs = 0;
    QList<int> opened;
};

// Runs a whole sweep on a fake clock that jumps to each deadline or whole reply: a reply comes after the line
// time of request and reply plus the module's delay (on the adapter's grid), and is heard by
// whatever probe or listening is under way then. parityBlind: a line that carries no parity (a
// pseudo-terminal); deviceServer: every module hears every setting.
Sweep run(const QList<Module> &modules, FinderOptions options, Line line = {})
{
    SimBus bus;
    QList<QPair<SimModule *, int>> limited;
    for (const Module &m : modules) {
        SimModule *module = bus.addModule(m.model, std::uint8_t(m.address), m.code);
        module->faults = m.faults;
        if (m.answers >= 0)
            limited.append({module, m.answers});
    }
    options.lineCarriesSettings = !line.deviceServer;
    options.framing = line.gateway ? FramingKind::Mbap : FramingKind::Rtu;
    const bool server = line.deviceServer || line.gateway;
    std::uint16_t transaction = 0;
    BusFinder finder(options);
    QList<int> opened;
    qint64 now = 0;
    int code = 0;
    QList<QPair<qint64, QByteArray>> coming; // in the order they arrive
    for (BusFinder::Next n = finder.start(now); n.kind != BusFinder::Next::Done;) {
        if (n.kind == BusFinder::Next::Open) {
            code = n.code;
            opened << code;
            n = finder.opened(true, now);
            continue;
        }
        for (auto &[module, left] : limited)
            if (n.kind == BusFinder::Next::Send && std::uint8_t(n.frame[0]) == module->address())
                module->faults.silent = left-- <= 0;
        int delayMs = 0, pieces = 1, gapMs = 0;
        const QByteArray wire = line.gateway ? Framing{FramingKind::Mbap, ++transaction}.wrap(n.frame) : n.frame;
        QByteArray reply = n.kind != BusFinder::Next::Send ? QByteArray()
            : bus.exchange(line.gateway ? mbapToRtu(wire) : n.frame, server ? 0 : baudForCode(code), server || line.parityBlind ? 0 : parityForCode(code),
                           &delayMs, &pieces, &gapMs);
        if (line.gateway && n.kind == BusFinder::Next::Send)
            reply = gatewayReply(wire, reply, line.gateway == 2);
        qint64 at = now + lineTimeUs(code, int(n.frame.size() + reply.size())) + delayMs * 1000;
        for (const QByteArray &piece : reply.isEmpty() ? QList<QByteArray>() : splitReply(reply, pieces)) {
            const qint64 period = line.latencyMs * 1000;
            coming.append({period ? (at + period - 1) / period * period : at, piece});
            at += gapMs * 1000;
        }
        std::stable_sort(coming.begin(), coming.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        // A probe ends once what came makes a reply, as korvant-cli's does.
        QByteArray came;
        qint64 last = -1, end = n.deadlineUs;
        while (!coming.isEmpty() && coming.first().first <= end) {
            came += coming.first().second;
            last = coming.takeFirst().first;
            const bool whole = line.gateway ? mbapFrameLength(came) > 0 && came.size() >= mbapFrameLength(came) : parameterReplyComplete(came);
            if (n.kind == BusFinder::Next::Send && whole)
                end = last;
        }
        now = end;
        n = finder.judged(came, last, now);
    }
    return {finder.rows(), finder.faultFound(), finder.probesSent(), finder.probesPlanned(), now, opened};
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
        for (const auto &c : cases)
            QCOMPARE(BusFinder({.turnaroundMs = c.turnaroundMs, .timeoutMs = c.timeoutMs}).timeoutUs(c.code), c.us);
    }

    // Rows: kind (0 module, 1 exception, 2 shared address, 3 note about a setting), address,
    // code, model, the setting it answered at, note. blind: no parity on the line (a pty);
    // server: a device server, where every module hears every setting.
    void sweeps()
    {
        const QList<int> all{1, 2, 3, 4, 5, 6, 7, 8};
        const struct { QList<Module> modules; QList<int> codes; int to; Line line; QStringList rows; bool fault; int probes; } cases[] = {
            {{}, all, 254, {}, {}, false, 2 * 8},
            {{{5510, 7, 3}}, all, 254, {}, {"0 7 3 KV5510 @3"}, false, 2 * 7 + 1 + 254},
            {{{5510, 3, 2}, {1730, 200, 2}}, all, 254, {}, {"0 3 2 KV5510 @2", "0 200 2 KV1730 @2"}, false, 2 * 7 + 1 + 254},
            {{{5520, 9, 6, {.exception = true}}}, all, 254, {}, {"1 9 0 KV0 @6 exception 1"}, false, 2 * 7 + 1 + 254},
            {{{5510, 4, 2}, {5530, 4, 2}, {5540, 10, 2}}, all, 254, {},
             {"2 4 0 KV0 @2 shared address?", "0 10 2 KV5540 @2"}, true, 2 * 7 + 1 + 254 + 1},
            {{{7710, 40, 7}}, all, 254, {.parityBlind = true},
             {"0 40 7 KV7710 @7 answers at 19200,None,8,1 too; its code says 19200,Even,8,1"}, false, 2 * 6 + 2 + 2 * 254},
            {{{7710, 40, 1}}, {5}, 254, {.parityBlind = true},
             {"0 40 1 KV7710 @5 answers at this setting but its code says another (4800,None,8,1)"}, false, 1 + 254},
            {{{5510, 20, 2}}, {2}, 10, {},
             {"3 0 0 KV0 @2 a module answers the broadcast (address 20) but none answered at addresses 1 to 10"}, false, 1 + 10},
            {{{5510, 20, 2}, {5510, 30, 2}}, {2}, 10, {},
             {"3 0 0 KV0 @2 several modules or noise at the broadcast, but none answered at addresses 1 to 10"}, true, 1 + 10 + 1},
            {{{5510, 10, 2}, {5510, 20, 2}, {5530, 30, 2}}, {2}, 10, {}, {"0 10 2 KV5510 @2",
              "3 0 0 KV0 @2 several modules or noise at the broadcast, but one answered at addresses 1 to 10"}, true, 1 + 10 + 1},
            {{{5510, 1, 2}, {7710, 2, 7}}, all, 254, {.deviceServer = true}, {"0 1 2 KV5510 @0", "0 2 7 KV7710 @0"}, false, 1 + 254},
            // A site's line at 9600,None, addresses 1 to 10: a USB adapter that hands bytes over every
            // 16 ms, modules that answer late. A reply belongs to the address it carries, whenever it
            // comes; silence at a broadcast and a doubtful row are asked again with four times the wait.
            // 6's reply misses its wait (on the adapter's grid) and comes in 7's: asked again, in time.
            {{{5510, 6, 2, {.delayMs = 7}}, {5530, 7, 2}}, {2}, 10, {.latencyMs = 16}, {"0 7 2 KV5530 @2", "0 6 2 KV5510 @2"}, false, 1 + 10 + 1},
            // The same module, silent once it answered late: its row tells how late it came.
            {{{5510, 6, 2, {.delayMs = 7}, 1}}, {2}, 10, {.latencyMs = 16}, {"0 6 2 KV5510 @2 answered 1.2 ms after its time-out"}, false, 1 + 10 + 1},
            // 25 ms late behind the adapter: the broadcast hears it only when asked again.
            {{{5510, 7, 2, {.delayMs = 25}}}, {2}, 10, {.latencyMs = 16}, {"0 7 2 KV5510 @2"}, false, 2 + 10},
            // A shared address stays one after it is asked again.
            {{{5510, 3, 2, {.delayMs = 25}}, {5530, 3, 2}}, {2}, 10, {.latencyMs = 16}, {"2 3 0 KV0 @2 shared address?"}, true, 2 + 10 + 1},
            // A reply in two pieces, the second after the wait: the probe listens until the line is quiet.
            {{{5510, 7, 2, {.pieces = 2, .pieceGapMs = 30}}}, {2}, 10, {}, {"0 7 2 KV5510 @2"}, false, 1 + 10}};
        for (const auto &c : cases) {
            const Sweep s = run(c.modules, {.codes = c.codes, .to = c.to}, c.line);
            const QString said = QStringLiteral("fault %1, %2 probes");
            QCOMPARE(rowTexts(s.rows) << said.arg(s.fault).arg(s.probes), QStringList(c.rows) << said.arg(c.fault).arg(c.probes));
        }
    }

    // Behind a gateway: no setting to try and no broadcast, the unit ids asked once whatever the
    // codes ticked; a unit nobody has ends at the gateway's 0x0B (its 17 bytes at 4800,Even: 38959 µs,
    // as a module's exception), or at the wait (63542 µs) behind a silent one; a module's reply
    // after its 23 bytes (52709 µs); a module's own exception is a module there.
    void behindAGateway()
    {
        const struct { QList<Module> modules; int to, gateway; QStringList rows; qint64 endUs; } cases[] = {
            {{{5510, 3, 2}, {1730, 200, 7}, {5520, 9, 6, {.exception = true}}}, 254, 1, {"0 3 2 KV5510 @0", "1 9 0 KV0 @0 exception 1", "0 200 7 KV1730 @0"},
             252 * 38959 + 2 * 52709},
            {{{5510, 2, 2}}, 3, 2, {"0 2 2 KV5510 @0"}, 2 * 63542 + 52709}};
        for (const auto &c : cases) {
            const Sweep s = run(c.modules, {.to = c.to}, {.gateway = c.gateway});
            QCOMPARE(rowTexts(s.rows), c.rows);
            QVERIFY(s.opened == QList<int>{0} && s.probes == c.to && s.planned == c.to && !s.fault && s.endUs == c.endUs);
        }
        // A gateway's 0x0A (path unavailable) says nobody too, and ends the probe at once.
        BusFinder g({.to = 1, .framing = FramingKind::Mbap});
        g.start(0), g.opened(true, 0);
        QVERIFY(g.judged(QByteArray::fromHex("00010000000301830A"), 5, 5).kind == BusFinder::Next::Done && g.rows().isEmpty());
        QCOMPARE(sweepNote({}), QString());
    }

    // Broadcasts in code order first, then one sweep per setting that heard anything, each
    // opened once; the whole run takes exactly the probes' waits.
    void orderAndTime()
    {
        const Sweep s = run({{5510, 1, 2}, {5510, 2, 8}}, {.to = 5});
        QCOMPARE(s.opened, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 2, 8}));
        // Each probe's wait and no more: 8 broadcasts, the six silent ones again at four times
        // their wait, and 5 probes at 9600,None and at 38400,Even, the two answered ending at their reply.
        QCOMPARE(s.endUs, 1564545);
        const FinderRow r = s.rows.value(1);
        QCOMPARE(QStringLiteral("%1,%2").arg(r.baud()).arg(r.parity()), QStringLiteral("38400,E"));
        QVERIFY(r.responseMs > 0 && r.responseMs < 25.443); // the wait at 38400,Even: 5443 + 20000 µs
    }

    // Progress, time left, stop and a port that will not reopen.
    void progressAndStop()
    {
        const FinderOptions o{.codes = {2}, .to = 4};
        BusFinder f(o);
        BusFinder::Next n = f.start(0);
        n = f.opened(true, 0);
        QCOMPARE(f.timeLeftUs(), qint64(39792));
        n = f.judged(QByteArray("\x01\x02", 2), 1000, n.deadlineUs);
        QVERIFY(n.kind == BusFinder::Next::Open && f.probesPlanned() == 1 + 4 && f.timeLeftUs() == 4 * 39792);
        n = f.opened(true, 0);
        QCOMPARE(f.probesSent(), 2);
        // Stopped while a collision at address 1 is being asked again: the doubt is kept as it stands.
        n = f.judged(QByteArray(11, '\x7f'), 30000, n.deadlineUs);
        QCOMPARE(n.frame, QByteArray::fromHex("010300640003 4414"));
        f.stop();
        QCOMPARE(rowTexts(f.rows()), QStringList{"2 1 0 KV0 @2 shared address?"});
        QVERIFY(!f.running() && f.judged({}, -1, 0).kind == BusFinder::Next::Done && f.timeLeftUs() == 0);

        BusFinder g(o);
        g.start(0);
        QVERIFY(g.opened(false, 0).kind == BusFinder::Next::Done && g.rows().isEmpty() && !g.running());
    }
};

QTEST_GUILESS_MAIN(TestFinder)
#include "test_finder.moc"
