#include "clitable.h"

#include "conversions.h"
#include "models.h"

#include <QStringList>

#include <algorithm>

namespace {

constexpr Commands bits(std::initializer_list<Command> commands)
{
    Commands set = 0;
    for (Command c : commands)
        set |= commandBit(c);
    return set;
}

using C = Command;
// The subcommands that talk to modules at the settings --baud and --parity give.
constexpr Commands kAtSettings = bits({C::Read, C::Write, C::SetAddress, C::SetComm, C::Poll, C::Survey, C::Find, C::Raw});
constexpr Commands kOnAPort = kAtSettings | bits({C::Scan, C::Doctor, C::Site});

constexpr SubcommandSpec kSubcommands[] = {
    {"scan", C::Scan, 0, {{"scan", "send the broadcast parameter read at the eight settings in code\n"
     "order (4800..38400 None, then Even) until a module answers; print\n"
     "its address, code, the baud and parity it answered at (behind a\n"
     "device server, which answers at once: those its code stands for),\n"
     "and model. Only one module may be on the line: bytes that fail\n"
     "the check at a setting are several modules answering at once (a\n"
     "collision), said with exit 6 (find tells them apart)\n"
     "  korvant-cli scan --port /dev/ttyUSB0"}}},
    {"read", C::Read, 1, {{"read MODEL", "every read the model's window makes; one line per channel:\n"
     "caption: value as the window shows it\n"
     "  korvant-cli read KV5510ADAM --address 3"}}},
    {"write", C::Write, 1, {{"write MODEL --on LIST", "switch on the outputs listed (1-based, comma-separated, \"none\"),\n"
     "every other output off\n"
     "  korvant-cli write KV5550ADAM --on 1,3"},
     {"write KV1720ADAM --ma MA", "set the analog output to MA milliamperes (0 to 20, up to three\n"
     "decimals)\n"
     "  korvant-cli write KV1720ADAM --ma 4.00"}}},
    {"set-address", C::SetAddress, 1, {{"set-address NEW", "write a new address (0..255) to register 100, broadcast: only one\n"
     "module may be on the line\n"
     "(it first sends the broadcast read: when several modules answer,\n"
     "it writes nothing and exits 6)\n"
     "  korvant-cli set-address 5 --baud 9600"},
     {"set-address NEW --to-address A", "write the new address to the module at address A only. It reads\n"
     "A first (several modules there: exit 6, none: exit 4) and NEW\n"
     "(a module there: exit 6, \"address NEW is taken\"), writing\n"
     "nothing then; after the write it reads NEW, and succeeds only\n"
     "when the module answers there (else exit 4)"}}},
    {"set-comm", C::SetComm, 1, {{"set-comm TEXT", "write the communication-parameter code of TEXT, exactly one of\n"
     "4800,None,8,1  9600,None,8,1  19200,None,8,1  38400,None,8,1\n"
     "4800,Even,8,1  9600,Even,8,1  19200,Even,8,1  38400,Even,8,1\n"
     "to register 101 of the module at --address. It reads the module\n"
     "first, as set-address --to-address does, and after the write at\n"
     "the new setting: exit 4 when it does not answer there\n"
     "  korvant-cli set-comm 19200,Even,8,1 --address 5"}}},
    {"poll", C::Poll, 1, {{"poll MODEL", "read repeatedly, one line per exchange (time, verdict, response\n"
     "time, values), then statistics (response times: minimum and\n"
     "maximum as measured, median and p99 cut to the 0.1 ms); Ctrl+C\n"
     "stops it. Exit 0 when at least one exchange was answered well,\n"
     "3 when the line was lost (the summary says \"stopped early\")\n"
     "  korvant-cli poll KV1730ADAM --period 200 --count 100"}}},
    {"survey", C::Survey, 0, {{"survey", "read the parameter registers (100..102) of every address from\n"
     "--from to --to at the given settings, one request each; one line\n"
     "per module that answers\n"
     "  korvant-cli survey --baud 19200 --from 1 --to 32"}}},
    {"ports", C::Ports, 0, {{"ports", "every serial device the system lists: its device, its name in\n"
     "/dev/serial/by-id, description, manufacturer, serial number, and\n"
     "whether this user may open it\n"
     "  korvant-cli ports"}}},
    {"find", C::Find, 0, {{"find", "every module on the line at every setting: the broadcast parameter\n"
     "read at each code of --codes, then, where anything answered, the\n"
     "parameter read to each address from --from to --to. One line per\n"
     "module (address, code, the baud and parity it answered at, model,\n"
     "response time, note: \"shared address?\", \"exception N\", a code that\n"
     "names another setting) and per setting where replies collided but\n"
     "no module was found. Exit 6 when a shared address or such a\n"
     "collision was found\n"
     "  korvant-cli find --codes 2,3 --to 32"}}},
    {"raw", C::Raw, 1, {{"raw HEX [--no-crc]", "send the frame HEX (\"01 03 00 64 00 03\") with its CRC appended\n"
     "(--no-crc: exactly the bytes given) and print the reply, its\n"
     "verdict and response time. A reply to function 01, 02, 03, 06 or 0F is\n"
     "judged as everywhere; to any other, a reply from the same address\n"
     "with the function or its exception and a good CRC is OK, taken\n"
     "until the line is quiet. Exit as for read\n"
     "  korvant-cli raw \"01 03 00 64 00 03\""}}},
    {"doctor", C::Doctor, 0, {{"doctor", "the ports table with each adapter's latency timer; with --port,\n"
     "the broadcast parameter read at the eight settings, each told as\n"
     "nothing, a module, several modules, echo or garbage. An echoing\n"
     "adapter and a latency timer above 2 ms are warned of on stderr.\n"
     "It names the sys folder first. Exit 0 when a module (or several)\n"
     "answered, 4 when nothing did, 3 when the port cannot be opened\n"
     "(at any of the settings)\n"
     "  korvant-cli doctor --port /dev/ttyUSB0"}}},
    {"site", C::Site, 2, {{"site new FILE", "find every module as find does (--port, --codes, --from, --to)\n"
     "and write them to the site file FILE (NAME.kvsite), each at the\n"
     "code it was found at, tags empty, the line at the code most have"},
     {"site check FILE [--sweep]", "read every module's parameter registers at its address and code:\n"
     "one line each: \"ok\" (with a note when its code is not the line's),\n"
     "\"no reply\" or another model; --sweep also lists the modules the\n"
     "site lacks.\n"
     "Exit 0 when the line matches the site, 7 when it does not"},
     {"site poll FILE", "every module of the site in turn, one line a module each round\n"
     "(health, response time, values with their tags), then statistics\n"
     "per module; --csv FILE adds module_tag and channel_tag. The site's\n"
     "port unless --port is given\n"
     "  korvant-cli site poll panel.kvsite --count 10 --period 1000"}}},
    {"checkout", C::Checkout, 2, {{"checkout report JOURNAL", "the report of a checkout journal (NAME.checkout.jsonl): the site,\n"
     "technician, dates, modules, failures and untested channels first,\n"
     "counts, a table per module and lines to sign; --html and --csv are\n"
     "written here, --pdf by korvant-report beside korvant-cli. Exit 0\n"
     "when written, 2 when the journal cannot be read, 3 when a file\n"
     "cannot be written (or korvant-report is missing)\n"
     "  korvant-cli checkout report pumphouse.checkout.jsonl --pdf report.pdf"}}},
};

// In the order of the help's option list; options that belong to the same subcommands stand
// together, and their belongings are checked in this order.
const OptionSpec kOptions[] = {
    {.name = "port", .value = "PORT", .offered = kOnAPort,
     .help = "COM1..COM9 (found as the tool's windows find them: a link COMn in the\n"
             "sys folder, or a file COMn there naming a tcp:// or mbap:// target,\n"
             "else /dev/ttyUSB{n-1}, else /dev/ttyS{n-1}), a device path such as\n"
             "/dev/ttyUSB0, tcp://HOST:PORT for a serial device server in TCP\n"
             "server mode (RTU frames; its own baud rate and parity), or\n"
             "mbap://HOST[:PORT] for a Modbus TCP gateway (port 502 unless given;\n"
             "the module's address is the unit id) (default COM1)"},
    {.name = "baud", .value = "N", .offered = kAtSettings, .choices = baudRates, .help = "%1 (default 9600)"},
    {.name = "parity", .value = "P", .offered = kAtSettings,
     .help = "None, Even or Odd (N, E, O; default None); 8 data bits, 1 stop bit"},
    {.name = "address", .value = "A", .offered = bits({C::Read, C::Write, C::SetComm, C::Poll}), .low = 0, .high = 255,
     .what = "address",
     .help = "module address %1 (default 1); read and poll take a list, 1,3,5-7,\n"
             "and ask each address in turn (poll: every period, with statistics per\n"
             "address and in total)"},
    {.name = "retries", .value = "N", .belongs = bits({C::Read, C::Write, C::Poll}),
     .low = 0, .high = 100, .what = "--retries", .field = &CliOptions::retries,
     .help = "read, write, poll: ask again after a time-out, up to N times, %1\n"
             "(default 0); every attempt counts as a request"},
    {.name = "timeout", .value = "MS", .offered = kOnAPort, .low = 1, .high = 60000, .what = "time-out", .unit = "ms",
     .field = &CliOptions::timeoutMs,
     .help = "time to wait for each reply, %1. Default: the time the request\n"
             "and the longest reply of the subcommand take on the line at the baud\n"
             "rate (10 bits a byte, 11 with parity), rounded up, plus 50 ms; 80 ms\n"
             "for a read of eight registers at 9600"},
    {.name = "on", .value = "LIST", .belongs = bits({C::Write})},
    {.name = "ma", .value = "MA", .belongs = bits({C::Write})},
    {.name = "period", .value = "MS", .belongs = bits({C::Poll, C::Site}), .low = 1, .high = 3600000,
     .what = "period", .unit = "ms", .field = &CliOptions::periodMs,
     .help = "poll: from one poll of the model to the next, %1 (default 500)"},
    {.name = "count", .value = "N", .belongs = bits({C::Poll, C::Site}), .low = 1, .high = 100000000,
     .what = "count", .field = &CliOptions::count, .help = "poll: stop after N polls, %1 (default: until Ctrl+C)"},
    {.name = "csv", .value = "FILE", .belongs = bits({C::Poll, C::Site, C::Checkout}),
     .help = "poll: append every value to FILE as well, a CSV line per channel\n"
             "(time,window,address,channel,value,unit,raw,text; window is the\n"
             "model), written as it comes and rotated at 100 MB, five files kept;\n"
             "checkout report: the report, a row per channel"},
    {.name = "pdf", .value = "FILE", .belongs = bits({C::Checkout}),
     .help = "checkout report: the report as PDF (A4) and as HTML"},
    {.name = "html", .value = "FILE", .belongs = bits({C::Checkout}), .help = ""},
    {.name = "from", .value = "A", .belongs = bits({C::Survey, C::Find, C::Site}), .low = 1,
     .high = 255, .what = "--from", .field = &CliOptions::from,
     .help = "survey, find: the addresses to ask, each %1 (default 1 to 254)"},
    {.name = "to", .value = "B", .belongs = bits({C::Survey, C::Find, C::Site}), .low = 1,
     .high = 255, .what = "--to", .field = &CliOptions::to, .help = ""},
    {.name = "codes", .value = "LIST", .belongs = bits({C::Find, C::Site}), .low = kFirstCode, .high = kLastCode,
     .help = "find: the communication-parameter codes to sweep, each %1 (default\n"
             "1,2,3,4,5,6,7,8)"},
    {.name = "turnaround", .value = "MS", .belongs = bits({C::Find, C::Site}), .low = 0, .high = 10000,
     .what = "--turnaround", .unit = "ms", .field = &CliOptions::turnaroundMs,
     .help = "find: added to each probe's line time for the module's turnaround and\n"
             "the adapter's latency, %1 (default 20: a USB adapter holds bytes\n"
             "up to 16 ms)"},
    {.name = "no-crc", .belongs = bits({C::Raw})},
    {.name = "sweep", .belongs = bits({C::Site})},
    {.name = "to-address", .value = "A", .belongs = bits({C::SetAddress}), .low = 1,
     .high = 255, .what = "--to-address", .field = &CliOptions::toAddress,
     .help = "set-address: write to the module at address A only, %1"},
    {.name = "json", .offered = kOnAPort | bits({C::Ports}),
     .help = "results as one JSON object per line (keys address, code, baud,\n"
             "parity, model, channel, value (a number; null for Not Connect), unit,\n"
             "raw, text, verdict, exception, response_ms, seq, time; statistics as\n"
             "requests, ok, timeout, bad_crc, short, long, other_address,\n"
             "other_function, exception, success_pct, response_ms_min,\n"
             "response_ms_median, response_ms_p99, response_ms_max, stopped, rows_lost;\n"
             "ports as device, by_id, description, manufacturer, serial, exists,\n"
             "access; find adds note; doctor prints sys_folder, each port with\n"
             "latency_timer_ms, and code, baud, parity, heard per setting; a scan or\n"
             "survey that finds nothing prints found 0 and note, a scan's collision\n"
             "code, baud, parity and note; a refused set-address or set-comm address,\n"
             "verdict (collision, timeout, taken, not_there, or the write's) and note)"},
    {.name = "echo", .offered = kAtSettings | bits({C::Doctor, C::Site}),
     .help = "the adapter echoes every request (two-wire RS-485 without echo\n"
             "suppression): the request's bytes ahead of the reply are set aside.\n"
             "Without it, an echo is learned from the first read that shows it"},
    {.name = "quiet", .shortName = "q", .offered = kOnAPort,
     .help = "print results and errors only, not the frames (survey and find never\n"
             "print their frames; they show a progress bar when stderr is a terminal)"},
    {.name = "help", .shortName = "h", .help = "this text"},
    {.name = "version", .help = "the program's name and version"},
};

// "  SYNOPSIS" and the first line of text at column, or the synopsis alone on its line when fewer
// than gap blanks would part them; every further line of text indented to column.
QString paragraph(const QString &synopsis, const QString &text, int column, int gap)
{
    const QString indent(column, QLatin1Char(' '));
    const QString head = QStringLiteral("  ") + synopsis;
    return (head.size() + gap <= column ? head.leftJustified(column) : head + QLatin1Char('\n') + indent)
           + QString(text).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent) + QLatin1Char('\n');
}

