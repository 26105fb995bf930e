#pragma once
// The Modbus line: one request at a time over the serial port, the wait for
// its answer, and a plain account of what came back. The bookkeeping and
// its decisions are the LineTracker's.
#include "clock.h"
#include "frame.h"
#include "linetracker.h"
#include "response.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <optional>

namespace movra {

class SerialPort;
struct LineSettings;

struct LineRequest {
    QueryFrame frame{};     // bytes 0..5; the line puts the CRC in 6..7
    int expectedLength = 0; // answer bytes rendered in front of the CRC
    ValueShape shape; // what a read's data bytes make
    RequestKind kind = RequestKind::Click;
    // Probe only: the answer wait, seconds; 0 = the line's own wait.
    double answerWait = 0;
};

struct LineOutcome {
    QueryFrame frame{};  // as sent, CRC included
    QByteArray late;     // bytes dropped before the send: a late answer or noise
    QByteArray received; // every byte taken after the send
    QByteArray answer;   // received less our own echo; empty: no answer
    // None: the answer is this request's own, whole and intact; seconds:
    // when its first byte came after the send. NoAnswer: seconds is the
    // line's lateness, when known. NotSentPortClosed: the port was not open
    // or refused the bytes; the request did not go out and the line did not
    // wait. LineBusy: bytes kept arriving, the request did not go out; they
    // are in `late`. ClosedInWait: the port was closed, or opened again,
    // while the request waited for its answer.
    Reason reason;
    bool trusted() const { return reason.kind == Reason::None; }
};

class ModbusLine {
public:
    static constexpr double AnswerWait = LineTracker::AnswerWait;
    static constexpr double SettleTime = LineTracker::SettleTime;
    static constexpr double MaxSettleTime = LineTracker::MaxSettleTime;
    // Where the port does not signal arrivals, it is asked this often during
    // a wait, and, between requests, this often while an unanswered
    // request's late bytes are worth timing.
    static constexpr double PollStep = 0.005;
    static constexpr double WatchStep = 0.01;
    // How long a click may wait for the line to settle and go quiet: this,
    // more when the settle time is longer. A tick or a probe waits
    // QuietBudget for quiet once the settle time is over.
    static constexpr double ClickSettleBudget = 1.0;
    static constexpr double QuietBudget = 0.05;

    ModbusLine(std::unique_ptr<SerialPort> port, Clock &clock);
    ~ModbusLine();

    SerialPort &port() { return *m_port; }
    // Runs as the request goes out, CRC set: the query log. Also for a
    // request the closed port or the busy line does not send.
    void setOnSend(std::function<void(const QueryFrame &)> onSend) { m_onSend = std::move(onSend); }

    // A request is on the line.
    bool busy() const { return m_busy; }
    // An unanswered request's late answer may still be on its way. While no
    // request is on the line, it first takes what the port holds as late
    // bytes, so a scan tick times a late answer to within its own period.
    bool settling();
    // The meter's lateness, once late bytes have shown it.
    std::optional<double> lateness() const { return m_tracker.lateness(); }
    int lateAnswers() const { return m_tracker.lateAnswers(); }
    double longestLate() const { return m_tracker.longestLate(); }
    // The answer wait a Click or Tick gets now.
    double answerWait() const { return m_tracker.answerWait(); }
    // Forgets sends, lateness and stray bytes, those the port holds too: a
    // new port or new settings.
    void restart();

    // Waits for the line to settle and go quiet, sends, waits for the
    // answer, takes what came and checks it. Empty when the line is busy
    // with another request or a Tick falls inside the settle time.
    std::optional<LineOutcome> transact(const LineRequest &request);

    // A few character times of quiet: 3.5 characters, 1.75 ms at least.
    static double quietTime(const LineSettings &settings);

private:
    enum class Settled { Go, Skip, Busy };
    // What an answer wait took: every byte, each arrival timed, and when it ended.
    struct Waited {
        QByteArray received;
        LineTracker::Arrivals arrivals;
        qsizetype held = 0; // bytes arrived by the last take
        double until = 0;
    };
    Waited waitForAnswer(const LineRequest &request, LineTracker::Seq seq, double sentAt);
    // Whether more bytes came since the last take.
    bool timeArrival(Waited &w, qsizetype held) const;
    // Bytes taken as they come; done once the whole answer is in.
    Clock::Seen takeAsTheyCome(LineTracker::Seq seq, Waited &w);
    // Bytes left in the port to the wait's end, only counted; enough once a
    // read's answer is all there.
    Clock::Seen countUntilEnd(const LineRequest &request, Waited &w) const;
    Settled settle(RequestKind kind);
    double clickSettleBudget() const;
    // Takes what the port holds outside a wait: stray bytes.
    void drain();
    // A port that signals arrivals is not polled.
    double pollStep() const;
    void arrived();
    void watch();

    std::unique_ptr<SerialPort> m_port;
    Clock &m_clock;
    std::function<void(const QueryFrame &)> m_onSend;
    LineTracker m_tracker;
    bool m_busy = false;
    bool m_watching = false;
    QByteArray m_late; // stray bytes not yet reported
};

} // namespace movra
