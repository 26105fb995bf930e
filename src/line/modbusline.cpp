#include "modbusline.h"

#include "clock.h"
#include "commport.h"

#include <QList>
#include <QScopedValueRollback>
#include <QTimer>
#include <algorithm>

namespace movra {

ModbusLine::ModbusLine(std::unique_ptr<SerialPort> port, Clock &clock)
    : m_port(std::move(port)), m_clock(clock), m_watch(std::make_unique<QTimer>())
{
    m_watch->setInterval(int(WatchStep * 1000));
    QObject::connect(m_watch.get(), &QTimer::timeout, m_watch.get(), [this] { watch(); });
}

void ModbusLine::watch()
{
    if (m_busy)
        return; // the request's own wait takes the bytes
    drain();
    if (!m_unansweredAt || m_clock.now() - *m_unansweredAt > LateHorizon)
        m_watch->stop();
}

ModbusLine::~ModbusLine() = default;

double ModbusLine::quietTime(const LineSettings &settings)
{
    constexpr double Characters = 3.5;
    constexpr double Floor = 0.00175;
    const double stopBits = settings.stopBits == OneAndHalfStopBits ? 1.5 : settings.stopBits;
    const double bits = 1 + settings.dataBits + (settings.parity == 'N' ? 0 : 1) + stopBits;
    const double baud = std::max(settings.baudRate, 1);
    return std::max(Floor, Characters * bits / baud);
}

namespace {

// Late bytes after a gap longer than this start a new burst, measured on
// its own: a few polls, so that one frame read over several polls is one burst.
constexpr double BurstGapPolls = 3;

bool fitsRequest(const QueryFrame &request, const QByteArray &frame)
{
    const AnswerStatus status = checkAnswer(request, frame);
    return status == AnswerStatus::Ok || status == AnswerStatus::Exception;
}

} // namespace

double ModbusLine::settleTime() const
{
    if (!m_lateness)
        return SettleTime;
    return std::clamp(SettleMargin * *m_lateness, SettleTime, MaxSettleTime);
}

double ModbusLine::clickSettleBudget() const
{
    const double longer = settleTime() - SettleTime;
    return std::max(ClickSettleBudget + longer, settleTime() + quietTime(m_port->settings()));
}

bool ModbusLine::settling()
{
    if (!m_busy)
        drain();
    return m_unansweredAt && m_clock.now() - *m_unansweredAt < settleTime();
}

void ModbusLine::learn(double latency)
{
    m_lateness = std::max(m_lateness.value_or(0.0), latency);
    m_onTimeRun = 0;
}

ModbusLine::Sent *ModbusLine::oldestUnanswered(double at)
{
    for (Sent &s : m_sent)
        if (!s.answered && at - s.at <= LateHorizon)
            return &s;
    return nullptr;
}

ModbusLine::Sent *ModbusLine::findSent(double at)
{
    for (Sent &s : m_sent)
        if (s.at == at)
            return &s;
    return nullptr;
}

void ModbusLine::creditAnswer(const QByteArray &frame, double at)
{
    for (Sent &s : m_sent) {
        if (!s.answered && at - s.at <= LateHorizon && fitsRequest(s.frame, frame)) {
            s.answered = true;
            return;
        }
    }
}

// Stray bytes outside a request's wait. The first byte of each burst is
// measured from the oldest request still without an answer: a meter answers
// in order, and an older send only makes the latency longer. A burst that
// holds a whole answer to that request credits it.
void ModbusLine::noteLate(const QByteArray &bytes, double at)
{
    const double gap = std::max(quietTime(m_port->settings()), BurstGapPolls * PollStep);
    if (m_burst.isEmpty() || at - m_lastBytesAt > gap) {
        m_burst.clear();
        const Sent *from = oldestUnanswered(at);
        m_burstFrom = from ? std::optional<double>(from->at) : std::nullopt;
        if (m_burstFrom)
            learn(at - *m_burstFrom);
    }
    m_burst += bytes;
    while (m_burstFrom) {
        Sent *from = findSent(*m_burstFrom);
        if (!from)
            break;
        const qsizetype length = answerFrameLength(from->frame, m_burst);
        if (!fitsRequest(from->frame, m_burst.left(length)))
            break;
        from->answered = true;
        m_burst.remove(0, length);
        const Sent *next = m_burst.isEmpty() ? nullptr : oldestUnanswered(at);
        m_burstFrom = next ? std::optional<double>(next->at) : std::nullopt;
        if (m_burstFrom)
            learn(at - *m_burstFrom);
    }
}

void ModbusLine::drain()
{
    if (m_port->inBufferCount() <= 0)
        return;
    const double now = m_clock.now();
    const QByteArray bytes = m_port->input();
    if (bytes.isEmpty())
        return;
    m_late += bytes;
    noteLate(bytes, now);
    m_lastBytesAt = now;
}

bool ModbusLine::settle(double budget)
{
    const double start = m_clock.now();
    // A click's budget grows with a settle time learned meanwhile.
    const bool click = budget >= ClickSettleBudget;
    for (;;) {
        if (click)
            budget = std::max(budget, clickSettleBudget());
        drain();
        const double now = m_clock.now();
        double readyAt = m_lastBytesAt + quietTime(m_port->settings());
        if (m_unansweredAt)
            readyAt = std::max(readyAt, *m_unansweredAt + settleTime());
        if (now >= readyAt)
            return true;
        const double left = budget - (now - start);
        if (left <= 0)
            return false;
        m_clock.waitPolling(std::min(readyAt - now, left), PollStep, [this] {
            drain();
            return true;
        });
    }
}

// What the outcome tells the settle rule and the lateness of the meter.
void ModbusLine::record(const LineOutcome &out, double sentAt)
{
    const double now = m_clock.now();
    while (!m_sent.empty() && now - m_sent.front().at > LateHorizon)
        m_sent.pop_front();
    m_sent.push_back({sentAt, out.frame, false});

    const bool answered = out.status == AnswerStatus::Ok || out.status == AnswerStatus::Exception;
    if (answered && !out.answer.isEmpty()) {
        // The answer may be an older unanswered request's (no frame tells
        // them apart): it goes to the oldest it fits, which leaves later
        // late bytes measured from an earlier send, never a later one.
        creditAnswer(out.answer, now);
        m_unansweredAt.reset();
        if (++m_onTimeRun >= OnTimeRunToForget)
            m_lateness.reset();
        return;
    }
    m_onTimeRun = 0;
    if (out.reason.kind == Reason::LateAnswer) {
        // An earlier answer inside this wait. Alone, it is timed by its first
        // byte; in front of more bytes it may be this request's own answer
        // that came first, so it is late by at most the whole wait.
        const bool alone = out.status != AnswerStatus::ExtraBytes;
        const double arrived = alone && out.firstByteAfter ? sentAt + *out.firstByteAfter : now;
        if (const Sent *from = oldestUnanswered(arrived))
            learn(arrived - from->at);
        creditAnswer(out.answer.left(answerFrameLength(m_unansweredFrame, out.answer)), now);
    }
    m_unansweredAt = sentAt;
    m_unansweredFrame = out.frame;
    if (!out.received.isEmpty())
        m_lastBytesAt = now;
    m_watch->start();
}

std::optional<LineOutcome> ModbusLine::transact(const LineRequest &request, double settleBudget)
{
    if (m_busy)
        return std::nullopt;
    const QScopedValueRollback guard(m_busy, true);
    const bool open = m_port->portOpen();
    if (open && !settle(settleBudget))
        return std::nullopt;

    LineOutcome out;
    out.late = std::exchange(m_late, {});
    out.frame = request.frame;
    CRC(out.frame);
    if (m_onSend)
        m_onSend(out.frame);
    const double sentAt = m_clock.now();
    out.written = open && m_port->output(frameBytes(out.frame)); // a refused write is not retried
    if (!out.written) {
        // Nothing went out: no wait, and nothing can come late.
        out.reason = {Reason::NotSentPortClosed};
        return out;
    }

    // Arrivals during the wait, each as (seconds after the send, bytes held).
    // Once a read's whole answer is in (and not just an echo of the request's
    // eight bytes), the rest of the wait needs no polling.
    QList<std::pair<double, int>> arrivals;
    const int answerFrame = request.expectedLength + CrcBytes;
    const bool read = out.frame[1] != WriteSingleRegister;
    m_clock.waitPolling(AnswerWait, PollStep, [&] {
        const int held = m_port->inBufferCount();
        if (held > (arrivals.isEmpty() ? 0 : arrivals.last().second))
            arrivals.append({m_clock.now() - sentAt, held});
        return !(read && held >= answerFrame && held != RequestBytes);
    });
    if (m_port->inBufferCount() > 0)
        out.received = m_port->input();

    const QByteArray echo = frameBytes(out.frame);
    const bool echoAlone = out.received == echo && out.frame[1] != WriteSingleRegister;
    out.answer = echoAlone ? QByteArray() : withoutEcho(out.frame, out.received);
    const qsizetype echoLength = out.answer.isEmpty() ? 0 : out.received.size() - out.answer.size();
    for (const auto &[after, held] : std::as_const(arrivals)) {
        if (held > echoLength) {
            out.firstByteAfter = after;
            break;
        }
    }
    if (out.answer.isEmpty()) {
        out.reason = {Reason::NoAnswer};
    } else {
        out.status = checkAnswer(out.frame, out.answer);
        out.reason = reasonOf(out.status, out.answer);
        // An earlier request's answer, whole, alone (another length than
        // this one's) or in front of more bytes.
        const bool fits = out.status == AnswerStatus::Ok || out.status == AnswerStatus::Exception;
        if (!fits && m_unansweredAt) {
            const QByteArray first = out.answer.left(answerFrameLength(m_unansweredFrame, out.answer));
            const AnswerStatus earlier = checkAnswer(m_unansweredFrame, first);
            if (earlier == AnswerStatus::Ok || earlier == AnswerStatus::Exception)
                out.reason = {Reason::LateAnswer};
        }
    }

    record(out, sentAt);
    if (out.reason.kind == Reason::None && out.firstByteAfter)
        out.reason.seconds = *out.firstByteAfter;
    if (out.reason.kind == Reason::NoAnswer && m_lateness)
        out.reason.seconds = *m_lateness;
    return out;
}

} // namespace movra
