// The core's rules as tables of known frames and values: the CRC and every request the tool
// sends, the verdict on replies and what an accepted one says, the model table and each model's
// reads, line settings and the code table, conversions and number text, and the set.rc and tm.rc
// readers and writers with damaged files; the rows a window's recorder keeps and
// the traffic statistics (counts per verdict, response-time percentiles from the 0.1 ms
// histogram). The frames' CRCs were checked with a table-driven CRC-16/MODBUS written apart from
// the tool's.
//
// The test windows' cycle and the parameter window's scan, stepped with a fake clock: no event
// loop, no widget, no port. A fake module answers each frame at once (or not at all); every
// action that reaches the outside is logged with its time, and the tests compare logs.
//
// korvant-cli's plain functions: the command line as tables of cases, the time-out rule, and the
// lines it prints for replies. No port, no process.
#include "support/fakesystem.h"
#include "support/modeltable.h"

#include "clitable.h"
#include "commandline.h"
#include "conversions.h"
#include "cycle.h"
#include "decoders.h"
#include "commands.h"
#include "context.h"
#include "finder.h"
#include "framing.h"
#include "linesettings.h"
#include "exchange.h"
#include "linecheck.h"
#include "modbus.h"
#include "numtext.h"
#include "onemodule.h"
#include "report.h"
#include "scan.h"
#include "session.h"
#include "settingsfiles.h"
#include "traffic.h"
#include "trafficlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <ctime>
#include <functional>

#include <fcntl.h>
#include <unistd.h>

namespace {
// The texts and intervals the user meets, written out (never the product's own constants).
const QString kPleaseOpen = QStringLiteral("Please open serial port！");
const QString kNoAddress = QStringLiteral("Module Address Not Selected！");
const QString kNoAnalogAddress = QStringLiteral("Moudle address not selected！");
const QString kAddressRange = QStringLiteral("Module address must be a number from 0 to 255！");
const QString kNotValid = QStringLiteral("Communication parameters are not valid！");

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

QList<bool> states(const char *bits)
{
    QList<bool> on;
    for (const char *b = bits; *b; ++b)
        on << (*b == '1');
    return on;
}

// What an accepted reply says, as one text: inputs as 1/0, registers as shown, or the parameter lines.
QString decoded(const QByteArray &request, const QByteArray &reply, Conversion conversion)
{
    const int count = std::uint8_t(request[4]) << 8 | std::uint8_t(request[5]);
    if (request == parameterReadRequest())
        return parameterLines(moduleParameters(reply));
    if (request[1] == 0x03)
        return analogTexts(reply, conversion, count).join(QLatin1Char('|'));
    QString text; // the inputs of a read 02; nothing for an echo
    for (bool on : digitalInputs(reply, request[1] == 0x02 ? count : 0))
        text += on ? QLatin1Char('1') : QLatin1Char('0');
    return text;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString lines(int address, const char *parameters, int model)
{
    return QStringLiteral("Moudle address: %1\r\nCommunication parameters: %2\r\nMoudle model: KV%3ADAM")
        .arg(address).arg(QLatin1String(parameters)).arg(model);
}

// The fake clock and the windows it steps.
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
                received = (echo ? a.frame : QByteArray()) + (module ? module(a.frame) : QByteArray());
                break;
            case CycleAction::Enable: {
                Timer &t = timers[key(a.timer)];
                if (!t.enabled)
                    t.due = now + t.interval;
                t.enabled = true;
                break;
            }
            case CycleAction::Disable: timers[key(a.timer)].enabled = false; break;
            case CycleAction::Judged: // the line keeps what the judgement knows of its echo, as a window's does
                log << at + "judged " + (a.verdict.accepted() ? "ok" : a.verdict.reason()) + (a.decode ? " decode" : "")
                           + (a.echo.isEmpty() ? "" : " after echo");
                echoKnown = a.echoKnown;
                reply = a.reply;
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
    bool echo = false, echoKnown = false; // the adapter echoes; the line knows it
    QByteArray reply;                      // what the last judgement left after the echo
    QStringList log;
    QList<int> reopens;
};

// A test window: reads cycles and one write, with a port and an address box per cycle.
struct Window {
    explicit Window(QVector<AcquisitionCycle::Read> reads) : m(std::move(reads))
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
            case TimerRef::Acquisition:
                return m.tick(t.index, portOpen, addressFromBox(address, m.read(t.index).emptyMessage()), clock.received,
                              clock.echoKnown);
            case TimerRef::ReadTimeout: return m.readTimeout(t.index, clock.received, clock.echoKnown);
            case TimerRef::WriteTimeout: return m.writeTimeout(clock.received, clock.echoKnown);
            }
            return CycleActions();
        });
    }
    void click(int cycle) { clock.apply(m.click(cycle)); }
    void validate(bool singleRegister = false)
    {
        const auto coils = [](std::uint8_t a) { return writeCoilsRequest(a, {true, false, true, false}); };
        const auto reg = [](std::uint8_t a) { return writeRegisterRequest(a, 0, 4000); };
        clock.apply(m.validate(portOpen, addressFromBox(address, kAddressNotSelected),
                               singleRegister ? std::function<QByteArray(std::uint8_t)>(reg) : coils));
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
        clock.setInterval({TimerRef::Acquisition, 0}, 150); // SetFrm's fixed intervals
        clock.setInterval({TimerRef::ReadTimeout, 0}, 120);
        clock.setInterval({TimerRef::WriteTimeout, 0}, 300);
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
                return m.readTimeout(clock.received, clock.echoKnown);
            if (t.kind == TimerRef::WriteTimeout)
                return m.writeTimeout(clock.received, clock.echoKnown);
            CycleActions out = m.tick(portOpen, clock.received, clock.echoKnown);
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

// The command line korvant-cli was given.
// What a parsed command line holds, in one comparable line.
QString summary(const ParsedCommandLine &p)
{
    if (!p.error.isEmpty())
        return QStringLiteral("error: ") + p.error;
    const CliOptions &o = p.options;
    const auto list = [](const auto &numbers) {
        QStringList l;
        for (int n : numbers)
            l << QString::number(n);
        return l.join(QLatin1Char(','));
    };
    if (o.help || o.version)
        return o.help ? QStringLiteral("help") : QStringLiteral("version");
    static const char *names[] = {"none", "scan", "read", "write", "set-address", "set-comm", "poll", "survey", "ports", "find", "raw", "doctor", "site", "checkout"};
    QString s = QString::fromLatin1(names[int(o.command)]);
    s += o.model ? QLatin1Char(' ') + o.model->name : QString();
    s += o.argument.isEmpty() ? QString() : QLatin1Char(' ') + o.argument;
    s += QStringLiteral(" %1 %2 a%3 t%4").arg(o.port, settingsText(o.line)).arg(o.address).arg(o.timeoutMs);
    s += o.quiet ? QStringLiteral(" quiet") : QString();
    s += o.on ? QStringLiteral(" on=") + list(*o.on) : QString();
    s += o.outputPosition ? QStringLiteral(" ma=%1").arg(*o.outputPosition) : QString();
    s += o.json ? QStringLiteral(" json") : QString();
    s += o.addresses.size() > 1 || o.addresses.value(0) != o.address ? QStringLiteral(" addresses=") + list(o.addresses) : QString();
    s += o.retries ? QStringLiteral(" retries=%1").arg(o.retries) : QString();
    s += o.frame.isEmpty() ? QString() : QStringLiteral(" frame=") + QString::fromLatin1(o.frame.toHex()) + (o.noCrc ? " no-crc" : "");
    s += o.command == Command::Poll ? QStringLiteral(" period=%1 count=%2").arg(o.periodMs).arg(o.count) + (o.csvPath.isEmpty() ? "" : " csv=" + o.csvPath) : "";
    s += o.command == Command::Survey || o.command == Command::Find ? QStringLiteral(" %1..%2").arg(o.from).arg(o.to) : QString();
    s += o.command == Command::Checkout ? QStringLiteral(" %1 pdf=%2 html=%3 csv=%4").arg(o.file, o.pdfPath, o.htmlPath, o.csvPath) : QString();
    s += o.command == Command::Find ? QStringLiteral(" codes=%1 turnaround=%2").arg(list(o.codes)).arg(o.turnaroundMs) : QString();
    s += o.toAddress > 0 ? QStringLiteral(" to=%1").arg(o.toAddress) : QString();
    return s;
}
} // namespace

