#include "commands.h"

#include "conversions.h"
#include "cycle.h"
#include "doctor.h"
#include "find.h"
#include "finder.h"
#include "interrupt.h"
#include "onemodule.h"
#include "report.h"
#include "session.h"
#include "trafficlog.h"
#include "valuelog.h"

#include <QDateTime>

#include <optional>
#include <vector>
#include <QElapsedTimer>
#include <QTime>

#include <unistd.h>

namespace {

class Runner
{
public:
    Runner(const CliOptions &options, QTextStream &out, QTextStream &err)
        : o(options), out(out), err(err), session(options, err)
    {
    }

    int scan();
    int read();
    int write();
    int setAddress();
    int setComm();
    int writeToOne(OneModuleWrite &plan, QJsonObject refused);
    int poll();
    int survey();
    int findBus() { return runFind(o, session, out, err); }
    int raw();

private:
    // A poll's state: per address and in total (last) the exchanges and the time-outs asked
    // again, the CSV log, the clock from its start, and whether it ended on a lost line.
    struct PollRun {
        struct Tally {
            TrafficStatistics traffic;
            int retries = 0;
        };
        std::vector<Tally> tallies;
        std::optional<ValueLog> csv;
        // Each read's channels: their captions kept from one exchange to the next.
        std::vector<QVector<ChannelValue>> channels;
        QElapsedTimer clock;
        bool lineLost = false;
    };
    // One read of the model at the k-th address, asked again after a time-out up to --retries
    // times, printed and tallied; false when the poll ends (interrupted, or the line lost).
    bool pollRead(PollRun &p, int k, int i, const AcquisitionCycle::Read &read);
    int pollSummary(const PollRun &p);

    int timeoutFor(const LineSettings &line, int requestBytes, int replyBytes) const
    {
        return o.timeoutMs > 0 ? o.timeoutMs : defaultTimeoutMs(line, requestBytes, replyBytes);
    }
    // Sends the exchange's request, waits for the reply and judges it. What it gives back is the
    // reply with the line's echo set aside (the bytes the verdict is on, what is decoded), with no
    // response time for a time-out; report() takes the time its reply was complete.
    Session::Reply talk(Exchange &exchange, const LineSettings &line)
    {
        exchange.echoKnown = session.echoKnown();
        Session::Reply reply = session.exchange(
            exchange, timeoutFor(line, int(exchange.request.size()) * (exchange.echoKnown ? 2 : 1), exchange.replyLength));
        judged(exchange, reply);
        session.setEchoKnown(exchange.echoKnown);
        return reply;
    }
    // Judges what came back for the exchange and makes the reply what talk() gives.
    void judged(Exchange &exchange, Session::Reply &reply)
    {
        exchange.judge(reply.bytes);
        reply.bytes = exchange.reply;
        reply.responseMs = responseTimeMs(exchange.verdict, reply.responseMs);
        m_doneWallMs = reply.doneWallMs();
    }
    // talk(), asked again after each time-out up to --retries times (each attempt logged).
    Session::Reply talkRetrying(Exchange &exchange)
    {
        for (int attempt = 0;; ++attempt) {
            const Session::Reply reply = talk(exchange, o.line);
            if (reply.lineFailed || reply.interrupted || exchange.verdict.refusal != Refusal::NoReply || attempt >= o.retries)
                return reply;
            session.logVerdict(exchange.verdict.reason() + QStringLiteral(", asked again"));
        }
    }
    // The exit status of a judged exchange; a refusal is said on stderr.
    int verdictStatus(const ReplyVerdict &verdict);
    // A write's exchange, judged, with its exit status.
    // A write's exchange, judged, with its exit status; with --json a refused one is printed too.
    int writeExchange(const QByteArray &request)
    {
        Exchange exchange(request);
        const Session::Reply reply = talkRetrying(exchange);
        if (reply.lineFailed)
            return ExitPort; // the session said why
        m_written = report(std::uint8_t(request[0]), exchange.verdict, reply.responseMs);
        if (o.json && !exchange.accepted())
            print(exchangeJson(m_written, {}).first());
        return verdictStatus(exchange.verdict);
    }
    // What the JSON says of the exchange judged last, at the time its reply was complete; seq
    // counts the run's exchanges.
    ExchangeReport report(int address, const ReplyVerdict &verdict, double responseMs)
    {
        return {address, o.model ? o.model->name : QString(), ++m_seq, m_doneWallMs, verdict, responseMs};
    }
    // The values of an accepted read, as rows; none for a refused one.
    QVector<ValueRow> rowsOf(const ExchangeReport &x, const AcquisitionCycle::Read &r, const Exchange &exchange) const
    {
        return exchange.accepted() ? valueRows(*o.model, r, exchange.reply, x.address, x.wallMs, o.model->name)
                                   : QVector<ValueRow>();
    }
    int fail(int status, const QString &message)
    {
        err << QStringLiteral("korvant-cli: ") << message << '\n';
        err.flush();
        return status;
    }
    void print(const QString &line)
    {
        out << line << '\n';
        out.flush();
    }
    void print(const QJsonObject &object) { print(jsonLine(object)); }

