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

void SystemClock::waitPolling(double seconds, double step, const Probe &probe)
{
    const double start = now();
    auto over = [&] { return !(now() - start <= seconds); }; // NaN ends at once
    auto msUntilEnd = [&] {
        constexpr double MaxSliceMs = 60.0 * 60.0 * 1000.0;
        return int(std::clamp(std::ceil((seconds - (now() - start)) * 1000.0), 1.0, MaxSliceMs));
    };
    const int stepMs = int(std::clamp(std::round(step * 1000.0), 1.0, 1000.0)); // NaN clamps to 1 ms
    bool probing = bool(probe);
    auto ask = [&] {
        if (probing)
            probing = probe();
    };
    if (!QCoreApplication::instance()) {
        while (!over()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(probing ? std::min(stepMs, msUntilEnd()) : msUntilEnd()));
            ask();
        }
        return;
    }
    if (over()) {
        ask();
        return;
    }
    QEventLoop loop;
    QTimer ticker;
    QTimer end;
    ticker.setTimerType(Qt::PreciseTimer);
    end.setTimerType(Qt::PreciseTimer);
    end.setSingleShot(true);
    // A timer can fire a little early: the end is checked, and re-armed for what is left.
    auto check = [&] {
        ask();
        if (!probing)
            ticker.stop();
        if (over())
            loop.quit();
        else if (!end.isActive())
            end.start(msUntilEnd());
    };
    QObject::connect(&ticker, &QTimer::timeout, &loop, check);
    QObject::connect(&end, &QTimer::timeout, &loop, check);
    if (probing)
        ticker.start(stepMs);
    end.start(msUntilEnd());
    loop.exec();
}

void VirtualClock::runHook()
{
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
}

// So that "more than seconds" holds also after the caller rounds the
// elapsed time to single precision.
constexpr double VirtualEpsilon = 1e-6;

void VirtualClock::waitPolling(double seconds, double step, const Probe &probe)
{
    ++m_waits;
    const double total = seconds > 0 ? seconds : 0.0;
    const double half = total / 2;
    if (!(step > 0))
        step = total;
    // Time is advanced by differences, so a wait the hook starts adds its own.
    bool probing = bool(probe);
    double done = 0.0;
    bool hookRun = false;
    while (done < total) {
        double next = std::min(done + step, total);
        if (!hookRun && next >= half)
            next = half;
        m_now += next - done;
        done = next;
        if (!hookRun && done >= half) {
            hookRun = true;
            runHook();
        }
        if (probing)
            probing = probe();
    }
    if (!hookRun)
        runHook();
    m_now += VirtualEpsilon;
    if (probing)
        probe();
}

} // namespace movra
