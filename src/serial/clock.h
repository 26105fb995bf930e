#pragma once
// Time for the waits of a transaction and of the scan.
#include <QElapsedTimer>
#include <QPointer>
#include <functional>
#include <vector>

namespace movra {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic seconds.
    virtual double now() const = 0;
    // What a probe has seen. More: go on probing. Enough: the rest of the
    // wait runs without it. Done: the wait ends now.
    enum class Seen { More, Enough, Done };
    using Probe = std::function<Seen()>;
    // Return once more than `seconds` have passed or the probe says Done,
    // handling window events meanwhile. The probe runs every `step` seconds
    // or so (step 0: never by time alone), whenever wake() is called during
    // the wait, and once at the end, so a caller notes when bytes arrive
    // without a busy loop.
    virtual void waitPolling(double seconds, double step, const Probe &probe) = 0;
    // The same wait without a probe.
    void wait(double seconds) { waitPolling(seconds, 0, {}); }
    // Runs the probe of the innermost probing wait now: a port's signal that
    // bytes have arrived. Outside such a wait, nothing.
    virtual void wake() = 0;
    // Calls `f` once from the event loop `seconds` from now, unless
    // `context` is gone by then.
    virtual void callAfter(double seconds, QObject *context, std::function<void()> f) = 0;
};

// Real time: a nested event loop and a timer, so the processor idles while waiting.
class SystemClock : public Clock {
public:
    SystemClock();
    double now() const override;
    // One nested event loop; a repeating timer runs the probe.
    void waitPolling(double seconds, double step, const Probe &probe) override;
    void wake() override;
    void callAfter(double seconds, QObject *context, std::function<void()> f) override;

private:
    QElapsedTimer m_timer;
    std::function<void()> *m_wake = nullptr; // the innermost probing wait's check
};

// Virtual time for tests: wait() advances the clock and processes pending
// events, so thousands of waits take next to no real time. A hook set with
// setDuringWait runs once inside each wait, halfway through it, to stand for
// an operator's click or a timer tick that lands during a wait. A wait that
// the hook itself starts does not run the hook again. waitPolling counts as
// one wait: it advances step by step, runs the probe after each step, and
// the hook once, at the step that reaches half the wait. A probing wait with
// step 0 steps by ProbeStep, so a test never depends on a wake. Calls set
// with callAfter run as the time passes theirs, in a wait or in advance().
class VirtualClock : public Clock {
public:
    static constexpr double ProbeStep = 0.001;
    double now() const override { return m_now; }
    void waitPolling(double seconds, double step, const Probe &probe) override;
    void wake() override {}
    void callAfter(double seconds, QObject *context, std::function<void()> f) override;
    void advance(double seconds);
    void setDuringWait(std::function<void()> hook) { m_duringWait = std::move(hook); }
    int waits() const { return m_waits; }

private:
    double m_now = 0.0;
    int m_waits = 0;
    bool m_inHook = false;
    std::function<void()> m_duringWait;
    struct Due {
        double at;
        QPointer<QObject> context;
        std::function<void()> f;
    };
    std::vector<Due> m_due;

    void runHook();
    void runDue();
};

} // namespace movra
