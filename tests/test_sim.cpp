// The simulated modules without any I/O: worked frames, register maps, parameter changes, faults
// and collisions; korvant-sim's command line; and the in-process line that carries them to the
// windows in GUI tests.
#include "modbus.h"
#include "simline.h"
#include "simmodule.h"
#include "simoptions.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A frame from its payload, closed by the tool's own CRC routine.
QByteArray frame(const char *payloadHex)
{
    return withCrc(hex(payloadHex));
}

// (readRequest frames any function in the read layout: address, function, start, count or value.)

QByteArray exceptionOf(int address, int function, int code)
{
    return withCrc(QByteArray(1, char(address)) + char(function | 0x80) + char(code));
}

const QByteArray kBroadcastRead = hex("00030064000345C5"); // parameters 100..102 of whoever listens

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    // Every function code the tool sends, at the edge of each model's map: the last channel
    // answers, one more is refused with exception 02.
    void registerMapOfEveryModel()
    {
        // Inputs, coils, holding registers, holding 0 writable, the model register.
        const int maps[][6] = {{1710, 0, 0, 8, 0, 1710}, {1720, 0, 0, 1, 1, 1720}, {1730, 0, 0, 8, 0, 1730},
            {1740, 0, 0, 8, 0, 1740}, {5510, 8, 4, 0, 0, 5510}, {5520, 0, 8, 0, 0, 5520}, {5530, 16, 0, 0, 0, 5530},
            {5540, 0, 16, 0, 0, 5540}, {5550, 8, 8, 0, 0, 5550}, {7710, 4, 4, 6, 0, 7710}, {7720, 4, 4, 4, 0, 7720},
            {0, 16, 16, 8, 1, 5510}};
        for (const int *map : maps) {
            SimModule m(map[0], 7, 2);
            for (int k = 0; k < 3; ++k) { // reads of inputs (02), coils (01), holding registers (03)
                const int function = QList<int>{0x02, 0x01, 0x03}[k], n = map[k + 1];
                if (n > 0) {
                    const QByteArray r = m.handle(readRequest(7, function, 0, n));
                    QCOMPARE(r.size(), 5 + (k == 2 ? 2 * n : (n + 7) / 8));
                    QVERIFY(r.startsWith(QByteArray(1, 7) + char(function)) && crcOk(r));
                }
                QCOMPARE(m.handle(readRequest(7, function, 0, n + 1)), exceptionOf(7, function, 0x02));
            }
            if (const int coils = map[2]) { // write 0x0F in every byte (15), read it back (01), one coil off (05)
                const int bytes = (coils + 7) / 8;
                const QByteArray p = hex("070F0000") + char(0) + char(coils) + char(bytes) + QByteArray(bytes, 0x0F);
                QCOMPARE(m.handle(withCrc(p)), withCrc(p.left(6)));
                for (int i = 0; i < coils; ++i)
                    QCOMPARE(m.coil(i), i % 8 < 4);
                QCOMPARE(m.handle(readRequest(7, 0x01, 0, coils)).at(3), char(0x0F));
                QCOMPARE(m.handle(readRequest(7, 0x05, 0, 0)), readRequest(7, 0x05, 0, 0));
                QVERIFY(!m.coil(0) && m.coil(1));
            }
            QCOMPARE(m.handle(readRequest(7, 0x05, map[2], 0xFF00)), exceptionOf(7, 0x05, 0x02));
            const QByteArray write0 = readRequest(7, 0x06, 0, 1234);
            QCOMPARE(m.handle(write0), map[4] ? write0 : exceptionOf(7, 0x06, 0x02));
            QCOMPARE(m.holding(0), std::uint16_t(map[4] ? 1234 : 0));
            const QByteArray parameters = hex("07030600070002") + char(map[5] >> 8) + char(map[5] & 0xFF);
            QCOMPARE(m.handle(readRequest(7, 0x03, 100, 3)), withCrc(parameters));
            QCOMPARE(m.handle(readRequest(7, 0x03, 102, 2)), exceptionOf(7, 0x03, 0x02));
        }
    }

    // A new address or code is echoed at the old settings and takes effect after the echo.
    void parameterChangesTakeEffectAfterTheEcho()
    {
        SimBus bus;
        SimModule *m = bus.addModule(5510, 1, 2);
        m->setDiscreteInput(0, true);
        QCOMPARE(bus.exchange(hex("00060064000509C7"), 9600, 'N'), hex("00060064000509C7"));
        QCOMPARE(m->address(), std::uint8_t(5));
        QCOMPARE(bus.exchange(readRequest(1, 0x02, 0, 8), 9600, 'N'), QByteArray());
        QCOMPARE(bus.exchange(readRequest(5, 0x02, 0, 8), 9600, 'N'), frame("05020101"));
        QCOMPARE(bus.exchange(readRequest(5, 0x06, 100, 1), 9600, 'N'), readRequest(5, 0x06, 100, 1)); // at its own address too
        QCOMPARE(bus.exchange(hex("01060065000619D7"), 9600, 'N'), hex("01060065000619D7"));
        QVERIFY(m->address() == 1 && m->code() == 6);
        QCOMPARE(bus.exchange(readRequest(1, 0x02, 0, 8), 9600, 'N') + bus.exchange(readRequest(1, 0x02, 0, 8), 4800, 'E'), QByteArray());
        QCOMPARE(bus.exchange(readRequest(1, 0x02, 0, 8), 9600, 'E'), frame("01020101"));
        QCOMPARE(bus.exchange(kBroadcastRead, 9600, 'E'), frame("000306000100061586"));
    }

    // Worked frames (inputs from bits, holding registers from the list); exceptions, and silence (an
    // empty reply) where a module must not answer. None changes the module. Writes are
    // registerMapOfEveryModel's, the broadcast parameter read busListenersAndCollisions'.
    void answersAndRefusals()
    {
        const struct { int model; quint32 bits; QList<int> registers; QByteArray request, reply; } cases[] = {
            {5510, 0x05, {}, hex("01020000000879CC"), hex("01020105618B")},
            {5530, 0x8005, {}, readRequest(1, 0x02, 0, 16), hex("0102020580BB48")},
            {7710, 0, QList<int>(6, 2048), hex("010300000006C5C8"), hex("01030C080008000800080008000800F60B")},
            {7720, 0, {25, 26, 1001, 65535}, hex("0103000000044409"), hex("0103080019001A03E9FFFF94D4")},
            {7720, 0x0A, {}, hex("01020000000479C9"), frame("0102010A")},
            {1730, 0, {}, readRequest(1, 0x04, 0, 1), exceptionOf(1, 0x04, 0x01)}, // unknown function
            {1730, 0, {}, readRequest(1, 0x03, 8, 1), exceptionOf(1, 0x03, 0x02)}, // beyond the map
            {1730, 0, {}, readRequest(1, 0x03, 7, 94), exceptionOf(1, 0x03, 0x02)}, // across the gap to 100
            {5510, 0, {}, readRequest(1, 0x06, 102, 1720), exceptionOf(1, 0x06, 0x02)}, // the model register
            {5530, 0, {}, readRequest(1, 0x02, 0, 0), exceptionOf(1, 0x02, 0x03)},
            {5510, 0, {}, readRequest(1, 0x05, 3, 0x1234), exceptionOf(1, 0x05, 0x03)},
            {5540, 0, {}, frame("010F0000001001FF"), exceptionOf(1, 0x0F, 0x03)}, // one byte for 16 coils
            {5510, 0, {}, readRequest(1, 0x06, 101, 9), exceptionOf(1, 0x06, 0x03)}, // code 9
            {0, 0, {}, hex("01020000000879CD"), {}}, {0, 0, {}, readRequest(2, 0x02, 0, 8), {}}, {0, 0, {}, hex("0102"), {}},
            {0, 0, {}, frame("01020000000800"), {}}, {0, 0, {}, frame("010F0000000401"), {}}, // a byte too many, data missing
            // Broadcasts: a read of inputs, an unknown function, coils (carried out all the same).
            {0, 0, {}, readRequest(0, 0x02, 0, 8), {}}, {0, 0, {}, readRequest(0, 0x04, 100, 3), {}},
            {5550, 0, {}, frame("000F00000008015A"), {}}};
        for (const auto &c : cases) {
            SimModule m(c.model, 1, 2);
            m.setCoil(3, true);
            for (int i = 0; i < 32; ++i)
                m.setDiscreteInput(i, (c.bits >> i) & 1);
            for (int i = 0; i < c.registers.size(); ++i)
                m.setHolding(i, std::uint16_t(c.registers[i]));
            QCOMPARE(m.handle(c.request).toHex(' '), c.reply.toHex(' '));
            QVERIFY(m.address() == 1 && m.code() == 2 && (m.coil(3) || m.coilCount() < 4) && !m.coil(0));
            QCOMPARE(m.coil(1), c.request.startsWith(hex("000F")));
            QCOMPARE(m.holding(102), std::uint16_t(c.model ? c.model : 5510));
        }
    }

    // Addresses 0 (broadcast), 1, 254 and 255: a new address (broadcast, as the tool writes it)
    // is taken or ignored, a module at 254 answers its own address only, the command line agrees.
    void addressEdges()
    {
        for (const int a : {0, 1, 254, 255}) {
            const bool taken = a == 1 || a == 254;
            SimModule m(5510, 7, 2), last(5510, 254, 2);
            QCOMPARE(m.handle(addressWriteRequest(std::uint8_t(a))), taken ? addressWriteRequest(std::uint8_t(a)) : QByteArray());
            QCOMPARE(int(m.address()), taken ? a : 7);
            QCOMPARE(last.handle(readRequest(std::uint8_t(a), 0x02, 0, 8)), a == 254 ? frame("FE020100") : QByteArray());
            SimOptions o;
            QCOMPARE(parseSimOptions({"--module", QStringLiteral("5510:%1").arg(a)}, o).isEmpty(), taken);
        }
    }

    void faults()
    {
        const QByteArray echo = hex("010F000000045408");
        const struct { SimFaults faults; QByteArray reply; } cases[] = {
            {{.badCrc = true}, hex("010F0000000454F7")}, {{.extraByte = true}, echo + char(0)},
            {{.truncate = true}, echo.chopped(1)}, {{.exception = true}, exceptionOf(1, 0x0F, 0x01)},
            {{.silent = true}, {}}, {{.garbageBytes = 40}, {}}, {{.noWrite = true}, echo}};
        for (const auto &c : cases) {
            SimModule m(5510, 1, 2);
            m.faults = c.faults;
            const QByteArray r = m.handle(hex("010F000000040105FE95"));
            if (c.faults.garbageBytes)
                QVERIFY(r.size() == 40 && !r.contains(hex("010F0000")));
            else
                QCOMPARE(r.toHex(' '), c.reply.toHex(' '));
            // Silent, refusing and switch-set modules do not act on a request; one whose reply is damaged has acted.
            const bool acts = !c.faults.silent && !c.faults.exception && !c.faults.noWrite;
            m.handle(readRequest(0, 0x05, 1, 0xFF00)); // a broadcast, which no module answers
            m.handle(readRequest(1, 0x06, 101, 6));
            QCOMPARE(QList<bool>({m.coil(0) && m.coil(2), m.coil(1), m.code() == 6}), QList<bool>(3, acts)); // the write, the broadcast, the code
        }
    }

    // Only modules at the line's settings listen; two that answer collide into garbage.
    void busListenersAndCollisions()
    {
        SimBus bus;
        bus.addModule(5510, 1, 3);                      // 19200,None
        bus.addModule(1730, 2, 8)->setHolding(0, 4095); // 38400,Even
        QCOMPARE(bus.exchange(kBroadcastRead, 9600, 'N') + bus.exchange(kBroadcastRead, 19200, 'E'), QByteArray());
        QCOMPARE(bus.exchange(kBroadcastRead, 19200, 'N'), frame("000306000100031586"));
        QCOMPARE(bus.exchange(kBroadcastRead, 38400, 'E'), frame("0003060002000806C2"));
        QCOMPARE(bus.exchange(readRequest(2, 0x03, 0, 1), 38400, 0), frame("0203020FFF")); // parity unknown (a pty)
        // Different modules, identical ones, replies of different lengths (a 5530 answers, a 5510 refuses).
        for (const auto &[a, b] : QList<QPair<int, int>>{{5510, 1730}, {5510, 5510}, {5530, 5510}}) {
            SimBus two;
            two.addModule(a, 1, 2);
            two.addModule(b, b == 1730 ? 2 : 1, 2);
            const QByteArray r = two.exchange(a == 5530 ? readRequest(1, 0x02, 0, 16) : kBroadcastRead, 9600, 'N');
            QVERIFY(r.size() == (a == 5530 ? 7 : 11) && !crcOk(r));
        }
    }

    void genericModuleMovesByItself()
    {
        SimModule g(0, 1, 2);
        auto inputs = [&g] { int mask = 0; for (int i = 0; i < 16; ++i) mask |= int(g.discreteInput(i)) << i; return mask; };
        const std::uint16_t ramp = g.holding(0);
        g.setHolding(5, 77); // holding 4..7 belong to the user
        QCOMPARE(inputs(), 0x1);
        g.tick(1000);
        QVERIFY(inputs() == 0x2 && g.holding(0) != ramp);
        g.tick(15000);
        QCOMPARE(inputs(), 0x1);
        for (int step = 0; step < 100; ++step) {
            g.tick(250);
            QVERIFY(g.holding(0) <= 4095 && g.holding(1) <= 4095 && g.holding(2) >= 200 && g.holding(2) <= 300);
        }
        QCOMPARE(g.holding(5), std::uint16_t(77));
    }

    void commandLine()
    {
        SimOptions o;
        const QStringList args{"--module", "5510:3:8", "--inputs", "0x05", "--module", "7720", "--fault", "silent"};
        QCOMPARE(parseSimOptions(args, o), QString());
        QCOMPARE(o.modules.size(), 2);
        const SimModuleSetup &m = o.modules[0], &n = o.modules[1];
        QVERIFY(m.model == 5510 && m.address == 3 && m.code == 8 && m.inputs == 5u && !m.faults.silent);
        QVERIFY(n.model == 7720 && n.address == 1 && n.code == 2 && n.faults.silent);
        const QList<std::pair<QStringList, const char *>> errors{{{"--module", "9999:1:2"}, "unknown model"},
{{"--module", "5510:1:9"}, "code"}, {{"--baud", "9600"}, "unknown option"},
            {{"--fault", "silent"}, "must follow"}, {{"--module", "5510", "--fault", "smoke"}, "unknown fault"},
            {{"--port", "12"}, "1..9"}};
        for (const auto &[args, error] : errors) {
            SimOptions fresh;
            const QString e = parseSimOptions(args, fresh);
            QVERIFY2(e.contains(QLatin1String(error)), qPrintable(e));
        }
    }

    // The settings text is recorded as given, even text a real port refuses (and the line stays
    // closed); a reply in pieces arrives as pieces. (Who listens at which settings is
    // busListenersAndCollisions'; the line's settings reaching the bus, test_busfinder's sweep.)
    // A line that fails says so once it is open, takes no more writes and frees its port; the reply
    // it was waiting for never arrives.
    void lineFailsAndDropsTheReply()
    {
        SimBus bus;
        SimLine line(&bus);
        QSignalSpy failed(&line, &SerialLine::failed);
        QList<QByteArray> spy; // what the line handed over, a call an item
        line.setReceiver([&spy](const QByteArray &bytes) { spy << bytes; });
        line.fail(); // closed: nothing to report
        QCOMPARE(failed.size(), 0);
        QCOMPARE(line.open(2, QStringLiteral("9600,None,8,1")).fault, SerialLine::Fault::Other);
        QVERIFY(line.lastSettings() == QStringLiteral("9600,None,8,1") && !line.isOpen());
        bus.addModule(7710, 3, 2)->faults = SimFaults{.pieces = 3};
        QVERIFY(line.open(2, QStringLiteral("9600,N,8,1")).ok());
        line.write(hex("030300000006C42A"));
        QTRY_COMPARE(spy.size(), 3);
        QCOMPARE(spy.at(0) + spy.at(1) + spy.at(2), frame("03030C000000000000000000000000"));
        bus.addModule(5510, 1, 2)->faults.delayMs = 100;
        spy.clear();
        line.write(hex("01020000000879CC"));
        line.fail(QStringLiteral("adapter pulled out"));
        QCOMPARE(QList<QVariantList>(failed), QList<QVariantList>{{QStringLiteral("adapter pulled out")}});
        QVERIFY(!line.isOpen());
        line.write(hex("01020000000879CC"));
        QCOMPARE(line.writes().size(), 2);
        QVERIFY(SimLine(&bus).probe(2).ok()); // the port is free again
        // Reopened, the parameter reply is the first to come: the input reply that was pending
        // when the line failed was due earlier and never arrives.
        QVERIFY(line.open(2, QStringLiteral("9600,N,8,1")).ok());
        line.write(parameterReadRequest(1));
        QTRY_VERIFY(!spy.isEmpty());
        QCOMPARE(spy.at(0).left(2), hex("0103"));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
