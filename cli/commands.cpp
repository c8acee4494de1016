#include "commands.h"

#include "conversions.h"
#include "cycle.h"
#include "doctor.h"
#include "find.h"
#include "finder.h"
#include "interrupt.h"
#include "report.h"
#include "session.h"

#include <QElapsedTimer>
#include <QTime>

#include <unistd.h>

namespace {

// A poll's line may come out this much later than its reply when that saves a sleep.
constexpr int kHoldMs = 200;

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
    int poll();
    int survey();
    int findBus() { return runFind(o, session, out, err); }

private:
    int timeoutFor(const LineSettings &line, int requestBytes, int replyBytes) const
    {
        return o.timeoutMs > 0 ? o.timeoutMs : defaultTimeoutMs(line, requestBytes, replyBytes);
    }
    // Sends the exchange's request, waits for the reply and judges it.
    Session::Reply talk(Exchange &exchange, const LineSettings &line, int holdMs = 0)
    {
        exchange.echoKnown = session.echoKnown();
        const Session::Reply reply = session.exchange(
            exchange, timeoutFor(line, int(exchange.request.size()) * (exchange.echoKnown ? 2 : 1), exchange.replyLength), holdMs);
        exchange.judge(reply.bytes);
        session.setEchoKnown(exchange.echoKnown);
        return reply;
    }
    // The exit status of a judged exchange; a refusal is said on stderr.
    int verdictStatus(const ReplyVerdict &verdict);
    // A write's exchange, judged, with its exit status.
    int writeExchange(const QByteArray &request)
    {
        Exchange exchange(request);
        talk(exchange, o.line);
        return verdictStatus(exchange.verdict);
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
        line.baud = baudForCode(code);
        line.parity = parityForCode(code);
        if (!session.open(line))
            return ExitPort;
        Exchange exchange(parameterReadRequest());
        talk(exchange, line);
        session.logVerdict(QStringLiteral("%1: %2").arg(settingsText(line), exchange.verdict.reason()));
        if (exchange.accepted()) {
            // A device server answers at the first step whatever the module's code: say the code's.
            const ModuleParameters module = moduleParameters(exchange.reply);
            const FoundModule found{module, session.device().startsWith(QLatin1String("tcp://"))
                                                ? LineSettings{baudForCode(module.code), parityForCode(module.code)}
                                                : line};
            o.json ? print(foundJson(found)) : print(foundLine(found));
            return ExitOk;
        }
    }
    return fail(ExitNoReply, QStringLiteral("no module answered at any of the eight settings"));
}

