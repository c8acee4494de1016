// korvant-cli raw: a frame sent as given, its reply shown with its verdict.
#include "commands.h"

#include "context.h"
#include "conversions.h"

int runRaw(Context &c)
{
    const CliOptions &o = c.o;
    // A function the tool reads or writes is judged at its reply's length. Any other takes what
    // comes until the line is quiet, and is judged at that length: the same address, the
    // function or its exception, and a good CRC.
    const QByteArray frame = o.noCrc ? o.frame : withCrc(o.frame);
    // The reply shown is every byte that came, the echo included; the verdict is on what follows it.
    Exchange exchange(frame);
    exchange.echoKnown = c.session.echoKnown();
    const bool known = exchange.replyLength > 0;
    const int longest = known ? exchange.replyLength : 256;
    Session::Reply reply = c.session.exchange(exchange, c.timeoutFor(o.line, int(frame.size()) * (exchange.echoKnown ? 2 : 1), longest));
    if (reply.lineFailed)
        return ExitPort;
    const QString replyHex = HexText(reply.bytes).trimmed();
    if (!known)
        exchange.replyLength = exchange.framing.rtuLength(
            int(reply.bytes.size() - (exchange.echoKnown && reply.bytes.startsWith(frame) ? frame.size() : 0)));
    c.judged(exchange, reply);
    const ExchangeReport x = c.report(frame.isEmpty() ? 0 : std::uint8_t(frame[0]), exchange.verdict, reply.responseMs);
    if (o.json) {
        QJsonObject object = exchangeJson(x, {}).first();
        object.remove(QStringLiteral("model"));
        object.insert(QStringLiteral("request"), HexText(frame).trimmed());
        object.insert(QStringLiteral("reply"), replyHex);
        c.print(object);
    } else {
        c.print(QStringLiteral("reply %1  verdict %2  response %3")
                  .arg(replyHex.isEmpty() ? QStringLiteral("-") : replyHex, exchange.verdict.reason(),
                       reply.responseMs >= 0 ? QString::number(reply.responseMs, 'f', 2) + QStringLiteral(" ms")
                                             : QStringLiteral("-")));
    }
    return c.verdictStatus(exchange.verdict);
}
