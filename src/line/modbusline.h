#pragma once
// The Modbus line: one request at a time over the serial port, the wait for
// its answer, and a plain account of what came back.
#include "frame.h"
#include "response.h"

#include <QByteArray>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace movra {

class Clock;
class SerialPort;
struct LineSettings;

enum class RequestKind { Click, Tick, Probe };

struct LineRequest {
    QueryFrame frame{};     // bytes 0..5; the line puts the CRC in 6..7
    int expectedLength = 0; // answer bytes rendered in front of the CRC
    ByteOrder order = ByteOrder::AsReceived;
    RequestKind kind = RequestKind::Click;
    double answerWait = 0; // Probe only: the answer wait, seconds; 0 = the line's own
};

struct LineOutcome {
    QueryFrame frame{};  // as sent, CRC included
    bool written = false; // the port took the bytes
    QByteArray late;     // bytes dropped before the send: a late answer or noise
    QByteArray received; // every byte taken after the send
    QByteArray answer;   // received less our own echo; empty: no answer
    // When the answer's first byte came, seconds after the send (our own
    // echo not counted; with no answer, the first byte received); empty
    // when nothing came within the wait.
    std::optional<double> firstByteAfter;
    AnswerStatus status = AnswerStatus::Short;
    // None: the answer is this request's own, whole and intact; seconds:
    // firstByteAfter. NoAnswer: seconds is the line's lateness, when known.
    // NotSentPortClosed: the port was not open or refused the bytes; the
    // request did not go out and the line did not wait.
    Reason reason;
    bool trusted() const { return reason.kind == Reason::None; }
};

class ModbusLine {
public:
    static constexpr double AnswerWait = 0.2;
    // After a request without a valid answer the next one waits the settle
    // time from that send, so a late answer arrives before it and is
    // dropped: SettleTime, or, once late bytes have shown the meter to be
    // slower, SettleMargin times that lateness, at most MaxSettleTime.
    static constexpr double SettleTime = 0.5;
    static constexpr double SettleMargin = 1.5;
    static constexpr double MaxSettleTime = 2.0;
    // Late bytes are measured from the oldest request sent at most this long
    // before them that has no answer yet.
    static constexpr double LateHorizon = 2.0;
    // This many answers in a row within AnswerWait and the lateness is
    // forgotten: the settle time is SettleTime again.
    static constexpr int OnTimeRunToForget = 10;
    // The port is asked for arrived bytes this often during a wait, and,
    // while the event loop runs between requests, this often for
    // LateHorizon after an unanswered request, so late bytes are timed when
    // they come rather than at the next send.
    static constexpr double PollStep = 0.005;
    static constexpr double WatchStep = 0.01;
    // A send click's settle budget: any budget of at least this much grows to
    // clickSettleBudget(), so a click always covers the settle time. A scan
    // tick's: past the settle time, a few quiet character times.
    static constexpr double ClickSettleBudget = 1.0;
    static constexpr double TickSettleBudget = 0.05;

    ModbusLine(std::unique_ptr<SerialPort> port, Clock &clock);
    ~ModbusLine();

    SerialPort &port() { return *m_port; }
    // Runs as the request goes out, CRC set: the query log. Also for a
    // request the closed port does not send.
    void setOnSend(std::function<void(const QueryFrame &)> onSend) { m_onSend = std::move(onSend); }

    // A request is on the line.
    bool busy() const { return m_busy; }
    // An unanswered request's late answer may still be on its way: within
    // settleTime() of its send. While no request is on the line, it first
    // takes what the port holds as late bytes, so a scan tick times a late
    // answer to within its own period.
    bool settling();
    // The settle time in force.
    double settleTime() const;
    // What a send click may wait: ClickSettleBudget, more when the settle
    // time is longer.
    double clickSettleBudget() const;

    // Waits up to `settleBudget` for the line to settle, then sends, waits
    // AnswerWait, takes what came and checks it. Empty when the line is busy
    // or did not settle in time; the request is then not sent.
    std::optional<LineOutcome> transact(const LineRequest &request, double settleBudget);

    // A few character times of quiet: 3.5 characters, 1.75 ms at least.
    static double quietTime(const LineSettings &settings);

private:
    // A request that went out, for placing late bytes.
    struct Sent {
        double at;
        QueryFrame frame;
        bool answered; // an answer that fits it has come (its own or a later one's)
    };

    bool settle(double budget);
    void drain();
    void noteLate(const QByteArray &bytes, double at);
    void learn(double latency);
    Sent *oldestUnanswered(double at);
    Sent *findSent(double at);
    // Marks the oldest unanswered request the frame fits as answered.
    void creditAnswer(const QByteArray &frame, double at);
    void record(const LineOutcome &out, double sentAt);
    void watch();

    std::unique_ptr<SerialPort> m_port;
    Clock &m_clock;
    std::function<void(const QueryFrame &)> m_onSend;
    bool m_busy = false;
    std::optional<double> m_unansweredAt; // send time of the last unanswered request
    QueryFrame m_unansweredFrame{};
    double m_lastBytesAt = -1e9;          // when stray bytes were last seen
    QByteArray m_late;                    // stray bytes not yet reported

    std::deque<Sent> m_sent;              // within LateHorizon, oldest first
    QByteArray m_burst;                   // stray bytes since the last quiet gap or credit
    std::optional<double> m_burstFrom;    // send time the burst is measured from
    std::optional<double> m_lateness;
    int m_onTimeRun = 0;
    std::unique_ptr<QTimer> m_watch;      // looks at the port between requests
};

} // namespace movra
