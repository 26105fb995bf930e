#include "trenddata.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace movra {

namespace {
// A deque's storage comes in blocks of this many bytes (libstdc++).
constexpr std::size_t DequeBlockBytes = 512;

// `from` folded into `into`: the range of both, the first gap's reason.
void merge(TrendSeries::Span &into, const TrendSeries::Span &from)
{
    if (from.hasValue()) {
        into.min = into.hasValue() ? std::min(into.min, from.min) : from.min;
        into.max = into.hasValue() ? std::max(into.max, from.max) : from.max;
    }
    into.values += from.values;
    into.gaps += from.gaps;
    if (!into.gap && from.gap)
        into.gap = from.gap;
    into.at = std::min(into.at, from.at);
}

double bucketStart(double at, double width)
{
    return std::floor(at / width) * width;
}
} // namespace

TrendSeries::TrendSeries(double recentSeconds, int columns)
    : m_recentSeconds(recentSeconds), m_columns(std::max(columns, 1)),
      m_bucket(recentSeconds / m_columns)
{
}

void TrendSeries::add(double at, std::optional<double> value, const Reason &reason)
{
    // Readings stay in time order even if the clock steps back.
    if (!empty())
        at = std::max(at, m_last);
    m_last = at;
    const bool has = value && std::isfinite(*value);
    m_recent.push_back({at, has ? *value : std::numeric_limits<double>::quiet_NaN(), reason});
    age();
}

// Readings older than the recent span go into their buckets.
void TrendSeries::age()
{
    const double limit = m_last - m_recentSeconds;
    while (!m_recent.empty() && m_recent.front().at < limit) {
        fold(m_recent.front());
        m_recent.pop_front();
    }
}

TrendSeries::Span TrendSeries::spanOf(const Sample &s)
{
    if (std::isnan(s.value))
        return {s.at, 0, 0, 0, 1, s.reason};
    return {s.at, s.value, s.value, 1, 0, std::nullopt};
}

void TrendSeries::fold(const Sample &s)
{
    Span one = spanOf(s);
    const double start = bucketStart(s.at, m_bucket);
    if (m_old.empty() || m_old.back().at < start) {
        one.at = start;
        m_old.push_back(one);
    } else {
        merge(m_old.back(), one);
    }
    if (m_old.size() > std::size_t(2 * m_columns))
        widen();
}

// Twice as wide buckets: each pair folded into one.
void TrendSeries::widen()
{
    m_bucket *= 2;
    std::vector<Span> wider;
    wider.reserve(m_old.size() / 2 + 1);
    for (const Span &s : m_old) {
        const double start = bucketStart(s.at, m_bucket);
        if (wider.empty() || wider.back().at < start) {
            wider.push_back(s);
            wider.back().at = start;
        } else {
            merge(wider.back(), s);
        }
    }
    m_old = std::move(wider);
}

std::vector<TrendSeries::Span> TrendSeries::view(double from, double to, int columns) const
{
    std::vector<Span> out;
    if (!(to > from) || columns <= 0)
        return out;
    const double width = (to - from) / columns;
    int lastColumn = -1;
    auto put = [&](const Span &s, double at) {
        const int column = std::clamp(int((at - from) / width), 0, columns - 1);
        if (column == lastColumn) {
            merge(out.back(), s);
        } else {
            out.push_back(s);
            lastColumn = column;
        }
    };
    // Buckets that reach into the view.
    auto bucket = std::lower_bound(m_old.begin(), m_old.end(), from - m_bucket,
                                   [](const Span &s, double t) { return s.at < t; });
    for (; bucket != m_old.end() && bucket->at < to; ++bucket)
        if (bucket->at + m_bucket > from)
            put(*bucket, std::max(bucket->at, from));
    auto sample = std::lower_bound(m_recent.begin(), m_recent.end(), from,
                                   [](const Sample &s, double t) { return s.at < t; });
    for (; sample != m_recent.end() && sample->at < to; ++sample)
        put(spanOf(*sample), sample->at);
    return out;
}

std::optional<TrendSeries::Span> TrendSeries::near(double at, double tolerance) const
{
    if (!m_recent.empty() && at >= m_recent.front().at - tolerance) {
        auto it = std::lower_bound(m_recent.begin(), m_recent.end(), at,
                                   [](const Sample &s, double t) { return s.at < t; });
        if (it == m_recent.end() || (it != m_recent.begin() && at - std::prev(it)->at < it->at - at))
            it = std::prev(it);
        if (std::abs(it->at - at) > tolerance)
            return std::nullopt;
        return spanOf(*it);
    }
    const double start = bucketStart(at, m_bucket);
    auto it = std::lower_bound(m_old.begin(), m_old.end(), start,
                               [](const Span &s, double t) { return s.at < t; });
    if (it != m_old.end() && it->at == start)
        return *it;
    return std::nullopt;
}

double TrendSeries::first() const
{
    if (!m_old.empty())
        return m_old.front().at;
    return m_recent.empty() ? 0 : m_recent.front().at;
}

std::size_t TrendSeries::bytes() const
{
    const std::size_t perBlock = std::max<std::size_t>(DequeBlockBytes / sizeof(Sample), 1);
    const std::size_t blocks = m_recent.size() / perBlock + 1;
    return blocks * DequeBlockBytes + m_old.capacity() * sizeof(Span);
}

TrendData::TrendData(int columns, double recentSeconds)
    : m_columns(columns), m_recentSeconds(recentSeconds)
{
}

void TrendData::add(const QString &name, double at, std::optional<double> value, const Reason &reason)
{
    auto it = m_series.find(name);
    if (it == m_series.end()) {
        m_names.append(name);
        it = m_series.insert(name, TrendSeries(m_recentSeconds, m_columns));
    }
    it->add(at, value, reason);
}

void TrendData::addModel(const QString &model)
{
    if (model.isEmpty() || m_models.contains(model))
        return;
    m_models.append(model);
}

const TrendSeries *TrendData::series(const QString &name) const
{
    auto it = m_series.constFind(name);
    return it == m_series.cend() ? nullptr : &*it;
}

double TrendData::last() const
{
    double t = 0;
    for (const TrendSeries &s : m_series)
        t = std::max(t, s.last());
    return t;
}

std::size_t TrendData::bytes() const
{
    std::size_t total = sizeof(*this);
    for (const TrendSeries &s : m_series)
        total += sizeof(TrendSeries) + s.bytes();
    for (const QString &n : m_names)
        total += std::size_t(n.capacity()) * sizeof(QChar) * 2; // the list's and the hash's
    return total;
}

} // namespace movra
