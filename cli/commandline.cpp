#include "commandline.h"

#include "conversions.h"
#include "cycle.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace {

struct CommandName {
    const char *name;
    Command command;
    int arguments; // positional arguments after the subcommand
};

constexpr CommandName kCommands[] = {
    {"scan", Command::Scan, 0},
    {"read", Command::Read, 1},
    {"write", Command::Write, 1},
    {"set-address", Command::SetAddress, 1},
    {"set-comm", Command::SetComm, 1},
    {"poll", Command::Poll, 1},
    {"survey", Command::Survey, 0},
    {"ports", Command::Ports, 0},
    {"find", Command::Find, 0},
    {"raw", Command::Raw, 1},
    {"doctor", Command::Doctor, 0},
};

// The baud rates the modules speak (the code table's).

// A whole number low..high written in plain decimal digits, nothing else.
std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    const int v = text.toInt();
    if (v < low || v > high)
        return std::nullopt;
    return v;
}

std::optional<char> parityFromText(const QString &text)
{
    return parityFromName(text, Qt::CaseInsensitive);
}

// "1,3" -> {1, 3}; "none" or "" -> {}.
std::optional<QList<int>> numberList(const QString &text)
{
    QList<int> numbers;
    if (text.isEmpty() || text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return numbers;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const std::optional<int> n = wholeNumber(part.trimmed(), 1, 99);
        if (!n)
            return std::nullopt;
        numbers << *n;
    }
    return numbers;
}

// "1,3,5-7": addresses 0..255 in the order given, each once.
std::optional<QList<int>> addressList(const QString &text)
{
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        const std::optional<int> first = wholeNumber(ends[0].trimmed(), 0, 255);
        const std::optional<int> last = ends.size() == 2 ? wholeNumber(ends[1].trimmed(), 0, 255) : first;
        if (ends.size() > 2 || !first || !last || *last < *first)
            return std::nullopt;
        for (int a = *first; a <= *last; ++a)
            if (!addresses.contains(a))
                addresses << a;
    }
    return addresses;
}

// The options and, for those that take a value, the value's name; a short name where there is one.
struct OptionName {
    const char *name;
    const char *value = nullptr;
    const char *shortName = nullptr;
};

const OptionName kOptions[] = {
    {"port", "PORT"}, {"baud", "N"}, {"parity", "P"}, {"address", "A"}, {"timeout", "MS"},
    {"quiet", nullptr, "q"}, {"version"}, {"help", nullptr, "h"}, {"on", "LIST"}, {"ma", "MA"},
    {"json"}, {"echo"}, {"period", "MS"}, {"count", "N"}, {"csv", "FILE"}, {"from", "A"}, {"to", "B"},
    {"codes", "LIST"}, {"turnaround", "MS"}, {"to-address", "A"}, {"retries", "N"}, {"no-crc"},
};

// A whole-number option, low..high, into its field; any other text is refused with problem.
struct NumberOption {
    const char *name;
    int low, high;
    const char *problem;
    int CliOptions::*field;
};

const NumberOption kAddress{"address", 0, 255, "address \"%1\" is not 0..255", &CliOptions::address};
const NumberOption kTimeout{"timeout", 1, 60000, "time-out \"%1\" is not 1..60000 ms", &CliOptions::timeoutMs};
const NumberOption kRetries{"retries", 0, 100, "--retries \"%1\" is not 0..100", &CliOptions::retries};
// Checked once the options are known to belong to the subcommand, in this order.
const NumberOption kRanges[] = {
    {"period", 1, 3600000, "period \"%1\" is not 1..3600000 ms", &CliOptions::periodMs},
    {"count", 1, 100000000, "count \"%1\" is not 1..100000000", &CliOptions::count},
    {"from", 1, 255, "--from \"%1\" is not 1..255", &CliOptions::from},
    {"to", 1, 255, "--to \"%1\" is not 1..255", &CliOptions::to},
    {"turnaround", 0, 10000, "--turnaround \"%1\" is not 0..10000 ms", &CliOptions::turnaroundMs},
    {"to-address", 1, 255, "--to-address \"%1\" is not 1..255", &CliOptions::toAddress},
};

// Options that belong to some subcommands only, and what is said when another is given them.
struct Belonging {
    std::array<const char *, 3> options;
    std::array<Command, 3> commands;
    const char *problem;
};

