#include "trend.h"

#include "conversions.h"

#include <algorithm>
#include <cmath>

void TrendSeries::add(qint64 ms, std::optional<double> value)
{
    const qint64 start = ms - ms % kBucketMs;
    // A clock that stepped back adds to the newest bucket rather than out of order.
    if (m_buckets.empty() || start > m_buckets.back().startMs)
        m_buckets.push_back({start, 1, 0, NAN, 0, 0});
    Bucket &b = m_buckets.back();
    const auto at = quint16(std::clamp<qint64>(ms - b.startMs, 0, kBucketMs - 1));
    if (value) {
        const auto v = float(*value);
        if (b.min > b.max) {
            b.min = b.max = v;
            b.minAt = b.maxAt = at;
        } else if (v < b.min) {
            b.min = v;
            b.minAt = at;
        } else if (v > b.max) {
            b.max = v;
            b.maxAt = at;
        }
        b.last = v;
    } else {
        b.last = NAN;
    }
    const qint64 oldest = m_buckets.back().startMs - kSpanMs;
    while (m_buckets.front().startMs < oldest)
        m_buckets.pop_front();
}

QList<QPointF> TrendSeries::view(qint64 fromMs, qint64 toMs, int columns, bool steps) const
{
    QList<QPointF> points;
    if (columns <= 0 || toMs <= fromMs)
        return points;
    const auto first = std::lower_bound(m_buckets.begin(), m_buckets.end(), fromMs - kBucketMs + 1,
                                        [](const Bucket &b, qint64 ms) { return b.startMs < ms; });
    const double width = double(toMs - fromMs) / columns;
    const auto push = [&](double t, double v) {
        if (steps && !points.isEmpty() && points.last().y() != v)
            points.append(QPointF(t, points.last().y()));
        points.append(QPointF(t, v));
    };
    // One column's extremes so far, with their times.
    int column = -1;
    double lo = 0, hi = 0, loAt = 0, hiAt = 0;
    bool any = false;
    const auto flush = [&] {
        if (!any)
            return;
        if (loAt <= hiAt) {
            push(loAt, lo);
            if (hiAt != loAt || hi != lo)
                push(hiAt, hi);
        } else {
            push(hiAt, hi);
            push(loAt, lo);
        }
        any = false;
    };
    for (auto it = first; it != m_buckets.end() && it->startMs <= toMs; ++it) {
        if (it->min > it->max)
            continue;
        const int c = std::clamp(int(double(it->startMs - fromMs) / width), 0, columns - 1);
        if (c != column) {
            flush();
            column = c;
        }
        const double tMin = double(it->startMs + it->minAt), tMax = double(it->startMs + it->maxAt);
        if (!any || it->min < lo) {
            lo = it->min;
            loAt = tMin;
        }
        if (!any || it->max > hi) {
            hi = it->max;
            hiAt = tMax;
        }
        any = true;
    }
    flush();
    return points;
}

std::optional<double> TrendSeries::valueAt(qint64 ms) const
{
    const auto after = std::upper_bound(m_buckets.begin(), m_buckets.end(), ms,
                                        [](qint64 t, const Bucket &b) { return t < b.startMs; });
    if (after == m_buckets.begin())
        return std::nullopt;
    const float last = std::prev(after)->last;
    return std::isnan(last) ? std::nullopt : std::optional<double>(last);
}

QString Trend::Channel::text(double value) const
{
    if (digital)
        return value != 0 ? kOn : kOff;
    return QString::number(value, 'f', decimals) + unit;
}

// The decimals of a value's text: the digits after its point ("10.00mA": 2, "25℃": 0).
static int decimalsOf(const QString &text)
{
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    int n = 0;
    while (point >= 0 && point + 1 + n < text.size() && text[point + 1 + n].isDigit())
        ++n;
    return n;
}

void Trend::add(const QVector<ValueRow> &rows)
{
    for (const ValueRow &row : rows) {
        auto it = std::find_if(m_channels.begin(), m_channels.end(),
                               [&](const Channel &c) { return c.caption == row.channel; });
        if (it == m_channels.end()) {
            m_channels.push_back({row.channel, row.unit, row.digital, {}});
            it = std::prev(m_channels.end());
        }
        if (row.value)
            it->decimals = decimalsOf(row.text);
        it->series.add(row.wallMs, row.value);
        m_lastMs = std::max(m_lastMs, row.wallMs);
    }
}

const QString kTrendCsvHeader = QStringLiteral("time,window,channel,min,max,unit");

QString trendCsv(const Trend &trend, const QString &window, qint64 fromMs, qint64 toMs)
{
    // Lines of all channels merged by time: a stable sort keeps the channels' order within a time.
    QVector<QPair<qint64, QString>> lines;
    for (const Trend::Channel &c : trend.channels()) {
        for (const TrendSeries::Bucket &b : c.series.buckets()) {
            if (b.startMs < fromMs - TrendSeries::kBucketMs || b.startMs > toMs || b.min > b.max)
                continue;
            lines.append({b.startMs, QStringList{isoLocalTime(b.startMs), csvField(window), csvField(c.caption),
                                                 QString::number(b.min, 'g', 7), QString::number(b.max, 'g', 7),
                                                 csvField(c.unit)}
                                         .join(QLatin1Char(','))});
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QString text = kTrendCsvHeader + QLatin1Char('\n');
    for (const auto &line : lines)
        text += line.second + QLatin1Char('\n');
    return text;
}
