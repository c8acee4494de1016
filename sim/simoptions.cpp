#include "simoptions.h"

#include "linesettings.h"
#include "modbus.h"
#include "models.h"

#include <algorithm>

namespace {

std::optional<int> number(const QString &text, int low, int high)
{
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < low || v > high)
        return std::nullopt;
    return v;
}

QString parseModule(const QString &text, SimModuleSetup &setup)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() > 3)
        return QStringLiteral("--module takes MODEL[:ADDRESS[:CODE]], not \"%1\"").arg(text);
    QString model = parts[0].trimmed().toUpper();
    if (const int n = modelNumber(model))
        model = QString::number(n);
    if (model == QLatin1String("GENERIC")) {
        setup.model = 0;
    } else {
        const std::optional<int> m = number(model, 1, 99999);
        if (!m || !SimModule::isKnownModel(*m))
            return QStringLiteral("unknown model \"%1\" (known: %2 generic)").arg(parts[0], modelNumbers().join(u' '));
        setup.model = *m;
    }
    if (parts.size() > 1) {
        const std::optional<int> a = number(parts[1], kFirstModuleAddress, kLastModuleAddress);
        if (!a)
            return QStringLiteral("module address \"%1\" is not 1..254").arg(parts[1]);
        setup.address = *a;
    }
    if (parts.size() > 2) {
        const std::optional<int> c = number(parts[2], kFirstCode, kLastCode);
        if (!c)
            return QStringLiteral("communication-parameter code \"%1\" is not 1..8").arg(parts[2]);
        setup.code = *c;
    }
    return {};
}

QString parseFault(const QString &text, SimFaults &f)
{
    const QString name = text.section(QLatin1Char('='), 0, 0).toLower();
    const QString value = text.section(QLatin1Char('='), 1);
    const bool hasValue = text.contains(QLatin1Char('='));
    if (!hasValue) {
        if (name == QLatin1String("silent")) f.silent = true;
        else if (name == QLatin1String("badcrc")) f.badCrc = true;
        else if (name == QLatin1String("extrabyte")) f.extraByte = true;
        else if (name == QLatin1String("truncate")) f.truncate = true;
        else if (name == QLatin1String("exception")) f.exception = true;
        else if (name == QLatin1String("nowrite")) f.noWrite = true;
        else return QStringLiteral("unknown fault \"%1\"").arg(text);
        return {};
    }
    const std::optional<int> v = number(value, 0, 60000);
    if (!v)
        return QStringLiteral("fault value \"%1\" is not 0..60000").arg(text);
    if (name == QLatin1String("delay")) f.delayMs = *v;
    else if (name == QLatin1String("pieces")) f.pieces = qMax(1, *v);
    else if (name == QLatin1String("gap")) f.pieceGapMs = *v;
    else if (name == QLatin1String("garbage")) f.garbageBytes = qMin(*v, 256);
    else return QStringLiteral("unknown fault \"%1\"").arg(text);
    return {};
}

QString setLatency(const QString &, const QString &value, SimOptions &options)
{
    const std::optional<int> ms = number(value, 1, 255);
    if (!ms)
        return QStringLiteral("--latency \"%1\" is not 1..255 ms").arg(value);
    options.latencyMs = *ms;
    return {};
}

// [HOST:]PORT
QString setTcp(const QString &opt, const QString &value, SimOptions &options)
{
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    const QString host = colon >= 0 ? value.left(colon) : QStringLiteral("127.0.0.1");
    const std::optional<int> p = number(value.mid(colon + 1), 0, 65535);
    if (!p || host.isEmpty())
        return QStringLiteral("%1 \"%2\" is not [HOST:]PORT").arg(opt, value);
    options.mbap = opt == QLatin1String("--mbap");
    options.tcpHost = host;
    options.tcpPort = quint16(*p);
    return {};
}

