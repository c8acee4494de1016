// korvant-cli site new|check|poll FILE: a site made from a sweep of the line, the line checked
// against its site, and every module of it polled in turn, all through the core's site poll.
#include "commands.h"

#include "context.h"
#include "interrupt.h"
#include "logfile.h"
#include "sitepoll.h"

#include <QFileInfo>
#include <QJsonArray>

#include <optional>
#include <vector>

namespace {

// The site poll driven over the session: each request at its module's setting (the line reopened
// when it changes, but for a device server, which carries every setting), judged, handed back.
class SiteDriver
{
public:
    SiteDriver(Context &c, SitePoll &poll) : c(c), poll(poll), stats(std::size_t(poll.modules())) {}

    // One request; false when the line failed or Ctrl+C came (the session said why).
    bool step()
    {
        const SiteRequest r = poll.next();
        if (r.kind == SiteRequest::None)
            return false;
        if (r.code != code && !c.session.deviceServer()) {
            if (!c.session.open(codeSettings(r.code)))
                return !(lost = true);
            code = r.code;
        }
        Exchange x(r.frame);
        const Session::Reply reply = c.talk(x, codeSettings(r.code));
        if (reply.interrupted || reply.lineFailed)
            return !(lost = reply.lineFailed);
        c.session.logVerdict(x.verdict.reason());
        stats[std::size_t(r.module)].add(x.verdict.refusal, reply.responseMs);
        poll.heard(x, reply.responseMs, reply.doneWallMs());
        asked.insert(r.module);
        return true;
    }
    // The rest of the round under way; false as for step().
    bool round()
    {
        asked.clear();
        for (const int at = poll.round(); poll.round() == at;)
            if (!step())
                return false;
        return true;
    }

