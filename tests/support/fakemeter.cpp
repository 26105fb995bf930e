#include "fakemeter.h"

#include "frame.h"

#include <algorithm>

namespace movra {

FakeMeter::FakeMeter(const Clock &clock, QObject *parent) : SerialPort(parent), m_clock(clock) {}

void FakeMeter::setRegisters(quint16 address, const QList<quint16> &values)
{
    for (qsizetype i = 0; i < values.size(); ++i)
        m_registers[quint16(address + i)] = values[i];
}

std::optional<quint16> FakeMeter::registerValue(quint16 address) const
{
    const auto it = m_registers.constFind(address);
    if (it == m_registers.constEnd())
        return std::nullopt;
    return *it;
}

QByteArray FakeMeter::withCrc(const QByteArray &bytes)
{
    const std::uint16_t crc = crc16(bytes);
    QByteArray out = bytes;
    out.append(char(crc & 0xFF));
    out.append(char(crc >> 8));
    return out;
}

QByteArray FakeMeter::readAnswer(int slave, const QList<quint16> &values)
{
    QByteArray out;
    out.append(char(slave));
    out.append(char(0x03));
    out.append(char(2 * values.size()));
    for (quint16 v : values) {
        out.append(char(v >> 8));
        out.append(char(v & 0xFF));
    }
    return withCrc(out);
}

QByteArray FakeMeter::exceptionAnswer(int slave, int function, int code)
{
    QByteArray out;
    out.append(char(slave));
    out.append(char(function | 0x80));
    out.append(char(code));
    return withCrc(out);
}

QByteArray FakeMeter::badCrc(const QByteArray &frame)
{
    QByteArray out = frame;
    if (!out.isEmpty())
        out[out.size() - 1] = char(out.back() ^ 0xFF);
    return out;
}

QByteArray FakeMeter::defaultAnswer(const QByteArray &request)
{
    if (request.size() != 8 || crc16(request.left(6)) != (quint8(request[6]) | quint8(request[7]) << 8))
        return {};
    const int slave = quint8(request[0]);
    const int function = quint8(request[1]);
    const quint16 address = quint16(quint8(request[2]) << 8 | quint8(request[3]));
    const quint16 operand = quint16(quint8(request[4]) << 8 | quint8(request[5]));
    if (slave != m_slave && slave != 0)
        return {};

    QByteArray answer;
    if (function == 0x06) {
        if (!m_registers.contains(address))
            answer = exceptionAnswer(slave, function, 0x02);
        else {
            m_registers[address] = operand;
            answer = request;
        }
    } else if (function == 0x03) {
        if (operand < 1 || operand > 125) {
            answer = exceptionAnswer(slave, function, 0x03);
        } else {
            QList<quint16> values;
            for (int i = 0; i < operand && address + i <= 0xFFFF; ++i) {
                const std::optional<quint16> v = registerValue(quint16(address + i));
                if (!v)
                    break;
                values.append(*v);
            }
            answer = values.size() == operand ? readAnswer(slave, values)
                                              : exceptionAnswer(slave, function, 0x02);
        }
    } else {
        answer = exceptionAnswer(slave, function, 0x01);
    }
    // A broadcast is carried out but never answered.
    return slave == 0 ? QByteArray() : answer;
}

FakeMeter::Reply FakeMeter::replyTo(const QByteArray &request)
{
    if (!m_queued.isEmpty())
        return m_queued.takeFirst();
    if (m_responder) {
        if (std::optional<Reply> scripted = m_responder(request))
            return *scripted;
    }
    const QByteArray answer = defaultAnswer(request);
    if (answer.isEmpty())
        return {};
    return {Chunk{answer, m_answerDelay}};
}

void FakeMeter::deliverAt(double time, const QByteArray &bytes)
{
    m_inFlight.append({time, m_nextOrder++, bytes});
}

void FakeMeter::loseLink()
{
    if (m_linkLost)
        return;
    m_linkLost = true;
    m_inFlight.clear();
    m_received.clear();
    const bool wasOpen = m_open;
    m_open = false;
    if (wasOpen && !m_linkLostSignalled) {
        m_linkLostSignalled = true;
        emit linkLost();
    }
}

int FakeMeter::pendingBytes() const
{
    qsizetype n = m_received.size();
    for (const InFlight &f : m_inFlight)
        n += f.bytes.size();
    return int(n);
}

QList<int> FakeMeter::registersRead() const
{
    QList<int> out;
    for (const QByteArray &f : m_written)
        out << ((quint8(f[2]) << 8) | quint8(f[3]));
    return out;
}

bool FakeMeter::setCommPort(int n)
{
    if (n < 1 || portOpen())
        return false;
    m_port = n;
    return true;
}

bool FakeMeter::setSettings(const LineSettings &settings)
{
    m_lastSettings = settings;
    if (!settingsPossible(settings))
        return false;
    m_settings = settings;
    return true;
}

bool FakeMeter::setPortOpen(bool open)
{
    if (!open) {
        if (!m_open)
            return false;
        m_open = false;
        // Closing drops what the port held.
        m_inFlight.clear();
        m_received.clear();
        return true;
    }
    if (portOpen() || m_openFails || m_linkLost)
        return false;
    m_open = true;
    m_linkLostSignalled = false;
    ++m_openCount;
    m_openedPort = m_port;
    m_openedSettings = m_settings;
    return true;
}

bool FakeMeter::output(const QByteArray &bytes)
{
    if (!portOpen() || m_writeRefused) {
        ++m_refusedWrites;
        return false;
    }
    m_written.append(bytes);
    const double sent = m_clock.now();
    for (const Chunk &chunk : replyTo(bytes))
        m_inFlight.append({sent + chunk.delay, m_nextOrder++, chunk.bytes});
    return true;
}

void FakeMeter::collectArrived()
{
    const double now = m_clock.now();
    QList<InFlight> arrived;
    QList<InFlight> later;
    for (const InFlight &f : std::as_const(m_inFlight))
        (f.arrival <= now ? arrived : later).append(f);
    std::stable_sort(arrived.begin(), arrived.end(), [](const InFlight &a, const InFlight &b) {
        return a.arrival < b.arrival || (a.arrival == b.arrival && a.order < b.order);
    });
    for (const InFlight &f : std::as_const(arrived))
        m_received.append(f.bytes);
    m_inFlight = later;
    if (m_signalsArrivals && !arrived.isEmpty())
        emit bytesArrived();
}

int FakeMeter::inBufferCount()
{
    if (!portOpen())
        return -1;
    collectArrived();
    return int(m_received.size());
}

QByteArray FakeMeter::input()
{
    if (!portOpen())
        return {};
    collectArrived();
    QByteArray out;
    out.swap(m_received);
    return out;
}

} // namespace movra
