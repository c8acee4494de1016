#include "find.h"

#include "finder.h"
#include "interrupt.h"
#include "report.h"
#include "session.h"

#include <QElapsedTimer>
#include <QJsonObject>

#include <unistd.h>

namespace {

void progress(QTextStream &err, const BusFinder &finder)
{
    const int planned = qMax(1, finder.probesPlanned());
    const int done = qMin(finder.probesSent(), planned);
    const int width = 40;
    err << QStringLiteral("\r\033[K[%1%2] %3/%4 probes, %5 s left, %6 found")
               .arg(QString(done * width / planned, QLatin1Char('#')), QString(width - done * width / planned, QLatin1Char('.')))
               .arg(done).arg(planned).arg((finder.timeLeftUs() + 999999) / 1000000).arg(finder.modulesFound());
    err.flush();
}

} // namespace

int runFind(const CliOptions &o, Session &session, QTextStream &out, QTextStream &err)
{
    Interrupt::install();
    if (!session.open(o.line))
        return ExitPort;
    session.setLogging(false);
    const bool bar = !o.quiet && ::isatty(STDERR_FILENO);

    FinderOptions options;
    options.codes = o.codes;
    options.from = o.from;
    options.to = o.to;
    options.turnaroundMs = o.turnaroundMs;
    options.timeoutMs = o.timeoutMs;
    options.lineCarriesSettings = !session.deviceServer();
    BusFinder finder(options);
    QElapsedTimer clock;
    clock.start();
    const auto nowUs = [&clock] { return clock.nsecsElapsed() / 1000; };

    bool portFailed = false;
    for (BusFinder::Next next = finder.start(nowUs()); next.kind != BusFinder::Next::Done;) {
        if (next.kind == BusFinder::Next::Open) {
            const bool ok = session.open(withCode(o.line, next.code));
            portFailed = !ok;
            next = finder.opened(ok, nowUs());
            continue;
        }
        if (next.kind == BusFinder::Next::Listen) {
            const qint64 fromUs = nowUs();
            const Session::Reply heard = session.listenUs(qMax<qint64>(0, next.deadlineUs - fromUs));
            if (heard.interrupted || heard.lineFailed) {
                portFailed = heard.lineFailed;
                finder.stop();
                break;
            }
            next = finder.judged(heard.bytes, heard.responseMs >= 0 ? fromUs + qint64(heard.responseMs * 1000) : -1, nowUs());
            continue;
        }
        // Bytes that came since the last probe ended are an earlier probe's: they go first.
        const Session::Reply between = session.listenUs(0);
        const qint64 sentUs = nowUs();
        Exchange probe(next.frame);
        probe.echoKnown = session.echoKnown();
        const Session::Reply reply = between.lineFailed ? between : session.exchangeUs(probe, qMax<qint64>(1, next.deadlineUs - sentUs));
        if (reply.interrupted || reply.lineFailed) {
            portFailed = reply.lineFailed;
            finder.stop();
            break;
        }
        const qint64 lastUs = reply.responseMs >= 0 ? sentUs + qint64(reply.responseMs * 1000) : between.bytes.isEmpty() ? -1 : sentUs;
        // The finder judges what follows the adapter's echo.
        const EchoSplit split = splitEcho(reply.bytes, probe.request, probe.replyLength, probe.echoKnown);
        session.setEchoKnown(probe.echoKnown || split.learned);
        next = finder.judged(between.bytes + split.reply, lastUs, nowUs());
        if (bar)
            progress(err, finder);
    }
    if (bar) {
        err << QStringLiteral("\r\033[K");
        err.flush();
    }
    for (const FinderRow &row : finder.rows()) {
        out << (o.json ? jsonLine(findJson(row)) : findLine(row)) << '\n';
        out.flush();
    }
    const auto fail = [&err](int status, const QString &message) {
        err << QStringLiteral("korvant-cli: ") << message << '\n';
        err.flush();
        return status;
    };
    if (portFailed)
        return ExitPort;
    if (o.json && finder.modulesFound() == 0) {
        QJsonObject none;
        none.insert(QStringLiteral("note"), QStringLiteral("no module answered at the settings swept"));
        out << jsonLine(none) << '\n';
        out.flush();
    }
    // Bytes that failed the check with no module found are a collision too, not silence.
    if (finder.faultFound() || (finder.modulesFound() == 0 && finder.heardGarbled()))
        return fail(ExitShared, QStringLiteral("several modules answered at once: a shared address or a collision (see the notes)"));
    if (finder.modulesFound() == 0)
        return fail(ExitNoReply, QStringLiteral("no module answered at the settings swept"));
    return ExitOk;
}
