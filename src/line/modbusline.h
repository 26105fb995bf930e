#pragma once
// The Modbus line: one request at a time over the serial port, the wait for
// its answer, and a plain account of what came back.
#include "frame.h"
#include "response.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <optional>

namespace movra {

class Clock;
class SerialPort;
struct LineSettings;

struct LineRequest {
    QueryFrame frame{};     // bytes 0..5; the line puts the CRC in 6..7
    int expectedLength = 0; // answer bytes rendered in front of the CRC
    ByteOrder order = ByteOrder::AsReceived;
};

struct LineOutcome {
    QueryFrame frame{};  // as sent, CRC included
    bool written = false; // the port took the bytes
    QByteArray late;     // bytes dropped before the send: a late answer or noise
    QByteArray received; // every byte taken after the send
    QByteArray answer;   // received less our own echo; empty: no answer
    AnswerStatus status = AnswerStatus::Short;
    Reason reason;       // None: the answer is this request's own, whole and intact
    bool trusted() const { return reason.kind == Reason::None; }
};

class ModbusLine {
public:
    static constexpr double AnswerWait = 0.2;
    // After a request without a valid answer the next one waits this long
    // from that send, so a late answer arrives before it and is dropped.
    static constexpr double SettleTime = 0.5;
    // How long a send click may wait for the line to settle, and a scan tick
    // past the settle time for a few quiet character times.
    static constexpr double ClickSettleBudget = 1.0;
    static constexpr double TickSettleBudget = 0.05;

    ModbusLine(std::unique_ptr<SerialPort> port, Clock &clock);
    ~ModbusLine();

    SerialPort &port() { return *m_port; }
    // Runs as the request goes out, CRC set: the query log.
    void setOnSend(std::function<void(const QueryFrame &)> onSend) { m_onSend = std::move(onSend); }

    // A request is on the line.
    bool busy() const { return m_busy; }
    // An unanswered request's late answer may still be on its way.
    bool settling() const;

    // Waits up to `settleBudget` for the line to settle, then sends, waits
    // AnswerWait, takes what came and checks it. Empty when the line is busy
    // or did not settle in time; the request is then not sent.
    std::optional<LineOutcome> transact(const LineRequest &request, double settleBudget);

    // A few character times of quiet: 3.5 characters, 1.75 ms at least.
    static double quietTime(const LineSettings &settings);

private:
    bool settle(double budget);
    void drain();

    std::unique_ptr<SerialPort> m_port;
    Clock &m_clock;
    std::function<void(const QueryFrame &)> m_onSend;
    bool m_busy = false;
    std::optional<double> m_unansweredAt; // send time of the last unanswered request
    QueryFrame m_unansweredFrame{};
    double m_lastBytesAt = -1e9;          // when stray bytes were last seen
    QByteArray m_late;                    // stray bytes not yet reported
};

} // namespace movra
