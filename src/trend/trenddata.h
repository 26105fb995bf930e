#pragma once
// The readings the trend plots, per register name, against time (seconds
// since the epoch). Every reading of the last hour is kept as it came;
// older ones as the minimum and maximum of each time bucket, buckets as wide
// as a screen's columns need, so a week costs no more than an hour.
#include "reason.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace movra {

class TrendSeries {
public:
    // What one column of a view, or one bucket, holds: the values' range,
    // and the first reason among the readings without a value.
    struct Span {
        double at = 0;             // the first reading's time
        double min = 0;
        double max = 0;
        int values = 0;            // readings with a value
        int gaps = 0;              // readings without one
        std::optional<Reason> gap; // the first gap's reason
        bool hasValue() const { return values > 0; }
    };

    // `recentSeconds`: kept as read; `columns`: older buckets per screen width.
    TrendSeries(double recentSeconds, int columns);

    void add(double at, std::optional<double> value, const Reason &reason);

    // At most one span per column of [from, to): the columns' readings
    // folded, empty columns left out.
    std::vector<Span> view(double from, double to, int columns) const;
    // The reading nearest `at` (older ones: their bucket), if any lies
    // within `tolerance`.
    std::optional<Span> near(double at, double tolerance) const;

    bool empty() const { return m_recent.empty() && m_old.empty(); }
    double first() const;
    double last() const { return m_last; }
    // The heap the series holds.
    std::size_t bytes() const;

private:
    struct Sample {
        double at;
        double value; // NaN: none, `reason` says why
        Reason reason;
    };
    static Span spanOf(const Sample &s);
    void age();
    void fold(const Sample &s);
    void widen();

    double m_recentSeconds;
    int m_columns;
    double m_bucket; // seconds per older bucket, doubled as the history grows
    double m_last = 0;
    std::deque<Sample> m_recent;
    std::vector<Span> m_old; // bucket starts at multiples of m_bucket
};

// The series of every register name the scan has read, in the order first seen.
class TrendData {
public:
    static constexpr double RecentSeconds = 3600;
    static constexpr int DefaultColumns = 1920;

    explicit TrendData(int columns = DefaultColumns, double recentSeconds = RecentSeconds);

    void add(const QString &name, double at, std::optional<double> value, const Reason &reason);
    // Another model scanned: its name is remembered for the title.
    void addModel(const QString &model);

    const QStringList &names() const { return m_names; }
    const QStringList &models() const { return m_models; }
    const TrendSeries *series(const QString &name) const;
    bool empty() const { return m_names.isEmpty(); }
    double last() const;
    std::size_t bytes() const;

private:
    int m_columns;
    double m_recentSeconds;
    QStringList m_names;
    QStringList m_models;
    QHash<QString, TrendSeries> m_series;
};

} // namespace movra
