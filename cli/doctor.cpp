#include "doctor.h"

#include "linecheck.h"
#include "report.h"
#include "serialports.h"
#include "session.h"

#include <QFileInfo>

namespace {

void warn(QTextStream &err, const QString &text)
{
    err << QStringLiteral("korvant-cli: warning: ") << text << '\n';
    err.flush();
}

QString latencyText(int ms)
{
    return ms < 0 ? QStringLiteral("-") : QStringLiteral("%1 ms").arg(ms);
}

} // namespace

int runDoctor(const CliOptions &o, QTextStream &out, QTextStream &err, const QString &devRoot, const QString &sysRoot)
{
    // Text or, with --json, one object a line.
    const auto say = [&](const QString &text, const QJsonObject &object) {
        out << (o.json ? jsonLine(object) : text) << '\n';
        out.flush();
    };
    const QString sysFolder = o.sysFolder.isEmpty() ? QStringLiteral("sys") : o.sysFolder;
    say(QStringLiteral("sys folder ") + sysFolder, {{"sys_folder", sysFolder}});
    const QList<SerialPortEntry> ports = listSerialPorts(devRoot, sysRoot);
    for (const SerialPortEntry &port : ports) {
        QJsonObject object = portJson(port);
        object.insert(QStringLiteral("latency_timer_ms"), port.latencyTimerMs < 0 ? QJsonValue() : QJsonValue(port.latencyTimerMs));
        say(portLine(port) + QStringLiteral("  latency timer ") + latencyText(port.latencyTimerMs), object);
    }
    if (ports.isEmpty())
        err << QStringLiteral("korvant-cli: the system lists no serial device\n");
    bool anyLocked = false;
    for (const SerialPortEntry &port : ports) {
        anyLocked = anyLocked || (port.exists && !port.mayOpen);
        if (o.port.isEmpty() || QFileInfo(port.device).canonicalFilePath() == QFileInfo(resolvePort(o.port, o.sysFolder).name()).canonicalFilePath())
            if (const QString advice = latencyAdvice(port.device, port.latencyTimerMs); !advice.isEmpty())
                warn(err, advice);
    }
    if (anyLocked)
        warn(err, QStringLiteral("this user may not open every port: sudo usermod -aG dialout $USER, then log in again"));
    if (o.port.isEmpty())
        return ExitOk;

    Session session(o, err);
    bool answered = false, echoed = false;
    for (int code = 1; code <= int(communicationParameterTexts().size()); ++code) {
        const LineSettings line = codeSettings(code);
        if (!session.open(line))
            return ExitPort; // said by the session, at the first setting or a later one
        Exchange exchange(parameterReadRequest());
        exchange.echoKnown = session.echoKnown();
        const int timeoutMs = o.timeoutMs > 0 ? o.timeoutMs
                                              : defaultTimeoutMs(line, int(exchange.request.size()) * 2, exchange.replyLength);
        const Session::Reply reply = session.exchange(exchange, timeoutMs);
        if (reply.interrupted || reply.lineFailed)
            return reply.lineFailed ? ExitPort : ExitNoReply;
        exchange.judge(reply.bytes);
        session.setEchoKnown(exchange.echoKnown);
        session.logVerdict(exchange.verdict.reason());
        const Hearing heard = hearSetting(exchange);
        echoed = echoed || !exchange.echo.isEmpty();
        answered = answered || heard == Hearing::Module || heard == Hearing::Several;
        say(QStringLiteral("code %1  %2  %3").arg(code).arg(settingsText(line), hearingText(heard)),
            {{"code", code}, {"baud", line.baud}, {"parity", parityName(line.parity)}, {"heard", hearingText(heard)}});
    }
    session.close();
    if (echoed)
        warn(err, QStringLiteral("the adapter echoes every request (two-wire RS-485 without echo suppression): "
                                 "its echo is set aside; pass --echo to say so from the start"));
    if (!answered) {
        err << QStringLiteral("korvant-cli: nothing answered at any setting\n");
        err.flush();
        return ExitNoReply;
    }
    return ExitOk;
}
