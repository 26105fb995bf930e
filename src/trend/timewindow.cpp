#include "timewindow.h"

#include <algorithm>

namespace movra {

double epochNow()
{
    return QDateTime::currentMSecsSinceEpoch() / MsPerSecond;
}

QDateTime dateTimeAt(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(seconds * MsPerSecond));
}

std::pair<double, double> TimeWindow::range(double now) const
{
    const double end = m_live ? now : m_end;
    return {end - m_span, end};
}

void TimeWindow::zoom(double at, double factor, double now)
{
    const auto [from, to] = range(now);
    const double span = std::clamp(m_span * factor, MinSpan, MaxSpan);
    const double share = to > from ? std::clamp((at - from) / (to - from), 0.0, 1.0) : 1.0;
    m_end = at + (1 - share) * span;
    m_span = span;
    m_live = false;
}

void TimeWindow::pan(double seconds, double now)
{
    m_end = range(now).second - seconds;
    m_live = false;
}

void TimeWindow::goLive()
{
    m_live = true;
    m_span = LiveSpan;
}

} // namespace movra
