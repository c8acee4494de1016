#include "commands.h"

#include "conversions.h"
#include "cycle.h"
#include "interrupt.h"
#include "report.h"
#include "scan.h"
#include "session.h"
#include "valuelog.h"

#include <optional>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTime>

#include <unistd.h>

namespace {

// A poll's line may come out this much later than its reply when that saves a sleep.
constexpr int kHoldMs = 200;

// A copy of the first action of that kind: the list is often a temporary.
std::optional<CycleAction> find(const CycleActions &actions, CycleAction::Kind kind)
{
    for (const CycleAction &a : actions)
        if (a.kind == kind)
            return a;
    return std::nullopt;
}

QByteArray sentFrame(const CycleActions &actions)
{
    const std::optional<CycleAction> send = find(actions, CycleAction::Send);
    return send ? send->frame : QByteArray();
}

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

private:
    int timeoutFor(const LineSettings &line, int requestBytes, int replyBytes) const
    {
        return o.timeoutMs > 0 ? o.timeoutMs : defaultTimeoutMs(line, requestBytes, replyBytes);
    }
    // Sends the frame the actions hold and gives the bytes that came back.
    QByteArray exchange(const CycleActions &actions, const LineSettings &line)
    {
        const QByteArray frame = sentFrame(actions);
        const int timeout = timeoutFor(line, int(frame.size()), expectedReplyLength(frame));
        return session.exchange(frame, timeout).bytes;
    }
    // The exit status of a judged exchange; a refusal is said on stderr.
    int verdictStatus(const CycleActions &judged);
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

int Runner::verdictStatus(const CycleActions &judged)
{
    const std::optional<CycleAction> a = find(judged, CycleAction::Judged);
    const ReplyVerdict verdict = a ? a->verdict : ReplyVerdict{Refusal::NoReply};
    session.logVerdict(verdict.reason());
    if (verdict.accepted())
        return ExitOk;
    if (verdict.refusal == Refusal::Exception)
        return fail(ExitException, QStringLiteral("the module answered with %1").arg(verdict.reason()));
    return fail(ExitNoReply, QStringLiteral("no valid reply: %1").arg(verdict.reason()));
}

int Runner::scan()
{
    // The scan opens the line at each step's settings itself; the first open only finds out
    // whether the port can be opened at all.
    if (!session.open(o.line))
        return ExitPort;
    ParameterCycle cycle;
    cycle.click(true);
    LineSettings line;
    QByteArray received;
    while (cycle.scanning()) {
        const CycleActions ticked = cycle.tick(true, received);
        const std::optional<CycleAction> reopen = find(ticked, CycleAction::Reopen);
        if (!reopen)
            break;
        const int code = reopen->step + 1;
        line.baud = baudForCode(code);
        line.parity = parityForCode(code);
        if (!session.open(line)) {
            cycle.reopened(false);
            return ExitPort;
        }
        const CycleActions sent = cycle.reopened(true);
        const QByteArray frame = sentFrame(sent);
        received = session.exchange(frame, timeoutFor(line, int(frame.size()), expectedReplyLength(frame))).bytes;
        const CycleActions judged = cycle.readTimeout(received);
        const std::optional<CycleAction> verdict = find(judged, CycleAction::Judged);
        session.logVerdict(QStringLiteral("%1: %2").arg(settingsText(line), verdict->verdict.reason()));
        if (verdict->decode) {
            // A device server answers at the first step whatever the module's code: say the code's.
            const ModuleParameters module = cycle.found();
            const FoundModule found{module, session.device().startsWith(QLatin1String("tcp://"))
                                                ? LineSettings{baudForCode(module.code), parityForCode(module.code)}
                                                : line};
            o.json ? print(foundJson(found)) : print(foundLine(found));
            return ExitOk;
        }
        received.clear();
    }
    return fail(ExitNoReply, QStringLiteral("no module answered at any of the eight settings"));
}

int Runner::read()
{
    if (!session.open(o.line))
        return ExitPort;
    const QVector<AcquisitionCycle::Read> reads = modelReads(*o.model);
    AcquisitionCycle cycle(reads);
    int status = ExitOk;
    for (int i = 0; i < reads.size(); ++i) {
        cycle.click(i);
        const CycleActions sent = cycle.tick(i, true, QString::number(o.address), {});
        const QByteArray frame = sentFrame(sent);
        const Session::Reply reply = session.exchange(frame, timeoutFor(o.line, int(frame.size()), expectedReplyLength(frame)));
        const CycleActions judged = cycle.readTimeout(i, reply.bytes);
        const int s = verdictStatus(judged);
        if (s == ExitOk && find(judged, CycleAction::Judged)->decode) {
            for (const ChannelValue &c : readChannels(*o.model, reads[i], reply.bytes)) {
                if (o.json)
                    print(exchangeJson(o.address, o.model->name, {}, reply.responseMs, {c}).first());
                else
                    print(channelLine(c));
            }
        }
        status = qMax(status, s);
        cycle.click(i);
    }
    return status;
}

int Runner::write()
{
    if (!session.open(o.line))
        return ExitPort;
    AcquisitionCycle cycle({}, true);
    const bool analog = o.model->kind == PanelKind::AnalogOutput;
    const QList<bool> states = analog ? QList<bool>() : *outputStates(*o.on, o.model->outputs());
    const CycleActions sent = cycle.validate(true, QString::number(o.address), [&](std::uint8_t address) {
        return analog ? writeRegisterRequest(address, 0, std::uint16_t(*o.outputPosition))
                      : writeCoilsRequest(address, states);
    });
    const int status = verdictStatus(cycle.writeTimeout(exchange(sent, o.line)));
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
    ParameterCycle cycle;
    const CycleActions sent = cycle.writeAddress(true, o.argument);
    if (const std::optional<CycleAction> prompt = find(sent, CycleAction::Prompt))
        return fail(ExitUsage, prompt->text);
    const int status = verdictStatus(cycle.writeTimeout(exchange(sent, o.line)));
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
    ParameterCycle cycle;
    const CycleActions sent = cycle.writeParameters(true, QString::number(o.address), o.argument);
    if (const std::optional<CycleAction> prompt = find(sent, CycleAction::Prompt))
        return fail(ExitUsage, prompt->text);
    const int status = verdictStatus(cycle.writeTimeout(exchange(sent, o.line)));
    const int code = communicationParameterCode(o.argument);
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
    AcquisitionCycle cycle(reads);
    TrafficStatistics statistics;
    // The values go to the CSV log as they come; a log that cannot be written is said once on
    // stderr and the poll goes on.
    std::optional<ValueLog> csv;
    if (!o.csvPath.isEmpty())
        csv.emplace(o.csvPath, [this](const QString &why) {
            fail(ExitOk, QStringLiteral("cannot write the value log %1: %2").arg(o.csvPath, why));
        });
    QElapsedTimer run;
    run.start();
    qint64 nextMs = 0;
    for (int n = 0; o.count == 0 || n < o.count; ++n) {
        bool interrupted = false;
        for (int i = 0; i < reads.size() && !interrupted; ++i) {
            if (!cycle.acquiring(i))
                cycle.click(i);
            ExchangeRecord record;
            record.request = sentFrame(cycle.tick(i, true, QString::number(o.address), {}));
            record.timeNs = run.nsecsElapsed();
            const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
            // The last read of a pass holds until the next pass when that is soon: one sleep
            // instead of two, and the line still comes out within a blink.
            const qint64 dueMs = nextMs + o.periodMs - run.elapsed();
            const bool last = i + 1 == reads.size() && (o.count == 0 || n + 1 < o.count);
            const Session::Reply reply = session.exchange(
                record.request, timeoutFor(o.line, int(record.request.size()), expectedReplyLength(record.request)),
                last && dueMs <= kHoldMs ? int(dueMs) : 0);
            if (reply.interrupted) {
                interrupted = true;
                break;
            }
            record.reply = reply.bytes;
            record.responseMs = reply.responseMs;
            const std::optional<CycleAction> judged = find(cycle.readTimeout(i, reply.bytes), CycleAction::Judged);
            record.verdict = judged->verdict;
            session.logVerdict(record.verdict.reason());
            statistics.add(record);
            const QVector<ChannelValue> channels =
                judged->decode ? readChannels(*o.model, reads[i], reply.bytes) : QVector<ChannelValue>();
            if (csv && judged->decode)
                csv->write(valueRows(*o.model, reads[i], reply.bytes, o.address, QDateTime::currentMSecsSinceEpoch(), o.model->name));
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
        const QByteArray frame = readRequest(std::uint8_t(address), 0x03, 100, 3);
        const int expected = expectedReplyLength(frame);
        const Session::Reply reply = session.exchange(frame, timeoutFor(o.line, int(frame.size()), expected));
        if (reply.interrupted)
            break;
        if (judgeReply(reply.bytes, frame, expected).accepted()) {
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
    default: break;
    }
    return ExitUsage;
}
