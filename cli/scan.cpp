// korvant-cli scan: the broadcast parameter read at the eight settings in code order, until a
// module answers.
#include "commands.h"

#include "context.h"
#include "conversions.h"
#include "onemodule.h"

int runScan(Context &c)
{
    const CliOptions &o = c.o;
    // The scan opens the line at each code's settings itself.
    for (int code = 1; code <= int(communicationParameterTexts().size()); ++code) {
        const LineSettings line = codeSettings(code);
        if (!c.session.open(line))
            return ExitPort;
        Exchange exchange(parameterReadRequest());
        c.talk(exchange, line);
        c.session.logVerdict(QStringLiteral("%1: %2").arg(settingsText(line), exchange.verdict.reason()));
        if (exchange.accepted()) {
            // A device server answers at the first step whatever the module's code: say the code's.
            const ModuleParameters module = moduleParameters(exchange.reply);
            const FoundModule found{module, c.session.deviceServer() ? codeSettings(module.code) : line};
            o.json ? c.print(foundJson(found)) : c.print(foundLine(found));
            return ExitOk;
        }
        // Bytes that fail the check where a module could have answered: modules answering at once.
        if (presenceOf(exchange.verdict) == Presence::Several) {
            if (o.json)
                c.print(QJsonObject{{"code", code}, {"baud", line.baud}, {"parity", parityName(line.parity)},
                                  {"note", QStringLiteral("several modules answered at this setting (a collision)")}});
            return c.fail(ExitShared, QStringLiteral("several modules answered at %1 (a collision): korvant-cli find tells "
                                                   "them apart").arg(communicationParameterTexts()[code - 1]));
        }
    }
    return c.nothingFound(QStringLiteral("no module answered at any of the eight settings"));
}
