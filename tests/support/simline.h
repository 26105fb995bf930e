#pragma once
// A real meter on a real (pseudo-terminal) serial line, for end-to-end tests:
// socat joins <dir>/COMn to <dir>/.sim-tty, and meter-sim serves a model on
// the second end; or meter-sim makes <dir>/COMn itself (startOwnPty). A
// QtCommPort made with dir() as its folder opens COMn.
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace movra {

class SimulatedLine {
public:
    // The line in a fresh temporary folder; `port` names the link COM<port>.
    explicit SimulatedLine(int port = 1);
    ~SimulatedLine();
    SimulatedLine(const SimulatedLine &) = delete;
    SimulatedLine &operator=(const SimulatedLine &) = delete;

    // Starts socat, then meter-sim with --device <dir>/.sim-tty followed by
    // `meterSimArgs` (e.g. {"--model", "MV-100", "--slave", "3"}). True once
    // both links exist and meter-sim has reported "ready"; otherwise false,
    // with errorString() telling why, and nothing left running.
    bool start(const QStringList &meterSimArgs, int timeoutMs = 10000);
    // Starts only socat: a bare pseudo-terminal pair, COMn and .sim-tty. Also
    // after killSocat(), on the same paths: the line comes back.
    bool startSocat(int timeoutMs = 10000);
    // Starts meter-sim on a running socat pair, also after an earlier one ended.
    bool startSimulator(const QStringList &meterSimArgs, int timeoutMs = 10000);
    // Starts meter-sim alone with --own-pty <dir>/COMn: its own pseudo-terminal,
    // no socat. It answers only at its --baud and --parity as the tool's end
    // shows them.
    bool startOwnPty(const QStringList &meterSimArgs, int timeoutMs = 10000);

    // Stops meter-sim, then socat (SIGTERM, then SIGKILL if they linger).
    void stop();
    // Abrupt ends, for link-lost tests.
    void killSimulator();
    void killSocat();
    bool simulatorRunning();
    bool socatRunning();
    // Waits for meter-sim to end on its own; true when it did.
    bool waitForSimulatorExit(int timeoutMs);

    QString dir() const;      // the folder to give QtCommPort
    QString comPath() const;  // <dir>/COMn, the tool's end
    QString simPath() const;  // <dir>/.sim-tty, meter-sim's end
    QString errorString() const { return m_error; }
    // What meter-sim wrote on its standard error so far.
    QString simulatorLog() const;

    // The folder of the test executables, where meter-sim and item/ lie.
    static QString binDir();
    static QString meterSimPath();
    // Missing tools: empty when socat and meter-sim are both there.
    static QString missingTools();

private:
    void endProcess(std::unique_ptr<QProcess> &process, bool gently);
    bool launchSimulator(const QStringList &arguments, int timeoutMs);
    bool fail(const QString &why);

    int m_port;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_socat;
    std::unique_ptr<QProcess> m_sim;
    QString m_error;
};

} // namespace movra