const Belonging kRetriesBelong{{"retries"}, {Command::Read, Command::Write, Command::Poll},
                               "--retries belongs to read, write and poll"};
const Belonging kBelongings[] = {
    {{"on", "ma"}, {Command::Write}, "--on and --ma belong to write"},
    {{"period", "count", "csv"}, {Command::Poll}, "--period, --count and --csv belong to poll"},
    {{"from", "to"}, {Command::Survey, Command::Find}, "--from and --to belong to survey and find"},
    {{"codes", "turnaround"}, {Command::Find}, "--codes and --turnaround belong to find"},
    {{"no-crc"}, {Command::Raw}, "--no-crc belongs to raw"},
    {{"to-address"}, {Command::SetAddress}, "--to-address belongs to set-address"},
};

// The parser's findings read into the options; each step stops at the first problem, said in
// error.
struct Reader {
    const QCommandLineParser &parser;
    CliOptions &o;
    QString &error;

    bool isSet(const char *name) const { return parser.isSet(QString::fromLatin1(name)); }
    QString value(const char *name) const { return parser.value(QString::fromLatin1(name)); }
    bool fail(const QString &problem) const
    {
        error = problem;
        return false;
    }

    bool number(const NumberOption &option) const
    {
        if (!isSet(option.name))
            return true;
        const std::optional<int> v = wholeNumber(value(option.name), option.low, option.high);
        if (!v)
            return fail(QString::fromLatin1(option.problem).arg(value(option.name)));
        o.*option.field = *v;
        return true;
    }

    bool belongs(const Belonging &rule) const
    {
        const bool given = std::any_of(rule.options.begin(), rule.options.end(), [&](const char *n) { return n && isSet(n); });
        const bool ours = std::find(rule.commands.begin(), rule.commands.end(), o.command) != rule.commands.end();
        return !given || ours || fail(QString::fromLatin1(rule.problem));
    }

    // The subcommand and its argument, if it takes one.
    bool subcommand(QString &argument) const
    {
        const QStringList positional = parser.positionalArguments();
        if (positional.isEmpty())
            return fail(QStringLiteral("no subcommand given"));
        const auto c = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const CommandName &c) { return positional[0] == QLatin1String(c.name); });
        if (c == std::end(kCommands))
            return fail(QStringLiteral("unknown subcommand \"%1\"").arg(positional[0]));
        o.command = c->command;
        if (positional.size() - 1 != c->arguments)
            return fail((c->arguments == 0 ? QStringLiteral("%1 takes no argument") : QStringLiteral("%1 takes one argument"))
                            .arg(positional[0]));
        argument = positional.value(1);
        return true;
    }

    // --port, --baud and --parity.
    bool line() const
    {
        if (isSet("port")) {
            o.port = value("port");
            if (o.port.isEmpty())
                return fail(QStringLiteral("--port needs a port"));
        }
        if (isSet("baud")) {
            const std::optional<int> b = wholeNumber(value("baud"), 1, 4000000);
            if (!b || !baudRates().contains(*b))
                return fail(QStringLiteral("baud rate \"%1\" is not 4800, 9600, 19200 or 38400").arg(value("baud")));
            o.line.baud = *b;
        }
        if (isSet("parity")) {
            const std::optional<char> p = parityFromText(value("parity"));
            if (!p)
                return fail(QStringLiteral("parity \"%1\" is not None, Even or Odd").arg(value("parity")));
            o.line.parity = *p;
        }
        return true;
    }

    // --address: a list for read and poll, one address for the others.
    bool addresses() const
    {
        const bool several = o.command == Command::Read || o.command == Command::Poll;
        if (!several) {
            if (!number(kAddress))
                return false;
            o.addresses = {o.address};
            return true;
        }
        if (isSet("address")) {
            const std::optional<QList<int>> list = addressList(value("address"));
            if (!list)
                return fail(QStringLiteral("address \"%1\" is not a list of addresses 0..255 (1,3,5-7)").arg(value("address")));
            o.addresses = *list;
            o.address = list->first();
        }
        return true;
    }

    // --codes: swept in code order, each once.
    bool codes() const
    {
        if (!isSet("codes"))
            return true;
        const std::optional<QList<int>> list = numberList(value("codes"));
        if (!list || list->isEmpty() || std::any_of(list->begin(), list->end(), [](int c) { return c > kLastCode; }))
            return fail(QStringLiteral("--codes \"%1\" is not a list of codes 1..8").arg(value("codes")));
        o.codes = *list;
        std::sort(o.codes.begin(), o.codes.end());
        o.codes.erase(std::unique(o.codes.begin(), o.codes.end()), o.codes.end());
        return true;
    }

    bool argument(const QString &text) const;
    bool frame(const QString &text) const;
    bool write() const;
};

