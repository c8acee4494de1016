// What a trend window draws: per channel, the last hour of values in buckets of a fixed width,
// each keeping the smallest and largest value with their times and the last one. Memory is
// bounded by the hour, whatever the poll rate, and a spike inside a bucket stays. A view of any
// span is reduced further to what its width can show, again keeping each column's min and max.
#pragma once

#include "valuelog.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QVector>

#include <deque>
#include <optional>

class TrendSeries
{
public:
    static constexpr qint64 kSpanMs = 60 * 60 * 1000;
    static constexpr qint64 kBucketMs = 100;

    struct Bucket {
        qint64 startMs = 0;
        float min = 0, max = 0, last = 0; // last is NaN after "Not Connect"; min > max: no value yet
        quint16 minAt = 0, maxAt = 0;     // offsets from startMs
    };

    // A value at a time (none: "Not Connect", which draws nothing). Buckets more than an hour
    // older than the newest are dropped.
    void add(qint64 ms, std::optional<double> value);
    void clear() { m_buckets.clear(); }

    const std::deque<Bucket> &buckets() const { return m_buckets; }
    // The points a view of fromMs..toMs draws in at most columns columns: per column its min and
    // max at their times, in time order. steps: a point at each change holding the old value
    // first, so a digital input draws as steps.
    QList<QPointF> view(qint64 fromMs, qint64 toMs, int columns, bool steps = false) const;
    // The last value at or before ms; none before the first or after "Not Connect".
    std::optional<double> valueAt(qint64 ms) const;

private:
    std::deque<Bucket> m_buckets;
};

// The channels of one window's trend, fed with its value rows.
class Trend
{
public:
    struct Channel {
        QString caption;
        QString unit;
        bool digital = false;
        TrendSeries series;
        int decimals = 0; // as the window shows the channel's values ("10.00mA": 2)
        // A value as the window shows it: "10.00mA", "ON".
        QString text(double value) const;
    };
    void add(const QVector<ValueRow> &rows);
    const std::deque<Channel> &channels() const { return m_channels; }
    // The newest time added; 0 before any.
    qint64 lastMs() const { return m_lastMs; }

private:
    std::deque<Channel> m_channels;
    qint64 m_lastMs = 0;
};

// "Save CSV…": "time,window,channel,min,max,unit", then a line per kept bucket and channel from
// fromMs to toMs, in time order: what the trend holds, a bucket's min and max.
extern const QString kTrendCsvHeader;
QString trendCsv(const Trend &trend, const QString &window, qint64 fromMs, qint64 toMs);
