#pragma once
// The serial port as the tool uses it: set the port number and the line
// settings, open, write a request, poll the receive buffer, take its bytes.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "portinfo.h"

namespace movra {

// "9600,N,8,1": baud rate, parity N/O/E, data bits, stop bits.
struct LineSettings {
    int baudRate = 9600;
    char parity = 'N';   // 'N', 'O', 'E', 'M' (mark) or 'S' (space)
    int dataBits = 8;    // 5 to 8
    int stopBits = 1;    // 1, 2, or OneAndHalfStopBits
    bool operator==(const LineSettings &) const = default;
};

// stopBits value for 1.5 stop bits.
inline constexpr int OneAndHalfStopBits = 3;

// Empty when the text is not of that form. Four fields separated by commas,
// blanks around a field allowed: a positive whole baud rate, the parity letter
// in either case, 5 to 8 data bits, and 1, 1.5 or 2 stop bits.
std::optional<LineSettings> parseSettings(const QString &text);
// The port panel's baud-rate text ("9600") alone, and its framing text
// ("N,8,1"), the baud rate left at the default.
std::optional<int> parseBaud(const QString &text);
std::optional<LineSettings> parseFraming(const QString &text);

// The settings as text, "19200,E,8,1" (1.5 stop bits as "1.5"); as the
// port panel's lists have them, "19200" and "E,8,1".
QString settingsText(const LineSettings &settings);
QString baudText(const LineSettings &settings);
QString framingText(const LineSettings &settings);
// The same parity, data and stop bits, whatever the baud rate.
bool sameFraming(const LineSettings &a, const LineSettings &b);

// Seconds one character takes on the line: start bit, data bits, parity
// bit and stop bits at the baud rate.
double characterTime(const LineSettings &settings);

// True when a line can have them: what parseSettings accepts.
bool settingsPossible(const LineSettings &settings);

// The parameters of `asked` that `inEffect` (read back from the driver) does
// not carry, in the order of the settings text. A baud rate of 0 in
// `inEffect` is one the driver cannot tell, and counts as taken.
QList<RefusedSetting> refusedSettings(const LineSettings &asked, const LineSettings &inEffect);

class SerialPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~SerialPort() override = default;

    // Port number for the next open (COMn). Refused (false) outside 1..256 or while open;
    // the previous number then stays.
    virtual bool setCommPort(int n) = 0;
    virtual int commPort() const = 0;
    // Line settings for the next open, and at once on an open port. False
    // when no line can have them (the previous ones stay), or when the open
    // port's driver did not take them all: openStatus().refused then names
    // each parameter and what is in effect instead.
    virtual bool setSettings(const LineSettings &settings) = 0;
    virtual LineSettings settings() const = 0;
    // Open (true) or close (false); false when the step failed.
    virtual bool setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // Queue the bytes for sending, raw and in order; false when refused.
    virtual bool output(const QByteArray &bytes) = 0;
    // Received bytes not yet taken; -1 when the port cannot be asked (closed,
    // or the link was lost).
    virtual int inBufferCount() = 0;
    // Every byte received and not yet taken, in arrival order.
    virtual QByteArray input() = 0;
    // The device the last open tried, and why it failed; after a good open
    // the settings the driver refused.
    virtual OpenStatus openStatus() const { return {}; }
    // Whether bytesArrived can be trusted: its reader may wait for the
    // signal instead of polling.
    virtual bool signalsArrivals() const { return false; }

signals:
    // The device went away or the line broke (read, write or resource error).
    // Emitted once per open; the port then counts as closed: portOpen() is
    // false, output() and inBufferCount() fail, and setPortOpen(true) tries a
    // fresh open.
    void linkLost();
    // Bytes have arrived and wait to be taken. A port whose driver cannot
    // tell never emits it; its reader polls instead.
    void bytesArrived();
};

// The machine's own port for COMn, COMn resolved in `exeDir`: Qt SerialPort;
// on Windows the communications driver itself, polled.
std::unique_ptr<SerialPort> makeSystemPort(const QString &exeDir);

} // namespace movra
