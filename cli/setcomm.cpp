// korvant-cli set-comm: a new communication-parameter code, written to one module and verified
// at the new setting.
#include "commands.h"

#include "context.h"
#include "onemodule.h"

int runSetComm(Context &c)
{
    const CliOptions &o = c.o;
    // The command line took only one of the eight texts.
    const int code = communicationParameterCode(o.argument);
    OneModuleWrite plan = OneModuleWrite::comm(std::uint8_t(o.address), code);
    const int status = c.writeToOne(plan, {{"address", o.address}, {"code", code}});
    if (status == ExitOk && o.json)
        c.print(QJsonObject{{"address", o.address}, {"code", code}, {"baud", baudForCode(code)},
                          {"parity", parityName(parityForCode(code))}, {"verdict", verdictKey(Refusal::None)}});
    else if (status == ExitOk)
        c.print(QStringLiteral("code %1 (%2) written to address %3, and it answers there")
                  .arg(code)
                  .arg(o.argument)
                  .arg(o.address));
    return status;
}
