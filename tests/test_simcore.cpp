// The simulated module core and bus: worked frames, register maps, parameter changes, faults and
// collisions, all without any I/O.
#include "modbus.h"
#include "simmodule.h"

#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A request from its payload, framed by the tool's own CRC routine.
QByteArray frame(const char *payloadHex)
{
    const QByteArray p = hex(payloadHex);
    return Crc16(p, std::uint8_t(p.size() - 1));
}

QByteArray frame(const QByteArray &p)
{
    return Crc16(p, std::uint8_t(p.size() - 1));
}

bool crcValid(const QByteArray &f)
{
    if (f.size() < 3)
        return false;
    const std::uint16_t crc = crc16Of(f.constData(), f.size() - 2);
    return std::uint8_t(f[f.size() - 2]) == (crc & 0xFF) && std::uint8_t(f[f.size() - 1]) == (crc >> 8);
}

QByteArray request(std::uint8_t address, std::uint8_t function, int start, int count)
{
    QByteArray p;
    p += char(address);
    p += char(function);
    p += char(start >> 8);
    p += char(start & 0xFF);
    p += char(count >> 8);
    p += char(count & 0xFF);
    return frame(p);
}

QByteArray exceptionOf(std::uint8_t address, std::uint8_t function, std::uint8_t code)
{
    QByteArray p;
    p += char(address);
    p += char(function | 0x80);
    p += char(code);
    return frame(p);
}

} // namespace

class TestSimCore : public QObject
{
    Q_OBJECT
private slots:
    void workedFrames_data();
    void workedFrames();
    void registerMapOfEveryModel_data();
    void registerMapOfEveryModel();
    void coilWritesLandOnTheCoils();
    void addressChangeTakesEffectAfterTheEcho();
    void codeChangeMovesTheModuleToNewSettings();
    void parameterWritesRejectBadValues();
    void exceptions_data();
    void exceptions();
    void silence_data();
    void silence();
    void broadcastWritesAreCarriedOutSilently();
    void faults_data();
    void faults();
    void faultsThatDropTheRequest();
    void deliveryFaultsReachTheFrontEnd();
    void splitReplyKeepsEveryByte();
    void collisionGivesGarbage();
    void onlyModulesAtTheLineSettingsListen();
    void genericModuleMovesByItself();
};

void TestSimCore::workedFrames_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<quint32>("inputs");
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("KV5510 inputs 1,3") << 5510 << 0x05u << QList<int>{}
        << hex("01020000000879CC") << hex("01020105618B");
    QTest::newRow("KV5530 inputs 1,3,16") << 5530 << 0x8005u << QList<int>{}
        << request(1, 0x02, 0, 16) << hex("0102020580BB48");
    QTest::newRow("KV7710 all 2048") << 7710 << 0u << QList<int>{2048, 2048, 2048, 2048, 2048, 2048}
        << hex("010300000006C5C8") << hex("01030C080008000800080008000800F60B");
    QTest::newRow("KV7720 temperatures") << 7720 << 0u << QList<int>{25, 26, 1001, 65535}
        << hex("0103000000044409") << hex("0103080019001A03E9FFFF94D4");
    QTest::newRow("KV7720 inputs") << 7720 << 0x0Au << QList<int>{}
        << hex("01020000000479C9") << frame("0102010A");
    QTest::newRow("broadcast parameter read") << 5510 << 0u << QList<int>{}
        << hex("00030064000345C5") << hex("0003060001000215863FD7");
    QTest::newRow("KV1720 output 4.000 mA") << 1720 << 0u << QList<int>{}
        << hex("010600000FA08C42") << hex("010600000FA08C42");
}

void TestSimCore::workedFrames()
{
    QFETCH(int, model);
    QFETCH(quint32, inputs);
    QFETCH(QList<int>, registers);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    SimModule m(model, 1, 2);
    for (int i = 0; i < 32; ++i)
        m.setDiscreteInput(i, (inputs >> i) & 1);
    for (int i = 0; i < registers.size(); ++i)
        m.setHolding(i, std::uint16_t(registers[i]));
    QCOMPARE(m.handle(request).toHex(' '), reply.toHex(' '));
}

