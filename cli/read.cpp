// korvant-cli read: every read of the model's window, once at each address.
#include "commands.h"

#include "context.h"

int runRead(Context &c)
{
    const CliOptions &o = c.o;
    int status = ExitOk;
    const bool several = o.addresses.size() > 1;
    for (const int address : o.addresses) {
        for (const AcquisitionCycle::Read &r : modelReads(*o.model)) {
            Exchange exchange(modelRead(address, r));
            const Session::Reply reply = c.talkRetrying(exchange);
            if (reply.lineFailed)
                return ExitPort; // what came before is printed; the session said why
            const ExchangeReport x = c.report(address, exchange.verdict, reply.responseMs);
            const int s = c.verdictStatus(exchange.verdict);
            if (o.json) {
                for (const QJsonObject &object : exchangeJson(x, c.rowsOf(x, r, exchange)))
                    c.print(object);
            } else if (s == ExitOk) {
                for (const ChannelValue &channel : readChannels(*o.model, r, exchange.reply))
                    c.print((several ? QStringLiteral("address %1  ").arg(address) : QString()) + channelLine(channel));
            }
            status = worstStatus(status, s);
        }
    }
    return status;
}