QString setDir(const QString &, const QString &value, SimOptions &options)
{
    if (value.isEmpty())
        return QStringLiteral("--dir needs a folder");
    options.dir = value;
    return {};
}

QString setPort(const QString &, const QString &value, SimOptions &options)
{
    const std::optional<int> p = number(value, 1, 9);
    if (!p)
        return QStringLiteral("port \"%1\" is not 1..9").arg(value);
    options.port = *p;
    return {};
}

QString addModule(const QString &, const QString &value, SimOptions &options)
{
    SimModuleSetup setup;
    const QString error = parseModule(value, setup);
    if (error.isEmpty())
        options.modules.append(setup);
    return error;
}

// --inputs, --coils, --holding or --fault of the module set up last.
QString setModuleOption(const QString &opt, const QString &value, SimOptions &options)
{
    if (options.modules.isEmpty())
        return QStringLiteral("%1 must follow a --module").arg(opt);
    SimModuleSetup &setup = options.modules.last();
    if (opt == QLatin1String("--fault"))
        return parseFault(value, setup.faults);
    if (opt == QLatin1String("--holding")) {
        setup.holding.clear();
        for (const QString &v : value.split(QLatin1Char(','))) {
            const std::optional<int> n = number(v.trimmed(), 0, 65535);
            if (!n)
                return QStringLiteral("register value \"%1\" is not 0..65535").arg(v);
            setup.holding.append(std::uint16_t(*n));
        }
        return {};
    }
    bool ok = false;
    const quint32 mask = value.toUInt(&ok, 0);
    if (!ok)
        return QStringLiteral("%1 takes a bit mask such as 0x05, not \"%2\"").arg(opt, value);
    (opt == QLatin1String("--inputs") ? setup.inputs : setup.coils) = mask;
    return {};
}

// The options without a value, and those with one: what is said when it is missing, and what
// reads it.
struct Flag {
    const char *name;
    bool SimOptions::*field;
};
const Flag kFlags[] = {
    {"--help", &SimOptions::help}, {"-h", &SimOptions::help}, {"--version", &SimOptions::version},
    {"--quiet", &SimOptions::quiet}, {"--echo", &SimOptions::echo},
    {"--realtime", &SimOptions::realTime}, {"--gateway-silent", &SimOptions::gatewaySilent},
};

struct ValueOption {
    const char *name;
    const char *missing;
    QString (*apply)(const QString &opt, const QString &value, SimOptions &options);
};
const ValueOption kValueOptions[] = {
    {"--latency", "--latency needs a time in ms", setLatency},
    {"--tcp", "--tcp needs [HOST:]PORT", setTcp},
    {"--mbap", "--mbap needs [HOST:]PORT", setTcp},
    {"--dir", "--dir needs a folder", setDir},
    {"--port", "--port needs a number", setPort},
    {"--module", "--module needs MODEL[:ADDRESS[:CODE]]", addModule},
    {"--inputs", "--inputs needs a value", setModuleOption},
    {"--coils", "--coils needs a value", setModuleOption},
    {"--holding", "--holding needs a value", setModuleOption},
    {"--fault", "--fault needs a value", setModuleOption},
};

} // namespace

