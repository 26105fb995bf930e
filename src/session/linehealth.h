#pragma once
// How the line holds up since the port opened: every request's outcome
// counted by its reason, and how soon the answers came.
#include "reason.h"

#include <QString>
#include <QTime>
#include <cstddef>
#include <optional>
#include <vector>

namespace movra {

// A snapshot of the counts since the port opened.
struct HealthReport {
    struct Count {
        Reason::Kind kind;
        qint64 count;
        bool operator==(const Count &) const = default;
    };
    // What the count starts from: the port's open, or settings the search found.
    enum class Since { Opened, SettingsFound };
    QTime openedAt; // when the port opened, or the found settings were set; null before the first open
    Since since = Since::Opened;
    qint64 requests = 0;  // requests that went out on the line
    qint64 withValue = 0; // of them, trusted answers (Reason::None; a write's echo is one)
    // The other requests on the line, and those that did not go out, by
    // reason: only the kinds seen, the most frequent first, ties in kind order.
    std::vector<Count> faults;
    std::vector<Count> notSent;
    // Times of the trusted answers, in ms: fastest and slowest since the
    // open, the median over the last LineHealth::MedianWindow.
    std::optional<int> minMs;
    std::optional<int> maxMs;
    std::optional<int> medianMs;
    std::optional<double> lateness; // seconds, while the line has learned one
    int lateAnswers = 0;            // answers the line saw come late
    double longestLate = 0;         // seconds, the latest of them
    double nextWait = 0;            // the settle time in force, seconds
    bool operator==(const HealthReport &) const = default;
};

class LineHealth {
public:
    // The median is taken over this many of the most recent answer times,
    // so a report costs the same after a week as after a minute.
    static constexpr std::size_t MedianWindow = 1001;

    // Counts from zero for a port just opened, or opened again.
    void restart(const QTime &openedAt, HealthReport::Since since);
    // One request's outcome, as shown. Constant time.
    void record(const Reason &reason);
    // `lateness`, `lateAnswers`, `longestLate` and `nextWait` are the line's, as they are now.
    HealthReport report(std::optional<double> lateness, int lateAnswers, double longestLate, double nextWait) const;

private:
    QTime m_openedAt;
    HealthReport::Since m_since = HealthReport::Since::Opened;
    std::vector<qint64> m_byKind;     // indexed by Reason::Kind
    std::optional<double> m_fastest;  // seconds
    std::optional<double> m_slowest;
    std::vector<double> m_recent;     // ring of at most MedianWindow answer times
    std::size_t m_oldest = 0;         // next slot to overwrite once the ring is full
};

} // namespace movra
