#pragma once
// A scripted meter behind the SerialPort interface, on a test clock.
#include "clock.h"
#include "commport.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <functional>
#include <optional>

namespace movra {

// By default the meter answers every valid request for its slave address
// after answerDelay(): 03H reads of registers in its map, 06H writes (stored,
// then echoed); an unknown register gives exception 02, another function
// exception 01. Requests for another slave, broadcasts and frames with a bad
// CRC get no answer.
//
// Each request may instead be answered by a script: a list of chunks, each
// arriving `delay` seconds after the request was written. An empty list is
// no answer. Scripts queued with queueReply() are used first, one per
// request; then the responder, if set; then the default answer.
//
// Received bytes become visible to inBufferCount() and input() only once the
// clock has reached their arrival time.
class FakeMeter : public SerialPort {
    Q_OBJECT
public:
    struct Chunk {
        QByteArray bytes;
        double delay = 0.0; // seconds after the request
    };
    using Reply = QList<Chunk>;
    // Empty optional: the default answer.
    using Responder = std::function<std::optional<Reply>(const QByteArray &request)>;

    explicit FakeMeter(const Clock &clock, QObject *parent = nullptr);

    // The meter.
    void setSlave(int slave) { m_slave = slave; }
    int slave() const { return m_slave; }
    void setRegister(quint16 address, quint16 value) { m_registers[address] = value; }
    // Consecutive registers from `address`.
    void setRegisters(quint16 address, const QList<quint16> &values);
    void removeRegister(quint16 address) { m_registers.remove(address); }
    std::optional<quint16> registerValue(quint16 address) const;
    void setAnswerDelay(double seconds) { m_answerDelay = seconds; }
    double answerDelay() const { return m_answerDelay; }

    // Scripts.
    void queueReply(const Reply &reply) { m_queued.append(reply); }
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    // The meter's own answer to a request, with CRC; empty when it would not
    // answer. Applies a write, as the meter does.
    QByteArray defaultAnswer(const QByteArray &request);
    // The port emits bytesArrived as bytes it is asked about turn out to
    // have come, as a driver that signals arrivals would.
    void setSignalsArrivals(bool on) { m_signalsArrivals = on; }
    // Bytes that arrive on the line at `time` on the clock, unasked.
    void deliverAt(double time, const QByteArray &bytes);

    // Frame builders for scripts, CRC appended.
    static QByteArray withCrc(const QByteArray &bytes);
    static QByteArray readAnswer(int slave, const QList<quint16> &values);
    static QByteArray exceptionAnswer(int slave, int function, int code);
    // Same bytes, last one changed: the CRC no longer fits.
    static QByteArray badCrc(const QByteArray &frame);

    // Faults.
    void setOpenFails(bool fails) { m_openFails = fails; }
    void setWriteRefused(bool refused) { m_writeRefused = refused; }
    // The device goes away: linkLost() once, then the port counts as closed
    // and every operation fails until restoreLink().
    void loseLink();
    void restoreLink() { m_linkLost = false; }

    // What the tool did.
    QList<QByteArray> written() const { return m_written; }
    // The register address of each request written, in order.
    QList<int> registersRead() const;
    void clearWritten() { m_written.clear(); }
    int refusedWrites() const { return m_refusedWrites; }
    int openCount() const { return m_openCount; }
    // The settings last passed to setSettings, accepted or not; as text.
    LineSettings lastSettings() const { return m_lastSettings; }
    QString lastSettingsText() const { return settingsText(m_lastSettings); }
    // Port number and settings at the latest successful open.
    int openedPort() const { return m_openedPort; }
    LineSettings openedSettings() const { return m_openedSettings; }
    // Bytes still on their way (not yet arrived) plus those not yet taken.
    int pendingBytes() const;

    // SerialPort
    bool setCommPort(int n) override;
    int commPort() const override { return m_port; }
    bool setSettings(const LineSettings &settings) override;
    LineSettings settings() const override { return m_settings; }
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return m_open && !m_linkLost; }
    bool output(const QByteArray &bytes) override;
    int inBufferCount() override;
    bool signalsArrivals() const override { return m_signalsArrivals; }
    QByteArray input() override;

private:
    struct InFlight {
        double arrival;
        qint64 order; // keeps chunks of equal arrival in sending order
        QByteArray bytes;
    };
    void collectArrived();
    Reply replyTo(const QByteArray &request);

    const Clock &m_clock;
    int m_slave = 1;
    QMap<quint16, quint16> m_registers;
    double m_answerDelay = 0.02;
    QList<Reply> m_queued;
    Responder m_responder;

    int m_port = 1;
    LineSettings m_settings;
    LineSettings m_lastSettings;
    bool m_open = false;
    bool m_openFails = false;
    bool m_writeRefused = false;
    bool m_linkLost = false;
    bool m_linkLostSignalled = false;
    bool m_signalsArrivals = false;

    QList<InFlight> m_inFlight;
    qint64 m_nextOrder = 0;
    QByteArray m_received;

    QList<QByteArray> m_written;
    int m_refusedWrites = 0;
    int m_openCount = 0;
    int m_openedPort = 0;
    LineSettings m_openedSettings;
};

} // namespace movra
