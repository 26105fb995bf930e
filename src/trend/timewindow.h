#pragma once
// Which stretch of time the trend shows: the last ten minutes, following
// the readings live, or a stretch the operator zoomed or panned to.
#include <QDateTime>
#include <utility>

namespace movra {

inline constexpr double MsPerSecond = 1000;
// The wall clock, and a time, in the seconds since the epoch the trend counts in.
double epochNow();
QDateTime dateTimeAt(double seconds);

class TimeWindow {
public:
    static constexpr double LiveSpan = 600;            // seconds followed live
    static constexpr double MinSpan = 10;
    static constexpr double MaxSpan = 8 * 24 * 3600.0; // a week and a day
    static constexpr double WheelStep = 1.25;          // span factor per wheel notch

    bool live() const { return m_live; }
    // [from, to] in seconds since the epoch; live: the span up to `now`.
    std::pair<double, double> range(double now) const;
    // The span times `factor`, the time `at` staying where it is on screen.
    void zoom(double at, double factor, double now);
    // Back in time by `seconds` (forward when negative).
    void pan(double seconds, double now);
    void goLive();

private:
    bool m_live = true;
    double m_span = LiveSpan;
    double m_end = 0; // when not live
};

} // namespace movra
