#include "linehealth.h"

#include <algorithm>
#include <functional>

namespace movra {

namespace {

constexpr double MsPerSecond = 1000;

std::optional<int> ms(std::optional<double> seconds)
{
    if (!seconds)
        return std::nullopt;
    return qRound(*seconds * MsPerSecond);
}

// The middle value; for an even count the mean of the two middle ones.
std::optional<double> median(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    const auto mid = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    if (values.size() % 2 != 0)
        return *mid;
    return (*std::max_element(values.begin(), mid) + *mid) / 2;
}

// The kinds seen whose requests went out (or did not), None left out.
std::vector<HealthReport::Count> countsOf(const std::vector<qint64> &byKind, bool wentOut)
{
    std::vector<HealthReport::Count> counts;
    for (std::size_t k = 0; k < byKind.size(); ++k) {
        const auto kind = Reason::Kind(k);
        if (byKind[k] > 0 && kind != Reason::None && Reason{kind}.wentOut() == wentOut)
            counts.push_back({kind, byKind[k]});
    }
    std::ranges::stable_sort(counts, std::greater{}, &HealthReport::Count::count);
    return counts;
}

} // namespace

void LineHealth::restart(const QTime &openedAt, HealthReport::Since since)
{
    *this = LineHealth();
    m_openedAt = openedAt;
    m_since = since;
}

void LineHealth::record(const Reason &reason)
{
    if (reason.kind == Reason::ClosedInWait)
        return; // the port closed or opened again in its wait: the count is the opening's
    const auto k = std::size_t(reason.kind);
    if (k >= m_byKind.size())
        m_byKind.resize(k + 1);
    ++m_byKind[k];
    if (reason.kind != Reason::None || reason.seconds < 0)
        return;
    const double s = reason.seconds;
    m_fastest = std::min(m_fastest.value_or(s), s);
    m_slowest = std::max(m_slowest.value_or(s), s);
    if (m_recent.size() < MedianWindow) {
        m_recent.push_back(s);
        return;
    }
    m_recent[m_oldest] = s;
    m_oldest = (m_oldest + 1) % MedianWindow;
}

HealthReport LineHealth::report(std::optional<double> lateness, int lateAnswers, double longestLate,
                                double nextWait) const
{
    HealthReport r;
    r.openedAt = m_openedAt;
    r.since = m_since;
    r.lateAnswers = lateAnswers;
    r.longestLate = longestLate;
    r.faults = countsOf(m_byKind, true);
    r.notSent = countsOf(m_byKind, false);
    r.withValue = m_byKind.empty() ? 0 : m_byKind[Reason::None];
    r.requests = r.withValue;
    for (const HealthReport::Count &c : r.faults)
        r.requests += c.count;
    r.minMs = ms(m_fastest);
    r.maxMs = ms(m_slowest);
    r.medianMs = ms(median(m_recent));
    r.lateness = lateness;
    r.nextWait = nextWait;
    return r;
}

} // namespace movra