class TestCore : public QObject
{
    Q_OBJECT
private slots:
    // Each request as built, its frame, and the length of the reply it expects (0: none); the
    // reads of other counts are replies' frames, accepted only at their expected lengths.
    void requests()
    {
        const struct { QByteArray built, frame; int replyBytes; } cases[] = {
            {readRequest(1, 0x03, 0, 8), hex("010300000008440C"), 21}, // 1710, 1730, 1740: 8 registers
            {readRequest(1, 0x02, 0, 8), hex("01020000000879CC"), 6}, // 5510, 5550: 8 inputs
            {writeCoilsRequest(1, states("1010")), hex("010F000000040105FE95"), 8}, // 5510, 77x0: coils 1 and 3 of 4
            {writeCoilsRequest(1, states("00000001")), hex("010F000000080180FF35"), 8}, // 5520: coil 8 of 8
            {writeCoilsRequest(1, states("0000000010000000")), hex("010F0000001002000123E0"), 8}, // 5540: coil 9 of 16
            {writeCoilsRequest(1, states("0000000100000000")), hex("010F0000001002800083E0"), 8}, // 5540: coil 8 of 16
            {writeRegisterRequest(1, 0, 4000), hex("010600000FA08C42"), 8}, // 1720: 4 mA
            {parameterReadRequest(), hex("00030064000345C5"), 11}, // parameter read
            {addressWriteRequest(5), hex("00060064000509C7"), 8}, // address write: 5
            {commWriteRequest(1, 6), hex("01060065000619D7"), 8}, // comm write: module 1, code 6
            {hex("010500000000CDCA"), hex("010500000000CDCA"), 0}, // function 05: not the tool's
            {hex("01020000"), hex("01020000"), 0}, // too short to say
            // The CRC's published check value, low byte first; the bytes beyond lastIndex left out.
            {Crc16("123456789", 8), QByteArray("123456789") + hex("374B"), 0}, {Crc16(hex("010F000000040105555555"), 7), hex("010F000000040105FE95"), 8},
            {Crc16(QByteArray(256, '\x07'), 255).chopped(2), QByteArray(256, '\x07'), 0}, // lastIndex 255: all 256 bytes
        };
        for (const auto &c : cases) {
            QCOMPARE(c.built, c.frame);
            QCOMPARE(expectedReplyLength(c.frame), c.replyBytes);
        }
        // The request wrapped for a gateway under its transaction id and unit id, no CRC; the
        // gateway's side: the unit id as the address, the line's reply under the request's header, or 0x0B.
        const QByteArray in8 = hex("01020000000879CC"), params = parameterReadRequest();
        QCOMPARE((Framing{FramingKind::Mbap, 1}.wrap(in8)), hex("00010000000601020000 0008"));
        QCOMPARE((Framing{FramingKind::Mbap, 0xFFFF}.wrap(params)), hex("FFFF000000060003006400 03"));
        const QByteArray request = hex("00090000000601020000 0008");
        QCOMPARE(mbapToRtu(request), in8);
        QVERIFY(mbapToRtu(hex("00090001000601020000 0008")).isEmpty() && mbapToRtu(hex("00090000000601020000")).isEmpty());
        QCOMPARE(gatewayReply(request, hex("01020105618B"), false), hex("0009000000040102 0105"));
        QCOMPARE(gatewayReply(request, hex("01020105618C"), false), hex("00090000000301820B"));
        QCOMPARE(gatewayReply(request, {}, false), hex("00090000000301820B"));
        QCOMPARE(gatewayReply(request, {}, true), QByteArray());
        QCOMPARE(gatewayReply(hex("000A0000000600060064000A"), {}, false), QByteArray()); // a broadcast
    }

    // The verdict on each reply to a request on each line: RTU (""); Modbus TCP to a gateway
    // ("mbap T": wrapped under transaction id T, no CRC, the header checked before the unit's frame
    // is judged by the rule of every reply); an adapter that may echo ("echo?": the echo set aside,
    // learned from a read, or from a write's request followed by a whole valid reply; while it is
    // unknown, a single-register write's bytes equal to its request are its reply, judged when the
    // wait ends) or is known to ("echo"). What an accepted one says, as one text; whether the bytes
    // need no more waiting (-1: not asked); whether the echo was learned.
    void replies()
    {
        const QByteArray in8 = hex("01020000000879CC"), in16 = hex("01020000001079C6"), in4 = hex("01020000000479C9");
        const QByteArray regs8 = hex("010300000008440C"), params = parameterReadRequest(), good = hex("01020105618B"), exc = hex("0182018160");
        const QByteArray reg = hex("010600000FA08C42"), coils = hex("010F000000040105FE95"), coilsReply = hex("010F000000045408");
        const Conversion none = Conversion::None;
        const struct { QByteArray request, reply; const char *line; QString verdict, values; Conversion conversion = Conversion::None; int complete = -1; bool learned = false; } cases[] = {
            {in8, good, "", "OK", "10100000", none, 1}, {in16, hex("0102020580BB48"), "", "OK", "1010000000000001"},
            {in4, hex("010201F561CF"), "", "OK", "1010"}, // the high half unread
            {regs8, hex("010310000000FD270F27102747FFFEFFFF00010630"), "", "OK",
             "0.0℃|25.3℃|999.9℃|-0.0℃|-5.5℃|-5553.4℃|Not Connect|0.1℃", Conversion::Temperature},
            {regs8, hex("0103100000000108000FFFFFFF04000BFF10000C98"), "", "OK",
             "0.00mA|0.00mA|10.00mA|20.00mA|320.07mA|5.00mA|15.00mA|20.00mA", Conversion::Current},
            {regs8, hex("01031007FF0FFFFFFF00000199033300010BB8BCA8"), "", "OK",
             "5.00V|10.00V|160.04V|0.00V|1.00V|2.00V|0.00V|7.33V", Conversion::Voltage},
            {hex("010300000006C5C8"), hex("01030C080008000800080008000800F60B"), "", "OK", QStringList(6, "10.00mA").join('|'), Conversion::Current},
            {hex("0103000000044409"), hex("01030803E8000003E9FFFF6DCC"), "", "OK", "1000℃|0℃|Not Connect|Not Connect", Conversion::WholeDegrees},
            {params, hex("0003060001000215863FD7"), "", "OK", lines(1, "9600,None,8,1", 5510)},
            {params, hex("0003060007000006C21B14"), "", "OK", lines(7, "", 1730)}, // code 0
            {params, hex("000306FFFF0008FFFFAC8C"), "", "OK", lines(65535, "38400,Even,8,1", 65535)},
            {coils, coilsReply, "", "OK", ""}, {reg, reg, "", "OK", ""}, // echoes
            {in8, QByteArray(), "", "time-out (no byte)", ""}, {in8, hex("01020105"), "", "short", "", none, 0},
            {regs8, hex("01830440F3"), "", "exception 4: device failure", ""},
            {in8, withCrc(hex("018200")), "", "exception 0: exception 0", ""}, {in8, withCrc(hex("018203")), "", "exception 3: illegal data value", ""},
            {in8, withCrc(hex("018205")), "", "exception 5: acknowledge", ""}, {in8, withCrc(hex("018206")), "", "exception 6: device busy", ""},
            {in8, withCrc(hex("018207")), "", "exception 7: exception 7", ""}, {in8, exc, "", "exception 1: illegal function", "", none, 1},
            {in8, withCrc(hex("01820B")), "", "exception 11: exception 11", ""}, // over RTU the gateway's codes keep their plain names
            {in8, hex("0182018161"), "", "short", "", none, 0}, // an exception with a bad CRC
            {in8, withCrc(hex("028201")), "", "short", "", none, 1}, // another module's exception: judged at once
            {in8, hex("01830180F0"), "", "short", "", none, 0}, // another function's exception
            {in8, hex("0102010561"), "", "short", ""}, {in8, hex("01020105618B00"), "", "long", ""},
            {in8, hex("0202010561CF"), "", "other address", ""},
            {in8, hex("01030105304B"), "", "other function", ""},
            {in8, hex("01020105618C"), "", "bad CRC", ""},
            {in8, hex("0001000000040102 0105"), "mbap 1", "OK", "10100000", none, 1},
            {in8, hex("FFFF000000040102 0105"), "mbap 65535", "OK", "10100000", none, 1},
            {in8, {}, "mbap 1", "time-out (no byte)", "", none, 0}, {in8, hex("0001000000"), "mbap 1", "short", "", none, 0},
            {in8, hex("000100000004010201"), "mbap 1", "short", "", none, 0}, // the rest never came
            {in8, hex("0001000100040102 0105"), "mbap 1", "bad header", "", none, 1}, // protocol id 1
            {in8, hex("00010000000101"), "mbap 1", "bad header", "", none, 1}, {in8, hex("0001000000030102 0105"), "mbap 1", "bad header", "", none, 1},
            {in8, hex("0002000000040102 0105"), "mbap 1", "other transaction", "", none, 1},
            {in8, hex("00020000000301820B"), "mbap 1", "other transaction", "", none, 1},
            {in8, hex("0001000000040202 0105"), "mbap 1", "other address", "", none, 1},
            {in8, hex("0001000000040103 0105"), "mbap 1", "other function", "", none, 1},
            {in8, hex("000100000003010201"), "mbap 1", "short", "", none, 1}, {in8, hex("0001000000050102 010500"), "mbap 1", "long", "", none, 1},
            {in8, hex("000100000003018202"), "mbap 1", "exception 2: illegal data address", "", none, 1},
            {in8, hex("00010000000301820A"), "mbap 1", "exception 10: path unavailable", "", none, 1},
            {in8, hex("00010000000301820B"), "mbap 1", "exception 11: target failed to respond", "", none, 1},
            {in8, in8 + good, "echo?", "OK", "10100000", none, 1, true},
            {in8, in8, "echo?", "time-out (no byte), echo only", "", none, 0, true},
            {in8, in8 + exc, "echo?", "exception 1: illegal function", "", none, 1, true},
            {in8, in8 + hex("0102"), "echo?", "long", "", none, 0}, // echo then garbage: not learned
            {in8, good, "echo", "OK", "10100000", none, 1}, // an echo known but absent this time
            {in8, in8.left(5), "echo", "short", "", none, 0},
            {reg, reg, "echo?", "OK", "", none, 0}, // the echo alone or the reply: the same bytes
            {reg, reg, "echo", "time-out (no byte), echo only", "", none, 0},
            {reg, reg + reg, "echo", "OK", "", none, 1}, {reg, reg + reg, "echo?", "OK", "", none, 1, true},
            {coils, coils + coilsReply, "echo", "OK", "", none, 1},
            {coils, coils, "echo", "time-out (no byte), echo only", "", none, 0},
            {coils, coils + coilsReply, "echo?", "OK", "", none, 1, true},
            {coils, coils + coilsReply.left(6), "echo?", "long", "", none, 0}};
        for (const auto &c : cases) {
            Exchange x(c.request);
            const QString line = QString::fromLatin1(c.line);
            x.framing = line.startsWith("mbap") ? Framing{FramingKind::Mbap, quint16(line.section(' ', 1).toInt())} : Framing{};
            x.echoKnown = line == "echo";
            const QByteArray what = c.line + QByteArray(" ") + c.reply.toHex();
            QVERIFY2(c.complete < 0 || x.complete(c.reply) == bool(c.complete), what.constData());
            QVERIFY2(x.judge(c.reply).reason() == c.verdict, qPrintable(what + " " + x.verdict.reason()));
            const QString values = x.accepted() ? decoded(c.request, x.reply, c.conversion) : QString();
            QVERIFY2(values == c.values, qPrintable(what + " " + values));
            QVERIFY2(x.echoKnown == (line == "echo" || c.learned), what.constData());
            QVERIFY2(!x.framing.mbap() || x.echo.isEmpty(), what.constData());
        }
    }

