#include "linetracker.h"

#include <algorithm>
#include <limits>

namespace movra {

namespace {
constexpr double Never = -std::numeric_limits<double>::infinity();
} // namespace

bool LineTracker::isAnswerTo(const QueryFrame &frame, const QByteArray &bytes)
{
    const AnswerStatus status = checkAnswer(frame, bytes);
    return status == AnswerStatus::Ok || status == AnswerStatus::Exception;
}

bool LineTracker::wholeAnswerIn(const QueryFrame &frame, const QByteArray &received)
{
    const QByteArray echo = frameBytes(frame);
    const bool read = frame[1] != WriteSingleRegister;
    const QByteArray rest = read && received.startsWith(echo) ? received.mid(echo.size()) : received;
    return !rest.isEmpty() && rest.size() >= answerFrameLength(frame, rest);
}

void LineTracker::restart()
{
    const double quiet = m_quietTime;
    *this = LineTracker();
    m_quietTime = quiet;
}

double LineTracker::settleTime() const
{
    if (!m_lateness)
        return SettleTime;
    return std::clamp(SettleMargin * *m_lateness, SettleTime, MaxSettleTime);
}

double LineTracker::answerWait() const
{
    if (!m_lateness)
        return AnswerWait;
    return std::clamp(SettleMargin * *m_lateness, AnswerWait, MaxSettleTime);
}

double LineTracker::settledAt(RequestKind kind) const
{
    if (!m_unanswered || (kind == RequestKind::Probe && m_unanswered->kind == RequestKind::Probe))
        return Never;
    return m_unanswered->at + settleTime();
}

LineTracker::Seq LineTracker::sent(const QueryFrame &frame, RequestKind kind, double at)
{
    while (!m_sends.empty() && at - m_sends.front().at > LateHorizon)
        m_sends.pop_front();
    m_sends.push_back({m_next, at, frame, kind, false});
    return m_next++;
}

LineTracker::Send *LineTracker::find(Seq seq)
{
    for (Send &s : m_sends)
        if (s.seq == seq)
            return &s;
    return nullptr;
}

LineTracker::Send *LineTracker::oldestUnanswered(double at)
{
    for (Send &s : m_sends)
        if (!s.answered && s.at <= at && at - s.at <= LateHorizon)
            return &s;
    return nullptr;
}

// The one place the meter's lateness is learned: bytes of `from`'s answer
// seen at `at`. A probe's answer teaches nothing.
void LineTracker::learn(const Send &from, double at)
{
    if (from.kind == RequestKind::Probe)
        return;
    m_lateness = std::max(m_lateness.value_or(0.0), at - from.at);
    m_onTimeRun = 0;
}

// A meter answers in order: once a send's answer has come, no older send's
// answer will.
void LineTracker::closeUpTo(Seq seq)
{
    for (Send &s : m_sends)
        if (s.seq <= seq)
            s.answered = true;
}

// Whose answer a trusted frame taken in `self`'s wait is: the oldest older
// send still awaiting an answer that it fits (no frame tells them apart,
// and a meter that has just turned slow answers the earlier request in this
// wait), else its own. Not twice in a row: after a request that got no
// answer and a fast meter, every later answer would pass for the one before.
void LineTracker::credit(const Send &self, const QByteArray &frame, double at)
{
    Seq owner = self.seq;
    if (!m_shifted) {
        for (const Send &s : m_sends) {
            if (!s.answered && s.seq < self.seq && at - s.at <= LateHorizon && isAnswerTo(s.frame, frame)) {
                owner = s.seq;
                break;
            }
        }
    }
    m_shifted = owner != self.seq;
    closeUpTo(owner);
}

// The first byte of each burst is measured from the oldest request still
// without an answer: a meter answers in order, and an older send only makes
// the lateness longer. A burst that holds a whole answer to that request
// credits it, and what follows is measured from the next.
void LineTracker::strayBytes(const QByteArray &bytes, double at)
{
    if (bytes.isEmpty())
        return;
    const double gap = std::max(m_quietTime, BurstGap);
    if (m_burst.isEmpty() || at - m_lastBytesAt > gap) {
        m_burst.clear();
        const Send *from = oldestUnanswered(at);
        m_burstFrom = from ? std::optional<Seq>(from->seq) : std::nullopt;
        if (from)
            learn(*from, at);
    }
    m_lastBytesAt = at;
    m_burst += bytes;
    while (m_burstFrom) {
        Send *from = find(*m_burstFrom);
        if (!from)
            break;
        const qsizetype length = answerFrameLength(from->frame, m_burst);
        if (!isAnswerTo(from->frame, m_burst.left(length)))
            break;
        closeUpTo(from->seq);
        m_burst.remove(0, length);
        const Send *next = m_burst.isEmpty() ? nullptr : oldestUnanswered(at);
        m_burstFrom = next ? std::optional<Seq>(next->seq) : std::nullopt;
        if (next)
            learn(*next, at);
    }
}

LineTracker::Verdict LineTracker::took(Seq seq, const QByteArray &received, const Arrivals &arrivals,
                                       double now)
{
    Verdict v;
    Send *self = find(seq);
    if (!self)
        return v; // not a send of this line's since its restart
    const Send mine = *self;
    const QByteArray echo = frameBytes(mine.frame);
    const bool read = mine.frame[1] != WriteSingleRegister;
    const bool echoOnly = read && !received.isEmpty() && echo.startsWith(received);
    v.answer = echoOnly ? QByteArray() : withoutEcho(mine.frame, received);
    const qsizetype echoLength = v.answer.isEmpty() ? 0 : received.size() - v.answer.size();
    std::optional<double> firstAt;
    for (const auto &[at, held] : arrivals) {
        if (held > echoLength) {
            firstAt = at;
            break;
        }
    }
    if (firstAt)
        v.firstByteAfter = *firstAt - mine.at;

    // An earlier unanswered request whose answer this may be.
    Send *earlier = oldestUnanswered(now);
    if (earlier && earlier->seq == seq)
        earlier = nullptr;
    const QByteArray earlierFrame =
        earlier ? v.answer.left(answerFrameLength(earlier->frame, v.answer)) : QByteArray();
    const bool earliersFirst = earlier && isAnswerTo(earlier->frame, earlierFrame);
    const double arrived = firstAt.value_or(now);

    if (v.answer.isEmpty()) {
        v.reason = {LineReason::NoAnswer};
    } else {
        v.status = checkAnswer(mine.frame, v.answer);
        v.reason = reasonOf(mine.frame, v.status, v.answer);
        const bool fits = isAnswerTo(mine.frame, v.answer);
        // A meter later than the longest settle time: the earlier answer was
        // not due yet when this request went, so what comes first is that
        // answer, not ours.
        const bool dueAfterSend = earlier && m_lateness && *m_lateness > MaxSettleTime
                                  && earlier->kind != RequestKind::Probe && earlier->at + *m_lateness > mine.at;
        if (fits && earliersFirst && dueAfterSend) {
            v.answer.clear();
            v.status = AnswerStatus::Short;
            v.reason = {LineReason::NoAnswer};
            learn(*earlier, arrived);
            closeUpTo(earlier->seq);
        } else if (!fits && earliersFirst) {
            // Alone, it is timed by its first byte; in front of more bytes it
            // may be this request's own answer that came first, so it is
            // late by at most the whole wait.
            v.reason = {LineReason::LateAnswer};
            learn(*earlier, v.status == AnswerStatus::ExtraBytes ? now : arrived);
            closeUpTo(earlier->seq);
            if (isAnswerTo(mine.frame, v.answer.mid(earlierFrame.size())))
                closeUpTo(mine.seq);
        }
    }

    const bool answered = !v.answer.isEmpty() && isAnswerTo(mine.frame, v.answer);
    if (answered) {
        // The answer may be an older unanswered request's (no frame tells
        // them apart) while the meter is known to be late.
        credit(mine, v.answer, now);
        m_unanswered.reset();
        const bool onTime = v.firstByteAfter && *v.firstByteAfter <= AnswerWait;
        if (mine.kind != RequestKind::Probe) {
            m_onTimeRun = onTime ? m_onTimeRun + 1 : 0;
            if (m_onTimeRun >= OnTimeRunToForget)
                m_lateness.reset();
        }
        return v;
    }
    if (mine.kind != RequestKind::Probe)
        m_onTimeRun = 0;
    m_unanswered = mine;
    if (!received.isEmpty())
        m_lastBytesAt = now;
    if (v.reason.kind == LineReason::NoAnswer && m_lateness)
        v.reason.seconds = *m_lateness;
    return v;
}

} // namespace movra