void TestSimCore::registerMapOfEveryModel_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("inputs");
    QTest::addColumn<int>("coils");
    QTest::addColumn<int>("holding");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<int>("reportedModel");

    QTest::newRow("KV1710") << 1710 << 0 << 0 << 8 << false << 1710;
    QTest::newRow("KV1720") << 1720 << 0 << 0 << 1 << true << 1720;
    QTest::newRow("KV1730") << 1730 << 0 << 0 << 8 << false << 1730;
    QTest::newRow("KV1740") << 1740 << 0 << 0 << 8 << false << 1740;
    QTest::newRow("KV5510") << 5510 << 8 << 4 << 0 << false << 5510;
    QTest::newRow("KV5520") << 5520 << 0 << 8 << 0 << false << 5520;
    QTest::newRow("KV5530") << 5530 << 16 << 0 << 0 << false << 5530;
    QTest::newRow("KV5540") << 5540 << 0 << 16 << 0 << false << 5540;
    QTest::newRow("KV5550") << 5550 << 8 << 8 << 0 << false << 5550;
    QTest::newRow("KV7710") << 7710 << 4 << 4 << 6 << false << 7710;
    QTest::newRow("KV7720") << 7720 << 4 << 4 << 4 << false << 7720;
    QTest::newRow("generic") << 0 << 16 << 16 << 8 << true << 5510;
}

// Every function code the tool sends, at the edge of each model's map: the last channel answers,
// one more is refused with exception 02.
void TestSimCore::registerMapOfEveryModel()
{
    QFETCH(int, model);
    QFETCH(int, inputs);
    QFETCH(int, coils);
    QFETCH(int, holding);
    QFETCH(bool, writable);
    QFETCH(int, reportedModel);

    SimModule m(model, 7, 2);
    // Discrete inputs: every other one on, read back in Modbus bit order.
    for (int i = 0; i < inputs; i += 2)
        m.setDiscreteInput(i, true);
    if (inputs > 0) {
        const QByteArray r = m.handle(request(7, 0x02, 0, inputs));
        QCOMPARE(r.size(), 5 + (inputs + 7) / 8);
        QVERIFY(crcValid(r));
        QCOMPARE(r.left(3), QByteArray::fromRawData("\x07\x02", 2) + char((inputs + 7) / 8));
        QCOMPARE(std::uint8_t(r[3]), std::uint8_t(inputs >= 8 ? 0x55 : 0x05));
    }
    QCOMPARE(m.handle(request(7, 0x02, 0, inputs + 1)), exceptionOf(7, 0x02, 0x02));

    // Coils: write 0x0F 0x0F.. pattern, read it back with function 01.
    if (coils > 0) {
        QByteArray p = hex("070F0000");
        p += char(0);
        p += char(coils);
        p += char((coils + 7) / 8);
        for (int b = 0; b < (coils + 7) / 8; ++b)
            p += char(0x0F);
        QCOMPARE(m.handle(frame(p)), frame(p.left(6)));
        for (int i = 0; i < coils; ++i)
            QCOMPARE(m.coil(i), i % 8 < 4);
        const QByteArray r = m.handle(request(7, 0x01, 0, coils));
        QCOMPARE(r.size(), 5 + (coils + 7) / 8);
        QCOMPARE(std::uint8_t(r[3]), std::uint8_t(0x0F));
    }
    QCOMPARE(m.handle(request(7, 0x01, 0, coils + 1)), exceptionOf(7, 0x01, 0x02));
    QCOMPARE(m.handle(request(7, 0x05, coils, 0xFF00)), exceptionOf(7, 0x05, 0x02));

    // Holding registers.
    for (int i = 0; i < holding; ++i)
        m.setHolding(i, std::uint16_t(0x0100 + i));
    if (holding > 0) {
        const QByteArray r = m.handle(request(7, 0x03, 0, holding));
        QCOMPARE(r.size(), 5 + 2 * holding);
        QCOMPARE(std::uint8_t(r[2]), std::uint8_t(2 * holding));
        QCOMPARE(std::uint8_t(r[2 + 2 * holding]), std::uint8_t(holding - 1));
        QVERIFY(crcValid(r));
    }
    QCOMPARE(m.handle(request(7, 0x03, 0, holding + 1)), exceptionOf(7, 0x03, 0x02));
    const QByteArray write0 = request(7, 0x06, 0, 1234);
    if (writable) {
        QCOMPARE(m.handle(write0), write0);
        QCOMPARE(m.holding(0), std::uint16_t(1234));
    } else {
        QCOMPARE(m.handle(write0), exceptionOf(7, 0x06, 0x02));
    }

    // Parameter registers, addressed directly.
    QCOMPARE(m.handle(request(7, 0x03, 100, 3)),
             frame(hex("07030600070002") + char(reportedModel >> 8) + char(reportedModel & 0xFF)));
    QCOMPARE(m.handle(request(7, 0x03, 102, 2)), exceptionOf(7, 0x03, 0x02));
}

