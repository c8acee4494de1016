// korvant-cli doctor: what is wrong with the line rather than the module. The system's serial
// ports with their rights and latency timers, and with --port, what the broadcast parameter read
// hears at each of the eight settings.
#include "commands.h"

#include "context.h"
#include "linecheck.h"
#include "serialports.h"

namespace {

// Text or, with --json, one object a line.
void say(Context &c, const QString &text, const QJsonObject &object)
{
    c.print(c.o.json ? jsonLine(object) : text);
}

// The sys folder and the ports table, with the warnings the ports call for.
void listPorts(Context &c)
{
    const CliOptions &o = c.o;
    const QString sysFolder = o.sysFolder.isEmpty() ? QStringLiteral("sys") : o.sysFolder;
    say(c, QStringLiteral("sys folder ") + sysFolder, {{"sys_folder", sysFolder}});
    const QList<SerialPortEntry> ports = listSerialPorts(c.devRoot, c.sysRoot);
    for (const SerialPortEntry &port : ports) {
        QJsonObject object = portJson(port);
        object.insert(QStringLiteral("latency_timer_ms"), port.latencyTimerMs < 0 ? QJsonValue() : QJsonValue(port.latencyTimerMs));
        const int ms = port.latencyTimerMs;
        say(c, portLine(port) + QStringLiteral("  latency timer ") + (ms < 0 ? QStringLiteral("-") : QStringLiteral("%1 ms").arg(ms)), object);
    }
    if (ports.isEmpty())
        c.fail(ExitOk, QStringLiteral("the system lists no serial device"));
    bool anyLocked = false;
    for (const SerialPortEntry &port : ports) {
        anyLocked = anyLocked || (port.exists && !port.mayOpen);
        if (o.port.isEmpty() || sameDevice(port.device, resolvePort(o.port, o.sysFolder).name()))
            if (const QString advice = latencyAdvice(port.device, port.latencyTimerMs); !advice.isEmpty())
                c.warn(advice);
    }
    if (anyLocked)
        c.warn(QStringLiteral("this user may not open every port: sudo usermod -aG dialout $USER, then log in again"));
}

} // namespace

int runDoctor(Context &c)
{
    listPorts(c);
    if (c.o.port.isEmpty())
        return ExitOk;
    bool answered = false, echoed = false;
    for (int code = 1; code <= int(communicationParameterTexts().size()); ++code) {
        const LineSettings line = codeSettings(code);
        if (!c.session.open(line))
            return ExitPort; // said by the session, at the first setting or a later one
        Exchange exchange(parameterReadRequest());
        // Long enough for an echo ahead of the reply, whether or not one is known yet.
        const Session::Reply reply = c.talk(exchange, line, true);
        if (reply.interrupted || reply.lineFailed)
            return reply.lineFailed ? ExitPort : ExitNoReply;
        c.session.logVerdict(exchange.verdict.reason());
        const Hearing heard = hearSetting(exchange);
        echoed = echoed || !exchange.echo.isEmpty();
        answered = answered || heard == Hearing::Module || heard == Hearing::Several;
        say(c, QStringLiteral("code %1  %2  %3").arg(code).arg(settingsText(line), hearingText(heard)),
            {{"code", code}, {"baud", line.baud}, {"parity", parityName(line.parity)}, {"heard", hearingText(heard)}});
    }
    c.session.close();
    if (echoed)
        c.warn(QStringLiteral("the adapter echoes every request (two-wire RS-485 without echo suppression): "
                              "its echo is set aside; pass --echo to say so from the start"));
    return answered ? ExitOk : c.fail(ExitNoReply, QStringLiteral("nothing answered at any setting"));
}
