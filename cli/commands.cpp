#include "commands.h"

#include "conversions.h"
#include "cycle.h"
#include "report.h"
#include "scan.h"
#include "session.h"

namespace {

const CycleAction *find(const CycleActions &actions, CycleAction::Kind kind)
{
    for (const CycleAction &a : actions)
        if (a.kind == kind)
            return &a;
    return nullptr;
}

QByteArray sentFrame(const CycleActions &actions)
{
    const CycleAction *send = find(actions, CycleAction::Send);
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

    const CliOptions &o;
    QTextStream &out;
    QTextStream &err;
    Session session;
};

int Runner::verdictStatus(const CycleActions &judged)
{
    const CycleAction *a = find(judged, CycleAction::Judged);
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
        const CycleAction *reopen = find(ticked, CycleAction::Reopen);
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
        const CycleAction *verdict = find(judged, CycleAction::Judged);
        session.logVerdict(QStringLiteral("%1: %2").arg(settingsText(line), verdict->verdict.reason()));
        if (verdict->decode) {
            print(foundLine({cycle.found(), line}));
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
        const QByteArray received = exchange(sent, o.line);
        const CycleActions judged = cycle.readTimeout(i, received);
        const int s = verdictStatus(judged);
        if (s == ExitOk && find(judged, CycleAction::Judged)->decode) {
            for (const ChannelValue &c : readChannels(*o.model, reads[i], received))
                print(channelLine(c));
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
    if (analog) {
        print(QStringLiteral("Analog Output: %1mA (%2)").arg(outputCurrentText(*o.outputPosition)).arg(*o.outputPosition));
    } else {
        for (int i = 0; i < states.size(); ++i)
            print(channelLine({o.model->outputCaptions[i].trimmed(), states[i] ? kOn : kOff}));
    }
    return ExitOk;
}

int Runner::setAddress()
{
    if (!session.open(o.line))
        return ExitPort;
    ParameterCycle cycle;
    const CycleActions sent = cycle.writeAddress(true, o.argument);
    if (const CycleAction *prompt = find(sent, CycleAction::Prompt))
        return fail(ExitUsage, prompt->text);
    const int status = verdictStatus(cycle.writeTimeout(exchange(sent, o.line)));
    if (status == ExitOk)
        print(QStringLiteral("address %1 written").arg(o.argument));
    return status;
}

int Runner::setComm()
{
    if (!session.open(o.line))
        return ExitPort;
    ParameterCycle cycle;
    const CycleActions sent = cycle.writeParameters(true, QString::number(o.address), o.argument);
    if (const CycleAction *prompt = find(sent, CycleAction::Prompt))
        return fail(ExitUsage, prompt->text);
    const int status = verdictStatus(cycle.writeTimeout(exchange(sent, o.line)));
    if (status == ExitOk)
        print(QStringLiteral("code %1 (%2) written to address %3")
                  .arg(communicationParameterCode(o.argument))
                  .arg(o.argument)
                  .arg(o.address));
    return status;
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
    default: break;
    }
    return ExitUsage;
}
