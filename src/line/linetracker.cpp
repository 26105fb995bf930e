#include "linetracker.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <utility>

namespace movra {

namespace {
constexpr double Never = -std::numeric_limits<double>::infinity();
} // namespace

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
    return const_cast<Send *>(std::as_const(*this).find(seq));
}

const LineTracker::Send *LineTracker::find(Seq seq) const
{
    for (const Send &s : m_sends)
        if (s.seq == seq)
            return &s;
    return nullptr;
}

qsizetype LineTracker::answerAtFront(const QueryFrame &frame, const QByteArray &bytes)
{
    const qsizetype length = answerFrameLength(frame, bytes);
    return checkAnswer(frame, bytes.left(length)).answered() ? length : 0;
}

bool LineTracker::awaits(const Send &s, double at)
{
    return !s.answered && s.at <= at && at - s.at <= LateHorizon;
}

LineTracker::Send *LineTracker::oldestUnanswered(double at)
{
    for (Send &s : m_sends)
        if (awaits(s, at))
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
    m_longestLate = std::max(m_longestLate, at - from.at);
    m_onTimeRun = 0;
    if (m_lastLate != from.seq)
        ++m_lateAnswers;
    m_lastLate = from.seq;
}

// A meter answers in order: once a send's answer has come, no older send's
// answer will.
void LineTracker::closeUpTo(Seq seq)
{
    for (Send &s : m_sends)
        if (s.seq <= seq)
            s.answered = true;
}

// The oldest older send still awaiting an answer that the bytes begin
// with, when nothing came in its own wait (bytes there were its answer,
// however damaged), and that answer's length.
std::pair<const LineTracker::Send *, qsizetype> LineTracker::olderCandidate(const Send &self, const QByteArray &answer,
                                                                            double at) const
{
    for (const Send &s : m_sends) {
        if (s.seq >= self.seq)
            break;
        if (!awaits(s, at) || s.heard)
            continue;
        if (const qsizetype length = answerAtFront(s.frame, answer))
            return {&s, length};
    }
    return {nullptr, 0};
}

void LineTracker::learnFromSecondAnswer(double at)
{
    if (m_sends.empty() || !m_sends.back().answered)
        return;
    const Send &last = m_sends.back();
    if (at - last.at > LateHorizon)
        return;
    if (const qsizetype length = answerAtFront(last.frame, m_burst)) {
        learn(last, m_burstAt);
        m_burst.remove(0, length);
    }
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
        m_burstAt = at;
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
        const qsizetype length = answerAtFront(from->frame, m_burst);
        if (length == 0)
            break;
        closeUpTo(from->seq);
        m_burst.remove(0, length);
        const Send *next = m_burst.isEmpty() ? nullptr : oldestUnanswered(at);
        m_burstFrom = next ? std::optional<Seq>(next->seq) : std::nullopt;
        if (next)
            learn(*next, at);
    }
    if (!m_burstFrom)
        learnFromSecondAnswer(at);
}

// When byte `skip` of what a wait took arrived, seconds after `sentAt`.
std::optional<double> LineTracker::firstByteAfter(const Arrivals &arrivals, double sentAt, qsizetype skip)
{
    for (const auto &[at, held] : arrivals)
        if (held > skip)
            return at - sentAt;
    return std::nullopt;
}

Judgement judgeAnswer(const QueryFrame &mine, qsizetype olderLength, const QByteArray &answer)
{
    Judgement j;
    if (answer.isEmpty())
        return j;
    j.check = checkAnswer(mine, answer);
    if (olderLength > 0) {
        j.olderLength = olderLength;
        j.rest = checkAnswer(mine, answer.mid(olderLength));
        j.owner = j.rest.answered() ? Judgement::OlderThenMine : Judgement::Older;
    } else if (j.check.answered()) {
        j.owner = Judgement::Mine;
    }
    return j;
}

LineTracker::Taken LineTracker::look(const Send &mine, const QByteArray &received, const Arrivals &arrivals,
                                     double now) const
{
    Taken t;
    t.answer = withoutEcho(mine.frame, received);
    t.echoLength = t.answer.isEmpty() ? 0 : received.size() - t.answer.size();
    t.firstByteAfter = firstByteAfter(arrivals, mine.at, t.echoLength);
    t.arrived = t.firstByteAfter ? mine.at + *t.firstByteAfter : now;
    qsizetype olderLength = 0;
    std::tie(t.older, olderLength) = olderCandidate(mine, t.answer, t.arrived);
    t.judgement = judgeAnswer(mine.frame, olderLength, t.answer);
    return t;
}

bool LineTracker::answerIn(Seq seq, const QByteArray &received, double now) const
{
    const Send *mine = find(seq);
    if (!mine)
        return true;
    const Taken t = look(*mine, received, {}, now);
    switch (t.judgement.owner) {
    case Judgement::Mine:
    case Judgement::OlderThenMine:
        return true;
    case Judgement::Older:
        return false;
    case Judgement::Nobody:
        break;
    }
    return !t.answer.isEmpty() && t.answer.size() >= answerFrameLength(mine->frame, t.answer);
}

