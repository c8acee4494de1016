#include "commandline.h"

#include "conversions.h"
#include "cycle.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

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
constexpr int kBauds[] = {4800, 9600, 19200, 38400};

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

} // namespace

int worstStatus(int a, int b)
{
    const auto rank = [](int s) { return s == ExitPort ? 3 : s == ExitException ? 2 : s == ExitNoReply ? 1 : 0; };
    return rank(a) >= rank(b) ? a : b;
}

const ModelRow *modelByName(const QString &name)
{
    QString n = name.trimmed().toUpper();
    if (!n.startsWith(QLatin1String("KV")))
        n.prepend(QLatin1String("KV"));
    if (!n.endsWith(QLatin1String("ADAM")))
        n.append(QLatin1String("ADAM"));
    return findModel(n);
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
    const int bitsPerByte = 1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + line.stopBits;
    const double lineMs = double(requestBytes + replyBytes) * bitsPerByte * 1000.0 / line.baud;
    return int(std::ceil(lineMs)) + kTimeoutMarginMs;
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

QString helpText()
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
        "                        and model. Only one module may be on the line.\n"
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
        "                        write the new address to the module at address A only\n"
        "  set-comm TEXT         write the communication-parameter code of TEXT, exactly one of\n"
        "                        4800,None,8,1  9600,None,8,1  19200,None,8,1  38400,None,8,1\n"
        "                        4800,Even,8,1  9600,Even,8,1  19200,Even,8,1  38400,Even,8,1\n"
        "                        to register 101 of the module at --address\n"
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
        "                        Exit 0 when a module (or several) answered, 4 when nothing did\n"
        "                          korvant-cli doctor --port /dev/ttyUSB0"
        "\n"
        "MODEL: KV1710ADAM KV1720ADAM KV1730ADAM KV1740ADAM KV5510ADAM KV5520ADAM KV5530ADAM\n"
        "       KV5540ADAM KV5550ADAM KV7710ADAM KV7720ADAM (any case, or the number alone: 5510)\n"
        "\n"
        "Options:\n"
        "  --port PORT      COM1..COM9 (found as the tool's windows find them: a link sys/COMn in\n"
        "                   the working folder, or a file sys/COMn naming tcp://HOST:PORT, else\n"
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
        "                   response_ms_median, response_ms_p99, response_ms_max, stopped; ports as\n"
        "                   device, by_id, description, manufacturer, serial, exists, access; find\n"
        "                   adds note)\n"
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
        "answered at once (a shared address or a collision). When results are mixed (a poll of\n"
        "several addresses) the worst wins: 3, then 5, then 4.\n");
}

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    ParsedCommandLine result;
    CliOptions &o = result.options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("PORT"));
    const QCommandLineOption baud(QStringLiteral("baud"), {}, QStringLiteral("N"));
    const QCommandLineOption parity(QStringLiteral("parity"), {}, QStringLiteral("P"));
    const QCommandLineOption address(QStringLiteral("address"), {}, QStringLiteral("A"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), {}, QStringLiteral("MS"));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption on(QStringLiteral("on"), {}, QStringLiteral("LIST"));
    const QCommandLineOption ma(QStringLiteral("ma"), {}, QStringLiteral("MA"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption echo(QStringLiteral("echo"));
    const QCommandLineOption period(QStringLiteral("period"), {}, QStringLiteral("MS"));
    const QCommandLineOption count(QStringLiteral("count"), {}, QStringLiteral("N"));
    const QCommandLineOption csv(QStringLiteral("csv"), {}, QStringLiteral("FILE"));
    const QCommandLineOption from(QStringLiteral("from"), {}, QStringLiteral("A"));
    const QCommandLineOption to(QStringLiteral("to"), {}, QStringLiteral("B"));
    const QCommandLineOption codes(QStringLiteral("codes"), {}, QStringLiteral("LIST"));
    const QCommandLineOption turnaround(QStringLiteral("turnaround"), {}, QStringLiteral("MS"));
    const QCommandLineOption toAddress(QStringLiteral("to-address"), {}, QStringLiteral("A"));
    const QCommandLineOption retries(QStringLiteral("retries"), {}, QStringLiteral("N"));
    const QCommandLineOption noCrc(QStringLiteral("no-crc"));
    parser.addOptions({port, baud, parity, address, timeout, quiet, version, help, on, ma, json, echo, period, count, csv, from, to,
                       codes, turnaround, toAddress, retries, noCrc});

    QString &error = result.error;
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return result;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        o.help = parser.isSet(help);
        o.version = !o.help;
        return result;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        error = QStringLiteral("no subcommand given");
        return result;
    }
    const CommandName *command = nullptr;
    for (const CommandName &c : kCommands)
        if (positional[0] == QLatin1String(c.name))
            command = &c;
    if (!command) {
        error = QStringLiteral("unknown subcommand \"%1\"").arg(positional[0]);
        return result;
    }
    o.command = command->command;
    if (positional.size() - 1 != command->arguments) {
        error = command->arguments == 0
                    ? QStringLiteral("%1 takes no argument").arg(positional[0])
                    : QStringLiteral("%1 takes one argument").arg(positional[0]);
        return result;
    }
    const QString argument = positional.value(1);

    if (parser.isSet(port)) {
        o.port = parser.value(port);
        if (o.port.isEmpty()) {
            error = QStringLiteral("--port needs a port");
            return result;
        }
    }
    if (parser.isSet(baud)) {
        const std::optional<int> b = wholeNumber(parser.value(baud), 1, 4000000);
        if (!b || std::find(std::begin(kBauds), std::end(kBauds), *b) == std::end(kBauds)) {
            error = QStringLiteral("baud rate \"%1\" is not 4800, 9600, 19200 or 38400").arg(parser.value(baud));
            return result;
        }
        o.line.baud = *b;
    }
    if (parser.isSet(parity)) {
        const std::optional<char> p = parityFromText(parser.value(parity));
        if (!p) {
            error = QStringLiteral("parity \"%1\" is not None, Even or Odd").arg(parser.value(parity));
            return result;
        }
        o.line.parity = *p;
    }
    // A whole-number option within low..high into target; any other text is refused with problem.
    const auto number = [&](const QCommandLineOption &option, int low, int high, const QString &problem, int &target) {
        if (!parser.isSet(option))
            return true;
        const std::optional<int> v = wholeNumber(parser.value(option), low, high);
        if (!v)
            error = problem.arg(parser.value(option));
        else
            target = *v;
        return bool(v);
    };
    const bool several = o.command == Command::Read || o.command == Command::Poll;
    if (several && parser.isSet(address)) {
        const std::optional<QList<int>> list = addressList(parser.value(address));
        if (!list) {
            error = QStringLiteral("address \"%1\" is not a list of addresses 0..255 (1,3,5-7)").arg(parser.value(address));
            return result;
        }
        o.addresses = *list;
        o.address = list->first();
    }
    if ((!several && !number(address, 0, 255, QStringLiteral("address \"%1\" is not 0..255"), o.address))
        || !number(timeout, 1, 60000, QStringLiteral("time-out \"%1\" is not 1..60000 ms"), o.timeoutMs))
        return result;
    o.addresses = several ? o.addresses : QList<int>{o.address};
    if (parser.isSet(retries) && o.command != Command::Read && o.command != Command::Write && o.command != Command::Poll) {
        error = QStringLiteral("--retries belongs to read, write and poll");
        return result;
    }
    if (!number(retries, 0, 100, QStringLiteral("--retries \"%1\" is not 0..100"), o.retries))
        return result;
    o.quiet = parser.isSet(quiet);
    o.echo = parser.isSet(echo);
    if (o.command == Command::Doctor && !parser.isSet(port))
        o.port.clear();
    o.json = parser.isSet(json);
    o.csvPath = parser.value(csv);

    // Options that belong to one subcommand only.
    if ((parser.isSet(on) || parser.isSet(ma)) && o.command != Command::Write) {
        error = QStringLiteral("--on and --ma belong to write");
        return result;
    }
    if ((parser.isSet(period) || parser.isSet(count) || parser.isSet(csv)) && o.command != Command::Poll) {
        error = QStringLiteral("--period, --count and --csv belong to poll");
        return result;
    }
    if ((parser.isSet(from) || parser.isSet(to)) && o.command != Command::Survey && o.command != Command::Find) {
        error = QStringLiteral("--from and --to belong to survey and find");
        return result;
    }
    if ((parser.isSet(codes) || parser.isSet(turnaround)) && o.command != Command::Find) {
        error = QStringLiteral("--codes and --turnaround belong to find");
        return result;
    }
    if (parser.isSet(noCrc) && o.command != Command::Raw) {
        error = QStringLiteral("--no-crc belongs to raw");
        return result;
    }
    if (parser.isSet(toAddress) && o.command != Command::SetAddress) {
        error = QStringLiteral("--to-address belongs to set-address");
        return result;
    }
    if (parser.isSet(codes)) {
        const std::optional<QList<int>> list = numberList(parser.value(codes));
        if (!list || list->isEmpty() || std::any_of(list->begin(), list->end(), [](int c) { return c > 8; })) {
            error = QStringLiteral("--codes \"%1\" is not a list of codes 1..8").arg(parser.value(codes));
            return result;
        }
        // Swept in code order, each once.
        o.codes = *list;
        std::sort(o.codes.begin(), o.codes.end());
        o.codes.erase(std::unique(o.codes.begin(), o.codes.end()), o.codes.end());
    }
    if (!number(period, 1, 3600000, QStringLiteral("period \"%1\" is not 1..3600000 ms"), o.periodMs)
        || !number(count, 1, 100000000, QStringLiteral("count \"%1\" is not 1..100000000"), o.count)
        || !number(from, 1, 255, QStringLiteral("--from \"%1\" is not 1..255"), o.from)
        || !number(to, 1, 255, QStringLiteral("--to \"%1\" is not 1..255"), o.to)
        || !number(turnaround, 0, 10000, QStringLiteral("--turnaround \"%1\" is not 0..10000 ms"), o.turnaroundMs)
        || !number(toAddress, 1, 255, QStringLiteral("--to-address \"%1\" is not 1..255"), o.toAddress))
        return result;
    if (o.from > o.to) {
        error = QStringLiteral("--from %1 lies above --to %2").arg(o.from).arg(o.to);
        return result;
    }

    switch (o.command) {
    case Command::Read:
    case Command::Write:
    case Command::Poll:
        o.model = modelByName(argument);
        if (!o.model) {
            error = QStringLiteral("unknown model \"%1\"").arg(argument);
            return result;
        }
        if (o.command != Command::Write && modelReads(*o.model).isEmpty()) {
            error = QStringLiteral("%1 has no inputs to read").arg(o.model->name);
            return result;
        }
        break;
    case Command::SetAddress: {
        const std::optional<int> a = wholeNumber(argument, 0, 255);
        if (!a) {
            error = QStringLiteral("new address \"%1\" is not 0..255").arg(argument);
            return result;
        }
        o.argument = argument;
        break;
    }
    case Command::Raw: {
        // Hex bytes, blanks and colons between them allowed: "01 03 00 64 00 03", "010300640003".
        QString digits = argument;
        digits.remove(QRegularExpression(QStringLiteral("[\\s:]")));
        o.frame = QByteArray::fromHex(digits.toLatin1());
        if (digits.isEmpty() || digits.size() % 2 || !QRegularExpression(QStringLiteral("^[0-9A-Fa-f]*$")).match(digits).hasMatch()
            || o.frame.size() > 254) {
            error = QStringLiteral("frame \"%1\" is not 1 to 254 bytes in hex").arg(argument);
            return result;
        }
        o.noCrc = parser.isSet(noCrc);
        break;
    }
    case Command::SetComm:
        // The window sends only a text equal to one of its eight entries (checked again by the
        // write itself); anything else is a usage error before the port is touched.
        if (communicationParameterCode(argument) == 0) {
            error = QStringLiteral("\"%1\" is not one of the eight communication parameters").arg(argument);
            return result;
        }
        o.argument = argument;
        break;
    default:
        break;
    }

    if (o.command == Command::Write) {
        const bool analog = o.model->kind == PanelKind::AnalogOutput;
        if (analog) {
            if (!parser.isSet(ma) || parser.isSet(on)) {
                error = QStringLiteral("%1 has an analog output: write it with --ma MA").arg(o.model->name);
                return result;
            }
            o.outputPosition = outputPositionFromText(parser.value(ma));
            if (!o.outputPosition) {
                error = QStringLiteral("current \"%1\" is not 0 to 20 mA with at most three decimals").arg(parser.value(ma));
                return result;
            }
        } else {
            if (o.model->outputs() == 0) {
                error = QStringLiteral("%1 has no outputs").arg(o.model->name);
                return result;
            }
            if (!parser.isSet(on) || parser.isSet(ma)) {
                error = QStringLiteral("%1 has digital outputs: write them with --on LIST").arg(o.model->name);
                return result;
            }
            const std::optional<QList<int>> list = numberList(parser.value(on));
            if (!list || !outputStates(*list, o.model->outputs())) {
                error = QStringLiteral("--on \"%1\" is not a list of outputs 1..%2").arg(parser.value(on)).arg(o.model->outputs());
                return result;
            }
            o.on = *list;
        }
    }
    return result;
}