    Context &c;
    SitePoll &poll;
    std::vector<TrafficStatistics> stats; // per module
    QSet<int> asked;                      // the modules asked in the last round
    int code = 0;
    bool lost = false;
};

QString moduleName(const SiteModule &m)
{
    return QStringLiteral("address %1  %2  code %3").arg(m.address).arg(m.model).arg(m.code)
           + (m.tag.isEmpty() ? QString() : QStringLiteral("  \"%1\"").arg(m.tag));
}

QJsonObject moduleJson(const SiteModule &m)
{
    return {{"address", m.address}, {"model", m.model}, {"code", m.code}, {"tag", m.tag}};
}

// What the check says of a module: "ok" (with a note when its setting is not the line's), or
// "no reply", "errors: REASON", another model.
QStringList checkState(const SitePoll &poll, int k)
{
    const SiteModuleState &s = poll.state(k);
    if (s.check == SiteModuleState::Check::Unread)
        return {s.health == SiteHealth::NoReply ? QStringLiteral("no reply") : QStringLiteral("errors: ") + s.lastVerdict.reason()};
    return (s.check == SiteModuleState::Check::Matches ? QStringList{QStringLiteral("ok")} : QStringList()) + poll.notes(k);
}

// The sweep site new and site check --sweep make: find's, with --codes, --from and --to.
std::optional<QVector<FinderRow>> sweep(Context &c)
{
    c.session.setLogging(false);
    BusFinder finder(finderOptions(c));
    const bool kept = sweepLine(c, finder);
    c.session.setLogging(!c.o.quiet);
    return kept ? std::optional(finder.rows()) : std::nullopt;
}

int siteNew(Context &c)
{
    if (!c.session.open(c.o.line))
        return ExitPort;
    const std::optional<QVector<FinderRow>> rows = sweep(c);
    if (!rows)
        return ExitPort;
    const Site site = siteOfFound(*rows, QFileInfo(c.o.file).completeBaseName(), c.o.port);
    if (site.modules.isEmpty())
        return c.fail(ExitNoReply, QStringLiteral("no module answered at the settings swept: no site written"));
    QString error;
    if (!writeSite(site, c.o.file, &error))
        return c.fail(ExitPort, QStringLiteral("cannot write the site: ") + error);
    for (const SiteModule &m : site.modules)
        c.print(c.o.json ? jsonLine(moduleJson(m)) : moduleName(m));
    c.print(c.o.json ? jsonLine({{"file", c.o.file}, {"code", site.code}, {"modules", int(site.modules.size())}})
                     : QStringLiteral("%1 written: site \"%2\", %3 modules, the line at code %4").arg(c.o.file, site.name).arg(site.modules.size()).arg(site.code));
    return ExitOk;
}

int siteCheck(Context &c, SitePoll &poll)
{
    SiteDriver d(c, poll);
    if (!d.round())
        return d.lost ? int(ExitPort) : ExitOk;
    int status = ExitOk;
    for (int k = 0; k < poll.modules(); ++k) {
        const SiteModule &m = poll.site().modules[k];
        const QString state = checkState(poll, k).join(QStringLiteral("; "));
        if (!state.startsWith(QLatin1String("ok")))
            status = ExitSiteDiffers;
        QJsonObject o = moduleJson(m);
        o.insert("state", state);
        c.print(c.o.json ? jsonLine(o) : moduleName(m) + QStringLiteral("  ") + state);
    }
    if (!c.o.sweep)
        return status;
    const std::optional<QVector<FinderRow>> rows = sweep(c);
    if (!rows)
        return ExitPort;
    for (const FinderRow &row : *rows) {
        const int code = row.code;
        const auto &mods = poll.site().modules;
        if (!row.isModule() || std::any_of(mods.begin(), mods.end(), [&](const SiteModule &m) { return m.address == row.address && m.code == code; }))
            continue;
        status = ExitSiteDiffers;
        QJsonObject o = findJson(row);
        o.insert("state", "not in the site");
        c.print(c.o.json ? jsonLine(o) : findLine(row) + QStringLiteral("  not in the site"));
    }
    return status;
}

// A module's line of a round: its health, response time and values with their tags.
QString roundLine(const SitePoll &poll, int k)
{
    const SiteModuleState &s = poll.state(k);
    QString line = moduleName(poll.site().modules[k]) + QStringLiteral("  ") + healthText(s.health)
                   + (s.lastMs >= 0 ? QStringLiteral(" %1 ms").arg(s.lastMs, 0, 'f', 2) : QString());
    for (const QString &note : poll.notes(k))
        line += QStringLiteral("  (%1)").arg(note);
    for (const ValueRow &row : poll.values(k))
        line += QStringLiteral("  %1 %2").arg(row.channel, row.text) + (row.tag.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(row.tag));
    return line;
}

void printRound(Context &c, const SiteDriver &d, LogFile *csv)
{
    for (int k = 0; k < d.poll.modules(); ++k) {
        if (!d.asked.contains(k))
            continue;
        const QVector<ValueRow> rows = d.poll.values(k);
        const QString moduleTag = d.poll.site().modules[k].tag;
        QByteArray lines;
        for (const ValueRow &row : rows)
            lines += (siteCsvLine(row, moduleTag) + QLatin1Char('\n')).toUtf8();
        if (csv && !rows.isEmpty())
            csv->write(lines, int(rows.size()), rows.first().wallMs);
        if (!c.o.json) {
            c.print(roundLine(d.poll, k));
            continue;
        }
        QJsonObject health = moduleJson(d.poll.site().modules[k]);
        health.insert("health", healthText(d.poll.state(k).health));
        health.insert("notes", QJsonArray::fromStringList(d.poll.notes(k)));
        c.print(health);
        for (const ValueRow &row : rows) {
            QJsonObject o = valueJson(row);
            o.insert("address", row.address);
            o.insert("module_tag", moduleTag);
            o.insert("channel_tag", row.tag);
            o.insert("time", isoLocalTime(row.wallMs));
            c.print(o);
        }
    }
}

int siteSummary(Context &c, const SiteDriver &d)
{
    int status = ExitOk;
    for (int k = 0; k < d.poll.modules(); ++k) {
        const SiteModule &m = d.poll.site().modules[k];
        const SiteModuleState &s = d.poll.state(k);
        const TrafficStatistics &t = d.stats[std::size_t(k)];
        if (c.o.json) {
            QJsonObject o = statisticsJson(t);
            o.insert("address", m.address);
            o.insert("tag", m.tag);
            o.insert("late", s.late);
            c.print(o);
        } else {
            for (const QString &line : statisticsLines(t))
                c.print(QStringLiteral("address %1  %2").arg(m.address).arg(line));
            c.print(QStringLiteral("address %1  ok %2  late %3  no reply %4  errors %5").arg(m.address).arg(s.ok).arg(s.late).arg(s.noReply).arg(s.errors));
        }
        status = worstStatus(status, t.ok() > 0 ? ExitOk : t.count(Refusal::Exception) > 0 ? ExitException : ExitNoReply);
    }
    return d.lost ? int(ExitPort) : status;
}

int sitePoll(Context &c, SitePoll &poll)
{
    SiteDriver d(c, poll);
    std::optional<LogFile> csv;
    if (!c.o.csvPath.isEmpty())
        csv.emplace(c.o.csvPath, QStringLiteral("value log"), (kSiteCsvHeader + QLatin1Char('\n')).toUtf8(),
                    [&c](const QString &message) { c.fail(ExitOk, message); });
    QElapsedTimer clock;
    clock.start();
    qint64 nextMs = 0;
    // The opening round reads the modules' parameters: no values yet.
    for (int n = d.round() ? 0 : c.o.count; c.o.count == 0 || n < c.o.count; ++n) {
        if (!d.round())
            break;
        printRound(c, d, csv ? &*csv : nullptr);
        if (c.o.count > 0 && n + 1 >= c.o.count)
            break;
        nextMs += c.o.periodMs;
        const qint64 waitMs = nextMs - clock.elapsed();
        if ((waitMs > 0 && !c.session.wait(int(waitMs))) || (waitMs <= 0 && Interrupt::requested()))
            break;
    }
    const int status = siteSummary(c, d);
    return worstStatus(status, csv && csv->rowsLost() > 0 ? ExitNotLogged : ExitOk);
}

} // namespace

int runSite(Context &c)
{
    if (c.o.argument == QLatin1String("new"))
        return siteNew(c);
    QString error;
    const std::optional<Site> site = readSite(c.o.file, &error);
    if (!site)
        return c.fail(ExitUsage, error);
    // The site's port, unless --port names another; each module is asked at its own code.
    CliOptions o = c.o;
    o.port = o.portGiven ? o.port : site->port;
    Context at(o, c.out, c.err);
    SitePoll poll(*site);
    poll.setGateway(resolvePort(o.port, o.sysFolder).framing() == FramingKind::Mbap);
    return c.o.argument == QLatin1String("check") ? siteCheck(at, poll) : sitePoll(at, poll);
}