// The subcommand's argument: a model, a new address, a frame or a communication parameter.
bool Reader::argument(const QString &text) const
{
    switch (o.command) {
    case Command::Read:
    case Command::Write:
    case Command::Poll:
        o.model = findModelLoosely(text);
        if (!o.model)
            return fail(QStringLiteral("unknown model \"%1\"").arg(text));
        if (o.command != Command::Write && modelReads(*o.model).isEmpty())
            return fail(QStringLiteral("%1 has no inputs to read").arg(o.model->name));
        return o.command != Command::Write || write();
    case Command::SetAddress:
        if (!wholeNumber(text, 0, 255))
            return fail(QStringLiteral("new address \"%1\" is not 0..255").arg(text));
        o.argument = text;
        return true;
    case Command::Raw:
        return frame(text);
    case Command::SetComm:
        // The window sends only a text equal to one of its eight entries (checked again by the
        // write itself); anything else is a usage error before the port is touched.
        if (communicationParameterCode(text) == 0)
            return fail(QStringLiteral("\"%1\" is not one of the eight communication parameters").arg(text));
        o.argument = text;
        return true;
    default:
        return true;
    }
}

// Hex bytes, blanks and colons between them allowed: "01 03 00 64 00 03", "010300640003".
bool Reader::frame(const QString &text) const
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("[\\s:]")));
    o.frame = QByteArray::fromHex(digits.toLatin1());
    if (digits.isEmpty() || digits.size() % 2 || !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]*$")).match(digits).hasMatch()
        || o.frame.size() > 254)
        return fail(QStringLiteral("frame \"%1\" is not 1 to 254 bytes in hex").arg(text));
    o.noCrc = isSet("no-crc");
    return true;
}

// What a write sets: the analog output's current, or the digital outputs that go on.
bool Reader::write() const
{
    const QString &name = o.model->name;
    if (o.model->kind == PanelKind::AnalogOutput) {
        if (!isSet("ma") || isSet("on"))
            return fail(QStringLiteral("%1 has an analog output: write it with --ma MA").arg(name));
        o.outputPosition = outputPositionFromText(value("ma"));
        if (!o.outputPosition)
            return fail(QStringLiteral("current \"%1\" is not 0 to 20 mA with at most three decimals").arg(value("ma")));
        return true;
    }
    if (o.model->outputs() == 0)
        return fail(QStringLiteral("%1 has no outputs").arg(name));
    if (!isSet("on") || isSet("ma"))
        return fail(QStringLiteral("%1 has digital outputs: write them with --on LIST").arg(name));
    const std::optional<QList<int>> list = numberList(value("on"));
    if (!list || !outputStates(*list, o.model->outputs()))
        return fail(QStringLiteral("--on \"%1\" is not a list of outputs 1..%2").arg(value("on")).arg(o.model->outputs()));
    o.on = *list;
    return true;
}

} // namespace

int worstStatus(int a, int b)
{
    const auto rank = [](int s) {
        return s == ExitPort ? 4 : s == ExitNotLogged ? 3 : s == ExitException ? 2 : s == ExitNoReply ? 1 : 0;
    };
    return rank(a) >= rank(b) ? a : b;
}

