#pragma once
// Time for the waits of a transaction and of the scan.
#include <QElapsedTimer>
#include <functional>

namespace movra {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds.
    virtual double now() const = 0;
    // Return once more than `seconds` have passed, calling `probe` every
    // `step` seconds or so (and once at the end), so a caller can note when
    // bytes arrive without a busy loop, and handling window events meanwhile.
    // A probe that returns false has seen what it needed: the rest of the
    // wait runs without it.
    using Probe = std::function<bool()>;
    virtual void waitPolling(double seconds, double step, const Probe &probe) = 0;
    // The same wait without a probe.
    void wait(double seconds) { waitPolling(seconds, 0, {}); }
};

// Real time: a nested event loop and a timer, so the processor idles while waiting.
class SystemClock : public Clock {
public:
    SystemClock();
    double now() const override;
    // One nested event loop; a repeating timer runs the probe.
    void waitPolling(double seconds, double step, const Probe &probe) override;

private:
    QElapsedTimer m_timer;
};

// Virtual time for tests: wait() advances the clock and processes pending
// events, so thousands of waits take next to no real time. A hook set with
// setDuringWait runs once inside each wait, halfway through it, to stand for
// an operator's click or a timer tick that lands during a wait. A wait that
// the hook itself starts does not run the hook again. waitPolling counts as
// one wait: it advances step by step, runs the probe after each step, and
// the hook once, at the step that reaches half the wait.
class VirtualClock : public Clock {
public:
    double now() const override { return m_now; }
    void waitPolling(double seconds, double step, const Probe &probe) override;
    void advance(double seconds) { m_now += seconds; }
    void setDuringWait(std::function<void()> hook) { m_duringWait = std::move(hook); }
    int waits() const { return m_waits; }

private:
    double m_now = 0.0;
    int m_waits = 0;
    bool m_inHook = false;
    std::function<void()> m_duringWait;

    void runHook();
};

} // namespace movra
