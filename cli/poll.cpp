// korvant-cli poll: the model's reads at every address each period, each line printed as it comes,
// then the statistics.
#include "commands.h"

#include "context.h"
#include "interrupt.h"
#include "trafficlog.h"
#include "valuelog.h"

#include <QElapsedTimer>

#include <optional>
#include <vector>

namespace {

// A poll's state: per address and in total (last) the exchanges and the time-outs asked
// again, the CSV log, the clock from its start, and whether it ended on a lost line.
struct PollRun {
    struct Tally {
        TrafficStatistics traffic;
        int retries = 0;
    };
    std::vector<Tally> tallies;
    std::optional<ValueLog> csv;
    // Each read's channels: their captions kept from one exchange to the next.
    std::vector<QVector<ChannelValue>> channels;
    QElapsedTimer clock;
    bool lineLost = false;
};
// One read of the model at the k-th address, asked again after a time-out up to --retries
// times, printed and tallied; false when the poll ends (interrupted, or the line lost).
bool pollRead(Context &c, PollRun &p, int k, int i, const AcquisitionCycle::Read &read)
{
    const CliOptions &o = c.o;
    const int address = o.addresses[k];
    for (int attempt = 0;; ++attempt) {
        Exchange exchange(modelRead(address, read));
        const Session::Reply reply = c.talk(exchange, o.line);
        // A line that failed judged nothing: the exchange is not counted, and the poll ends.
        if (reply.interrupted || reply.lineFailed) {
            p.lineLost = reply.lineFailed;
            return false;
        }
        const ReplyVerdict &verdict = exchange.verdict;
        c.session.logVerdict(verdict.reason());
        p.tallies[std::size_t(k)].traffic.add(verdict.refusal, reply.responseMs);
        p.tallies.back().traffic.add(verdict.refusal, reply.responseMs);
        const ExchangeReport x = c.report(address, verdict, reply.responseMs);
        if (p.csv || o.json) {
            const QVector<ValueRow> rows = c.rowsOf(x, read, exchange);
            if (p.csv && exchange.accepted())
                p.csv->write(rows);
            if (o.json)
                for (const QJsonObject &object : exchangeJson(x, rows))
                    c.print(object);
        }
        if (!o.json) {
            QVector<ChannelValue> &channels = p.channels[std::size_t(i)];
            if (exchange.accepted())
                setChannelValues(channels, *o.model, read, exchange.reply);
            c.print((o.addresses.size() > 1 ? QStringLiteral("address %1  ").arg(address) : QString())
                  + exchangeLine(clockText(x.wallMs), verdict, reply.responseMs,
                                 exchange.accepted() ? channels : QVector<ChannelValue>()));
        }
        // Only a time-out is asked again: any other reply says the module is there.
        if (verdict.refusal != Refusal::NoReply || attempt >= o.retries)
            return true;
        ++p.tallies[std::size_t(k)].retries;
        ++p.tallies.back().retries;
    }
}

int pollSummary(Context &c, const PollRun &p)
{
    const CliOptions &o = c.o;
    const QString stopped = p.lineLost ? QStringLiteral("line lost") : QString();
    const qint64 lost = p.csv ? p.csv->rowsLost() : 0;
    int status = ExitOk;
    for (std::size_t k = o.addresses.size() > 1 ? 0 : o.addresses.size(); k < p.tallies.size(); ++k) {
        const PollRun::Tally &t = p.tallies[k];
        const bool each = k < std::size_t(o.addresses.size());
        if (o.json) {
            QJsonObject summary = statisticsJson(t.traffic, t.retries);
            if (each)
                summary.insert(QStringLiteral("address"), o.addresses[qsizetype(k)]);
            else if (!stopped.isEmpty())
                summary.insert(QStringLiteral("stopped"), stopped);
            if (!each && lost > 0)
                summary.insert(QStringLiteral("rows_lost"), lost);
            c.print(summary);
        } else {
            for (const QString &line : statisticsLines(t.traffic, t.retries))
                c.print(each ? QStringLiteral("address %1  %2").arg(o.addresses[qsizetype(k)]).arg(line) : line);
            if (!each && !stopped.isEmpty())
                c.print(QStringLiteral("stopped early: ") + stopped);
            if (!each && lost > 0)
                c.print(QStringLiteral("not every value was logged: %1 of %2 rows lost").arg(lost).arg(p.csv->rows()));
        }
        if (each || o.addresses.size() == 1)
            status = worstStatus(status, t.traffic.ok() > 0 ? ExitOk
                                         : t.traffic.count(Refusal::Exception) > 0 ? ExitException : ExitNoReply);
    }
    return worstStatus(p.lineLost ? ExitPort : status, lost > 0 ? ExitNotLogged : ExitOk);
}

} // namespace

int runPoll(Context &c)
{
    const CliOptions &o = c.o;
    const QVector<AcquisitionCycle::Read> reads = modelReads(*o.model);
    PollRun p;
    p.tallies.resize(std::size_t(o.addresses.size()) + 1);
    for (const AcquisitionCycle::Read &r : reads)
        p.channels.push_back(readCaptions(*o.model, r));
    // The values go to the CSV log as they come; what befalls the log (a failure and its cause,
    // writing again and the rows lost, the file made again) is said on stderr and the poll goes on.
    if (!o.csvPath.isEmpty())
        p.csv.emplace(o.csvPath, [&c](const QString &message) { c.fail(ExitOk, message); });
    p.clock.start();
    qint64 nextMs = 0;
    bool ended = false;
    for (int n = 0; !ended && (o.count == 0 || n < o.count); ++n) {
        for (int k = 0; k < o.addresses.size() && !ended; ++k) {
            for (int i = 0; i < reads.size() && !ended; ++i)
                ended = !pollRead(c, p, k, i, reads[i]);
        }
        if (ended || (o.count > 0 && n + 1 >= o.count))
            break;
        nextMs += o.periodMs;
        const qint64 waitMs = nextMs - p.clock.elapsed();
        if (waitMs > 0 && !c.session.wait(int(waitMs)))
            break;
        if (waitMs <= 0 && Interrupt::requested())
            break;
    }
    return pollSummary(c, p);
}