QString synopsis(const OptionSpec &option)
{
    return (option.shortName ? QStringLiteral("-%1, ").arg(QLatin1String(option.shortName)) : QString())
           + QStringLiteral("--") + QLatin1String(option.name)
           + (option.value ? QLatin1Char(' ') + QLatin1String(option.value) : QString());
}

QString optionHelp(const OptionSpec &option, const OptionSpec *next)
{
    QString text = QString::fromLatin1(option.help);
    if (option.low <= option.high || option.choices)
        text = text.arg(rangeText(option));
    const bool joined = next && next->help && !*next->help; // "--from A, --to B"
    return paragraph(synopsis(option) + (joined ? QStringLiteral(", ") + synopsis(*next) : QString()), text, 19, 1);
}

// "a", "a and b", "a, b and c".
QString listed(const QStringList &words, const QString &last = QStringLiteral(" and "))
{
    return words.size() < 2 ? words.join(QString()) : words.mid(0, words.size() - 1).join(QStringLiteral(", ")) + last + words.last();
}

} // namespace

std::span<const SubcommandSpec> cliSubcommands() { return kSubcommands; }
std::span<const OptionSpec> cliOptions() { return kOptions; }

const OptionSpec &cliOption(const char *name)
{
    return *std::find_if(std::begin(kOptions), std::end(kOptions), [&](const OptionSpec &o) { return qstrcmp(o.name, name) == 0; });
}

