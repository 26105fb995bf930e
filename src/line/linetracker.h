#pragma once
// The line's bookkeeping without a port or a clock: the requests sent, the
// bytes seen outside their waits, the meter's lateness, and the decisions
// that follow from them. Times come in as arguments, in seconds.
#include "frame.h"
#include "response.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <deque>
#include <optional>

namespace movra {

// Whose answer the bytes a wait took are, judged without the books: the
// waiting request's own, or, when they fit it first, the answer of an older
// request still awaiting one (no frame tells two such answers apart).
struct Judgement {
    enum Owner {
        Mine,          // whole, and this request's own (None or Exception)
        Older,         // the older request's answer, alone or with bytes that are no answer
        OlderThenMine, // the older request's answer, then this one's
        Nobody,        // no answer, or bytes that are no whole answer
    };
    Owner owner = Nobody;
    Reason check{Reason::NoAnswer}; // the bytes as this request's answer
    qsizetype olderLength = 0;      // Older, OlderThenMine: its frame's length
    Reason rest{Reason::NoAnswer};  // Older, OlderThenMine: the bytes after it, as this request's answer
};
// `olderLength`: the length of an older request's whole answer at the
// front of the bytes, when one awaits it; 0: none.
Judgement judgeAnswer(const QueryFrame &mine, qsizetype olderLength, const QByteArray &answer);

// Click: a send button; waits out the settle time. Tick: the scan's timer;
// skipped inside it. Probe: a try of the search for a meter; no settle time
// after an earlier unanswered probe, and it teaches the line no lateness.
enum class RequestKind { Click, Tick, Probe };

class LineTracker {
public:
    // The answer wait while no lateness is known.
    static constexpr double AnswerWait = 0.2;
    // After a request without a valid answer the next one waits the settle
    // time from that send, so a late answer arrives before it: SettleTime,
    // or, once late bytes have shown the meter to be slower, SettleMargin
    // times that lateness, at most MaxSettleTime.
    static constexpr double SettleTime = 0.5;
    static constexpr double SettleMargin = 1.5;
    static constexpr double MaxSettleTime = 2.0;
    // Late bytes are measured from the oldest request sent at most this long
    // before them that has no answer yet; longer than the longest settle
    // time, so a meter later than that is still timed.
    static constexpr double LateHorizon = 5.0;
    // This many answers in a row within AnswerWait and the lateness is
    // forgotten.
    static constexpr int OnTimeRunToForget = 10;
    // Stray bytes after a gap longer than this (or the quiet time) start a
    // new burst, measured on its own.
    static constexpr double BurstGap = 0.015;

    using Seq = std::uint64_t;

    // What a request's wait took, judged.
    struct Verdict {
        QByteArray answer; // received less our own echo; empty: no answer
        // None: the answer is this request's own, whole and intact; seconds:
        // firstByteAfter.
        Reason reason{Reason::NoAnswer};
        std::optional<double> firstByteAfter;
    };

    void setQuietTime(double seconds) { m_quietTime = seconds; }
    double quietTime() const { return m_quietTime; }
    // Forgets sends, lateness and stray bytes.
    void restart();

    // --- Decisions
    std::optional<double> lateness() const { return m_lateness; }
    // How many answers came late since the restart, and the latest of them.
    int lateAnswers() const { return m_lateAnswers; }
    double longestLate() const { return m_longestLate; }
    // The settle time in force.
    double settleTime() const;
    // The answer wait of a Click or Tick: AnswerWait, or with a lateness
    // known, the settle time it gives (ended early by a whole answer).
    double answerWait() const;
    bool waitEndsOnAnswer() const { return m_lateness.has_value(); }
    // Not before this may a request of `kind` go: the settle time after an
    // unanswered send (none between probes).
    double settledAt(RequestKind kind) const;
    // Not before this: the quiet time after the last stray bytes.
    double quietAt() const { return m_lastBytesAt + m_quietTime; }
    // A late answer may still be on its way.
    bool settling(double now) const { return now < settledAt(RequestKind::Tick); }
    // Late bytes of an unanswered send may still come and be worth timing.
    bool watching(double now) const { return m_unanswered && now - m_unanswered->at <= LateHorizon; }

