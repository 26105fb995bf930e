#include "modbusline.h"

#include "clock.h"
#include "commport.h"

#include <QScopedValueRollback>
#include <algorithm>

namespace movra {

ModbusLine::ModbusLine(std::unique_ptr<SerialPort> port, Clock &clock)
    : m_port(std::move(port)), m_clock(clock)
{
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

bool ModbusLine::settling() const
{
    return m_unansweredAt && m_clock.now() - *m_unansweredAt < SettleTime;
}

void ModbusLine::drain()
{
    if (m_port->inBufferCount() > 0) {
        m_late += m_port->input();
        m_lastBytesAt = m_clock.now();
    }
}

bool ModbusLine::settle(double budget)
{
    const double start = m_clock.now();
    for (;;) {
        drain();
        const double now = m_clock.now();
        double readyAt = m_lastBytesAt + quietTime(m_port->settings());
        if (m_unansweredAt)
            readyAt = std::max(readyAt, *m_unansweredAt + SettleTime);
        if (now >= readyAt)
            return true;
        const double left = budget - (now - start);
        if (left <= 0)
            return false;
        m_clock.wait(std::min(readyAt - now, left));
    }
}

std::optional<LineOutcome> ModbusLine::transact(const LineRequest &request, double settleBudget)
{
    if (m_busy)
        return std::nullopt;
    const QScopedValueRollback guard(m_busy, true);
    if (!settle(settleBudget))
        return std::nullopt;

    LineOutcome out;
    out.late = std::exchange(m_late, {});
    out.frame = request.frame;
    CRC(out.frame);
    if (m_onSend)
        m_onSend(out.frame);
    const double sentAt = m_clock.now();
    out.written = m_port->output(frameBytes(out.frame)); // a refused write is not retried
    m_clock.wait(AnswerWait);
    if (m_port->inBufferCount() > 0)
        out.received = m_port->input();

    const QByteArray echo = frameBytes(out.frame);
    const bool echoAlone = out.received == echo && out.frame[1] != WriteSingleRegister;
    out.answer = echoAlone ? QByteArray() : withoutEcho(out.frame, out.received);
    if (out.answer.isEmpty()) {
        out.reason = {Reason::NoAnswer};
    } else {
        out.status = checkAnswer(out.frame, out.answer);
        out.reason = reasonOf(out.status, out.answer);
        // An earlier request's answer, whole, in front of more bytes.
        if (out.status == AnswerStatus::ExtraBytes && m_unansweredAt) {
            const QByteArray first = out.answer.left(answerFrameLength(m_unansweredFrame, out.answer));
            const AnswerStatus earlier = checkAnswer(m_unansweredFrame, first);
            if (earlier == AnswerStatus::Ok || earlier == AnswerStatus::Exception)
                out.reason = {Reason::LateAnswer};
        }
    }

    if (!out.written)
        return out; // nothing went out, nothing can come late
    const bool answered = out.status == AnswerStatus::Ok || out.status == AnswerStatus::Exception;
    if (answered && !out.answer.isEmpty()) {
        m_unansweredAt.reset();
    } else {
        m_unansweredAt = sentAt;
        m_unansweredFrame = out.frame;
        if (!out.received.isEmpty())
            m_lastBytesAt = m_clock.now();
    }
    return out;
}

} // namespace movra
