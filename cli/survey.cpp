// korvant-cli survey: the parameter read to each address of --from..--to at one setting.
#include "commands.h"

#include "context.h"
#include "onemodule.h"

int runSurvey(Context &c)
{
    const CliOptions &o = c.o;
    c.session.setLogging(false);
    const int total = o.to - o.from + 1;
    int found = 0;
    QStringList shared; // addresses where replies collided
    for (int address = o.from; address <= o.to; ++address) {
        Exchange exchange(parameterReadRequest(std::uint8_t(address)));
        const Session::Reply reply = c.talk(exchange, o.line);
        if (reply.interrupted)
            break;
        if (exchange.accepted()) {
            ++found;
            const ModuleParameters p = moduleParameters(reply.bytes);
            c.clearProgress(); // the bar's line is cleared before the result takes it
            o.json ? c.print(surveyJson(p, reply.responseMs)) : c.print(surveyLine(p));
        } else if (presenceOf(exchange.verdict) == Presence::Several) {
            // Several modules at one address: their replies collided, which is not silence.
            shared << QString::number(address);
            const QString note = QStringLiteral("several modules answered (their replies collided)");
            c.clearProgress();
            o.json ? c.print(QJsonObject{{"address", address}, {"note", note}})
                   : c.print(QStringLiteral("address %1  note %2").arg(address).arg(note));
        }
        const int done = address - o.from + 1;
        c.progress(done, total, QStringLiteral("%1/%2 address %3, %4 found").arg(done).arg(total).arg(address).arg(found));
    }
    c.clearProgress();
    if (!shared.isEmpty())
        return c.fail(ExitShared, QStringLiteral("several modules share address %1: korvant-cli find tells them apart")
                                      .arg(shared.join(QStringLiteral(", "))));
    return found > 0 ? ExitOk : c.nothingFound(QStringLiteral("no module answered at addresses %1 to %2").arg(o.from).arg(o.to));
}