int Runner::read()
{
    if (!session.open(o.line))
        return ExitPort;
    int status = ExitOk;
    for (const AcquisitionCycle::Read &r : modelReads(*o.model)) {
        Exchange exchange(modelRead(o.address, r));
        const Session::Reply reply = talk(exchange, o.line);
        const int s = verdictStatus(exchange.verdict);
        if (s == ExitOk) {
            for (const ChannelValue &c : readChannels(*o.model, r, exchange.reply)) {
                if (o.json)
                    print(exchangeJson(o.address, o.model->name, {}, reply.responseMs, {c}).first());
                else
                    print(channelLine(c));
            }
        }
        status = qMax(status, s);
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
    QVector<ChannelValue> written;
    if (analog) {
        written.append({QStringLiteral("Analog Output"), outputCurrentText(*o.outputPosition) + QStringLiteral("mA")});
    } else {
        for (int i = 0; i < states.size(); ++i)
            written.append({o.model->outputCaptions[i].trimmed(), states[i] ? kOn : kOff});
    }
    for (const ChannelValue &c : written) {
        if (o.json)
            print(channelJson(o.address, o.model->name, c));
        else if (analog)
            print(channelLine(c) + QStringLiteral(" (%1)").arg(*o.outputPosition));
        else
            print(channelLine(c));
    }
    return ExitOk;
}

int Runner::setAddress()
{
    if (!session.open(o.line))
        return ExitPort;
    if (o.toAddress > 0) {
        // One module only: the write goes to its address, and its echo comes from there.
        const int status = writeExchange(addressWriteTo(std::uint8_t(o.toAddress), std::uint8_t(o.argument.toInt())));
        if (status == ExitOk && o.json)
            print(QJsonObject{{"address", o.argument.toInt()}, {"verdict", verdictKey(Refusal::None)}});
        else if (status == ExitOk)
            print(QStringLiteral("address %1 written to the module at address %2").arg(o.argument).arg(o.toAddress));
        return status;
    }
    // A broadcast write reaches every module at these settings; when the broadcast read shows
    // several, writing would give them all the same address.
    Exchange probe(parameterReadRequest());
    const Heard heard = hearBroadcast(talk(probe, o.line).bytes);
    session.logVerdict(heard == Heard::Garbled ? QStringLiteral("several modules (the replies collided)")
                       : heard == Heard::OneModule ? QStringLiteral("one module") : QStringLiteral("no reply"));
    if (heard == Heard::Garbled)
        return fail(ExitShared, QStringLiteral("several modules answered the broadcast read, so nothing was written: "
                                               "connect one module only, or give --to-address A to write to the "
                                               "module at address A alone"));
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
    const int status = writeExchange(commWriteRequest(std::uint8_t(o.address), std::uint8_t(code)));
    if (status == ExitOk && o.json)
        print(QJsonObject{{"address", o.address}, {"code", code}, {"baud", baudForCode(code)},
                          {"parity", parityName(parityForCode(code))}, {"verdict", verdictKey(Refusal::None)}});
    else if (status == ExitOk)
        print(QStringLiteral("code %1 (%2) written to address %3")
                  .arg(code)
                  .arg(o.argument)
                  .arg(o.address));
    return status;
}

int Runner::poll()
{
    Interrupt::install();
    if (!session.open(o.line))
        return ExitPort;
    const QVector<AcquisitionCycle::Read> reads = modelReads(*o.model);
    TrafficStatistics statistics;
    QElapsedTimer run;
    run.start();
    qint64 nextMs = 0;
    for (int n = 0; o.count == 0 || n < o.count; ++n) {
        bool interrupted = false;
        for (int i = 0; i < reads.size() && !interrupted; ++i) {
            Exchange exchange(modelRead(o.address, reads[i]));
            ExchangeRecord record;
            record.request = exchange.request;
            record.timeNs = run.nsecsElapsed();
            const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
            // The last read of a pass holds until the next pass when that is soon: one sleep
            // instead of two, and the line still comes out within a blink.
            const qint64 dueMs = nextMs + o.periodMs - run.elapsed();
            const bool last = i + 1 == reads.size() && (o.count == 0 || n + 1 < o.count);
            const Session::Reply reply = talk(exchange, o.line, last && dueMs <= kHoldMs ? int(dueMs) : 0);
            if (reply.interrupted) {
                interrupted = true;
                break;
            }
            record.reply = reply.bytes;
            record.responseMs = reply.responseMs;
            record.verdict = exchange.verdict;
            session.logVerdict(record.verdict.reason());
            statistics.add(record);
            const QVector<ChannelValue> channels =
                exchange.accepted() ? readChannels(*o.model, reads[i], reply.bytes) : QVector<ChannelValue>();
            if (o.json) {
                for (const QJsonObject &object : exchangeJson(o.address, o.model->name, record.verdict, reply.responseMs, channels))
                    print(object);
            } else {
                print(exchangeLine(time, record.verdict, reply.responseMs, channels));
            }
            if (reply.lineFailed)
                interrupted = true;
        }
        if (interrupted || (o.count > 0 && n + 1 >= o.count))
            break;
        nextMs += o.periodMs;
        const qint64 waitMs = nextMs - run.elapsed();
        if (waitMs > 0 && !session.wait(int(waitMs)))
            break;
        if (waitMs <= 0 && Interrupt::requested())
            break;
    }
    if (o.json) {
        print(statisticsJson(statistics));
    } else {
        for (const QString &line : statisticsLines(statistics))
            print(line);
    }
    return statistics.ok() > 0 ? ExitOk : ExitNoReply;
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
    if (found == 0)
        return fail(ExitNoReply, QStringLiteral("no module answered at addresses %1 to %2").arg(o.from).arg(o.to));
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
    case Command::Doctor: return runDoctor(options, out, err);
    default: break;
    }
    return ExitUsage;
}