    // What the line doctor hears, and what it advises of the adapter's latency timer.
    void doctorHearing()
    {
        // What the line doctor hears at one setting of the broadcast parameter read.
        const QByteArray params = parameterReadRequest(), one = hex("0003060001000215863FD7");
        const QByteArray overlaid = hex("0003060003000215863FD7"); // a second module's address (3) laid over the first's
        const struct { QByteArray received; bool known; const char *heard; } heard[] = {
            {{}, false, "nothing"}, {params, false, "echo"}, {one, false, "a module"}, {params + one, true, "a module"},
            {withCrc(hex("008302")), false, "a module"}, {overlaid, false, "several modules"},
            {params + overlaid, true, "several modules"}, {hex("0003060001"), false, "garbage"}, {hex("FF00"), false, "garbage"}};
        for (const auto &c : heard) {
            Exchange b(params);
            b.echoKnown = c.known;
            b.judge(c.received);
            QVERIFY2(hearingText(hearSetting(b)) == QLatin1String(c.heard), c.received.toHex().constData());
        }
        // A latency timer of 2 ms or less (or none known) costs nothing worth telling; 3 ms does.
        QVERIFY(latencyAdvice("/dev/ttyUSB0", 2).isEmpty() && latencyAdvice("/dev/ttyUSB0", -1).isEmpty());
        QCOMPARE(latencyAdvice("/dev/ttyUSB1", 3),
                 QStringLiteral("ttyUSB1: the adapter's latency timer is 3 ms: up to 3 ms is added to every reply. Lower it to 1 ms as "
                                "root with: echo 1 > /sys/bus/usb-serial/devices/ttyUSB1/latency_timer; for good, with a udev rule such as: "
                                "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\""));
    }

    // A write meant for one module: the reads before and after it, fed the verdicts of each step
    // (x: bytes that fail the check, e: an exception, -: nothing, o: a good reply).
    void oneModuleWrite()
    {
        const QByteArray read3 = hex("03030064000345F6"), read4 = hex("0403006400034441"), read5 = hex("0503006400034590");
        const QByteArray write34 = hex("030600640004C834");
        const struct { OneModuleWrite plan; const char *heard; QList<QByteArray> sent; const char *key, *refusal; } cases[] = {
            {OneModuleWrite::address(3, 4), "x", {read3}, "collision", "several modules answered at address 3 (their "
             "replies collided), so nothing was written: disconnect all but one and try again"},
            {OneModuleWrite::address(3, 4), "-", {read3}, "timeout", "no module answered at address 3, so nothing was written"},
            {OneModuleWrite::address(3, 4), "ee", {read3, read4}, "taken", "address 4 is taken: a module answered there, so nothing was written"},
            {OneModuleWrite::address(3, 4), "ox", {read3, read4}, "taken", "address 4 is taken: a module answered there, so nothing was written"},
            {OneModuleWrite::address(3, 4), "o-e", {read3, read4, write34}, "", ""},
            {OneModuleWrite::address(3, 4), "o-o-", {read3, read4, write34, read4}, "not_there", "written to 3, but no module answers at 4"},
            {OneModuleWrite::address(3, 4), "o-ox", {read3, read4, write34, read4}, "collision", "written to 3, but several modules answer at 4"},
            {OneModuleWrite::address(3, 4), "o-oe", {read3, read4, write34, read4}, "ok", ""},
            {OneModuleWrite::address(3, 3), "oo-", {read3, hex("03060064000389F6"), read3}, "not_there", "written to 3, but no module answers at 3"},
            {OneModuleWrite::address(3, 0), "oe", {read3, hex("030600640000C9F7")}, "", ""},
            {OneModuleWrite::comm(5, 1), "oo-", {read5, hex("0506006500015991"), read5}, "not_there",
             "written to 5, but no module answers at address 5 at 4800,None,8,1"}};
        for (auto c : cases) {
            QList<QByteArray> sent;
            for (const char *h = c.heard; *h && c.plan.step() != OneModuleWrite::Step::Done; ++h) {
                sent << c.plan.request();
                c.plan.heard({*h == 'o' ? Refusal::None : *h == 'e' ? Refusal::Exception : *h == 'x' ? Refusal::BadCrc : Refusal::NoReply});
            }
            QVERIFY2(c.plan.step() == OneModuleWrite::Step::Done && sent == c.sent && c.plan.key() == QLatin1String(c.key)
                         && c.plan.refusal() == QLatin1String(c.refusal), c.heard);
            QCOMPARE(c.plan.outcome() == OneModuleWrite::Outcome::WriteRefused, !*c.key);
        }
        QCOMPARE(::settingsText(OneModuleWrite::comm(5, 6).lineAfter({})), QStringLiteral("9600,E,8,1"));
        QCOMPARE(::settingsText(OneModuleWrite::address(3, 4).lineAfter({19200, 'E'})), QStringLiteral("19200,E,8,1"));
    }

    void settingsText()
    {
        for (const char *text : {"4800,N,8,1", "9600,N,8,1", "19200,N,8,1", "38400,N,8,1", "4800,E,8,1", "9600,E,8,1",
                                 "19200,E,8,1", "38400,E,8,1", "9600,O,8,1", "9600,M,8,1", "9600,S,8,1"}) {
            const std::optional<LineSettings> s = parseSettingsText(QString::fromLatin1(text));
            QVERIFY2(s && s->dataBits == 8 && s->stopBits == 1, text);
            QCOMPARE(::settingsText(*s), QString::fromLatin1(text));
        }
        for (const char *text : {"9600,X,8,1", "1234x,N,8,1", "+9600,N,8,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8"})
            QVERIFY2(!parseSettingsText(QString::fromLatin1(text)), text);
        // The parity names: exact in a window's box, any case or the letter alone on a command line.
        const struct { const char *text; char exact, anyCase; } parities[] = {
            {"None", 'N', 'N'}, {"Odd", 'O', 'O'}, {"Even", 'E', 'E'}, {"even", 0, 'E'}, {"e", 0, 'E'},
            {"N", 0, 'N'}, {"Even ", 0, 0}, {"Mark", 0, 0}, {"", 0, 0}};
        for (const auto &p : parities) {
            const QString text = QString::fromLatin1(p.text);
            QVERIFY2(parityFromName(text).value_or(0) == p.exact, p.text);
            QVERIFY2(parityFromName(text, Qt::CaseInsensitive).value_or(0) == p.anyCase, p.text);
            if (p.exact)
                QCOMPARE(parityName(p.exact), text);
        }
        // The code table's own texts are the replies', the parameter writes' and the finder's; here
        // what is no code: a text not written exactly as the table's, a code outside 1..8.
        QVERIFY(baudForCode(0) == 0 && parityForCode(9) == 0);
        for (const char *text : {"9600", "9600,even,8,1", "9600,Even,8,1 ", "", "38400,Odd,8,1"})
            QCOMPARE(communicationParameterCode(QString::fromLatin1(text)), 0);
    }

