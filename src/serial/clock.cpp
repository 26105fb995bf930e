#include "clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace movra {

SystemClock::SystemClock()
{
    m_timer.start();
}

double SystemClock::now() const
{
    return double(m_timer.nsecsElapsed()) / 1e9;
}

void SystemClock::wait(double seconds)
{
    const double start = now();
    // One timer slice at a time: a timer can fire a little early, and a long
    // wait must not overflow the timer's milliseconds.
    constexpr double MaxSliceMs = 60.0 * 60.0 * 1000.0;
    for (;;) {
        const double elapsed = now() - start;
        if (!(elapsed <= seconds)) // also ends a wait of NaN at once
            return;
        const double remainingMs = (seconds - elapsed) * 1000.0;
        const int sliceMs = int(std::clamp(std::ceil(remainingMs), 1.0, MaxSliceMs));
        if (QCoreApplication::instance()) {
            QEventLoop loop;
            QTimer timer;
            timer.setTimerType(Qt::PreciseTimer);
            timer.setSingleShot(true);
            QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            timer.start(sliceMs);
            loop.exec();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
        }
    }
}

void VirtualClock::wait(double seconds)
{
    // So that "more than seconds" holds also after the caller rounds the
    // elapsed time to single precision.
    constexpr double Epsilon = 1e-6;
    ++m_waits;
    const double total = seconds > 0 ? seconds : 0.0;
    const double half = total / 2;
    m_now += half;
    if (m_duringWait && !m_inHook) {
        struct Guard {
            bool &flag;
            ~Guard() { flag = false; }
        } guard{m_inHook};
        m_inHook = true;
        // A copy: the hook may replace itself.
        const std::function<void()> hook = m_duringWait;
        hook();
    }
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    m_now += total - half + Epsilon;
}

} // namespace movra