QString simUsage()
{
    return QStringLiteral(
        "Usage: korvant-sim [options]\n"
        "Simulated KV remote I/O modules on a pseudo-terminal, linked as DIR/sys/COMn so that the\n"
        "tool (run in DIR) finds them as port COMn.\n"
        "\n"
        "  --dir DIR            working folder of the tool (default .)\n"
        "  --port N             link as sys/COMN, N = 1..9 (default 1)\n")
        // Every model of the table, wrapped as the lines around it.
        + wrapWords(QStringLiteral("  --module MODULE      add a module: MODEL[:ADDRESS[:CODE]], MODEL one of"),
                    modelNumbers() << QStringLiteral("or") << QStringLiteral("generic;"), QString(23, u' '), 87)
        + QStringLiteral(
        "\n"
        "                       ADDRESS 1..254 (default 1); CODE 1..8 (default 2 = 9600,None).\n"
        "                       Repeatable. Without any, one generic module at 1, code 2, whose\n"
        "                       inputs move by themselves (walking bit, ramps).\n"
        "  --inputs MASK        discrete inputs of the last module (bit i = input i, e.g. 0x05)\n"
        "  --coils MASK         coils of the last module\n"
        "  --holding V,V,...    holding registers 0, 1, ... of the last module\n"
        "  --fault F            fault of the last module: silent, badcrc, extrabyte, truncate,\n"
        "                       exception, nowrite (answers writes, acts on none), delay=MS,\n"
        "                       pieces=N, gap=MS, garbage=N. Repeatable.\n"
        "  --tcp [HOST:]PORT    serve the modules on a TCP port instead, as a serial device server\n"
        "                       in TCP server mode does: RTU frames as they are, no MBAP header.\n"
        "                       HOST defaults to 127.0.0.1; PORT 0 takes a free port. The\n"
        "                       address served is printed (\"serving tcp://HOST:PORT\"). The baud\n"
        "                       rate and parity are the device server's: every module answers.\n"
        "  --mbap [HOST:]PORT   serve the modules behind a Modbus TCP gateway instead (MBAP\n"
        "                       header, no CRC; \"serving mbap://HOST:PORT\"): the unit id is the\n"
        "                       module's address, unit 0 goes to the line as a broadcast, and a\n"
        "                       unit that does not answer gets exception 0x0B\n"
        "  --gateway-silent     the gateway answers a unit that does not answer with silence\n"
        "  --echo               echo every request back before any reply, as a two-wire RS-485\n"
        "                       adapter without echo suppression does\n"
        "  --realtime           a real line's time: each reply comes after the request's bytes,\n"
        "                       the 3.5-character silence that ends it and the reply's own bytes\n"
        "                       at the baud rate\n"
        "  --latency MS         hand received bytes over in batches every MS ms (1..255), as a\n"
        "                       USB-serial adapter's latency timer does\n"
        "  --quiet              do not log every frame\n"
        "  --help               this text\n"
        "  --version            the program's name and version\n"
        "\n"
        "Codes: 1 4800,None 2 9600,None 3 19200,None 4 38400,None 5 4800,Even 6 9600,Even\n"
        "       7 19200,Even 8 38400,Even.\n"
        "A module answers only when the baud rate set on the port matches its code. Parity cannot\n"
        "be seen on a pseudo-terminal (Linux forces it off), so parity is not checked here.\n"
        "Replies come after the time the request and reply would take on the line.\n"
        "Each request and reply is logged in hex to stderr. SIGINT/SIGTERM end it and remove the link.\n");
}

QString parseSimOptions(const QStringList &args, SimOptions &options)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString opt = args[i];
        QString value;
        const bool inlineValue = opt.startsWith(QLatin1String("--")) && opt.contains(QLatin1Char('='));
        if (inlineValue) {
            value = opt.section(QLatin1Char('='), 1);
            opt = opt.section(QLatin1Char('='), 0, 0);
        }
        const auto flag = std::find_if(std::begin(kFlags), std::end(kFlags), [&](const Flag &f) { return opt == QLatin1String(f.name); });
        if (flag != std::end(kFlags)) {
            options.*flag->field = true;
            continue;
        }
        const auto taking = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                         [&](const ValueOption &v) { return opt == QLatin1String(v.name); });
        if (taking == std::end(kValueOptions))
            return QStringLiteral("unknown option \"%1\"").arg(args[i]);
        if (!inlineValue) {
            if (i + 1 >= args.size())
                return QString::fromLatin1(taking->missing);
            value = args[++i];
        }
        const QString error = taking->apply(opt, value, options);
        if (!error.isEmpty())
            return error;
    }
    return {};
}