    // The quiet that ends an exchange: 3.5 characters of 11 bits (1750 us above 19200 baud), plus
    // the adapter's latency timer of 0, 1 or 16 ms, or 20 ms where it is not known (-1); korvant-cli's
    // session waits that of the line it opened, here a pseudo-terminal, which has no latency timer.
    void replyQuiet()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        CliOptions o;
        o.port = QString::fromLocal8Bit(::ptsname(master));
        QTextStream err(stderr);
        Session session(o, err);
        const struct { int baud; qint64 us[4]; } cases[] = {{4800, {8021, 9021, 24021, 28021}}, {9600, {4011, 5011, 20011, 24011}},
            {19200, {2006, 3006, 18006, 22006}}, {38400, {1750, 2750, 17750, 21750}}, {115200, {1750, 2750, 17750, 21750}}};
        for (const auto &c : cases) {
            for (int i = 0; i < 4; ++i)
                QCOMPARE(replyQuietUs(c.baud, std::array{0, 1, 16, -1}[i]), c.us[i]);
            QVERIFY(session.open(LineSettings{c.baud, 'N', 8, 1}) && session.quietUs() == c.us[0]);
        }
        ::close(master);
        // (8 + reply) bytes of 10 bits (11 with parity), rounded up, plus the 50 ms margin.
        const struct { int baud; char parity; int replyBytes, ms; } timeouts[] = {
            {9600, 'N', 21, 31 + 50}, {4800, 'E', 11, 44 + 50}, {38400, 'N', 8, 5 + 50}};
        for (const auto &t : timeouts)
            QCOMPARE(defaultTimeoutMs(LineSettings{t.baud, t.parity, 8, 1}, 8, t.replyBytes), t.ms);
    }

    void numberText()
    {
        const QList<std::pair<int, const char *>> currents{{0, "0.00"}, {1, "0.00"}, {9, "0.01"}, {256, "0.26"},
            {4005, "4.00"}, {4015, "4.02"}, {19995, "20.00"}}; // halves to even; 19995 carries
        for (const auto &[position, text] : currents)
            QCOMPARE(outputCurrentText(position), QString::fromLatin1(text));
        for (const auto &[v, r] : QList<std::pair<double, double>>{{0.5, 0}, {1.5, 2}, {2.5, 2}, {2.6, 3}, {-1.5, -2}})
            QCOMPARE(roundHalfEven(v), r);
        struct Case { QString text; double value; bool found; };
        const QList<Case> numbers{{"300", 300, true}, {"  300", 300, true}, {"1 2", 12, true}, {"300ms", 300, true},
            {"m", 0, false}, {"", 0, false}, {"-1", -1, true}, {"2.5x", 2.5, true}, {"1.2.3", 1.2, true}, {"1e2", 100, true},
            {"12e", 12, true}, {"-", 0, false}, {"+7", 7, true}, {".5", 0.5, true}, {QString(400, '9'), 0, false}};
        for (const Case &c : numbers) {
            const LeadingNumber n = scanLeadingNumber(c.text);
            QVERIFY2(n.found == c.found && n.value == c.value, qPrintable(c.text.left(10)));
        }
        // The rules that take a whole number from text; -1 where they take none.
        using Read = int (*)(const QString &);
        const Read address = [](const QString &t) { return addressFromText(t) ? int(*addressFromText(t)) : -1; };
        const Read position = [](const QString &t) { return outputPositionFromText(t).value_or(-1); };
        // The interval: characters 12 to 16, whatever the label before them ends with.
        const Read interval = [](const QString &t) { return intervalFromLine(t); };
        // The port: position first, then rounded: 2.5 - 1 = 1.5 -> 2, 3.5 - 1 = 2.5 -> 2.
        const Read port = portIndexFromLine;
        const struct { Read read; const char *text; int value; } cases[] = {
            {address, "0", 0}, {address, "255", 255}, {address, "256", -1}, {address, "-1", -1}, {address, "12x", 12},
            {address, "2.5", 2}, {address, " ", -1}, {position, "4.00", 4000}, {position, "20", 20000},
            {position, "12.345", 12345}, {position, "20.001", -1}, {position, "4.0001", -1}, {position, "-1", -1},
            {position, "4.", -1}, {position, "4,5", -1}, {interval, "Overtime A   300", 300}, {interval, "Overtime A 300ms", 300},
            {interval, "Overtime A x    ", 0}, {interval, "Overtime A 0050099999", 500}, {interval, "Overtime A 99999", 65535},
            {interval, "Overtime A -500", 0}, {interval, "Overtime A 2.5  ", 2}, {interval, "Overtime A1  300", 300},
            {port, "0", -1}, {port, "9", 8}, {port, "10", -1}, {port, "2.5", 2}, {port, "3.5", 2}, {port, "0.5", 0}, {port, "abc", -1}};
        for (const auto &c : cases)
            QVERIFY2(c.read(QString::fromLatin1(c.text)) == c.value, c.text);
        bool clamped = false, exact = true;
        intervalFromLine(QStringLiteral("Overtime A 99999"), &clamped);
        intervalFromLine(QStringLiteral("Overtime A 65535"), &exact);
        QVERIFY(clamped && !exact);
    }

    void models()
    {
        QCOMPARE(modelTable().size(), 11);
        for (int i = 0; i < 11; ++i) {
            const ModelRow &r = modelTable()[i];
            QVERIFY(findModel(r.name) == &r && !findModel(r.name.toLower()));
            QCOMPARE(r.name + ' ' + describe(r), QString::fromLatin1(kModelLines[i].name) + ' ' + QString::fromUtf8(kModelLines[i].row));
        }
    }

    void setRc()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("set.rc"));
        const auto read = [&path] {
            const SerialChoice c = readSetRc(path);
            return c.port + '|' + c.baud + '|' + c.parity;
        };
        QCOMPARE(read(), QStringLiteral("1|9600|None")); // missing: the defaults
        const SerialChoice c{QStringLiteral("0"), QStringLiteral("1234x"), QStringLiteral("Even")}; // kept as typed
        QString error;
        QVERIFY(writeSetRc(path, c, &error)); // the bytes written are test_busfinder's
        QCOMPARE(read(), QStringLiteral("0|1234x|Even"));
        // Damaged files: LF or CR alone, a NUL byte, a line longer than any the tool writes.
        const std::pair<QByteArray, const char *> damaged[] = {{"3\n", "2|9600|None"}, {"4\r19200\r\nEven\r\nextra\r\n", "3|19200|Even"},
            {QByteArray("2\0\r\n38400\rOdd", 13), "1|38400|Odd"}, {QByteArray(300, '7') + "\r\n4800\r\n", "-1|4800|None"}};
        for (const auto &[bytes, choice] : damaged) {
            QVERIFY(writeFile(path, bytes));
            const SerialChoice c = readSetRc(path);
            QCOMPARE(QStringLiteral("%1|%2|%3").arg(portIndexFromLine(c.port)).arg(c.baud, c.parity), QString::fromLatin1(choice));
        }
        // A folder where set.rc should be: read as missing, the write fails, says why and leaves it alone.
        const QString folder = dir.filePath(QStringLiteral("dir.rc"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir.rc")));
        QCOMPARE(readSetRc(folder).port, QStringLiteral("1"));
        QVERIFY(!writeSetRc(folder, c, &error) && !error.isEmpty() && QFileInfo(folder).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("set.rc")}); // no temporary left by either write
        // Lines end at CR, LF or both; no more lines than asked for, none longer than the width; bytes as Latin-1.
        QCOMPARE(splitSettingsLines("a\r\nb\rc\nd", 10), (QStringList{"a", "b", "c", "d"}));
        QCOMPARE(splitSettingsLines("a\r\n\r\nb", 10), (QStringList{"a", "", "b"}));
        QCOMPARE(splitSettingsLines("a\nb\nc", 2), (QStringList{"a", "b"}));
        QCOMPARE(splitSettingsLines(QByteArray(1000, 'y'), 1, 16).first().size(), 16);
        QCOMPARE(splitSettingsLines("\xB5", 1).first(), QString(QChar(0xB5)));
        const QString tmPath = dir.filePath(QStringLiteral("tm.rc"));
        QByteArray text;
        for (int i = 1; i <= 22; ++i) // line 7 gives 0, line 9 too much
            text += QStringLiteral("Line %1").arg(i, -6).toLatin1()
                    + QByteArray::number(i == 7 ? 0 : i == 9 ? 99999 : i * 10).rightJustified(5) + "\r\n";
        QVERIFY(writeFile(tmPath, text));
        TimingFile t = readTmRc(tmPath);
        QVERIFY(t.complete() && t.usable(1) && !t.usable(7) && !t.usable(9) && t.usable(20));
        QCOMPARE(t.intervals, (QList<int>{10, 20, 30, 40, 50, 60, 0, 80, 65535, 100, 110, 120, 130, 140, 150, 160, 170, 180, 190, 200}));
        // Short files: the lines read, then 0. CR alone ends a line; a NUL byte ends the text; a line
        // longer than 256 characters is cut.
        const std::pair<QByteArray, QList<int>> cut[] = {{"Line 1      300\r\nLine 2      500\r\n", {300, 500, 0}},
            {"Line 1      300\rLine 2      500\r", {300, 500, 0}},
            {QByteArray("Line 1      300\r\nLine 2 \0    500\r\nLine 3      700\r\n", 51), {300, 0, 0}},
            {QByteArray(300, ' ') + "900\nLine 2      500", {0, 500, 0}}};
        for (const auto &[bytes, intervals] : cut) {
            QVERIFY(writeFile(tmPath, bytes));
            t = readTmRc(tmPath);
            QVERIFY(!t.complete());
            QCOMPARE(t.intervals.mid(0, t.linesRead + 1), intervals);
        }
    }

    // Counts per verdict, the retries and the response times of runs, as korvant-cli prints them
    // (and the last in JSON).
    void statistics()
    {
        const Refusal ok = Refusal::None, none = Refusal::NoReply;
        using Exchange = std::pair<Refusal, double>; // the verdict and the response time; -1: nothing came back
        const struct { QVector<Exchange> run; int retries; const char *expected; } runs[] = {
            {{}, 0, "requests 0  ok 0  timeout 0  bad_crc 0  short 0  long 0  other_address 0  other_function 0  exception 0  retries 0|success 0.0%|response ms  -"},
            // Refused replies that brought bytes count in the times; time-outs do not, not even
            // with the time of the echo that came alone.
            {{{ok, 5.0}, {none, 8.55}, {Refusal::BadCrc, 5.05}, {Refusal::Short, 3.0}, {Refusal::Long, 6.0},
              {Refusal::OtherAddress, 4.0}, {Refusal::OtherFunction, 4.0}, {Refusal::Exception, 2.0}}, 0,
             "requests 8  ok 1  timeout 1  bad_crc 1  short 1  long 1  other_address 1  other_function 1  exception 1  retries 0|success 12.5%|"
             "response ms  min 2.00  median 4.0  p99 6.00  max 6.00"},
            // Beyond the histogram's ten seconds a reply shares the last bin, no lower than the
            // minimum; the maximum stays exact.
            {{{ok, 12000.0}, {ok, 15000.0}}, 0, "requests 2  ok 2  timeout 0  bad_crc 0  short 0  long 0  other_address 0  other_function 0  exception 0  retries 0|success 100.0%|"
             "response ms  min 12000.00  median 12000.00  p99 12000.00  max 15000.00"},
            // The median's bin begins at 12.3, below the minimum: held to it, printed as it is.
            {{{ok, 12.34}, {Refusal::BadCrc, 14.56}, {none, -1}}, 2, "requests 3  ok 1  timeout 1  bad_crc 1  short 0  long 0  other_address 0  other_function 0  exception 0  retries 2|success 33.3%|"
             "response ms  min 12.34  median 12.34  p99 14.5  max 14.56"}};
        TrafficStatistics s;
        for (const auto &r : runs) {
            s = {};
            for (const auto &[refusal, ms] : r.run)
                s.add(refusal, ms);
            QCOMPARE(statisticsLines(s, r.retries).join(QLatin1Char('|')), QString::fromUtf8(r.expected));
        }
        QCOMPARE(jsonLine(statisticsJson(s, 2)),
                 QStringLiteral(R"({"bad_crc":1,"exception":0,"long":0,"ok":1,"other_address":0,"other_function":0,"requests":3,)"
                                R"("response_ms_max":14.56,"response_ms_median":12.34,"response_ms_min":12.34,"response_ms_p99":14.5,)"
                                R"("retries":2,"short":0,"success_pct":33.3,"timeout":1})"));
        // The median and p99 after each of 1,000 replies, against the rule written out: the reply of
        // nearest rank (ceil(p% of n), from 1), its time cut to the 0.1 ms, no lower than the minimum.
        // Times on a 0.01 ms grid, so the expectation needs no floating point; then every time of the
        // grid in its own bin.
        TrafficStatistics every;
        std::vector<int> sorted;
        std::uint32_t x = 20240611;
        for (int n = 1; n <= 1000; ++n) {
            x = x * 1103515245u + 12345u;
            const int t = int(x >> 8) % (n % 3 ? 3000 : 60000);
            every.add(Refusal::None, t / 100.0);
            sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), t), t);
            for (const int p : {50, 99}) {
                const int at = sorted[std::size_t(std::max(1, (p * n + 99) / 100) - 1)];
                QVERIFY2(qRound(*every.percentileMs(p) * 100) == std::max(at / 10 * 10, sorted.front()),
                         qPrintable(QStringLiteral("p%1 of %2").arg(p).arg(n)));
            }
            QVERIFY(*every.minMs() == sorted.front() / 100.0 && *every.maxMs() == sorted.back() / 100.0);
        }
        TrafficStatistics grid;
        for (int h = 0; h <= 3000; ++h) {
            grid.add(Refusal::None, h / 100.0);
            QCOMPARE(QString::number(*grid.percentileMs(100), 'f', 1), QStringLiteral("%1.%2").arg(h / 100).arg(h / 10 % 10));
        }
    }

    // A window's rows: each request, its reply with verdict and response time, bytes nobody
    // asked for as rows of their own, each stamped when its last byte came (a time-out's when it
    // was judged); the bound drops the oldest rows, the statistics keep all.
    // The bytes come as a serial port reads them, in a 32 kB block; a row keeps only its bytes.
    void recorderRows()
    {
        TrafficRecorder r(4);
        const auto read32k = [](const char *hexText) { QByteArray b; b.reserve(32768); return b += QByteArray::fromHex(hexText); };
        const QByteArray read = QByteArray::fromHex("01020000000879CC");
        r.sent(read, 1000, 10'000'000, QStringLiteral("9600,Even"));
        r.received(read32k("010201"), 1003, 13'000'000);
        r.received(read32k("05618B"), 1004, 14'500'000);
        r.judged(judgeReply(QByteArray::fromHex("01020105618B"), read, 6), 1040, 50'000'000);
        r.received(read32k("A5A5"), 1050, 60'000'000); // nobody waits: unsolicited
        r.sent(read, 1100, 110'000'000);
        r.judged(judgeReply({}, read, 6), 1140, 150'000'000);
        QCOMPARE(QStringLiteral("%1..%2").arg(r.firstRow()).arg(r.nextRow()), QStringLiteral("1..5")); // the rows kept: 4
        QStringList seen;
        for (const TrafficRow &row : r.rows()) {
            seen << QStringLiteral("%1 %2 %3 %4 %5 %6 %7").arg(row.direction(), HexText(row.bytes).trimmed(), row.verdictText())
                        .arg(row.responseMs).arg(double(row.sinceFirstNs) / 1e6).arg(row.wallMs).arg(row.isError());
            QCOMPARE_LT(row.bytes.capacity(), 256);
        }
        QCOMPARE(seen, (QStringList{"RX 01 02 01 05 61 8B OK 4.5 4.5 1004 0", "RX A5 A5 unsolicited -1 50 1050 1",
                                    "TX 01 02 00 00 00 08 79 CC  -1 100 1100 0", "RX  time-out (no byte) -1 140 1140 1"}));
        QCOMPARE(r.rows().front().tag, QStringLiteral("9600,Even"));
        QCOMPARE(statisticsLine(r.statistics()),
                 QStringLiteral("requests 2 · OK 1 · time-out (no byte) 1 · success 50.0 % · response ms min 4.5 / median 4.5 / p99 4.5 / max 4.5"));
        // Exceptions are counted under one name, whatever their code; short replies under theirs.
        TrafficStatistics refused;
        for (const Refusal why : {Refusal::Exception, Refusal::Short, Refusal::Exception})
            refused.add(why, -1);
        QCOMPARE(statisticsLine(refused), QStringLiteral("requests 3 · OK 0 · short 1 · exception 2 · success 0.0 %"));
        QVERIFY(TrafficRow({.kind = TrafficRow::Reply, .verdict = judgeReply(withCrc(hex("018206")), read, 6)}).isError()); // as the monitor marks it
        QCOMPARE(trafficLogLine(QStringLiteral("KV5510ADAM"), r.rows().front()).section(QLatin1Char('\t'), 1),
                 QStringLiteral("KV5510ADAM\tRX\t01 02 01 05 61 8B\tOK"));
        r.reset();
        QVERIFY(r.rows().empty() && r.statistics().requests() == 0);

        // On a line that echoes: the echo a row of its own before the reply's, whose time still runs
        // to its last byte; the echo alone is no reply and has no time.
        r.setCapacity(10);
        Exchange x(read);
        for (const QByteArray &came : {read + QByteArray::fromHex("01020105618B"), read}) {
            r.sent(read, 0, 0);
            r.received(came.left(5), 5, 5'000'000);
            r.received(came.mid(5, 5), 8, 8'000'000); // the echo's end and the reply's first two bytes
            r.received(came.mid(10), 12, 12'000'000);
            x.judge(came);
            r.judged(x.verdict, 20, 20'000'000, x.echo.size());
        }
        seen.clear();
        for (const TrafficRow &row : r.rows())
            seen << QStringLiteral("%1 %2 %3 %4 %5").arg(row.direction(), HexText(row.bytes).trimmed(), row.verdictText())
                        .arg(row.responseMs).arg(row.wallMs);
        QCOMPARE(seen.mid(1, 2), (QStringList{"RX 01 02 00 00 00 08 79 CC echo -1 8", "RX 01 02 01 05 61 8B OK 12 12"}));
        QCOMPARE(seen.mid(4), (QStringList{"RX 01 02 00 00 00 08 79 CC echo -1 8", "RX  time-out (no byte), echo only -1 20"}));
        QVERIFY(!r.rows()[1].isError());
    }

    // The cycle and the scan.
    // A cycle clicked at 0 (and again at stop, 0: never), run to until. Stopped with a request out:
    // its reply is judged all the same, but digital inputs change only while their cycle runs. A
    // reply overdue past the period is judged before the next tick. The click itself tests nothing;
    // the first tick stops the cycle with one message.
    void cyclesClickedAndRun()
    {
        const QString rd = "send " + kReadFrame, ra = QStringLiteral("send 010300000006c5c8");
        const auto refused = [](const QString &why) { return QStringList{"0 caption 0 Stop", "100 caption 0 Acquisition", "100 prompt " + why}; };
        const struct { AcquisitionCycle::Read read; bool portOpen; const char *address; int readTimeout, stop, until; QStringList log; } cases[] = {
            {kDigital, true, "1", 40, 220, 1000, {"0 caption 0 Stop", "100 " + rd, "140 judged ok decode", "200 " + rd, "220 caption 0 Acquisition", "240 judged ok"}},
            {kAnalog, true, "1", 40, 220, 1000, {"0 caption 0 Stop", "100 " + ra, "140 judged ok decode", "200 " + ra, "220 caption 0 Acquisition", "240 judged ok decode"}},
            {kDigital, true, "1", 150, 0, 200, {"0 caption 0 Stop", "100 " + rd, "200 judged ok decode", "200 " + rd}}, // longer than the period
            {kDigital, false, "1", 40, 0, 1000, refused(kPleaseOpen)}, {kDigital, true, "", 40, 0, 1000, refused(kNoAddress)},
            {kAnalog, true, "", 40, 0, 1000, refused(kNoAnalogAddress)}, {kDigital, true, "256", 40, 0, 1000, refused(kAddressRange)},
            {kAnalog, true, "abc", 40, 0, 1000, refused(kAddressRange)}};
        for (const auto &c : cases) {
            Window w({c.read});
            w.clock.setInterval({TimerRef::ReadTimeout, 0}, c.readTimeout);
            w.portOpen = c.portOpen;
            w.address = QString::fromLatin1(c.address);
            w.click(0);
            w.run(c.stop ? c.stop : c.until);
            if (c.stop) {
                w.click(0);
                w.run(c.until);
            }
            QCOMPARE(w.log(), c.log);
            QCOMPARE(w.m.enabled({TimerRef::Acquisition, 0}), c.until == 200);
        }
    }

    // A Validate at 150 (or at); the log from there to the first read after the write.
    void writeSuspendsAndResumes()
    {
        const QString rd = "send " + kReadFrame, wr = "send " + kWriteFrame;
        const struct { bool acquiring, stopDuringWrite; const char *address; bool portOpen; QStringList log; int at = 150; } cases[] = {
            {true, false, "1", true, {"150 pause 300", "450 " + wr, "500 judged ok", "600 " + rd}},
            // Before the read's time-out: the write's echo is no reply to the read.
            {true, false, "1", true, {"110 pause 300", "410 " + wr, "140 judged long", "460 judged ok", "560 " + rd}, 110},
            {true, true, "1", true, {"150 pause 300", "450 " + wr, "460 caption 0 Acquisition", "500 judged ok"}},
            {true, false, "x", true, {"150 pause 300", "450 prompt " + kAddressRange, "550 " + rd}},
            {true, false, "1", false, {"150 pause 300", "450 caption 0 Acquisition", "450 prompt " + kPleaseOpen}}};
        for (const auto &c : cases) {
            Window w({kDigital});
            if (c.acquiring)
                w.click(0);
            w.run(c.at);
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
        QVERIFY(w.m.enabled({TimerRef::Acquisition, 0}) && !w.m.enabled({TimerRef::Acquisition, 1}) && w.m.suspended() == 0);
        w.validate(); // suspends the analog one
        w.clock.apply(w.m.lineLost());
        QVERIFY(!w.m.acquiring(0) && !w.m.acquiring(1) && w.m.suspended() == 0);
        w.run(4000);
        QVERIFY(!w.m.enabled({TimerRef::Acquisition, 0}));
    }

    void scanEnds()
    {
        // Nothing answers: eight steps in code order, then idle at step 0.
        Scan none;
        none.click().run(5000);
        QCOMPARE(none.clock.reopens, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(none.clock.log.filter("judged time-out (no byte)").size(), 8);
        QVERIFY(none.idle());
        // "Stop" pauses where the scan is; "Read" goes on from there.
        Scan paused;
        paused.click().run(460).click();
        QCOMPARE(paused.m.step(), 3);
        paused.run(2000).click().run(2160);
        QCOMPARE(paused.clock.reopens, (QList<int>{0, 1, 2, 3}));
        // A port the user closed ('c'), one that will not reopen ('u', nothing sent), or one closed
        // behind the scan's back ('b': at the next tick, without a reopen) ends the scan.
        for (const auto &[how, at, reopens] : {std::tuple{'c', 320, 2}, {'u', 0, 1}, {'b', 200, 1}}) {
            Scan s;
            s.reopenWorks = how != 'u';
            s.click().run(at).portOpen = how != 'b';
            if (how == 'c')
                s.clock.apply(s.m.portClosed());
            s.run(2000);
            QVERIFY2(s.clock.reopens.size() == reopens && (how == 'u' ? !s.m.scanning() && s.clock.log.filter("send").isEmpty() : s.idle()),
                     qPrintable(QString(QLatin1Char(how))));
        }
        // "Read" on a closed port only says so.
        QCOMPARE(Scan().click(false).clock.log, QStringList{"0 prompt " + kPleaseOpen});
        // The address write (no parameters), else the parameter write.
        const struct { bool address; const char *addressText, *parameters; QString expected; } cases[] = {
            {true, "7", "", "send 0006006400078806"}, {true, "", "", "prompt " + kNoAddress},
            {true, "300", "", "prompt " + kAddressRange}, {false, "1", "19200,Even,8,1", "send 010600650007d817"},
            {false, "1", "9600", "prompt " + kNotValid}, {false, "1", "9600,even,8,1", "prompt " + kNotValid},
            {false, "", "9600,None,8,1", "prompt " + kNoAddress}};
        for (const auto &c : cases) {
            Scan s;
            const BoxAddress address = addressFromBox(QString::fromLatin1(c.addressText), kAddressNotSelected);
            s.clock.apply(c.address ? s.m.writeAddress(true, address) : s.m.writeParameters(true, address, c.parameters));
            QCOMPARE(s.clock.log, QStringList{"0 " + c.expected});
            QCOMPARE(s.m.enabled({TimerRef::WriteTimeout, 0}), c.expected.startsWith("send"));
        }
    }

    // On a line that echoes: a read learns it and its panel gets the reply after the echo, then a
    // coil write and a single-register write are judged after the echo; while it is unknown, each
    // write answered after its echo teaches it too. The scan decodes the module after the echo.
    void echoingLine()
    {
        const QString rd = "send " + kReadFrame, coil = "send " + kWriteFrame, reg = QStringLiteral("send 010600000fa08c42");
        const struct { bool read, singleRegister, silent; QStringList log; } cases[] = {
            {true, false, false, {"100 " + rd, "140 judged ok decode after echo", "150 " + coil, "200 judged ok after echo"}},
            {true, true, false, {"100 " + rd, "140 judged ok decode after echo", "150 " + reg, "200 judged ok after echo"}},
            {true, true, true, {"100 " + rd, "140 judged ok decode after echo", "150 " + reg, "200 judged time-out (no byte), echo only after echo"}},
            {false, true, false, {"150 " + reg, "200 judged ok after echo"}}};
        for (const auto &c : cases) {
            Window w({kDigital});
            w.clock.echo = true;
            if (c.read) {
                w.click(0);
                w.run(140);
                QCOMPARE(w.clock.reply, answer(hex("01020000000879CC")));
                w.click(0);
            }
            w.run(150);
            QCOMPARE(w.clock.echoKnown, c.read);
            if (c.silent)
                w.clock.module = {};
            w.validate(c.singleRegister);
            w.run(200);
            QCOMPARE(w.log().filter(QRegularExpression("^\\d+ (send|judged)")), c.log);
            QVERIFY(w.clock.echoKnown);
        }
        Scan s;
        s.clock.echo = true;
        s.clock.module = [](const QByteArray &) { return hex("0003060001000215863FD7"); };
        s.click().run(300);
        QCOMPARE(s.m.found().model, std::uint16_t(5510));
        QVERIFY(s.clock.echoKnown && s.clock.log.contains("270 judged ok decode after echo"));
    }

    // korvant-cli.
    // The arguments after the program's name, split at blanks, and what they parse to.
    void commandLine()
    {
        const std::pair<const char *, const char *> cases[] = {
            {"scan", "scan COM1 9600,N,8,1 a1 t0"}, {"ports --json", "ports COM1 9600,N,8,1 a1 t0 json"},
            {"read KV5510ADAM --port /dev/ttyUSB0 --address 255", "read KV5510ADAM /dev/ttyUSB0 9600,N,8,1 a255 t0"},
            {"--baud 19200 --parity Even read kv1730adam -q", "read KV1730ADAM COM1 19200,E,8,1 a1 t0 quiet"},
            {"read 7710 --timeout=250 --parity=o", "read KV7710ADAM COM1 9600,O,8,1 a1 t250"},
            {"read nonsense --help", "help"}, {"read nonsense --version", "version"},
            {"write KV5550ADAM --on 1,3", "write KV5550ADAM COM1 9600,N,8,1 a1 t0 on=1,3"},
            {"write KV5510ADAM --on none", "write KV5510ADAM COM1 9600,N,8,1 a1 t0 on="},
            {"write KV1720ADAM --ma 4.00", "write KV1720ADAM COM1 9600,N,8,1 a1 t0 ma=4000"},
            {"set-address 5", "set-address 5 COM1 9600,N,8,1 a1 t0"},
            {"set-comm 19200,Even,8,1 --address 5", "set-comm 19200,Even,8,1 COM1 9600,N,8,1 a5 t0"},
            {"poll 5510", "poll KV5510ADAM COM1 9600,N,8,1 a1 t0 period=500 count=0"},
            {"--json poll KV1730ADAM --period 100 --count 7 --baud 38400 --csv v.csv", "poll KV1730ADAM COM1 38400,N,8,1 a1 t0 json period=100 count=7 csv=v.csv"},
            {"survey --from 3", "survey COM1 9600,N,8,1 a1 t0 3..254"}, {"survey --to 255", "survey COM1 9600,N,8,1 a1 t0 1..255"},
            {"poll 5540", "error: KV5540ADAM has no inputs to read"},
            {"read 5510 --csv v.csv", "error: --csv belongs to poll, site and checkout"},
            {"site poll s.kvsite --sweep", "error: --sweep belongs to site check"}, {"checkout report", "error: checkout takes report and a journal"},
            {"checkout list j --csv c", "error: checkout \"list\" is not report"}, {"read 5510 --pdf r", "error: --pdf and --html belong to checkout"},
            {"checkout report j", "error: checkout report writes --pdf, --html or --csv: give one"},
            {"checkout report j --pdf p --html h", "checkout report COM1 9600,N,8,1 a1 t0 j pdf=p html=h csv="},
            {"checkout report j --csv c", "checkout report COM1 9600,N,8,1 a1 t0 j pdf= html= csv=c"},
            {"scan --from 3", "error: --from and --to belong to survey, find and site"},
            {"find", "find COM1 9600,N,8,1 a1 t0 1..254 codes=1,2,3,4,5,6,7,8 turnaround=20"},
            {"find --codes 7,2,7 --to 40 --turnaround 5", "find COM1 9600,N,8,1 a1 t0 1..40 codes=2,7 turnaround=5"},
            {"find --codes 9", "error: --codes \"9\" is not a list of codes 1..8"},
            {"survey --codes 2", "error: --codes and --turnaround belong to find and site"},
            {"set-address 5 --to-address 9 --address 3", "set-address 5 COM1 9600,N,8,1 a3 t0 to=9"},
            {"set-address 5 --to-address 1", "set-address 5 COM1 9600,N,8,1 a1 t0 to=1"},
            {"set-comm 9600,None,8,1 --to-address 9", "error: --to-address belongs to set-address"},
            {"survey --from 9 --to 8", "error: --from 9 lies above --to 8"},
            {"--port COM2", "error: no subcommand given"},
            {"reed", "error: unknown subcommand \"reed\""}, {"scan --bogus", "error: Unknown option 'bogus'."},
            {"read", "error: read takes one argument"}, {"scan 1", "error: scan takes no argument"},
            {"read KV9999ADAM", "error: unknown model \"KV9999ADAM\""},
            {"scan --baud 96OO", "error: baud rate \"96OO\" is not 4800, 9600, 19200 or 38400"},
            {"scan --parity X", "error: parity \"X\" is not None, Even or Odd"},
            {"read 5510 --address 256", "error: address \"256\" is not a list of addresses 0..255 (1,3,5-7)"},
            {"write 5510 --address +1", "error: address \"+1\" is not 0..255"},
            {"poll 5510 --address 3,1-2,3 --retries 2", "poll KV5510ADAM COM1 9600,N,8,1 a3 t0 addresses=3,1,2 retries=2 period=500 count=0"},
            {"read 5510 --address 5-4", "error: address \"5-4\" is not a list of addresses 0..255 (1,3,5-7)"},
            {"write 5510 --address 1,2 --on 1", "error: address \"1,2\" is not 0..255"},
            {"scan --retries 1", "error: --retries belongs to read, write and poll"},
            {"raw 01:03:0064 --no-crc", "raw COM1 9600,N,8,1 a1 t0 frame=01030064 no-crc"},
            {"raw 0", "error: frame \"0\" is not 1 to 254 bytes in hex"}, {"raw 0g", "error: frame \"0g\" is not 1 to 254 bytes in hex"},
            {"scan --no-crc", "error: --no-crc belongs to raw"},
            {"read 5510 --on 1", "error: --on and --ma belong to write"},
            {"write 5510", "error: KV5510ADAM has digital outputs: write them with --on LIST"},
            {"write 5510 --on 1,5", "error: --on \"1,5\" is not a list of outputs 1..4"},
            {"write 5530 --on 1", "error: KV5530ADAM has no outputs"},
            {"write 1720 --on 1", "error: KV1720ADAM has an analog output: write it with --ma MA"},
            {"write 1720 --ma 20.001", "error: current \"20.001\" is not 0 to 20 mA with at most three decimals"},
            {"set-address 256", "error: new address \"256\" is not 0..255"},
            {"set-comm 9600,even,8,1", "error: \"9600,even,8,1\" is not one of the eight communication parameters"},
        };
        for (const auto &[args, parsed] : cases) {
            const QStringList argv = QString::fromLatin1(args).split(QLatin1Char(' '));
            QCOMPARE(summary(parseCommandLine(QStringList{QStringLiteral("korvant-cli")} + argv)), QString::fromUtf8(parsed));
        }
    }

    // The tables walked: every subcommand and option is in the help and completes (a subcommand
    // as the first word, an option before any); the options offered after each subcommand.
    void cliTablesInHelpAndCompletion()
    {
        QFile in(QStringLiteral(KORVANT_SOURCE_DIR "/packaging/korvant-cli.bash-completion.in"));
        QVERIFY(in.open(QIODevice::ReadOnly));
        const std::pair<const char *, const char *> offered[] = {
            {"scan", "--json --port --quiet --timeout"},
            {"read", "--address --baud --echo --json --parity --port --quiet --retries --timeout"},
            {"write", "--address --baud --echo --json --ma --on --parity --port --quiet --retries --timeout"},
            {"set-address", "--baud --echo --json --parity --port --quiet --timeout --to-address"},
            {"set-comm", "--address --baud --echo --json --parity --port --quiet --timeout"},
            {"poll", "--address --baud --count --csv --echo --json --parity --period --port --quiet --retries --timeout"},
            {"survey", "--baud --echo --from --json --parity --port --quiet --timeout --to"},
            {"ports", "--json"},
            {"find", "--baud --codes --echo --from --json --parity --port --quiet --timeout --to --turnaround"},
            {"raw", "--baud --echo --json --no-crc --parity --port --quiet --timeout"},
            {"doctor", "--echo --json --port --quiet --timeout"},
            {"site", "--codes --count --csv --echo --from --json --period --port --quiet --sweep --timeout --to --turnaround"},
            {"checkout", "--csv --html --pdf"}};
        // What the completion offers for the last of the words, sorted, a line each.
        QString script = bashCompletion(QString::fromUtf8(in.readAll()))
                         + QStringLiteral("\nc() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _korvant_cli; "
                                          "printf '%s\\n' \"${COMPREPLY[*]}\" | tr ' ' '\\n' | sort | xargs; }\nc korvant-cli ''\nc korvant-cli -\n");
        for (const auto &[sub, options] : offered)
            script += QStringLiteral("c korvant-cli %1 x -\n").arg(QLatin1String(sub));
        QProcess bash;
        bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
        QVERIFY(bash.waitForFinished(30000));
        const QStringList completed = QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(completed.size(), qsizetype(std::size(offered)) + 3);
        for (qsizetype i = 0; i < qsizetype(std::size(offered)); ++i)
            QCOMPARE(completed[i + 2], QLatin1String(offered[i].second));
        QCOMPARE(cliSubcommands().size(), std::size(offered));
        // Each named where a usage line or the option list begins: the text a blank or two after it.
        QString named;
        for (const QString &line : helpText().split('\n'))
            named += line.startsWith(QLatin1String("  ")) && line[2] != ' ' ? line.mid(2).section(QStringLiteral("  "), 0, 0) + '\n' : QString();
        QCOMPARE(named.count(QRegularExpression(QStringLiteral("^[^-]"), QRegularExpression::MultilineOption)), 17); // usage lines
        QVERIFY(helpText().contains("\n  write MODEL --on LIST\n                        switch on the outputs listed")
                && helpText().contains("\n  raw HEX [--no-crc]    send the frame") && helpText().contains("\n  --from A, --to B survey, find:"));
        for (const SubcommandSpec &sub : cliSubcommands()) {
            QVERIFY2(completed[0].split(' ').contains(QLatin1String(sub.name)), sub.name);
            QVERIFY2(named.contains(QRegularExpression(QStringLiteral("^%1( |$)").arg(QLatin1String(sub.name)), QRegularExpression::MultilineOption)), sub.name);
        }
        for (const OptionSpec &option : cliOptions()) {
            QVERIFY2(completed[1].split(' ').contains(QLatin1String("--") + QLatin1String(option.name)), option.name);
            QVERIFY2(named.contains(QRegularExpression(QStringLiteral("--%1(?![\\w-])").arg(QLatin1String(option.name)))), option.name);
        }
        // The model lists of the help texts: a word that ends at the width stays, one column more and
        // it begins the next line.
        for (const auto &[width, wrapped] : {std::pair{8, "x: ab cd\n  ef"}, {7, "x: ab\n  cd ef"}})
            QCOMPARE(wrapWords(QStringLiteral("x:"), {"ab", "cd", "ef"}, QStringLiteral("  "), width), QLatin1String(wrapped));
    }

    // Each whole-number option's bounds: taken, and one past each refused with the range that the
    // option's line of the help gives too.
    void rangeBounds()
    {
        const struct { const char *args, *option, *what; int low, high; const char *unit; } cases[] = {
            {"scan", "address", "address", 0, 255, ""}, {"read 5510", "retries", "--retries", 0, 100, ""},
            {"scan", "timeout", "time-out", 1, 60000, " ms"}, {"poll 5510", "period", "period", 1, 3600000, " ms"},
            {"poll 5510", "count", "count", 1, 100000000, ""}, {"survey --to 255", "from", "--from", 1, 255, ""},
            {"survey", "to", "--to", 1, 255, ""}, {"find", "turnaround", "--turnaround", 0, 10000, " ms"},
            {"set-address 5", "to-address", "--to-address", 1, 255, ""}};
        const auto parse = [](const char *args, const QString &option, int value) {
            return parseCommandLine(QStringList{"korvant-cli", "--" + option, QString::number(value)} + QString::fromLatin1(args).split(' ')).error;
        };
        for (const auto &c : cases) {
            const QString range = QStringLiteral("%1..%2").arg(c.low).arg(c.high), option = QLatin1String(c.option);
            QVERIFY2(parse(c.args, option, c.low).isEmpty() && parse(c.args, option, c.high).isEmpty(), c.option);
            for (const int refused : {c.low - 1, c.high + 1})
                QCOMPARE(parse(c.args, option, refused), QStringLiteral("%1 \"%2\" is not %3%4").arg(QLatin1String(c.what)).arg(refused).arg(range, QLatin1String(c.unit)));
            // The option's own paragraph: named in the options column, and the lines indented below.
            const QRegularExpression paragraph(QStringLiteral("\n  [^\n]{0,16}--%1 [^\n]*(\n {19}[^\n]*)*").arg(option));
            QVERIFY2(paragraph.match(helpText().section(QStringLiteral("\nOptions:"), 1)).captured().contains(range), c.option);
        }
        // Mixed results: the worst wins, as the help says.
        for (const auto &[a, b, worst] : {std::array{3, 8, 3}, {8, 3, 3}, {8, 5, 8}, {5, 8, 8}, {4, 8, 8}, {0, 8, 8}})
            QCOMPARE(worstStatus(a, b), worst);
        QVERIFY(helpText().contains(QLatin1String(", 8 not every value was logged (")));
        QVERIFY(helpText().contains(QLatin1String(" the worst wins: 3, then 8, then 5, then 4.\n")));
    }

    // What a port name stands for, looked up in the working folder each time it is asked.
    void ports()
    {
        QTemporaryDir dir;
        const QString was = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()) && QDir().mkdir(QStringLiteral("sys")));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), QStringLiteral("sys/COM2")) && QFile::link("/dev/zero", "sys/COM9"));
        QVERIFY(writeFile(QStringLiteral("sys/COM3"), " tcp://[::1]:502\r\nmore\r\n") && writeFile(QStringLiteral("sys/COM4"), "mbap://10.0.0.5\n"));
        const struct { const char *port, *name; } cases[] = {
            {"COM2", "/dev/null"}, {"com3", "tcp://::1:502"}, {"tcp://host:5020", "tcp://host:5020"},
            {"COM4", "mbap://10.0.0.5:502"}, {"mbap://[::1]", "mbap://::1:502"}, {"mbap://gw:1502", "mbap://gw:1502"},
            {"mbap://", "mbap://"}, {"tcp://host", "tcp://host"}, {"mbap://gw:0", "mbap://gw:0"},
            {"/dev/ttyUSB7", "/dev/ttyUSB7"}, {"COM10", "COM10"}, {"COM0", "COM0"}, {"tcp://host:0", "tcp://host:0"},
            // No sys/COM5: the fifth USB adapter where one is plugged in, else the fifth PC port.
            {"COM5", QFileInfo::exists("/dev/ttyUSB4") ? "/dev/ttyUSB4" : "/dev/ttyS4"}};
        for (const auto &c : cases)
            QCOMPARE(resolvePort(QString::fromLatin1(c.port)).name(), QString::fromLatin1(c.name));
        QVERIFY(resolvePort(4).framing() == FramingKind::Mbap && resolvePort(3).framing() == FramingKind::Rtu
                && resolvePort(QStringLiteral("/dev/ttyUSB0")).framing() == FramingKind::Rtu);
        QVERIFY(resolvePort(8).device.startsWith(QLatin1String("/dev/tty")) && resolvePort(10).device.isEmpty() && resolvePort(0).device.isEmpty());
        // The COM number a module's window opens a site's port by: the one that stands for it.
        const struct { const char *port; int com; } numbers[] = {
            {"com7", 7}, {"/dev/null", 2}, {"/dev/zero", 9}, {"tcp://[::1]:502", 3}, {"mbap://10.0.0.5", 4}, {"tcp://10.0.0.5:502", 0},
            {"mbap://10.0.0.6", 0}, {"/dev/full", 0}, {"/no/such/device", 0}};
        for (const auto &n : numbers)
            QCOMPARE(comNumberFor(QString::fromLatin1(n.port)), n.com);
        // korvant-cli's sys folder: the working folder's sys/ (a folder), else the launcher's.
        QCOMPARE(resolvePort(QStringLiteral("COM2"), dir.filePath(QStringLiteral("none"))).name(), QStringLiteral("/dev/ttyS1"));
        QVERIFY(QDir().mkdir(QStringLiteral("h")) && QFile(QStringLiteral("h/sys")).open(QIODevice::WriteOnly));
        const struct { const char *working, *xdg, *folder; } folders[] = {
            {".", "/x", "./sys"}, {"h", "/x", "/x/korvant/sys"}, {"h", "x", "/home/u/.local/share/korvant/sys"},
            {"none", "", "/home/u/.local/share/korvant/sys"}};
        for (const auto &f : folders)
            QCOMPARE(toolSysFolder(QString::fromLatin1(f.working), QString::fromLatin1(f.xdg), QStringLiteral("/home/u")),
                     QString::fromLatin1(f.folder));
        QVERIFY(QDir::setCurrent(was));
        // Each port and device named once, whatever the reason says.
        const struct { const char *port, *device, *what, *reason, *text; } failures[] = {
            {"COM0", "COM0", "does not exist", "COM0 does not exist", "port COM0 does not exist"},
            {"COM1", "/dev/ttyS0", "cannot be opened", "/dev/ttyS0 may not be opened", "port COM1: /dev/ttyS0 may not be opened"},
            {"/dev/ttyS0", "/dev/ttyS0", "cannot be opened", "/dev/ttyS0 may not be opened", "port /dev/ttyS0 may not be opened"},
            {"tcp://h:1", "tcp://h:1", "cannot be opened", "", "port tcp://h:1 cannot be opened"}};
        for (const auto &f : failures)
            QCOMPARE(portFailureText(f.port, f.device, f.what, f.reason), QString::fromLatin1(f.text));
    }

    void pollLines()
    {
        const ReplyVerdict ok, noReply{Refusal::NoReply};
        const QVector<ChannelValue> channels{{"DI_01", "ON"}, {"DI_02", "OFF"}};
        QCOMPARE(exchangeLine("12:00:01.250", ok, 12.3456, channels),
                 QStringLiteral("12:00:01.250  OK  12.35 ms  DI_01: ON, DI_02: OFF"));
        QCOMPARE(exchangeLine("12:00:01.750", noReply, -1, {}), QStringLiteral("12:00:01.750  time-out (no byte)  -"));
        // The line's clock is QDateTime's local "HH:mm:ss.zzz": around a summer-time change, with a
        // half-hour offset, at a second's first and last millisecond.
        const QByteArray tz = qgetenv("TZ");
        for (const char *zone : {"Europe/Berlin", "Asia/Kolkata", "UTC"}) {
            qputenv("TZ", zone);
            tzset();
            for (const qint64 ms : {1774746000000LL - 1, 1774746000000LL, 1761440400999LL, 1772366400250LL, 5LL})
                QCOMPARE(clockText(ms), QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz")));
        }
        tz.isNull() ? qunsetenv("TZ") : qputenv("TZ", tz);
        tzset();
        // JSON: the response time to the microsecond (the rest of each line is test_e2e's, whose
        // response times are masked).
        const ValueRow off{0, {}, 0, "DI_02", 0, {}, 0, "OFF", true, {}};
        QVERIFY(jsonLine(exchangeJson({3, "KV5510ADAM", 7, 0, ok, 12.3456}, {off}).first()).contains(R"("response_ms":12.346,)"));
    }

    // korvant-cli ports: what is unknown as "-" (null in JSON), a missing node said apart.
    void portLines()
    {
        const SerialPortEntry usb{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_X-if00-port0", "FT232R USB UART", "FTDI", "A5", true, true};
        const SerialPortEntry gone{"/dev/ttyACM0", {}, {}, {}, {}, false, false};
        QCOMPARE(portLine(usb), QStringLiteral("/dev/ttyUSB0  by-id /dev/serial/by-id/usb-FTDI_X-if00-port0  description FT232R USB UART  "
                                               "manufacturer FTDI  serial A5  access yes"));
        QCOMPARE(portLine(gone), QStringLiteral("/dev/ttyACM0  by-id -  description -  manufacturer -  serial -  access no (no device node)"));
        QCOMPARE(jsonLine(portJson(gone)), QStringLiteral(R"({"access":false,"by_id":null,"description":null,"device":"/dev/ttyACM0",)"
                                                         R"("exists":false,"manufacturer":null,"serial":null})"));
        // doctor: each port with its latency timer (none known: "-"), and the advice for a slow one.
        FakeSystem fs; // a USB adapter that names nothing, and a PC port
        fs.usb(1, QStringLiteral("idVendor=0403"), QStringLiteral("ttyUSB0"), "16");
        fs.dir(QStringLiteral("sys/devices/pnp0"));
        fs.link(QStringLiteral("../../../devices/pnp0"), QStringLiteral("sys/class/tty/ttyS0/device"));
        fs.file(QStringLiteral("dev/ttyS0"));
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        CliOptions o;
        o.port.clear(); // no port to try the settings on
        o.sysFolder = QStringLiteral("s");
        Context c(o, outStream, errStream);
        c.devRoot = fs.path(QStringLiteral("dev"));
        c.sysRoot = fs.path(QStringLiteral("sys"));
        QCOMPARE(runDoctor(c), 0);
        QCOMPARE(out.remove(fs.root.path()), QStringLiteral("sys folder s\n/dev/ttyS0  by-id -  description -  manufacturer -  serial -  access yes  latency timer -\n"
                                                         "/dev/ttyUSB0  by-id -  description -  manufacturer -  serial -  access yes  latency timer 16 ms\n"));
        QVERIFY2(err.startsWith("korvant-cli: warning: ttyUSB0: the adapter's latency timer is 16 ms: "), qPrintable(err));
    }

    // find's lines and JSON: what is not known shows "-" or is left out; over a device server
    // (heard at code 0) the baud and parity come from the module's code.
    void findLines()
    {
        FinderRow module{FinderRow::Module, 90, 7, 7710, 3, 15.304, QStringLiteral("n")};
        FinderRow shared{FinderRow::SharedAddress, 17, 0, 0, 2, 25.1, QStringLiteral("shared address?")};
        FinderRow server{FinderRow::Module, 4, 6, 5510, 0, -1, {}};
        FinderRow setting{FinderRow::SettingNote, 0, 0, 0, 5, -1, QStringLiteral("several")};
        QCOMPARE(findLine(module), QStringLiteral("address 90  code 7  baud 19200  parity None  model KV7710ADAM  response 15.30 ms  note n"));
        QCOMPARE(findLine(shared), QStringLiteral("address 17  code -  baud 9600  parity None  model -  response 25.10 ms  note shared address?"));
        QCOMPARE(findLine(server), QStringLiteral("address 4  code 6  baud 9600  parity Even  model KV5510ADAM  response -"));
        QCOMPARE(findLine(setting), QStringLiteral("baud 4800  parity Even  note several"));
        QCOMPARE(jsonLine(findJson(shared)), QStringLiteral(R"({"address":17,"baud":9600,"note":"shared address?","parity":"None","response_ms":25.1})"));
        QCOMPARE(jsonLine(findJson(setting)), QStringLiteral(R"({"baud":4800,"note":"several","parity":"Even"})"));
        QCOMPARE(jsonLine(foundJson({{7, 7, 5550}, LineSettings{19200, 'E'}})),
                 QStringLiteral(R"({"address":7,"baud":19200,"code":7,"model":"KV5550ADAM","parity":"Even"})"));
        // Behind a device server the settings are the code's; a code outside the table has none.
        QCOMPARE(foundLine({{7, 12, 5550}, LineSettings{0, 0}}), QStringLiteral("address 7  code 12  baud -  parity -  model KV5550ADAM"));
        QCOMPARE(jsonLine(foundJson({{7, 12, 5550}, LineSettings{0, 0}})),
                 QStringLiteral(R"({"address":7,"baud":null,"code":12,"model":"KV5550ADAM","parity":null})"));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "test_core.moc"