void TestSimCore::coilWritesLandOnTheCoils()
{
    SimModule m(5510, 1, 2);
    m.setCoil(1, true);
    m.setCoil(3, true);
    QCOMPARE(m.handle(hex("010F000000040105FE95")).toHex(' '), hex("010F000000045408").toHex(' '));
    QCOMPARE(QList<bool>({m.coil(0), m.coil(1), m.coil(2), m.coil(3)}), QList<bool>({true, false, true, false}));

    // Single-coil write and a write of the upper coils only.
    QCOMPARE(m.handle(request(1, 0x05, 3, 0xFF00)), request(1, 0x05, 3, 0xFF00));
    QVERIFY(m.coil(3));
    QCOMPARE(m.handle(request(1, 0x05, 3, 0x1234)), exceptionOf(1, 0x05, 0x03));
    QVERIFY(m.coil(3));

    SimModule wide(5540, 1, 2);
    QCOMPARE(m.handle(frame("010F0000001002")), QByteArray()); // byte count without data: wrong length
    const QByteArray sixteen = frame("010F00000010020001");
    QCOMPARE(wide.handle(sixteen), frame("010F00000010"));
    for (int i = 0; i < 16; ++i)
        QCOMPARE(wide.coil(i), i == 8);
    QCOMPARE(wide.handle(frame("010F0000001001FF")), exceptionOf(1, 0x0F, 0x03)); // one byte for 16 coils
}

void TestSimCore::addressChangeTakesEffectAfterTheEcho()
{
    SimBus bus;
    SimModule *m = bus.addModule(5510, 1, 2);
    m->setDiscreteInput(0, true);
    const QByteArray change = hex("00060064000509C7");
    QCOMPARE(bus.exchange(change, 9600, 'N'), change);
    QCOMPARE(m->address(), std::uint8_t(5));
    QCOMPARE(m->code(), 2);
    QCOMPARE(bus.exchange(request(1, 0x02, 0, 8), 9600, 'N'), QByteArray());
    QCOMPARE(bus.exchange(request(5, 0x02, 0, 8), 9600, 'N'), frame("05020101"));
    QCOMPARE(bus.exchange(hex("00030064000345C5"), 9600, 'N'), frame("000306000500021586"));

    // The address register can also be written at the module's own address.
    QCOMPARE(bus.exchange(request(5, 0x06, 100, 9), 9600, 'N'), request(5, 0x06, 100, 9));
    QCOMPARE(m->address(), std::uint8_t(9));
}

void TestSimCore::codeChangeMovesTheModuleToNewSettings()
{
    SimBus bus;
    SimModule *m = bus.addModule(5510, 1, 2);
    const QByteArray change = hex("01060065000619D7");
    // The echo still goes out at the old settings.
    QCOMPARE(bus.exchange(change, 9600, 'N'), change);
    QCOMPARE(m->code(), 6);
    const QByteArray read = request(1, 0x02, 0, 8);
    QCOMPARE(bus.exchange(read, 9600, 'N'), QByteArray());
    QCOMPARE(bus.exchange(read, 4800, 'E'), QByteArray());
    QCOMPARE(bus.exchange(read, 9600, 'E'), frame("01020100"));
    QCOMPARE(bus.exchange(hex("00030064000345C5"), 9600, 'E'), frame("000306000100061586"));
}

