#include "context.h"

#include "onemodule.h"

#include <unistd.h>

bool Context::showsProgress() const
{
    return !o.quiet && ::isatty(STDERR_FILENO);
}

void Context::progress(int done, int total, const QString &text)
{
    if (!showsProgress())
        return;
    const int width = 40;
    err << QStringLiteral("\r\033[K[%1%2] ").arg(QString(done * width / total, QLatin1Char('#')),
                                           QString(width - done * width / total, QLatin1Char('.')))
        << text;
    err.flush();
}

Session::Reply Context::talk(Exchange &exchange, const LineSettings &line, bool roomForEcho)
{
    exchange.echoKnown = session.echoKnown();
    Session::Reply reply = session.exchange(
        exchange, timeoutFor(line, int(exchange.request.size()) * (exchange.echoKnown || roomForEcho ? 2 : 1), exchange.replyLength));
    judged(exchange, reply);
    session.setEchoKnown(exchange.echoKnown);
    return reply;
}

void Context::judged(Exchange &exchange, Session::Reply &reply)
{
    exchange.judge(reply.bytes);
    reply.bytes = exchange.reply;
    reply.responseMs = responseTimeMs(exchange.verdict, reply.responseMs);
    m_doneWallMs = reply.doneWallMs();
}

Session::Reply Context::talkRetrying(Exchange &exchange)
{
    for (int attempt = 0;; ++attempt) {
        const Session::Reply reply = talk(exchange, o.line);
        if (reply.lineFailed || reply.interrupted || exchange.verdict.refusal != Refusal::NoReply || attempt >= o.retries)
            return reply;
        session.logVerdict(exchange.verdict.reason() + QStringLiteral(", asked again"));
    }
}

int Context::verdictStatus(const ReplyVerdict &verdict)
{
    session.logVerdict(verdict.reason());
    if (verdict.accepted())
        return ExitOk;
    if (verdict.refusal == Refusal::Exception)
        return fail(ExitException, QStringLiteral("the module answered with %1").arg(verdict.reason()));
    return fail(ExitNoReply, QStringLiteral("no valid reply: %1").arg(verdict.reason()));
}

int Context::writeExchange(const QByteArray &request)
{
    Exchange exchange(request);
    const Session::Reply reply = talkRetrying(exchange);
    if (reply.lineFailed)
        return ExitPort; // the session said why
    written = report(std::uint8_t(request[0]), exchange.verdict, reply.responseMs);
    if (o.json && !exchange.accepted())
        print(exchangeJson(written, {}).first());
    return verdictStatus(exchange.verdict);
}

int Context::writeToOne(OneModuleWrite &plan, QJsonObject refused)
{
    const LineSettings after = plan.lineAfter(o.line);
    while (plan.step() != OneModuleWrite::Step::Done) {
        if (plan.step() == OneModuleWrite::Step::Write) {
            const int status = writeExchange(plan.request());
            if (status != ExitOk)
                return status; // the write's verdict was said
            plan.heard(written.verdict);
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

QByteArray modelRead(int address, const AcquisitionCycle::Read &r)
{
    return readRequest(std::uint8_t(address), r.function, r.start, r.count);
}
