// The statistics of exchanges, for anything that watches the traffic of a line (the shell tool's
// poll, a traffic monitor): counts per verdict with response-time percentiles. The percentiles come from a fixed
// histogram of 0.1 ms bins, so the memory of a run does not grow with its length.
#pragma once

#include "modbus.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// A time-out has no response time, whatever came (the request's echo alone): -1 for one, else the
// time to the last byte as measured (-1 when none came).
double responseTimeMs(const ReplyVerdict &verdict, double lastByteMs);

// The short name of a verdict, as the statistics count it: "ok", "timeout", "bad_crc", "short",
// "long", "other_address", "other_function", "exception".
QString verdictKey(Refusal refusal);

class TrafficStatistics
{
public:
    // Bins are found by multiplying: 0.3 / 0.1 is 2.9999999999999996 in binary floating point.
    static constexpr double kBinsPerMs = 10;
    // Response times from 0 to 10 s in their own bins; longer ones share the last.
    static constexpr int kBins = 100000;

    TrafficStatistics();
    void add(Refusal refusal, double responseMs);

    int requests() const { return m_requests; }
    int ok() const { return count(Refusal::None); }
    int count(Refusal refusal) const { return m_byVerdict[std::size_t(refusal)]; }
    // Accepted replies in per cent of the requests; 0 without requests.
    double successPercent() const;

    // Over every reply (a time-out counts as one only, with no time); nothing without one. Minimum
    // and maximum are exact. A percentile is the reply of rank ceil(percent % of them) in time
    // order, given as the lower edge of its 0.1 ms bin (that reply's time cut to the 0.1 ms, all
    // the bins can tell) clamped to the minimum and maximum: 14.81, 14.82, 14.91 ms give the
    // median 14.81 (the bin's 14.8 is below the minimum) and the p99 14.9. Printed as the minimum
    // and maximum are, it never lies outside them.
    std::optional<double> minMs() const;
    std::optional<double> maxMs() const;
    std::optional<double> percentileMs(double percent) const;
    std::optional<double> medianMs() const { return percentileMs(50); }

private:
    int m_requests = 0;
    std::array<int, 10> m_byVerdict{};
    std::vector<std::uint32_t> m_bins;
    std::uint64_t m_timed = 0;
    double m_min = 0, m_max = 0;
};