void TestSimCore::parameterWritesRejectBadValues()
{
    SimModule m(5510, 1, 2);
    QCOMPARE(m.handle(request(1, 0x06, 100, 0)), exceptionOf(1, 0x06, 0x03));
    QCOMPARE(m.handle(request(1, 0x06, 100, 255)), exceptionOf(1, 0x06, 0x03));
    QCOMPARE(m.handle(request(0, 0x06, 100, 255)), QByteArray()); // no exception to a broadcast
    QCOMPARE(m.handle(request(1, 0x06, 101, 0)), exceptionOf(1, 0x06, 0x03));
    QCOMPARE(m.handle(request(1, 0x06, 101, 9)), exceptionOf(1, 0x06, 0x03));
    QCOMPARE(m.handle(request(1, 0x06, 102, 1720)), exceptionOf(1, 0x06, 0x02));
    QCOMPARE(m.address(), std::uint8_t(1));
    QCOMPARE(m.code(), 2);
    QCOMPARE(m.holding(102), std::uint16_t(5510));
}

void TestSimCore::exceptions_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("unknown function 04") << 1730 << request(1, 0x04, 0, 1) << exceptionOf(1, 0x04, 0x01);
    QTest::newRow("unknown function 2B") << 5510 << frame("012B0E0100") << exceptionOf(1, 0x2B, 0x01);
    QTest::newRow("register beyond map") << 1730 << request(1, 0x03, 8, 1) << exceptionOf(1, 0x03, 0x02);
    QTest::newRow("registers across the gap") << 1730 << request(1, 0x03, 7, 94) << exceptionOf(1, 0x03, 0x02);
    QTest::newRow("no registers at all") << 5510 << hex("010300000008440C") << exceptionOf(1, 0x03, 0x02);
    QTest::newRow("input register of output module") << 5520 << hex("01020000000879CC") << exceptionOf(1, 0x02, 0x02);
    QTest::newRow("read of zero inputs") << 5530 << request(1, 0x02, 0, 0) << exceptionOf(1, 0x02, 0x03);
    QTest::newRow("read of 126 registers") << 0 << request(1, 0x03, 0, 126) << exceptionOf(1, 0x03, 0x03);
    QTest::newRow("write to measured input") << 1710 << request(1, 0x06, 3, 1) << exceptionOf(1, 0x06, 0x02);
    QTest::newRow("multi-register write to inputs") << 7710 << frame("0110000000010200FF") << exceptionOf(1, 0x10, 0x02);
    QTest::newRow("coil write beyond map") << 5510 << frame("010F0000000501FF") << exceptionOf(1, 0x0F, 0x02);
}

void TestSimCore::exceptions()
{
    QFETCH(int, model);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    SimModule m(model, 1, 2);
    QCOMPARE(m.handle(request).toHex(' '), reply.toHex(' '));
}

void TestSimCore::silence_data()
{
    QTest::addColumn<QByteArray>("request");

    QByteArray badCrc = hex("01020000000879CC");
    badCrc[7] = char(0xCD);
    QTest::newRow("bad CRC") << badCrc;
    QTest::newRow("foreign address") << request(2, 0x02, 0, 8);
    QTest::newRow("too short") << hex("0102");
    QTest::newRow("CRC only") << frame("01");
    QTest::newRow("read one byte too long") << frame("01020000000800");
    QTest::newRow("coil write missing data") << frame("010F0000000401");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("broadcast read of inputs") << request(0, 0x02, 0, 8);
    QTest::newRow("broadcast read of data registers") << request(0, 0x03, 0, 1);
    QTest::newRow("broadcast read past parameters") << request(0, 0x03, 100, 4);
    QTest::newRow("broadcast bad address value") << request(0, 0x06, 100, 0);
    QTest::newRow("broadcast unknown function") << request(0, 0x04, 100, 3);
}

void TestSimCore::silence()
{
    QFETCH(QByteArray, request);
    SimModule m(0, 1, 2);
    QCOMPARE(m.handle(request), QByteArray());
    QCOMPARE(m.address(), std::uint8_t(1));
}

void TestSimCore::broadcastWritesAreCarriedOutSilently()
{
    SimModule m(5550, 3, 2);
    QCOMPARE(m.handle(frame("000F00000008015A")), QByteArray());
    QCOMPARE(QList<bool>({m.coil(0), m.coil(1), m.coil(3), m.coil(4), m.coil(6)}), QList<bool>({false, true, true, true, true}));
    QVERIFY(!m.coil(7));
}

