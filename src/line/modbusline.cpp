#include "modbusline.h"

#include "clock.h"
#include "commport.h"

#include <QScopedValueRollback>
#include <QVariant>
#include <algorithm>

namespace movra {

ModbusLine::ModbusLine(std::unique_ptr<SerialPort> port, Clock &clock)
    : m_port(std::move(port)), m_clock(clock)
{
    QObject::connect(m_port.get(), &SerialPort::bytesArrived, m_port.get(), [this] { arrived(); });
}

ModbusLine::~ModbusLine() = default;

double ModbusLine::quietTime(const LineSettings &settings)
{
    constexpr double Characters = 3.5;
    constexpr double Floor = 0.00175;
    return std::max(Floor, Characters * characterTime(settings));
}

double ModbusLine::pollStep() const
{
    return m_port->signalsArrivals() ? 0 : PollStep;
}

// Bytes came: during a wait its probe takes them, between requests they
// are stray bytes, timed now.
void ModbusLine::arrived()
{
    if (m_busy)
        m_clock.wake();
    else
        drain();
}

// Between requests, where the port does not signal arrivals.
void ModbusLine::watch()
{
    m_watching = false;
    if (m_port->signalsArrivals())
        return;
    if (!m_busy)
        drain();
    if (m_tracker.watching(m_clock.now())) {
        m_watching = true;
        m_clock.callAfter(WatchStep, m_port.get(), [this] { watch(); });
    }
}

// What the port holds now came before: dropped with the rest.
void ModbusLine::restart()
{
    m_port->input();
    m_tracker.restart();
    m_late.clear();
}

bool ModbusLine::settling()
{
    if (!m_busy)
        drain();
    return m_tracker.settling(m_clock.now());
}

double ModbusLine::clickSettleBudget() const
{
    const double settle = m_tracker.settleTime();
    return std::max(ClickSettleBudget + settle - SettleTime, settle + m_tracker.quietTime());
}

void ModbusLine::drain()
{
    if (m_port->inBufferCount() <= 0)
        return;
    const QByteArray bytes = m_port->input();
    m_late += bytes;
    m_tracker.strayBytes(bytes, m_clock.now());
}

ModbusLine::Settled ModbusLine::settle(RequestKind kind)
{
    const double start = m_clock.now();
    for (;;) {
        drain();
        const double now = m_clock.now();
        const double settledAt = m_tracker.settledAt(kind);
        if (kind == RequestKind::Tick && now < settledAt)
            return Settled::Skip;
        const double readyAt = std::max(settledAt, m_tracker.quietAt());
        if (now >= readyAt)
            return Settled::Go;
        // A click's budget grows with a settle time learned meanwhile.
        const double deadline = kind == RequestKind::Click ? start + clickSettleBudget()
                                                           : std::max(start, settledAt) + QuietBudget;
        if (now >= deadline)
            return Settled::Busy;
        m_clock.waitPolling(std::min(readyAt, deadline) - now, pollStep(), [this] {
            drain();
            return Clock::Seen::More;
        });
    }
}

// Each arrival timed. With a lateness known (or for a probe) the bytes are
// taken as they come and the wait ends once the whole answer is in;
// otherwise the wait runs its length, stops asking once a read's answer is
// all there, and takes what came at its end. When what came may be an older
// request's late answer, the wait goes on for this one's own.
ModbusLine::Waited ModbusLine::waitForAnswer(const LineRequest &request, LineTracker::Seq seq, double sentAt)
{
    const bool probe = request.kind == RequestKind::Probe;
    bool endsOnAnswer = probe || m_tracker.waitEndsOnAnswer();
    Waited w;
    w.until = sentAt + (probe && request.answerWait > 0 ? request.answerWait : m_tracker.answerWait());
    for (;;) {
        m_clock.waitPolling(w.until - m_clock.now(), pollStep(), [&] {
            return endsOnAnswer ? takeAsTheyCome(seq, w) : countUntilEnd(request, w);
        });
        w.received += m_port->input();
        const double later = m_tracker.waitUntil(seq, w.received, w.arrivals, w.until);
        if (later <= w.until || !m_port->portOpen())
            return w;
        w.until = later;
        endsOnAnswer = true;
    }
}

bool ModbusLine::timeArrival(Waited &w, qsizetype held) const
{
    if (held <= w.held)
        return false;
    w.arrivals.append({m_clock.now(), w.held = held});
    return true;
}

// The tracker is asked only when bytes came.
Clock::Seen ModbusLine::takeAsTheyCome(LineTracker::Seq seq, Waited &w)
{
    w.received += m_port->input();
    const bool came = timeArrival(w, w.received.size());
    return came && m_tracker.answerIn(seq, w.received, m_clock.now()) ? Clock::Seen::Done : Clock::Seen::More;
}

Clock::Seen ModbusLine::countUntilEnd(const LineRequest &request, Waited &w) const
{
    timeArrival(w, w.received.size() + std::max(m_port->inBufferCount(), 0));
    const bool read = request.frame[1] != WriteSingleRegister;
    const bool whole = read && w.held >= request.expectedLength + CrcBytes && w.held != RequestBytes;
    return whole ? Clock::Seen::Enough : Clock::Seen::More;
}

// Settle, send, wait, and the tracker's verdict on what the wait took.
std::optional<LineOutcome> ModbusLine::transact(const LineRequest &request)
{
    if (m_busy)
        return std::nullopt;
    const QScopedValueRollback guard(m_busy, true);
    m_tracker.setQuietTime(quietTime(m_port->settings()));
    const bool open = m_port->portOpen();
    const Settled settled = open ? settle(request.kind) : Settled::Go;
    if (settled == Settled::Skip)
        return std::nullopt;

    LineOutcome out;
    out.late = std::exchange(m_late, {});
    out.frame = request.frame;
    CRC(out.frame);
    if (m_onSend)
        m_onSend(out.frame);
    if (settled == Settled::Busy) {
        out.reason = {Reason::LineBusy};
        return out;
    }
    const double sentAt = m_clock.now();
    // A refused write is not retried. Nothing went out: no wait, and nothing
    // can come late.
    if (!open || !m_port->output(frameBytes(out.frame))) {
        out.reason = {Reason::NotSentPortClosed};
        return out;
    }
    const LineTracker::Seq seq = m_tracker.sent(out.frame, request.kind, sentAt);

    const Waited waited = waitForAnswer(request, seq, sentAt);
    out.received = waited.received;
    const double now = m_clock.now();
    const LineTracker::Verdict verdict = m_tracker.took(seq, out.received, waited.arrivals, now, waited.until - sentAt);
    out.answer = verdict.answer;
    // A port closed in the wait is not the meter's silence.
    out.reason = m_port->portOpen() ? verdict.reason : Reason{Reason::ClosedInWait};
    if (!m_watching && m_tracker.watching(now))
        watch();
    return out;
}

} // namespace movra