QString rangeText(const OptionSpec &option)
{
    QStringList values;
    for (const int v : option.choices ? option.choices() : QList<int>())
        values << QString::number(v);
    return option.choices ? listed(values, QStringLiteral(" or ")) : QStringLiteral("%1..%2").arg(option.low).arg(option.high);
}

QString belongingProblem(const OptionSpec &option)
{
    // The run of options beside it that belong to the same subcommands.
    const OptionSpec *at = &option;
    while (at != std::begin(kOptions) && (at - 1)->belongs == option.belongs)
        --at;
    QStringList names, subcommands;
    for (; at != std::end(kOptions) && at->belongs == option.belongs; ++at)
        names << QStringLiteral("--") + QLatin1String(at->name);
    for (const SubcommandSpec &sub : kSubcommands)
        if (option.belongs & commandBit(sub.command))
            subcommands << QLatin1String(sub.name);
    return QStringLiteral("%1 %2 to %3").arg(listed(names), names.size() > 1 ? QStringLiteral("belong") : QStringLiteral("belongs"),
                                            listed(subcommands));
}

QString helpText(const QString &sysFolder)
{
    QString text = QStringLiteral("Usage: korvant-cli SUBCOMMAND [ARGUMENT] [options]\n"
                                  "Finds, reads, writes and sets KV remote I/O modules over Modbus RTU without a display.\n"
                                  "Options may stand before or after the subcommand.\n"
                                  "\n"
                                  "Subcommands:\n");
    for (const SubcommandSpec &sub : kSubcommands)
        for (const auto &[synopsis, lines] : sub.usages)
            text += synopsis ? paragraph(QLatin1String(synopsis), QLatin1String(lines), 24, 2) : QString();
    // Every model of the table, wrapped to the width of the rest of this text.
    text += wrapWords(QStringLiteral("MODEL:"),
                      modelNames() + QStringLiteral("(any case, or the number alone: 5510)").split(QLatin1Char(' ')),
                      QStringLiteral("       "), 90)
            + QStringLiteral("\n\nOptions:\n");
    for (auto o = std::begin(kOptions); o != std::end(kOptions); ++o)
        if (o->help && *o->help)
            text += optionHelp(*o, o + 1 != std::end(kOptions) ? o + 1 : nullptr);
    return text
           + QStringLiteral(
               "\n"
               "Results go to stdout; the frames sent and received (unless --quiet) and errors to stderr.\n"
               "Exit status: 0 success, 2 usage, 3 the port cannot be opened or the line was lost (a poll\n"
               "or read that loses it prints what it has, and poll's summary says it stopped early), 4 no\n"
               "valid reply (or nothing found), 5 the module answered with an exception, 6 several modules\n"
               "answered at once (a shared address or a collision), 7 the line does not match the site\n"
               "(site check), 8 not every value was logged (a poll whose --csv lost rows: its summary\n"
               "says how many). When results are mixed (a poll of several addresses, or one that lost\n"
               "rows) the worst wins: 3, then 8, then 5, then 4.\n"
               "\n"
               "The sys folder, where COMn is looked up, is sys/ in the working folder when there is one,\n"
               "else ~/.local/share/korvant/sys ($XDG_DATA_HOME/korvant/sys), where the launcher runs the\n"
               "windows.\n")
           + (sysFolder.isEmpty() ? QString() : QStringLiteral("This run's sys folder: %1\n").arg(sysFolder));
}