void TestSimCore::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("badCrc") << "badCrc";
    QTest::newRow("extraByte") << "extraByte";
    QTest::newRow("truncate") << "truncate";
    QTest::newRow("exception") << "exception";
    QTest::newRow("garbage") << "garbage";
    QTest::newRow("silent") << "silent";
}

void TestSimCore::faults()
{
    QFETCH(QString, fault);
    SimModule m(7720, 1, 2);
    m.setHolding(0, 25);
    const QByteArray read = hex("0103000000044409");
    const QByteArray good = m.handle(read);
    QCOMPARE(good.size(), 13);

    if (fault == "badCrc") m.faults.badCrc = true;
    if (fault == "extraByte") m.faults.extraByte = true;
    if (fault == "truncate") m.faults.truncate = true;
    if (fault == "exception") m.faults.exception = true;
    if (fault == "garbage") m.faults.garbageBytes = 40;
    if (fault == "silent") m.faults.silent = true;
    const QByteArray r = m.handle(read);

    if (fault == "badCrc") {
        QCOMPARE(r.size(), good.size());
        QCOMPARE(r.left(12), good.left(12));
        QVERIFY(r[12] != good[12]);
        QVERIFY(!crcValid(r));
    } else if (fault == "extraByte") {
        QCOMPARE(r.size(), good.size() + 1);
        QVERIFY(r.startsWith(good));
    } else if (fault == "truncate") {
        QCOMPARE(r, good.left(good.size() - 1));
    } else if (fault == "exception") {
        QCOMPARE(r, exceptionOf(1, 0x03, 0x01));
    } else if (fault == "garbage") {
        QCOMPARE(r.size(), 40);
        QVERIFY(!r.contains(good));
    } else if (fault == "silent") {
        QCOMPARE(r, QByteArray());
    }
}

// A module that is silent or refuses with an exception must not act on the request either,
// while one whose reply is damaged on the way out has acted.
void TestSimCore::faultsThatDropTheRequest()
{
    const QByteArray write = hex("010F000000040105FE95");
    SimModule silent(5510, 1, 2);
    silent.faults.silent = true;
    QCOMPARE(silent.handle(write), QByteArray());
    QVERIFY(!silent.coil(0));

    SimModule refusing(5510, 1, 2);
    refusing.faults.exception = true;
    QCOMPARE(refusing.handle(write), exceptionOf(1, 0x0F, 0x01));
    QVERIFY(!refusing.coil(0));
    QCOMPARE(refusing.handle(hex("00060064000509C7")), exceptionOf(0, 0x06, 0x01));
    QCOMPARE(refusing.address(), std::uint8_t(1));

    SimModule damaged(5510, 1, 2);
    damaged.faults.truncate = true;
    QCOMPARE(damaged.handle(write).size(), 7);
    QVERIFY(damaged.coil(0) && damaged.coil(2));
}

void TestSimCore::deliveryFaultsReachTheFrontEnd()
{
    SimBus bus;
    SimModule *m = bus.addModule(5510, 1, 2);
    m->faults.delayMs = 250;
    m->faults.pieces = 3;
    m->faults.pieceGapMs = 40;
    int delay = -1, pieces = -1, gap = -1;
    QCOMPARE(bus.exchange(hex("01020000000879CC"), 9600, 'N', &delay, &pieces, &gap), frame("01020100"));
    QCOMPARE(delay, 250);
    QCOMPARE(pieces, 3);
    QCOMPARE(gap, 40);
    // No reply, nothing to deliver.
    QCOMPARE(bus.exchange(request(2, 0x02, 0, 8), 9600, 'N', &delay, &pieces, &gap), QByteArray());
    QCOMPARE(delay, 0);
    QCOMPARE(pieces, 0);
}

void TestSimCore::splitReplyKeepsEveryByte()
{
    const QByteArray reply = hex("01030C080008000800080008000800F60B");
    for (int n : {1, 2, 3, 5, 17, 40}) {
        const QList<QByteArray> parts = splitReply(reply, n);
        QCOMPARE(parts.size(), qMin(n, int(reply.size())));
        QCOMPARE(parts.join(), reply);
        for (const QByteArray &p : parts)
            QVERIFY(!p.isEmpty());
    }
    QCOMPARE(splitReply(reply, 0).size(), 1);
}

