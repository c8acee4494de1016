#include "traffic.h"

#include <algorithm>
#include <cmath>

QString verdictKey(Refusal refusal)
{
    switch (refusal) {
    case Refusal::None: return QStringLiteral("ok");
    case Refusal::NoReply: return QStringLiteral("timeout");
    case Refusal::Exception: return QStringLiteral("exception");
    case Refusal::Short: return QStringLiteral("short");
    case Refusal::Long: return QStringLiteral("long");
    case Refusal::OtherAddress: return QStringLiteral("other_address");
    case Refusal::OtherFunction: return QStringLiteral("other_function");
    case Refusal::BadCrc: return QStringLiteral("bad_crc");
    case Refusal::OtherTransaction: return QStringLiteral("other_transaction");
    case Refusal::BadHeader: return QStringLiteral("bad_header");
    }
    return {};
}

double responseTimeMs(const ReplyVerdict &verdict, double lastByteMs)
{
    return verdict.refusal == Refusal::NoReply ? -1 : lastByteMs;
}

TrafficStatistics::TrafficStatistics() : m_bins(kBins, 0) {}

void TrafficStatistics::add(Refusal refusal, double responseMs)
{
    ++m_requests;
    ++m_byVerdict[std::size_t(refusal)];
    if (responseMs < 0 || refusal == Refusal::NoReply)
        return;
    const auto bin = std::size_t(std::clamp<double>(std::floor(responseMs * kBinsPerMs), 0, kBins - 1));
    ++m_bins[bin];
    m_min = m_timed == 0 ? responseMs : std::min(m_min, responseMs);
    m_max = m_timed == 0 ? responseMs : std::max(m_max, responseMs);
    ++m_timed;
}

double TrafficStatistics::successPercent() const
{
    return m_requests == 0 ? 0 : 100.0 * ok() / m_requests;
}

std::optional<double> TrafficStatistics::minMs() const
{
    return m_timed ? std::optional<double>(m_min) : std::nullopt;
}

std::optional<double> TrafficStatistics::maxMs() const
{
    return m_timed ? std::optional<double>(m_max) : std::nullopt;
}

std::optional<double> TrafficStatistics::percentileMs(double percent) const
{
    if (m_timed == 0)
        return std::nullopt;
    // The rank of the reply that percent of them do not exceed, from 1.
    const auto rank = std::max<std::uint64_t>(1, std::uint64_t(std::ceil(percent / 100.0 * double(m_timed))));
    // The lower edge of its bin, within the minimum and maximum (the minimum's bin begins below
    // it, and past the last bin's edge every longer time shares a bin).
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < m_bins.size(); ++i) {
        seen += m_bins[i];
        if (seen >= rank)
            return std::clamp(double(i) / kBinsPerMs, m_min, m_max);
    }
    return m_max;
}