    const CliOptions &o;
    QTextStream &out;
    QTextStream &err;
    Session session;
    qint64 m_seq = 0;
    qint64 m_doneWallMs = 0;  // when the reply of the exchange judged last was complete
    ExchangeReport m_written; // the last write's exchange
};

QByteArray modelRead(int address, const AcquisitionCycle::Read &r)
{
    return readRequest(std::uint8_t(address), r.function, r.start, r.count);
}

int Runner::verdictStatus(const ReplyVerdict &verdict)
{
    session.logVerdict(verdict.reason());
    if (verdict.accepted())
        return ExitOk;
    if (verdict.refusal == Refusal::Exception)
        return fail(ExitException, QStringLiteral("the module answered with %1").arg(verdict.reason()));
    return fail(ExitNoReply, QStringLiteral("no valid reply: %1").arg(verdict.reason()));
}

int Runner::scan()
{
    // The scan opens the line at each code's settings itself; the first open only finds out
    // whether the port can be opened at all.
    if (!session.open(o.line))
        return ExitPort;
    LineSettings line;
    for (int code = 1; code <= int(communicationParameterTexts().size()); ++code) {
        line = codeSettings(code);
        if (!session.open(line))
            return ExitPort;
        Exchange exchange(parameterReadRequest());
        talk(exchange, line);
        session.logVerdict(QStringLiteral("%1: %2").arg(settingsText(line), exchange.verdict.reason()));
        if (exchange.accepted()) {
            // A device server answers at the first step whatever the module's code: say the code's.
            const ModuleParameters module = moduleParameters(exchange.reply);
            const FoundModule found{module, session.device().startsWith(QLatin1String("tcp://"))
                                                ? codeSettings(module.code)
                                                : line};
            o.json ? print(foundJson(found)) : print(foundLine(found));
            return ExitOk;
        }
        // Bytes that fail the check where a module could have answered: modules answering at once.
        if (presenceOf(exchange.verdict) == Presence::Several) {
            if (o.json)
                print(QJsonObject{{"code", code}, {"baud", line.baud}, {"parity", parityName(line.parity)},
                                  {"note", QStringLiteral("several modules answered at this setting (a collision)")}});
            return fail(ExitShared, QStringLiteral("several modules answered at %1 (a collision): korvant-cli find tells "
                                                   "them apart").arg(communicationParameterTexts()[code - 1]));
        }
    }
    const QString none = QStringLiteral("no module answered at any of the eight settings");
    if (o.json)
        print(QJsonObject{{"found", 0}, {"note", none}});
    return fail(ExitNoReply, none);
}

int Runner::read()
{
    if (!session.open(o.line))
        return ExitPort;
    int status = ExitOk;
    const bool several = o.addresses.size() > 1;
    for (const int address : o.addresses) {
        for (const AcquisitionCycle::Read &r : modelReads(*o.model)) {
            Exchange exchange(modelRead(address, r));
            const Session::Reply reply = talkRetrying(exchange);
            if (reply.lineFailed)
                return ExitPort; // what came before is printed; the session said why
            const ExchangeReport x = report(address, exchange.verdict, reply.responseMs);
            const int s = verdictStatus(exchange.verdict);
            if (o.json) {
                for (const QJsonObject &object : exchangeJson(x, rowsOf(x, r, exchange)))
                    print(object);
            } else if (s == ExitOk) {
                for (const ChannelValue &c : readChannels(*o.model, r, exchange.reply))
                    print((several ? QStringLiteral("address %1  ").arg(address) : QString()) + channelLine(c));
            }
            status = worstStatus(status, s);
        }
    }
    return status;
}

int Runner::write()
{
    if (!session.open(o.line))
        return ExitPort;
    const bool analog = o.model->kind == PanelKind::AnalogOutput;
    const QList<bool> states = analog ? QList<bool>() : *outputStates(*o.on, o.model->outputs());
    const auto address = std::uint8_t(o.address);
    const int status = writeExchange(analog ? writeRegisterRequest(address, 0, std::uint16_t(*o.outputPosition))
                                            : writeCoilsRequest(address, states));
    if (status != ExitOk)
        return status;
    QVector<ValueRow> written;
    if (analog) {
        const QString ma = outputCurrentText(*o.outputPosition);
        written.append({.wallMs = 0, .window = {}, .address = o.address, .channel = QStringLiteral("Analog Output"),
                        .value = ma.toDouble(), .unit = QStringLiteral("mA"), .raw = std::uint16_t(*o.outputPosition), .text = ma + QStringLiteral("mA"), .digital = false});
    } else {
        for (int i = 0; i < states.size(); ++i)
            written.append({.wallMs = 0, .window = {}, .address = o.address, .channel = o.model->outputCaptions[i].trimmed(),
                            .value = states[i] ? 1 : 0, .unit = {}, .raw = std::uint16_t(states[i]), .text = states[i] ? kOn : kOff, .digital = true});
    }
    if (o.json) {
        for (const QJsonObject &object : exchangeJson(m_written, written))
            print(object);
        return ExitOk;
    }
    for (const ValueRow &row : written)
        print(channelLine({row.channel, row.text}) + (analog ? QStringLiteral(" (%1)").arg(*o.outputPosition) : QString()));
    return ExitOk;
}

int Runner::setAddress()
{
    if (!session.open(o.line))
        return ExitPort;
    const QJsonObject refused{{"address", o.argument.toInt()}};
    if (o.toAddress > 0) {
        // One module only: the one at A, none at NEW, and afterwards it answers at NEW.
        OneModuleWrite plan = OneModuleWrite::address(std::uint8_t(o.toAddress), std::uint8_t(o.argument.toInt()));
        const int status = writeToOne(plan, refused);
        if (status == ExitOk && o.json)
            print(QJsonObject{{"address", o.argument.toInt()}, {"verdict", verdictKey(Refusal::None)}});
        else if (status == ExitOk)
            print(QStringLiteral("address %1 written to the module at address %2").arg(o.argument).arg(o.toAddress));
        return status;
    }
    // A broadcast write reaches every module at these settings; when the broadcast read shows
    // several, writing would give them all the same address.
    Exchange probe(parameterReadRequest());
    talk(probe, o.line);
    const Presence heard = presenceOf(probe.verdict);
    session.logVerdict(heard == Presence::Several ? QStringLiteral("several modules (the replies collided)")
                       : heard == Presence::One   ? QStringLiteral("one module") : QStringLiteral("no reply"));
    if (heard == Presence::Several) {
        const QString why = QStringLiteral("several modules answered the broadcast read, so nothing was written: "
                                           "connect one module only, or give --to-address A to write to the "
                                           "module at address A alone");
        if (o.json)
            print(QJsonObject{{"address", o.argument.toInt()}, {"verdict", QStringLiteral("collision")}, {"note", why}});
        return fail(ExitShared, why);
    }
    // The command line took only a whole number 0..255.
    const int status = writeExchange(addressWriteRequest(std::uint8_t(o.argument.toInt())));
    if (status == ExitOk && o.json)
        print(QJsonObject{{"address", o.argument.toInt()}, {"verdict", verdictKey(Refusal::None)}});
    else if (status == ExitOk)
        print(QStringLiteral("address %1 written").arg(o.argument));
    return status;
}

int Runner::setComm()
{
    if (!session.open(o.line))
        return ExitPort;
    // The command line took only one of the eight texts.
    const int code = communicationParameterCode(o.argument);
    OneModuleWrite plan = OneModuleWrite::comm(std::uint8_t(o.address), code);
    const int status = writeToOne(plan, {{"address", o.address}, {"code", code}});
    if (status == ExitOk && o.json)
        print(QJsonObject{{"address", o.address}, {"code", code}, {"baud", baudForCode(code)},
                          {"parity", parityName(parityForCode(code))}, {"verdict", verdictKey(Refusal::None)}});
    else if (status == ExitOk)
        print(QStringLiteral("code %1 (%2) written to address %3, and it answers there")
                  .arg(code)
                  .arg(o.argument)
                  .arg(o.address));
    return status;
}

// Drives plan over the line: its reads before the write, the write (judged and said as every
// write is), and the read after it at the plan's settings after. ExitOk only when the module
// answered where the write sent it; any other end is said on stderr, and with --json as refused
// with the outcome's verdict and note.
int Runner::writeToOne(OneModuleWrite &plan, QJsonObject refused)
{
    const LineSettings after = plan.lineAfter(o.line);
    while (plan.step() != OneModuleWrite::Step::Done) {
        if (plan.step() == OneModuleWrite::Step::Write) {
            const int status = writeExchange(plan.request());
            if (status != ExitOk)
                return status; // the write's verdict was said
            plan.heard(m_written.verdict);
            if (!session.open(after))
                return ExitPort;
            continue;
        }
        Exchange exchange(plan.request());
        const bool verify = plan.step() == OneModuleWrite::Step::Verify;
        if (talk(exchange, verify ? after : o.line).lineFailed)
            return ExitPort;
        session.logVerdict(exchange.verdict.reason());
        plan.heard(exchange.verdict);
    }
    if (plan.outcome() == OneModuleWrite::Outcome::Written)
        return ExitOk;
    refused.insert(QStringLiteral("verdict"), plan.key());
    refused.insert(QStringLiteral("note"), plan.refusal());
    if (o.json)
        print(refused);
    const bool shared = plan.outcome() == OneModuleWrite::Outcome::Several || plan.outcome() == OneModuleWrite::Outcome::Taken;
    return fail(shared ? ExitShared : ExitNoReply, plan.refusal());
}

int Runner::poll()
{
    Interrupt::install();
    if (!session.open(o.line))
        return ExitPort;
    const QVector<AcquisitionCycle::Read> reads = modelReads(*o.model);
    PollRun p;
    p.tallies.resize(std::size_t(o.addresses.size()) + 1);
    for (const AcquisitionCycle::Read &r : reads)
        p.channels.push_back(readCaptions(*o.model, r));
    // The values go to the CSV log as they come; what befalls the log (a failure and its cause,
    // writing again and the rows lost, the file made again) is said on stderr and the poll goes on.
    if (!o.csvPath.isEmpty())
        p.csv.emplace(o.csvPath, [this](const QString &message) { fail(ExitOk, message); });
    p.clock.start();
    qint64 nextMs = 0;
    bool ended = false;
    for (int n = 0; !ended && (o.count == 0 || n < o.count); ++n) {
        for (int k = 0; k < o.addresses.size() && !ended; ++k) {
            for (int i = 0; i < reads.size() && !ended; ++i)
                ended = !pollRead(p, k, i, reads[i]);
        }
        if (ended || (o.count > 0 && n + 1 >= o.count))
            break;
        nextMs += o.periodMs;
        const qint64 waitMs = nextMs - p.clock.elapsed();
        if (waitMs > 0 && !session.wait(int(waitMs)))
            break;
        if (waitMs <= 0 && Interrupt::requested())
            break;
    }
    return pollSummary(p);
}

bool Runner::pollRead(PollRun &p, int k, int i, const AcquisitionCycle::Read &read)
{
    const int address = o.addresses[k];
    for (int attempt = 0;; ++attempt) {
        Exchange exchange(modelRead(address, read));
        ExchangeRecord record;
        record.request = exchange.request;
        record.timeNs = p.clock.nsecsElapsed();
        const Session::Reply reply = talk(exchange, o.line);
        // A line that failed judged nothing: the exchange is not counted, and the poll ends.
        if (reply.interrupted || reply.lineFailed) {
            p.lineLost = reply.lineFailed;
            return false;
        }
        record.reply = reply.bytes;
        record.responseMs = reply.responseMs;
        record.verdict = exchange.verdict;
        session.logVerdict(record.verdict.reason());
        p.tallies[std::size_t(k)].traffic.add(record);
        p.tallies.back().traffic.add(record);
        const ExchangeReport x = report(address, exchange.verdict, reply.responseMs);
        if (p.csv || o.json) {
            const QVector<ValueRow> rows = rowsOf(x, read, exchange);
            if (p.csv && exchange.accepted())
                p.csv->write(rows);
            if (o.json)
                for (const QJsonObject &object : exchangeJson(x, rows))
                    print(object);
        }
        if (!o.json) {
            QVector<ChannelValue> &channels = p.channels[std::size_t(i)];
            if (exchange.accepted())
                setChannelValues(channels, *o.model, read, exchange.reply);
            print((o.addresses.size() > 1 ? QStringLiteral("address %1  ").arg(address) : QString())
                  + exchangeLine(clockText(x.wallMs), record.verdict, reply.responseMs,
                                 exchange.accepted() ? channels : QVector<ChannelValue>()));
        }
        // Only a time-out is asked again: any other reply says the module is there.
        if (record.verdict.refusal != Refusal::NoReply || attempt >= o.retries)
            return true;
        ++p.tallies[std::size_t(k)].retries;
        ++p.tallies.back().retries;
    }
}

// With several addresses, each one's statistics, then the total's, and the rows the CSV log lost.
int Runner::pollSummary(const PollRun &p)
{
    const QString stopped = p.lineLost ? QStringLiteral("line lost") : QString();
    const qint64 lost = p.csv ? p.csv->rowsLost() : 0;
    int status = ExitOk;
    for (std::size_t k = o.addresses.size() > 1 ? 0 : o.addresses.size(); k < p.tallies.size(); ++k) {
        const PollRun::Tally &t = p.tallies[k];
        const bool each = k < std::size_t(o.addresses.size());
        if (o.json) {
            QJsonObject summary = statisticsJson(t.traffic, t.retries);
            if (each)
                summary.insert(QStringLiteral("address"), o.addresses[qsizetype(k)]);
            else if (!stopped.isEmpty())
                summary.insert(QStringLiteral("stopped"), stopped);
            if (!each && lost > 0)
                summary.insert(QStringLiteral("rows_lost"), lost);
            print(summary);
        } else {
            for (const QString &line : statisticsLines(t.traffic, t.retries))
                print(each ? QStringLiteral("address %1  %2").arg(o.addresses[qsizetype(k)]).arg(line) : line);
            if (!each && !stopped.isEmpty())
                print(QStringLiteral("stopped early: ") + stopped);
            if (!each && lost > 0)
                print(QStringLiteral("not every value was logged: %1 of %2 rows lost").arg(lost).arg(p.csv->rows()));
        }
        if (each || o.addresses.size() == 1)
            status = worstStatus(status, t.traffic.ok() > 0 ? ExitOk
                                         : t.traffic.count(Refusal::Exception) > 0 ? ExitException : ExitNoReply);
    }
    return worstStatus(p.lineLost ? ExitPort : status, lost > 0 ? ExitNotLogged : ExitOk);
}

int Runner::raw()
{
    if (!session.open(o.line))
        return ExitPort;
    // A function the tool reads or writes is judged at its reply's length. Any other takes what
    // comes until the line is quiet, and is judged at that length: the same address, the
    // function or its exception, and a good CRC.
    const QByteArray frame = o.noCrc ? o.frame : withCrc(o.frame);
    // The reply shown is every byte that came, the echo included; the verdict is on what follows it.
    Exchange exchange(frame);
    exchange.echoKnown = session.echoKnown();
    const bool known = exchange.replyLength > 0;
    const int longest = known ? exchange.replyLength : 256;
    Session::Reply reply = session.exchange(exchange, timeoutFor(o.line, int(frame.size()) * (exchange.echoKnown ? 2 : 1), longest));
    if (reply.lineFailed)
        return ExitPort;
    const QString replyHex = HexText(reply.bytes).trimmed();
    if (!known)
        exchange.replyLength = int(reply.bytes.size() - (exchange.echoKnown && reply.bytes.startsWith(frame) ? frame.size() : 0));
    judged(exchange, reply);
    const ExchangeReport x = report(frame.isEmpty() ? 0 : std::uint8_t(frame[0]), exchange.verdict, reply.responseMs);
    if (o.json) {
        QJsonObject object = exchangeJson(x, {}).first();
        object.remove(QStringLiteral("model"));
        object.insert(QStringLiteral("request"), HexText(frame).trimmed());
        object.insert(QStringLiteral("reply"), replyHex);
        print(object);
    } else {
        print(QStringLiteral("reply %1  verdict %2  response %3")
                  .arg(replyHex.isEmpty() ? QStringLiteral("-") : replyHex, exchange.verdict.reason(),
                       reply.responseMs >= 0 ? QString::number(reply.responseMs, 'f', 2) + QStringLiteral(" ms")
                                             : QStringLiteral("-")));
    }
    return verdictStatus(exchange.verdict);
}

int Runner::survey()
{
    Interrupt::install();
    if (!session.open(o.line))
        return ExitPort;
    session.setLogging(false);
    const bool bar = !o.quiet && ::isatty(STDERR_FILENO);
    const int total = o.to - o.from + 1;
    int found = 0;
    for (int address = o.from; address <= o.to; ++address) {
        Exchange exchange(parameterReadRequest(std::uint8_t(address)));
        const Session::Reply reply = talk(exchange, o.line);
        if (reply.interrupted)
            break;
        if (exchange.accepted()) {
            ++found;
            const ModuleParameters p = moduleParameters(reply.bytes);
            if (bar) { // the bar's line is cleared before the result takes it
                err << QStringLiteral("\r\033[K");
                err.flush();
            }
            o.json ? print(surveyJson(p, reply.responseMs)) : print(surveyLine(p));
        }
        if (bar) {
            const int done = address - o.from + 1;
            const int width = 40;
            err << QStringLiteral("\r[%1%2] %3/%4 address %5, %6 found")
                       .arg(QString(done * width / total, QLatin1Char('#')), QString(width - done * width / total, QLatin1Char('.')))
                       .arg(done).arg(total).arg(address).arg(found);
            err.flush();
        }
    }
    if (bar) {
        err << QStringLiteral("\r\033[K");
        err.flush();
    }
    if (found == 0) {
        const QString none = QStringLiteral("no module answered at addresses %1 to %2").arg(o.from).arg(o.to);
        if (o.json)
            print(QJsonObject{{"found", 0}, {"note", none}});
        return fail(ExitNoReply, none);
    }
    return ExitOk;
}

} // namespace

int runCommand(const CliOptions &options, QTextStream &out, QTextStream &err)
{
    Runner runner(options, out, err);
    switch (options.command) {
    case Command::Scan: return runner.scan();
    case Command::Read: return runner.read();
    case Command::Write: return runner.write();
    case Command::SetAddress: return runner.setAddress();
    case Command::SetComm: return runner.setComm();
    case Command::Poll: return runner.poll();
    case Command::Survey: return runner.survey();
    case Command::Ports: {
        const QList<SerialPortEntry> ports = listSerialPorts();
        for (const SerialPortEntry &port : ports)
            out << (options.json ? jsonLine(portJson(port)) : portLine(port)) << '\n';
        if (ports.isEmpty())
            err << QStringLiteral("korvant-cli: the system lists no serial device\n");
        return ExitOk;
    }
    case Command::Find: return runner.findBus();
    case Command::Raw: return runner.raw();
    case Command::Doctor: return runDoctor(options, out, err);
    default: break;
    }
    return ExitUsage;
}
