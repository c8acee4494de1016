#include "trafficlog.h"

#include <QDateTime>

#include <algorithm>

#include <ctime>


QString TrafficRow::verdictText() const
{
    switch (kind) {
    case Request: return {};
    case Unsolicited: return QStringLiteral("unsolicited");
    case Reply: return verdict.reason();
    case Echo: return QStringLiteral("echo");
    }
    return {};
}

TrafficRecorder::TrafficRecorder(qsizetype capacity) : m_capacity(qMax<qsizetype>(1, capacity)) {}

void TrafficRecorder::add(TrafficRow row, qint64 nowNs)
{
    if (m_firstNs < 0)
        m_firstNs = nowNs;
    row.sinceFirstNs = nowNs - m_firstNs;
    if (m_sink)
        m_sink(row);
    m_rows.push_back(std::move(row));
    ++m_next;
    // The oldest rows go a hundredth of the bound at a time, so a view that follows the rows lays
    // itself out again for that now and then instead of at every new row.
    if (qsizetype(m_rows.size()) > m_capacity + m_capacity / 100)
        m_rows.erase(m_rows.begin(), m_rows.begin() + std::ptrdiff_t(qsizetype(m_rows.size()) - m_capacity));
}

void TrafficRecorder::sent(const QByteArray &request, qint64 wallMs, qint64 nowNs, const QString &tag)
{
    // A request that was never judged (its window moved on) leaves no reply row.
    m_waiting = true;
    m_sentNs = nowNs;
    m_arrivals.clear();
    m_reply.clear();
    m_tag = tag;
    add({.kind = TrafficRow::Request, .wallMs = wallMs, .bytes = request, .tag = tag}, nowNs);
}

void TrafficRecorder::received(const QByteArray &bytes, qint64 wallMs, qint64 nowNs)
{
    if (bytes.isEmpty())
        return;
    // Rows keep copies of their own: the bytes a line hands over can share a block far larger
    // than they are (a serial port's read chunk is 32 kB), which a kept row would hold on to.
    if (m_waiting) {
        // No Modbus frame is longer than 256 bytes: a flood keeps its start and its time.
        m_reply.append(bytes.constData(), qMin(bytes.size(), qMax<qsizetype>(0, 512 - m_reply.size())));
        if (m_arrivals.size() < 512)
            m_arrivals.push_back({m_reply.size(), wallMs, nowNs});
        else
            m_arrivals.back() = {m_reply.size(), wallMs, nowNs};
        return;
    }
    add({.kind = TrafficRow::Unsolicited, .wallMs = wallMs, .bytes = QByteArray(bytes.constData(), bytes.size())}, nowNs);
}

void TrafficRecorder::judged(const ReplyVerdict &verdict, qint64 wallMs, qint64 nowNs, qsizetype echoBytes)
{
    if (!m_waiting)
        return;
    m_waiting = false;
    echoBytes = qBound<qsizetype>(0, echoBytes, m_reply.size());
    if (echoBytes > 0) {
        // The piece that brought the echo's last byte.
        const Arrival &echo = *std::find_if(m_arrivals.begin(), m_arrivals.end(),
                                            [echoBytes](const Arrival &a) { return a.end >= echoBytes; });
        add({.kind = TrafficRow::Echo, .wallMs = echo.wallMs, .bytes = m_reply.left(echoBytes), .tag = m_tag}, echo.ns);
        m_reply.remove(0, echoBytes);
    }
    // Measured to the last byte, as ever: an adapter that holds bytes back shows in the figures.
    // A time-out has no time, whatever came (the echo alone).
    const bool bytes = !m_reply.isEmpty();
    const double responseMs = responseTimeMs(verdict, bytes ? double(m_arrivals.back().ns - m_sentNs) / 1e6 : -1);
    m_stats.add(verdict.refusal, responseMs);
    add({.kind = TrafficRow::Reply, .wallMs = bytes ? m_arrivals.back().wallMs : wallMs, .bytes = m_reply,
         .verdict = verdict, .responseMs = responseMs, .tag = m_tag},
        bytes ? m_arrivals.back().ns : nowNs);
    m_reply.clear();
    m_arrivals.clear();
}

void TrafficRecorder::setCapacity(qsizetype rows)
{
    m_capacity = qMax<qsizetype>(1, rows);
    while (qsizetype(m_rows.size()) > m_capacity)
        m_rows.pop_front();
}

void TrafficRecorder::reset()
{
    m_rows.clear();
    m_next = 0;
    m_stats = TrafficStatistics();
    m_firstNs = -1;
    m_waiting = false;
    m_reply.clear();
}

QString statisticsLine(const TrafficStatistics &stats)
{
    static const Refusal order[] = {Refusal::NoReply, Refusal::Short, Refusal::Long, Refusal::OtherAddress,
                                    Refusal::OtherFunction, Refusal::Exception, Refusal::BadCrc,
                                    Refusal::OtherTransaction, Refusal::BadHeader};
    QStringList parts{QStringLiteral("requests %1").arg(stats.requests()), QStringLiteral("OK %1").arg(stats.ok())};
    for (Refusal r : order) {
        if (stats.count(r) == 0)
            continue;
        ReplyVerdict v;
        v.refusal = r;
        const QString name = r == Refusal::Exception ? QStringLiteral("exception") : v.reason();
        parts << QStringLiteral("%1 %2").arg(name).arg(stats.count(r));
    }
    parts << QStringLiteral("success %1 %").arg(stats.successPercent(), 0, 'f', 1);
    if (const auto min = stats.minMs()) {
        parts << QStringLiteral("response ms min %1 / median %2 / p99 %3 / max %4")
                     .arg(*min, 0, 'f', 1)
                     .arg(*stats.medianMs(), 0, 'f', 1)
                     .arg(*stats.percentileMs(99), 0, 'f', 1)
                     .arg(*stats.maxMs(), 0, 'f', 1);
    }
    return parts.join(QStringLiteral(" · "));
}

QString trafficLogLine(const QString &caption, const TrafficRow &row)
{
    const QString when = QDateTime::fromMSecsSinceEpoch(row.wallMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return QStringList{when, caption, row.direction(), HexText(row.bytes).trimmed(), row.verdictText()}.join(QLatin1Char('\t'));
}

QString clockText(qint64 wallMs)
{
    // localtime_r is what QDateTime's local time comes from on this platform; formatted by hand,
    // a time costs a few hundred instructions here instead of a QDateTime format's
    // thousands, and no look at /etc/localtime.
    const time_t seconds = time_t(wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000);
    const int ms = int(wallMs - qint64(seconds) * 1000);
    tm t{};
    localtime_r(&seconds, &t);
    const auto two = [](char *at, int v) {
        at[0] = char('0' + v / 10);
        at[1] = char('0' + v % 10);
    };
    char text[12] = {0, 0, ':', 0, 0, ':', 0, 0, '.', 0, 0, 0};
    two(text, t.tm_hour);
    two(text + 3, t.tm_min);
    two(text + 6, t.tm_sec);
    text[9] = char('0' + ms / 100);
    two(text + 10, ms % 100);
    return QString::fromLatin1(text, sizeof text);
}