    // --- Events
    Seq sent(const QueryFrame &frame, RequestKind kind, double at);
    // Bytes seen outside any wait.
    void strayBytes(const QByteArray &bytes, double at);
    // Each take of a wait: when, and how many bytes were held by then.
    using Arrivals = QList<std::pair<double, qsizetype>>;
    // The bytes taken so far in send `seq`'s wait hold what it waits for: a
    // whole frame, but not an older request's answer alone.
    bool answerIn(Seq seq, const QByteArray &received, double now) const;
    // When the wait of send `seq` may end: `plannedEnd`, or, while an older
    // request's answer alone has come, late enough for this one's own to
    // follow were the meter that late (at most MaxSettleTime after the send).
    double waitUntil(Seq seq, const QByteArray &received, const Arrivals &arrivals, double plannedEnd) const;
    // What the wait of send `seq` took, after waiting `wait` seconds; the
    // verdict is recorded. A send the line no longer knows (a restart came
    // during its wait) is never trusted.
    Verdict took(Seq seq, const QByteArray &received, const Arrivals &arrivals, double now, double wait);

private:
    struct Send {
        Seq seq;
        double at;
        QueryFrame frame;
        RequestKind kind;
        bool answered; // an answer that fits it has come (its own or a later one's)
        bool heard = false; // bytes other than our echo came in its own wait
    };

    // What a wait took, as the books read it.
    struct Taken {
        QByteArray answer; // less our own echo
        qsizetype echoLength = 0;
        std::optional<double> firstByteAfter;
        double arrived = 0; // the answer's first byte, or the take
        const Send *older = nullptr;
        Judgement judgement;
    };
    Taken look(const Send &mine, const QByteArray &received, const Arrivals &arrivals, double now) const;
    static Judgement::Owner ownerAtEnd(const Send &mine, const Taken &t, double now);
    void noteHeard(Send &mine, const Taken &t);
    void bookOwnAnswer(const Send &mine, Verdict &v);
    void bookUnanswered(const Send &mine, const QByteArray &received, double now, double wait, Verdict &v);

    // The length of a whole answer to that request at the front of the bytes; 0: none.
    static qsizetype answerAtFront(const QueryFrame &frame, const QByteArray &bytes);
    static bool awaits(const Send &s, double at); // no answer yet, sent within LateHorizon before `at`
    static std::optional<double> firstByteAfter(const Arrivals &arrivals, double sentAt, qsizetype skip);
    Send *find(Seq seq);
    const Send *find(Seq seq) const;
    Send *oldestUnanswered(double at);
    // The send before `self` still awaiting an answer that `answer`, taken in
    // self's wait, may belong to.
    std::pair<const Send *, qsizetype> olderCandidate(const Send &self, const QByteArray &answer, double at) const;
    void learn(const Send &from, double at);
    void closeUpTo(Seq seq);
    // A whole answer among stray bytes when no send awaits one: the answer
    // taken last was an earlier one's, and this is its own.
    void learnFromSecondAnswer(double at);

    double m_quietTime = 0.00175;
    Seq m_next = 1;
    std::deque<Send> m_sends; // within LateHorizon, oldest first
    std::optional<Send> m_unanswered; // the last send without a valid answer
    double m_lastBytesAt = -1e9;
    QByteArray m_burst;               // stray bytes since the last quiet gap or credit
    std::optional<Seq> m_burstFrom;   // the send the burst is measured from
    double m_burstAt = 0;             // when the burst began
    std::optional<double> m_lateness;
    int m_lateAnswers = 0;
    double m_longestLate = 0;
    std::optional<Seq> m_lastLate; // the send the last late answer was counted for
    int m_onTimeRun = 0;
};

} // namespace movra
