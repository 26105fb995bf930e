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
    const bool timed = step > 0; // NaN: not timed
    const int stepMs = timed ? int(std::clamp(std::round(step * 1000.0), 1.0, 1000.0)) : 0;
    bool probing = bool(probe);
    bool done = false;
    auto ask = [&] {
        if (!probing)
            return;
        const Seen seen = probe();
        probing = seen == Seen::More;
        done = seen == Seen::Done;
    };
    if (!QCoreApplication::instance()) {
        while (!over() && !done) {
            const int ms = probing && timed ? std::min(stepMs, msUntilEnd()) : msUntilEnd();
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
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
    std::function<void()> check = [&] {
        ask();
        if (!probing)
            ticker.stop();
        if (done || over())
            loop.quit();
        else if (!end.isActive())
            end.start(msUntilEnd());
    };
    QObject::connect(&ticker, &QTimer::timeout, &loop, check);
    QObject::connect(&end, &QTimer::timeout, &loop, check);
    if (probing && timed)
        ticker.start(stepMs);
    end.start(msUntilEnd());
    std::function<void()> *outer = m_wake;
    if (probing)
        m_wake = &check;
    loop.exec();
    m_wake = outer;
}

void SystemClock::wake()
{
    if (m_wake)
        (*m_wake)();
}

void SystemClock::callAfter(double seconds, QObject *context, std::function<void()> f)
{
    const int ms = int(std::clamp(std::ceil(seconds * 1000.0), 0.0, 1000.0 * 1000.0));
    QTimer::singleShot(ms, Qt::PreciseTimer, context, std::move(f));
}

void VirtualClock::callAfter(double seconds, QObject *context, std::function<void()> f)
{
    m_due.push_back({m_now + std::max(seconds, 0.0), context, std::move(f)});
}

void VirtualClock::advance(double seconds)
{
    m_now += seconds;
    runDue();
}

// Each call whose time has come, earliest first; a call may set new ones.
void VirtualClock::runDue()
{
    for (;;) {
        auto next = std::min_element(m_due.begin(), m_due.end(),
                                     [](const Due &a, const Due &b) { return a.at < b.at; });
        if (next == m_due.end() || next->at > m_now)
            return;
        const Due due = std::move(*next);
        m_due.erase(next);
        if (due.context)
            due.f();
    }
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
    bool probing = bool(probe);
    if (!(step > 0))
        step = probing ? ProbeStep : total;
    // Time is advanced by differences, so a wait the hook starts adds its own.
    double done = 0.0;
    bool hookRun = false;
    bool ended = false;
    auto ask = [&] {
        const Seen seen = probe();
        probing = seen == Seen::More;
        ended = seen == Seen::Done;
    };
    while (done < total && !ended) {
        double next = std::min(done + step, total);
        if (!hookRun && next >= half)
            next = half;
        m_now += next - done;
        done = next;
        runDue();
        if (!hookRun && done >= half) {
            hookRun = true;
            runHook();
        }
        if (probing)
            ask();
    }
    if (!hookRun)
        runHook();
    if (ended)
        return;
    m_now += VirtualEpsilon;
    if (probing)
        ask();
}

} // namespace movra