double LineTracker::waitUntil(Seq seq, const QByteArray &received, const Arrivals &arrivals, double plannedEnd) const
{
    const Send *mine = find(seq);
    if (!mine)
        return plannedEnd;
    const Taken t = look(*mine, received, arrivals, plannedEnd);
    if (t.judgement.owner != Judgement::Older)
        return plannedEnd;
    const double late = t.arrived - t.older->at; // were it the older request's answer
    if (late > MaxSettleTime)
        return plannedEnd; // this one's own would come after any wait
    return std::max(plannedEnd, mine->at + std::min(SettleMargin * late, MaxSettleTime));
}

// Whose the answer is once the wait is over: one that fits both this
// request and an older one, when this one's own did not follow though the
// wait lasted long enough for it, is this one's (the older one's was lost).
Judgement::Owner LineTracker::ownerAtEnd(const Send &mine, const Taken &t, double now)
{
    if (t.judgement.owner == Judgement::Older && t.judgement.check.answered()
        && mine.at + (t.arrived - t.older->at) <= now)
        return Judgement::Mine;
    return t.judgement.owner;
}

// Bytes other than an older request's answer came in this request's wait:
// the meter answers in order, so no older answer is to come. Bytes that are
// no incomplete start of its answer (a whole frame however damaged, or
// garbage) were its answer: late bytes are another's.
void LineTracker::noteHeard(Send &mine, const Taken &t)
{
    mine.heard = t.answer.size() > t.judgement.olderLength;
    if (mine.heard && mine.seq > 1)
        closeUpTo(mine.seq - 1);
    if (t.judgement.owner == Judgement::Nobody && mine.heard && t.judgement.check.kind != Reason::ShortAnswer)
        closeUpTo(mine.seq);
}

// This request's own answer: the meter answered it, on time or late.
void LineTracker::bookOwnAnswer(const Send &mine, Verdict &v)
{
    closeUpTo(mine.seq);
    m_unanswered.reset();
    const bool onTime = v.firstByteAfter && *v.firstByteAfter <= AnswerWait;
    if (mine.kind != RequestKind::Probe) {
        m_onTimeRun = onTime ? m_onTimeRun + 1 : 0;
        if (m_onTimeRun >= OnTimeRunToForget)
            m_lateness.reset();
    }
    if (v.reason.kind == Reason::None && v.firstByteAfter)
        v.reason.seconds = *v.firstByteAfter;
}

// No answer of its own: the next request waits the settle time after it.
void LineTracker::bookUnanswered(const Send &mine, const QByteArray &received, double now, double wait, Verdict &v)
{
    if (mine.kind != RequestKind::Probe)
        m_onTimeRun = 0;
    m_unanswered = mine;
    if (!received.isEmpty())
        m_lastBytesAt = now;
    if (v.reason.kind == Reason::NoAnswer || v.reason.kind == Reason::ShortAnswer)
        v.reason.waited = wait;
    if (v.reason.kind == Reason::NoAnswer && m_lateness)
        v.reason.seconds = *m_lateness;
}

LineTracker::Verdict LineTracker::took(Seq seq, const QByteArray &received, const Arrivals &arrivals,
                                       double now, double wait)
{
    Send *self = find(seq);
    if (!self)
        return {{}, {Reason::ClosedInWait}, {}};
    Send &mine = *self;
    const Taken t = look(mine, received, arrivals, now);
    noteHeard(mine, t);
    Verdict v{t.answer, t.judgement.check, t.firstByteAfter};
    switch (ownerAtEnd(mine, t, now)) {
    case Judgement::OlderThenMine:
        // The older request's late answer, then this one's own.
        learn(*t.older, t.arrived);
        v.answer = v.answer.mid(t.judgement.olderLength);
        v.reason = t.judgement.rest;
        v.firstByteAfter = firstByteAfter(arrivals, mine.at, t.echoLength + t.judgement.olderLength);
        [[fallthrough]];
    case Judgement::Mine:
        bookOwnAnswer(mine, v);
        return v;
    case Judgement::Older:
        // An older request's answer, and the wait could not last long enough
        // for this one's own: never this one's value, and the meter is at
        // least that late. Alone, it is timed by its first byte; in front of
        // more bytes taken at the wait's end it may be this request's own
        // answer that came first, so it is late by at most the whole wait.
        learn(*t.older, t.judgement.check.kind != Reason::MoreThanOneFrame ? t.arrived : now);
        closeUpTo(t.older->seq);
        v.reason = {Reason::LateAnswer};
        v.reason.seconds = m_lateness.value_or(-1);
        break;
    case Judgement::Nobody:
        break;
    }
    bookUnanswered(mine, received, now, wait, v);
    return v;
}

} // namespace movra
