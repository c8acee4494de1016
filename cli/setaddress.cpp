// korvant-cli set-address: a new address, broadcast to the one module on the line or written
// to the module at --to-address alone.
#include "commands.h"

#include "context.h"
#include "onemodule.h"

namespace {

// The broadcast write, made only when the broadcast read does not show several modules: it
// reaches every module at these settings, and would give them all the same address.
int broadcast(Context &c, const CliOptions &o)
{
    Exchange probe(parameterReadRequest());
    c.talk(probe, o.line);
    const Presence heard = presenceOf(probe.verdict);
    c.session.logVerdict(heard == Presence::Several ? QStringLiteral("several modules (the replies collided)")
                       : heard == Presence::One   ? QStringLiteral("one module") : QStringLiteral("no reply"));
    if (heard == Presence::Several) {
        const QString why = QStringLiteral("several modules answered the broadcast read, so nothing was written: "
                                           "connect one module only, or give --to-address A to write to the "
                                           "module at address A alone");
        if (o.json)
            c.print(QJsonObject{{"address", o.argument.toInt()}, {"verdict", QStringLiteral("collision")}, {"note", why}});
        return c.fail(ExitShared, why);
    }
    // The command line took only a whole number 0..255.
    return c.writeExchange(addressWriteRequest(std::uint8_t(o.argument.toInt())));
}

} // namespace

int runSetAddress(Context &c)
{
    const CliOptions &o = c.o;
    // To one module only: the one at A, none at NEW, and afterwards it answers at NEW.
    OneModuleWrite plan = OneModuleWrite::address(std::uint8_t(o.toAddress), std::uint8_t(o.argument.toInt()));
    const int status = o.toAddress > 0 ? c.writeToOne(plan, {{"address", o.argument.toInt()}}) : broadcast(c, o);
    if (status == ExitOk && o.json)
        c.print(QJsonObject{{"address", o.argument.toInt()}, {"verdict", verdictKey(Refusal::None)}});
    else if (status == ExitOk)
        c.print(o.toAddress > 0 ? QStringLiteral("address %1 written to the module at address %2").arg(o.argument).arg(o.toAddress)
                                : QStringLiteral("address %1 written").arg(o.argument));
    return status;
}
