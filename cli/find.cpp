// korvant-cli find: the core's bus finder driven over the session's line, one probe at a time.
#include "commands.h"

#include "context.h"
#include "finder.h"

#include <QElapsedTimer>

namespace {

// The finder driven over the session's line: each step it asks for done, its time kept in µs.
class Sweep
{
public:
    Sweep(Context &c, BusFinder &finder) : c(c), finder(finder) { clock.start(); }

    // Runs the finder to its end; false when the line failed (the session said why).
    bool run()
    {
        for (BusFinder::Next next = finder.start(nowUs()); next.kind != BusFinder::Next::Done;) {
            const std::optional<BusFinder::Next> after = next.kind == BusFinder::Next::Open     ? open(next)
                                                         : next.kind == BusFinder::Next::Listen ? listen(next)
                                                                                                : probe(next);
            if (!after)
                break;
            if (next.kind == BusFinder::Next::Send)
                progress();
            next = *after;
        }
        c.clearProgress();
        return !portFailed;
    }

private:
    qint64 nowUs() const { return clock.nsecsElapsed() / 1000; }

    BusFinder::Next open(const BusFinder::Next &next)
    {
        const bool ok = c.session.open(next.code != 0 ? codeSettings(next.code) : c.o.line);
        portFailed = !ok;
        return finder.opened(ok, nowUs());
    }

    // Nothing (and the finder stopped) when the line failed or Ctrl+C came.
    std::optional<BusFinder::Next> ended(const Session::Reply &reply)
    {
        portFailed = reply.lineFailed;
        finder.stop();
        return std::nullopt;
    }

    std::optional<BusFinder::Next> listen(const BusFinder::Next &next)
    {
        const qint64 fromUs = nowUs();
        const Session::Reply heard = c.session.listenUs(qMax<qint64>(0, next.deadlineUs - fromUs));
        if (heard.interrupted || heard.lineFailed)
            return ended(heard);
        return finder.judged(heard.bytes, heard.responseMs >= 0 ? fromUs + qint64(heard.responseMs * 1000) : -1, nowUs());
    }

    std::optional<BusFinder::Next> probe(const BusFinder::Next &next)
    {
        // Bytes that came since the last probe ended are an earlier probe's: they go first.
        const Session::Reply between = c.session.listenUs(0);
        const qint64 sentUs = nowUs();
        Exchange probe(next.frame);
        probe.echoKnown = c.session.echoKnown();
        const Session::Reply reply = between.lineFailed ? between : c.session.exchangeUs(probe, qMax<qint64>(1, next.deadlineUs - sentUs));
        if (reply.interrupted || reply.lineFailed)
            return ended(reply);
        const qint64 lastUs = reply.responseMs >= 0 ? sentUs + qint64(reply.responseMs * 1000) : between.bytes.isEmpty() ? -1 : sentUs;
        // The finder judges what follows the adapter's echo (a gateway's frames, which never start
        // with the request, as they came).
        const EchoSplit split = splitEcho(reply.bytes, probe.request, probe.replyLength, probe.echoKnown);
        c.session.setEchoKnown(probe.echoKnown || split.learned);
        return finder.judged(between.bytes + split.reply, lastUs, nowUs());
    }

    void progress()
    {
        const int planned = qMax(1, finder.probesPlanned());
        const int done = qMin(finder.probesSent(), planned);
        c.progress(done, planned, QStringLiteral("%1/%2 probes, %3 s left, %4 found")
                                      .arg(done).arg(planned).arg((finder.timeLeftUs() + 999999) / 1000000).arg(finder.modulesFound()));
    }

    Context &c;
    BusFinder &finder;
    QElapsedTimer clock;
    bool portFailed = false;
};

} // namespace

FinderOptions finderOptions(const Context &c)
{
    const CliOptions &o = c.o;
    FinderOptions options;
    options.codes = o.codes;
    options.from = o.from;
    options.to = o.to;
    options.turnaroundMs = o.turnaroundMs;
    options.timeoutMs = o.timeoutMs;
    options.lineCarriesSettings = !c.session.deviceServer();
    options.framing = resolvePort(o.port, o.sysFolder).framing();
    return options;
}

bool sweepLine(Context &c, BusFinder &finder)
{
    return Sweep(c, finder).run();
}

int runFind(Context &c)
{
    const CliOptions &o = c.o;
    c.session.setLogging(false);
    BusFinder finder(finderOptions(c));
    if (const QString note = sweepNote(finderOptions(c)); !note.isEmpty() && !o.quiet)
        c.fail(ExitOk, note);
    const bool lineKept = sweepLine(c, finder);
    for (const FinderRow &row : finder.rows())
        c.print(o.json ? jsonLine(findJson(row)) : findLine(row));
    if (!lineKept)
        return ExitPort;
    const QString none = QStringLiteral("no module answered at the settings swept");
    if (o.json && finder.modulesFound() == 0)
        c.print(QJsonObject{{"note", none}});
    // Bytes that failed the check with no module found are a collision too, not silence.
    if (finder.faultFound() || (finder.modulesFound() == 0 && finder.heardGarbled()))
        return c.fail(ExitShared, QStringLiteral("several modules answered at once: a shared address or a collision (see the notes)"));
    if (finder.modulesFound() == 0)
        return c.fail(ExitNoReply, none);
    return ExitOk;
}
