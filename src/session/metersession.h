#pragma once
// What the window decides, without the window: the port panel's state, the
// requests of the manual panel, Connect and the scan, and what each of them
// leaves on screen. Commands in; each step's result goes to one sink as it
// happens, and the state is there to mirror.
#include "commands.h"
#include "modbusline.h"
#include "scancursor.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace movra {

class Clock;
class SerialPort;
class ModelFile;
struct ModelEntry;
struct FindResult;
struct FindTry;
struct RequestTexts;

class MeterSession {
public:
    static constexpr int RegisterBase = 40001;
    static constexpr double ReconnectPause = 0.1;
    using Sink = std::function<void(const Result &)>;

    // `modelDir`: the folder of RTU_SETUP.TXT and item/; `langId` decodes the files.
    MeterSession(std::unique_ptr<SerialPort> port, Clock &clock, QString modelDir,
                 std::uint16_t langId);
    ~MeterSession();

    SerialPort &port();
    // Where every step's result goes, as it happens: a request's query line
    // as it goes out, its reading once its answer is in.
    void setSink(Sink sink) { m_sink = std::move(sink); }
    const SessionState &state() const { return m_state; }
    // The line since the port opened.
    HealthReport health() const
    {
        return m_health.report(m_line.lateness(), m_line.lateAnswers(), m_line.longestLate(), m_line.answerWait());
    }

    // The port button: opens when the panel is closed, closes when open.
    void toggle(const PortChoice &choice);
    // The adapter went away.
    void linkLost();
    // Close the port before the program ends.
    void closeForExit();

    // The Read and Write options.
    void setFunction(std::uint8_t function) { m_functionCode = function; }
    void read(const ReadCommand &command);
    void write(const WriteCommand &command);
    // Connect; while the search for the meter runs, it stops the search.
    void connect(const ConnectCommand &command);
    // Tries Connect's read at every setting and address until a meter
    // answers; the window stays responsive meanwhile.
    void findMeter(const FindCommand &command);
    // Ends a running search within one try, the operator's settings back.
    void stopFinding() { m_stopFinding = true; }
    void clear();
    // The hidden conversion button: the last data bytes once more.
    void convertLast();

    void startScan(const QString &model);
    void stopScan();
    void tick(const TickCommand &command);

    // Engineer mode locks Connect; leaving it stops the scan.
    void setEngineerMode(bool on);

    // A request is on the line (a command now does nothing).
    bool busy() const { return m_line.busy(); }

private:
    // What the request about to go out shows as it goes: the register and
    // length boxes it fills.
    struct Pending {
        LineRequest request;
        std::optional<QString> reg;
        std::optional<QString> length;
    };

    void emitResult(const Result &result);
    void finish(const Result &result);
    // Opens the port at the choice; false: it stays closed, the panel says why.
    bool open(const PortChoice &choice);
    void startCount(HealthReport::Since since);
    void close();
    ModelFile modelFile(const QString &model) const;
    LineRequest connectRead(const ModelEntry &entry, int slave) const;

    // Runs a request on the line. Empty when the line did not take it.
    std::optional<LineOutcome> send(const Pending &pending);
    std::optional<Result> exchange(Pending pending, RequestKind kind, Exchange::Sender sender);
    // The result's record of its request; `request` and `outcome` as far as it got.
    void noteExchange(Result &result, Exchange::Sender sender, const LineRequest *request,
                      const LineOutcome *outcome) const;
    Result outcomeResult(const LineOutcome &outcome, const LineRequest &request);
    static Result refused(const Reason &reason);
    void sendByHand(const RequestTexts &texts);
    void scanReading(const TickCommand &command, std::int32_t entryLine);
    void periodicReconnect(const ConnectCommand &connect);
    // The open port at other settings, for the search.
    bool useSettings(const LineSettings &settings);
    void endSearch(const FindResult &found, const FindCommand &command, const FindTry &before,
                   const LineRequest &read);

    ModbusLine m_line; // owns the port
    Clock &m_clock;
    QString m_modelDir;
    std::uint16_t m_langId;
    Sink m_sink;

    SessionState m_state;
    LineHealth m_health;
    std::uint8_t m_functionCode = ReadHoldingRegisters;
    std::optional<Pending> m_pending; // the request on its way out
    LineRequest m_last;               // the last request that went out: QueryFrame and ExpectedLength
    QString m_dataHex;
    ScanCursor m_scan;
    bool m_ticking = false;
    bool m_stopFinding = false;
};

} // namespace movra
