#pragma once
// What the window asks of the session, and what the session hands back: the
// events of each step (log lines, a reading, a hint, the focus) and its
// state (the port panel, the locks), which the window mirrors whole.
#include "commport.h"
#include "linehealth.h"
#include "portinfo.h"
#include "reason.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace movra {

// --- Commands ---------------------------------------------------------------

// The port panel's lists as the operator left them.
struct PortChoice {
    QString portText;   // the port list's text
    int portIndex = -1; // the selected item's position; -1 when the text was typed
    std::optional<LineSettings> settings; // the baud-rate and framing lists'; empty: no settings
    QString settingsTyped; // their texts, "9600,N,8,1", to name when they give none
};

// A send button's request, as typed.
struct ReadCommand {
    QString slave;
    QString reg;    // hexadecimal, cut by character position
    QString length; // data length in bytes
};

struct WriteCommand {
    QString slave;
    QString reg;
    QString value; // the word to write, hexadecimal
};

struct ConnectCommand {
    QString model;
    int slave = 0; // the address item's number; 0 when the address was typed
};

// Find the meter: Connect's read at every address, baud rate and framing
// the lists offer.
struct FindCommand {
    QString model;
    QList<int> bauds;              // the baud-rate list's items
    QList<LineSettings> framings; // the framing list's items: parity, data and stop bits
    int firstAddress = 1; // the address list's items
    int lastAddress = 1;
};

struct TickCommand {
    QString slave; // the scan reads from the manual panel's slave
    QString model; // the scan's model, as it is now
    ConnectCommand connect; // for the periodic reconnect
};

// --- Events -------------------------------------------------------------------

// A value as the boxes show it: decimal, bits, and the bits inverted for a
// negative value.
struct ValueTexts {
    QString decimal;
    QString bits;
    QString inverted;
};

// What a request leaves in the value boxes and the meter display.
struct Reading {
    enum class Boxes {
        Cleared, // every value box and the display emptied
        Echo,    // a write's echo: the decimal box emptied, the rest kept
        Value,   // `value`
    };
    Boxes boxes = Boxes::Cleared;
    ValueTexts value;
    // Why there is no value, or how soon the answer came; none for a value
    // converted again by hand.
    std::optional<Reason> reason;
    std::optional<QString> answerHex; // the answer's bytes, "HH " each
};

// What the hint under the meter display says.
struct Hint {
    enum Kind {
        None,          // empty
        CheckSettings, // Connect got no value: check the port settings, model and address
        Searching,     // the search for the meter tries `at`, `index` of `total`
        NothingFound,  // the search tried `bauds` and `framings` at first..last, in vain
        Stopped,       // the search was stopped; the settings are as before
    };
    Hint(Kind kind = None) : kind(kind) {}
    Kind kind = None;
    bool offerFind = false; // CheckSettings: Connect went out and got no valid answer
    LineSettings at;
    int address = 0;
    int index = 0;
    int total = 0;
    QList<int> bauds;
    QList<LineSettings> framings;
    int firstAddress = 0;
    int lastAddress = 0;
    bool operator==(const Hint &) const = default;
};

// The port settings and address the search found, for the lists to select.
struct Found {
    LineSettings settings;
    int address = 0;
};

// One request as its outcome became known: what the records and the trend take.
struct Exchange {
    enum class Sender { Connect, Manual, Scan, Search };
    Sender sender = Sender::Manual;
    QString entry;               // the model entry's name: the scan and Connect
    int reg = -1;                // register address
    std::optional<double> value; // the decimal value shown, as a number; none: no value
    QString valueText;           // the decimal value as shown ("" when none)
    std::optional<Reason> reason; // why there is no value, or how soon the answer came
    // Where it went and what it was: the port as open (none while closed).
    QString port;
    std::optional<LineSettings> settings;
    int slave = -1;    // -1: no request was built
    int function = -1;
    int length = -1;   // data length in bytes
    QByteArray request; // the frame with its CRC, sent or not; empty: none reached the line
    QByteArray answer;  // every byte received after the send
    QByteArray late;    // late or stray bytes taken with it, never decoded
};

// What one step leaves on screen. Lines go on top of their logs, oldest first.
struct Result {
    enum class Focus { Keep, SlaveBox, LengthBox, PortList };

    QStringList queryLines;
    QStringList responseLines;
    std::optional<QString> scanLine;
    bool clearLogs = false; // Clear: the three logs and the value box emptied
    // The manual panel's register and data length, as the request that uses
    // them goes out.
    std::optional<QString> reg;
    std::optional<QString> length;
    std::optional<Reading> reading;
    std::optional<Hint> hint;
    std::optional<Found> found;
    Focus focus = Focus::Keep;
    std::optional<Exchange> exchange; // set on every step that ends a request
};

// --- State ----------------------------------------------------------------------

// The port panel, the one record of the port: closed, open at these
// settings, open failed and why, or the link lost and which device.
struct PortPanel {
    enum Kind { Closed, Open, OpenFailed, LinkLost };
    Kind kind = Closed;
    QString portName;   // "COM3", or the typed text that names no port
    int comNumber = 0;  // while open: the port's number
    LineSettings settings; // while open: the settings in effect
    OpenStatus status;  // how the open went, or the device that was lost
    bool everOpened = false; // the open button reads "OPEN" once it has closed a port
    bool operator==(const PortPanel &) const = default;
};

struct SessionState {
    PortPanel panel;
    bool connectLocked = true; // the model and address lists and Connect
    bool scanning = false;
    bool searching = false; // the port panel, Connect's lists and engineer mode locked
    bool sendEnabled() const { return panel.kind == PortPanel::Open; }
    // "Find the meter" can run: the port open, Connect free, no search.
    bool canFind() const { return panel.kind == PortPanel::Open && !connectLocked && !searching; }
    bool operator==(const SessionState &) const = default;
};

} // namespace movra