QString offeredOptions(Command command)
{
    QStringList names;
    for (const OptionSpec &option : kOptions)
        if (command == Command::None || ((option.offered ? option.offered : option.belongs) & commandBit(command)))
            names << QStringLiteral("--") + QLatin1String(option.name);
    return names.join(QLatin1Char(' '));
}

QString bashCompletion(const QString &templateText)
{
    QStringList names, arms, free;
    for (const SubcommandSpec &sub : kSubcommands) {
        names << QLatin1String(sub.name);
        arms << QStringLiteral("        %1) options=\"%2\" ;;").arg(QLatin1String(sub.name), offeredOptions(sub.command));
    }
    arms << QStringLiteral("        *) options=\"%1\" ;;").arg(offeredOptions(Command::None));
    // A value the template completes has an arm of its own there; any other, nothing.
    for (const OptionSpec &option : kOptions)
        if (option.value && !templateText.contains(QStringLiteral("        --%1)").arg(QLatin1String(option.name))))
            free << QStringLiteral("--") + QLatin1String(option.name);
    const std::pair<const char *, QString> marks[] = {
        {"@MODEL_NUMBERS@", modelNumbers().join(QLatin1Char(' '))},
        {"@COMM_TEXTS@", communicationParameterTexts().join(QLatin1Char(' '))},
        {"@BAUDS@", rangeText(cliOption("baud")).remove(QLatin1Char(',')).replace(QLatin1String(" or "), QLatin1String(" "))},
        {"@SUBCOMMANDS@", names.join(QLatin1Char(' '))},
        {"@SUBCOMMAND_PATTERN@", names.join(QLatin1Char('|'))},
        {"@OPTIONS_OF_SUBCOMMANDS@", arms.join(QLatin1Char('\n'))},
        {"@VALUES_NOT_COMPLETED@", free.join(QLatin1Char('|'))},
    };
    QString text = templateText;
    for (const auto &[mark, words] : marks) {
        if (text.count(QLatin1String(mark)) != 1)
            return {};
        text.replace(QLatin1String(mark), words);
    }
    return text;
}