QString portFailureText(const QString &port, const QString &device, const QString &what, const QString &reason)
{
    const bool same = device.isEmpty() || device == port;
    const QString name = same ? port : QStringLiteral("%1 (%2)").arg(port, device);
    if (!device.isEmpty() && reason.startsWith(device + QLatin1Char(' '))) {
        if (reason.mid(device.size() + 1) == what)
            return QStringLiteral("port %1 %2").arg(name, what);
        return same ? QStringLiteral("port ") + reason : QStringLiteral("port %1: %2").arg(port, reason);
    }
    return QStringLiteral("port %1 %2").arg(name, what) + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

int defaultTimeoutMs(const LineSettings &line, int requestBytes, int replyBytes)
{
    return int((lineTimeUs(line, requestBytes + replyBytes) + 999) / 1000) + kTimeoutMarginMs;
}

std::optional<QList<bool>> outputStates(const QList<int> &on, int count)
{
    QList<bool> states(count, false);
    for (int n : on) {
        if (n < 1 || n > count)
            return std::nullopt;
        states[n - 1] = true;
    }
    return states;
}

QString helpText(const QString &sysFolder)
{
    return QStringLiteral(
        "Usage: korvant-cli SUBCOMMAND [ARGUMENT] [options]\n"
        "Finds, reads, writes and sets KV remote I/O modules over Modbus RTU without a display.\n"
        "Options may stand before or after the subcommand.\n"
        "\n"
        "Subcommands:\n"
        "  scan                  send the broadcast parameter read at the eight settings in code\n"
        "                        order (4800..38400 None, then Even) until a module answers; print\n"
        "                        its address, code, the baud and parity it answered at (behind a\n"
        "                        device server, which answers at once: those its code stands for),\n"
        "                        and model. Only one module may be on the line: bytes that fail\n"
        "                        the check at a setting are several modules answering at once (a\n"
        "                        collision), said with exit 6 (find tells them apart)\n"
        "                          korvant-cli scan --port /dev/ttyUSB0\n"
        "  read MODEL            every read the model's window makes; one line per channel:\n"
        "                        caption: value as the window shows it\n"
        "                          korvant-cli read KV5510ADAM --address 3\n"
        "  write MODEL --on LIST\n"
        "                        switch on the outputs listed (1-based, comma-separated, \"none\"),\n"
        "                        every other output off\n"
        "                          korvant-cli write KV5550ADAM --on 1,3\n"
        "  write KV1720ADAM --ma MA\n"
        "                        set the analog output to MA milliamperes (0 to 20, up to three\n"
        "                        decimals)\n"
        "                          korvant-cli write KV1720ADAM --ma 4.00\n"
        "  set-address NEW       write a new address (0..255) to register 100, broadcast: only one\n"
        "                        module may be on the line\n"
        "                        (it first sends the broadcast read: when several modules answer,\n"
        "                        it writes nothing and exits 6)\n"
        "                          korvant-cli set-address 5 --baud 9600\n"
        "  set-address NEW --to-address A\n"
        "                        write the new address to the module at address A only. It reads\n"
        "                        A first (several modules there: exit 6, none: exit 4) and NEW\n"
        "                        (a module there: exit 6, \"address NEW is taken\"), writing\n"
        "                        nothing then; after the write it reads NEW, and succeeds only\n"
        "                        when the module answers there (else exit 4)\n"
        "  set-comm TEXT         write the communication-parameter code of TEXT, exactly one of\n"
        "                        4800,None,8,1  9600,None,8,1  19200,None,8,1  38400,None,8,1\n"
        "                        4800,Even,8,1  9600,Even,8,1  19200,Even,8,1  38400,Even,8,1\n"
        "                        to register 101 of the module at --address. It reads the module\n"
        "                        first, as set-address --to-address does, and after the write at\n"
        "                        the new setting: exit 4 when it does not answer there\n"
        "                          korvant-cli set-comm 19200,Even,8,1 --address 5\n"
        "  poll MODEL            read repeatedly, one line per exchange (time, verdict, response\n"
        "                        time, values), then statistics (response times: minimum and\n"
        "                        maximum as measured, median and p99 cut to the 0.1 ms); Ctrl+C\n"
        "                        stops it. Exit 0 when at least one exchange was answered well,\n"
        "                        3 when the line was lost (the summary says \"stopped early\")\n"
        "                          korvant-cli poll KV1730ADAM --period 200 --count 100\n"
        "  survey                read the parameter registers (100..102) of every address from\n"
        "                        --from to --to at the given settings, one request each; one line\n"
        "                        per module that answers\n"
        "                          korvant-cli survey --baud 19200 --from 1 --to 32\n"
        "  ports                 every serial device the system lists: its device, its name in\n"
        "                        /dev/serial/by-id, description, manufacturer, serial number, and\n"
        "                        whether this user may open it\n"
        "                          korvant-cli ports\n"
        "  find                  every module on the line at every setting: the broadcast parameter\n"
        "                        read at each code of --codes, then, where anything answered, the\n"
        "                        parameter read to each address from --from to --to. One line per\n"
        "                        module (address, code, the baud and parity it answered at, model,\n"
        "                        response time, note: \"shared address?\", \"exception N\", a code that\n"
        "                        names another setting) and per setting where replies collided but\n"
        "                        no module was found. Exit 6 when a shared address or such a\n"
        "                        collision was found\n"
        "                          korvant-cli find --codes 2,3 --to 32\n"
        "  raw HEX [--no-crc]    send the frame HEX (\"01 03 00 64 00 03\") with its CRC appended\n"
        "                        (--no-crc: exactly the bytes given) and print the reply, its\n"
        "                        verdict and response time. A reply to function 02, 03, 06 or 0F is\n"
        "                        judged as everywhere; to any other, a reply from the same address\n"
        "                        with the function or its exception and a good CRC is OK, taken\n"
        "                        until the line is quiet. Exit as for read\n"
        "                          korvant-cli raw \"01 03 00 64 00 03\"\n"
        "  doctor                the ports table with each adapter's latency timer; with --port,\n"
        "                        the broadcast parameter read at the eight settings, each told as\n"
        "                        nothing, a module, several modules, echo or garbage. An echoing\n"
        "                        adapter and a latency timer above 2 ms are warned of on stderr.\n"
        "                        It names the sys folder first. Exit 0 when a module (or several)\n"
        "                        answered, 4 when nothing did, 3 when the port cannot be opened\n"
        "                        (at any of the settings)\n"
        "                          korvant-cli doctor --port /dev/ttyUSB0\n")
        // Every model of the table, wrapped to the width of the rest of this text.
        + wrapWords(QStringLiteral("MODEL:"),
                    modelNames() + QStringLiteral("(any case, or the number alone: 5510)").split(QLatin1Char(' ')),
                    QStringLiteral("       "), 90)
        + QStringLiteral(
        "\n"
        "\n"
        "Options:\n"
        "  --port PORT      COM1..COM9 (found as the tool's windows find them: a link COMn in the\n"
        "                   sys folder, or a file COMn there naming tcp://HOST:PORT, else\n"
        "                   /dev/ttyUSB{n-1}, else /dev/ttyS{n-1}), a device path such as\n"
        "                   /dev/ttyUSB0, or tcp://HOST:PORT for a serial device server in TCP\n"
        "                   server mode (RTU frames; its own baud rate and parity) (default COM1)\n"
        "  --baud N         4800, 9600, 19200 or 38400 (default 9600)\n"
        "  --parity P       None, Even or Odd (N, E, O; default None); 8 data bits, 1 stop bit\n"
        "  --address A      module address 0..255 (default 1); read and poll take a list, 1,3,5-7,\n"
        "                   and ask each address in turn (poll: every period, with statistics per\n"
        "                   address and in total)\n"
        "  --retries N      read, write, poll: ask again after a time-out, up to N times, 0..100\n"
        "                   (default 0); every attempt counts as a request\n"
        "  --timeout MS     time to wait for each reply, 1..60000. Default: the time the request\n"
        "                   and the longest reply of the subcommand take on the line at the baud\n"
        "                   rate (10 bits a byte, 11 with parity), rounded up, plus 50 ms; 80 ms\n"
        "                   for a read of eight registers at 9600\n"
        "  --period MS      poll: from one poll of the model to the next, 1..3600000 (default 500)\n"
        "  --count N        poll: stop after N polls, 1..100000000 (default: until Ctrl+C)\n"
        "  --csv FILE       poll: append every value to FILE as well, a CSV line per channel\n"
        "                   (time,window,address,channel,value,unit,raw,text; window is the\n"
        "                   model), written as it comes and rotated at 100 MB, five files kept\n"
              "  --from A, --to B survey, find: the addresses to ask, each 1..255 (default 1 to 254)\n"
        "  --codes LIST     find: the communication-parameter codes to sweep, each 1..8 (default\n"
        "                   1,2,3,4,5,6,7,8)\n"
        "  --turnaround MS  find: added to each probe's line time for the module's turnaround and\n"
        "                   the adapter's latency, 0..10000 (default 20: a USB adapter holds bytes\n"
        "                   up to 16 ms)\n"
        "  --to-address A   set-address: write to the module at address A only, 1..255\n"
        "  --json           results as one JSON object per line (keys address, code, baud,\n"
        "                   parity, model, channel, value (a number; null for Not Connect), unit,\n"
        "                   raw, text, verdict, exception, response_ms, seq, time; statistics as\n"
        "                   requests, ok, timeout, bad_crc, short, long, other_address,\n"
        "                   other_function, exception, success_pct, response_ms_min,\n"
        "                   response_ms_median, response_ms_p99, response_ms_max, stopped, rows_lost;\n"
        "                   ports as device, by_id, description, manufacturer, serial, exists,\n"
        "                   access; find adds note; doctor prints sys_folder, each port with\n"
        "                   latency_timer_ms, and code, baud, parity, heard per setting; a scan or\n"
        "                   survey that finds nothing prints found 0 and note, a scan's collision\n"
        "                   code, baud, parity and note; a refused set-address or set-comm address,\n"
        "                   verdict (collision, timeout, taken, not_there, or the write's) and note)\n"

        "  --echo           the adapter echoes every request (two-wire RS-485 without echo\n"
        "                   suppression): the request's bytes ahead of the reply are set aside.\n"
        "                   Without it, an echo is learned from the first read that shows it\n"
        "  -q, --quiet      print results and errors only, not the frames (survey and find never\n"
        "                   print their frames; they show a progress bar when stderr is a terminal)\n"
        "  -h, --help       this text\n"
        "  --version        the program's name and version\n"
        "\n"
        "Results go to stdout; the frames sent and received (unless --quiet) and errors to stderr.\n"
        "Exit status: 0 success, 2 usage, 3 the port cannot be opened or the line was lost (a poll\n"
        "or read that loses it prints what it has, and poll's summary says it stopped early), 4 no\n"
        "valid reply (or nothing found), 5 the module answered with an exception, 6 several modules\n"
        "answered at once (a shared address or a collision), 8 not every value was logged (a poll\n"
        "whose --csv lost rows: its summary says how many). When results are mixed (a poll of\n"
        "several addresses, or one that lost rows) the worst wins: 3, then 8, then 5, then 4.\n"
        "\n"
        "The sys folder, where COMn is looked up, is sys/ in the working folder when there is one,\n"
        "else ~/.local/share/korvant/sys ($XDG_DATA_HOME/korvant/sys), where the launcher runs the\n"
        "windows.\n")
        + (sysFolder.isEmpty() ? QString() : QStringLiteral("This run's sys folder: %1\n").arg(sysFolder));
}

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    ParsedCommandLine result;
    CliOptions &o = result.options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionName &option : kOptions) {
        QStringList names{QString::fromLatin1(option.name)};
        if (option.shortName)
            names.prepend(QString::fromLatin1(option.shortName));
        parser.addOption(option.value ? QCommandLineOption(names, {}, QString::fromLatin1(option.value))
                                      : QCommandLineOption(names));
    }
    if (!parser.parse(arguments)) {
        result.error = parser.errorText();
        return result;
    }
    const Reader r{parser, o, result.error};
    if (r.isSet("help") || r.isSet("version")) {
        o.help = r.isSet("help");
        o.version = !o.help;
        return result;
    }
    QString argument;
    if (!r.subcommand(argument) || !r.line() || !r.addresses() || !r.number(kTimeout) || !r.belongs(kRetriesBelong)
        || !r.number(kRetries))
        return result;
    o.quiet = r.isSet("quiet");
    o.echo = r.isSet("echo");
    if (o.command == Command::Doctor && !r.isSet("port"))
        o.port.clear();
    o.json = r.isSet("json");
    o.csvPath = r.value("csv");
    for (const Belonging &rule : kBelongings)
        if (!r.belongs(rule))
            return result;
    if (!r.codes())
        return result;
    for (const NumberOption &option : kRanges)
        if (!r.number(option))
            return result;
    if (o.from > o.to) {
        result.error = QStringLiteral("--from %1 lies above --to %2").arg(o.from).arg(o.to);
        return result;
    }
    r.argument(argument); // a problem is left in result.error
    return result;
}