void TestSimCore::collisionGivesGarbage()
{
    const QByteArray broadcast = hex("00030064000345C5");
    {
        SimBus bus;
        bus.addModule(5510, 1, 2);
        bus.addModule(1730, 2, 2);
        const QByteArray r = bus.exchange(broadcast, 9600, 'N');
        QCOMPARE(r.size(), 11);
        QVERIFY(!crcValid(r));
        QVERIFY(r != hex("0003060001000215863FD7"));
    }
    {
        // Two identical modules would overlay to the same bytes; the line still garbles them.
        SimBus bus;
        bus.addModule(5510, 1, 2);
        bus.addModule(5510, 1, 2);
        const QByteArray r = bus.exchange(broadcast, 9600, 'N');
        QCOMPARE(r.size(), 11);
        QVERIFY(!crcValid(r));
    }
    {
        // Replies of different lengths collide too (a 5530 answers a 16-input read, a 5510 refuses).
        SimBus bus;
        bus.addModule(5530, 1, 2);
        bus.addModule(5510, 1, 2);
        const QByteArray r = bus.exchange(request(1, 0x02, 0, 16), 9600, 'N');
        QCOMPARE(r.size(), 7);
        QVERIFY(!crcValid(r));
    }
}

void TestSimCore::onlyModulesAtTheLineSettingsListen()
{
    SimBus bus;
    SimModule *a = bus.addModule(5510, 1, 3); // 19200,None
    SimModule *b = bus.addModule(1730, 2, 8); // 38400,Even
    b->setHolding(0, 4095);
    const QByteArray broadcast = hex("00030064000345C5");
    QCOMPARE(bus.exchange(broadcast, 9600, 'N'), QByteArray());
    QCOMPARE(bus.exchange(broadcast, 19200, 'E'), QByteArray());
    QCOMPARE(bus.exchange(broadcast, 19200, 'N'), frame("000306000100031586"));
    QCOMPARE(bus.exchange(broadcast, 38400, 'E'), frame("0003060002000806C2"));
    // Parity unknown (a pseudo-terminal): the baud rate alone decides.
    QCOMPARE(bus.exchange(request(2, 0x03, 0, 1), 38400, 0), frame("0203020FFF"));
    QCOMPARE(a->code(), 3);

    QCOMPARE(baudForCode(1), 4800);
    QCOMPARE(baudForCode(8), 38400);
    QCOMPARE(parityForCode(4), 'N');
    QCOMPARE(parityForCode(5), 'E');
    QCOMPARE(baudForCode(9), 0);
}

void TestSimCore::genericModuleMovesByItself()
{
    SimModule g(0, 1, 2);
    auto onInputs = [&g] {
        QList<int> on;
        for (int i = 0; i < g.discreteInputCount(); ++i) {
            if (g.discreteInput(i))
                on.append(i);
        }
        return on;
    };
    QCOMPARE(onInputs(), QList<int>{0});
    const std::uint16_t ramp = g.holding(0);
    g.tick(1000);
    QCOMPARE(onInputs(), QList<int>{1});
    QVERIFY(g.holding(0) != ramp);
    g.tick(15000);
    QCOMPARE(onInputs(), QList<int>{0});
    for (int step = 0; step < 100; ++step) {
        g.tick(250);
        QVERIFY(g.holding(0) <= 4095);
        QVERIFY(g.holding(1) <= 4095);
        QVERIFY(g.holding(2) >= 200 && g.holding(2) <= 300);
    }
    // Holding 4..7 belong to the user.
    g.setHolding(5, 77);
    g.tick(5000);
    QCOMPARE(g.holding(5), std::uint16_t(77));

    SimModule fixed(5530, 1, 2);
    fixed.setDiscreteInput(4, true);
    fixed.tick(3000);
    QVERIFY(fixed.discreteInput(4));
    QVERIFY(!fixed.discreteInput(0));
}

QTEST_GUILESS_MAIN(TestSimCore)
#include "test_simcore.moc"
