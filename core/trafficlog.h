// The traffic of one module window as rows for a monitor: each request, each reply with its
// verdict and response time, and bytes that came while no request waited (a late reply, noise,
// another master on the bus). Only the most recent rows are kept (the bound, and at most a
// hundredth more until the oldest go together); the statistics count all. On a line that echoes,
// the request's echo is a row of its own before the reply's.
#pragma once

#include "traffic.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <vector>
#include <functional>

struct TrafficRow {
    enum Kind : std::uint8_t { Request, Reply, Unsolicited, Echo } kind = Request;
    qint64 wallMs = 0;       // milliseconds since the epoch: when the request went, or its bytes
                             // came (the last of them; a time-out's row: when it was judged)
    qint64 sinceFirstNs = 0; // since the first frame of the window, at the same moment
    QByteArray bytes{};
    ReplyVerdict verdict{};  // of a reply
    double responseMs = -1;  // of a reply with bytes: from the request to its last byte
    QString tag{};           // what the line was set to, where it matters (the parameter scan)

    // A refused reply, or bytes nobody asked for.
    bool isError() const { return kind == Unsolicited || (kind == Reply && !verdict.accepted()); }
    QString direction() const { return kind == Request ? QStringLiteral("TX") : QStringLiteral("RX"); }
    // "OK", "time-out (no byte)", "short", "long", "other address", "other function",
    // "exception 2: illegal data address", "bad CRC"; "unsolicited" for bytes nobody asked for;
    // "echo" for the request handed back by the adapter; empty for a request.
    QString verdictText() const;
};

class TrafficRecorder
{
public:
    static constexpr qsizetype kDefaultCapacity = 100000;
    explicit TrafficRecorder(qsizetype capacity = kDefaultCapacity);

    // A request went out (nowNs: a steady clock; wallMs: the wall clock).
    void sent(const QByteArray &request, qint64 wallMs, qint64 nowNs, const QString &tag = {});
    // Bytes arrived: part of the reply while a request waits, else a row of their own.
    void received(const QByteArray &bytes, qint64 wallMs, qint64 nowNs);
    // The waiting request was judged: its reply row, and the statistics. echoBytes: how many of
    // the bytes that came were the request's echo, set aside before the reply was judged; they
    // make a row of their own before the reply's. Each row is stamped when its last byte came;
    // a reply row without a byte, now.
    void judged(const ReplyVerdict &verdict, qint64 wallMs, qint64 nowNs, qsizetype echoBytes = 0);
    // Forgets rows and statistics.
    void reset();
    // Keeps at most this many rows from now on.
    void setCapacity(qsizetype rows);

    const std::deque<TrafficRow> &rows() const { return m_rows; }
    // Row numbers count every row since the start (or the last reset); the rows kept are
    // firstRow() to nextRow() - 1.
    quint64 firstRow() const { return m_next - m_rows.size(); }
    quint64 nextRow() const { return m_next; }
    const TrafficStatistics &statistics() const { return m_stats; }
    // A request went out and is not judged yet.
    bool waiting() const { return m_waiting; }
    // Called with every row as it is made (the traffic log file).
    void setSink(std::function<void(const TrafficRow &)> sink) { m_sink = std::move(sink); }

private:
    void add(TrafficRow row, qint64 nowNs);

    qsizetype m_capacity;
    std::deque<TrafficRow> m_rows;
    quint64 m_next = 0;
    TrafficStatistics m_stats;
    std::function<void(const TrafficRow &)> m_sink;
    qint64 m_firstNs = -1;
    bool m_waiting = false;
    qint64 m_sentNs = 0;
    // When each piece of the bytes that came for the waiting request arrived: where it ends in
    // m_reply, on the wall clock and the steady one.
    struct Arrival {
        qsizetype end;
        qint64 wallMs, ns;
    };
    std::vector<Arrival> m_arrivals;
    QByteArray m_reply;
    QString m_tag;
};

// "requests 120 · OK 118 · time-out 1 · bad CRC 1 · success 98.3 % · response ms min 4.1 /
// median 4.3 / p99 5.0 / max 5.2": every refusal that happened, in the order of the verdicts.
QString statisticsLine(const TrafficStatistics &stats);

// The local time of day of wallMs (ms since the epoch) as a poll's line and a monitor's row show
// it: "12:00:01.250", what QDateTime's "HH:mm:ss.zzz" gives.
QString clockText(qint64 wallMs);
// One line of the traffic log file: date and time, caption, TX or RX, hex, verdict, tab-separated.
QString trafficLogLine(const QString &caption, const TrafficRow &row);
