#include "commandline.h"

#include "clitable.h"
#include "conversions.h"
#include "cycle.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace {

// A whole number low..high written in plain decimal digits, nothing else.
std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    const auto digit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    if (text.isEmpty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), digit))
        return std::nullopt;
    const int v = text.toInt();
    if (v < low || v > high)
        return std::nullopt;
    return v;
}

// "1,3" -> {1, 3}, each low..high; "none" or "" -> {}.
std::optional<QList<int>> numberList(const QString &text, int low, int high)
{
    QList<int> numbers;
    if (text.isEmpty() || text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
        return numbers;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const std::optional<int> n = wholeNumber(part.trimmed(), low, high);
        if (!n)
            return std::nullopt;
        numbers << *n;
    }
    return numbers;
}

// "1,3,5-7": addresses low..high in the order given, each once.
std::optional<QList<int>> addressList(const QString &text, int low, int high)
{
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        const std::optional<int> first = wholeNumber(ends[0].trimmed(), low, high);
        const std::optional<int> last = ends.size() == 2 ? wholeNumber(ends[1].trimmed(), low, high) : first;
        if (ends.size() > 2 || !first || !last || *last < *first)
            return std::nullopt;
        for (int a = *first; a <= *last; ++a)
            if (!addresses.contains(a))
                addresses << a;
    }
    return addresses;
}

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

    // A whole-number option within its range, into its field (when it has one).
    std::optional<int> number(const OptionSpec &option) const
    {
        const std::optional<int> v = wholeNumber(value(option.name), option.low, option.high);
        if (!v)
            fail(QStringLiteral("%1 \"%2\" is not %3").arg(QLatin1String(option.what), value(option.name), rangeText(option))
                 + (*option.unit ? QLatin1Char(' ') + QLatin1String(option.unit) : QString()));
        else if (option.field)
            o.*option.field = *v;
        return v;
    }
    bool numberIfSet(const char *name) const { return !isSet(name) || number(cliOption(name)); }

    bool belongs(const OptionSpec &option) const
    {
        return !option.belongs || !isSet(option.name) || (option.belongs & commandBit(o.command))
               || fail(belongingProblem(option));
    }

    // The subcommand and its argument, if it takes one.
    bool subcommand(QString &argument) const
    {
        const QStringList positional = parser.positionalArguments();
        if (positional.isEmpty())
            return fail(QStringLiteral("no subcommand given"));
        const std::span<const SubcommandSpec> subs = cliSubcommands();
        const auto c = std::find_if(subs.begin(), subs.end(), [&](const SubcommandSpec &c) { return positional[0] == QLatin1String(c.name); });
        if (c == subs.end())
            return fail(QStringLiteral("unknown subcommand \"%1\"").arg(positional[0]));
        o.command = c->command;
        if (positional.size() - 1 != c->arguments)
            return fail((c->arguments == 0   ? QStringLiteral("%1 takes no argument")
                         : c->arguments == 1          ? QStringLiteral("%1 takes one argument")
                         : c->command == Command::Site ? QStringLiteral("%1 takes new, check or poll and a site file")
                                                       : QStringLiteral("%1 takes report and a journal"))
                            .arg(positional[0]));
        argument = positional.value(1);
        o.file = positional.value(2);
        return true;
    }

    // --port, --baud and --parity.
    bool line() const
    {
        if (isSet("port")) {
            o.portGiven = true;
            o.port = value("port");
            if (o.port.isEmpty())
                return fail(QStringLiteral("--port needs a port"));
        }
        if (isSet("baud")) {
            const std::optional<int> b = wholeNumber(value("baud"), 1, 4000000);
            if (!b || !baudRates().contains(*b))
                return fail(QStringLiteral("baud rate \"%1\" is not %2").arg(value("baud"), rangeText(cliOption("baud"))));
            o.line.baud = *b;
        }
        if (isSet("parity")) {
            const std::optional<char> p = parityFromName(value("parity"), Qt::CaseInsensitive);
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
        const OptionSpec &option = cliOption("address");
        if (!several) {
            const std::optional<int> one = isSet("address") ? number(option) : o.address;
            o.address = one.value_or(0);
            o.addresses = {o.address};
            return one.has_value();
        }
        if (isSet("address")) {
            const std::optional<QList<int>> list = addressList(value("address"), option.low, option.high);
            if (!list)
                return fail(QStringLiteral("address \"%1\" is not a list of addresses %2 (1,3,5-7)").arg(value("address"), rangeText(option)));
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
        const OptionSpec &option = cliOption("codes");
        const std::optional<QList<int>> list = numberList(value("codes"), option.low, option.high);
        if (!list || list->isEmpty())
            return fail(QStringLiteral("--codes \"%1\" is not a list of codes %2").arg(value("codes"), rangeText(option)));
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
    case Command::Site:
        o.argument = text;
        o.sweep = isSet("sweep");
        if (o.sweep && text != QLatin1String("check"))
            return fail(QStringLiteral("--sweep belongs to site check"));
        return QStringList{"new", "check", "poll"}.contains(text) || fail(QStringLiteral("site \"%1\" is not new, check or poll").arg(text));
    case Command::Checkout:
        o.argument = text;
        if (text != QLatin1String("report"))
            return fail(QStringLiteral("checkout \"%1\" is not report").arg(text));
        return !(o.pdfPath + o.htmlPath + o.csvPath).isEmpty() || fail(QStringLiteral("checkout report writes --pdf, --html or --csv: give one"));
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
    const std::optional<QList<int>> list = numberList(value("on"), 1, 99);
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

ParsedCommandLine parseCommandLine(const QStringList &arguments)
{
    ParsedCommandLine result;
    CliOptions &o = result.options;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionSpec &option : cliOptions()) {
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
    // The line's options first, then whether each option belongs to the subcommand, then the values.
    if (!r.subcommand(argument) || !r.line() || !r.addresses() || !r.numberIfSet("timeout") || !r.belongs(cliOption("retries"))
        || !r.numberIfSet("retries"))
        return result;
    o.quiet = r.isSet("quiet");
    o.echo = r.isSet("echo");
    if (o.command == Command::Doctor && !r.isSet("port"))
        o.port.clear();
    o.json = r.isSet("json");
    o.csvPath = r.value("csv");
    o.pdfPath = r.value("pdf");
    o.htmlPath = r.value("html");
    for (const OptionSpec &option : cliOptions())
        if (!r.belongs(option))
            return result;
    if (!r.codes())
        return result;
    for (const OptionSpec &option : cliOptions())
        if (option.field && !r.numberIfSet(option.name))
            return result;
    if (o.from > o.to) {
        result.error = QStringLiteral("--from %1 lies above --to %2").arg(o.from).arg(o.to);
        return result;
    }
    r.argument(argument); // a problem is left in result.error
    return result;
}
