#pragma once
// What the window decides, without the window: the port panel's state, the
// requests of the manual panel, Connect and the scan, and what each of them
// leaves on screen. Commands in, typed results out; the window reads its
// controls into a command and paints the result.
#include "modbusline.h"
#include "portinfo.h"
#include "scancursor.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace movra {

class Clock;
class SerialPort;
struct RequestTexts;

// The port panel's lists as the operator left them.
struct PortChoice {
    QString portText;   // Combo1's text
    int portIndex = -1; // the selected item's position; -1 when the text was typed
    QString baud;       // Combo2's text
    QString framing;    // Combo3's text
};

struct ReadCommand {
    QString slave;  // Text1
    QString reg;    // Text2
    QString length; // Combo4's text
};

struct WriteCommand {
    QString slave;  // Text1
    QString reg;    // Text2
    QString value;  // Text6
};

struct ConnectCommand {
    QString model;       // Combo7's text
    int addressIndex = -1; // Combo6's selected item; -1 when the text was typed
};

struct TickCommand {
    QString slave; // Text1: the scan reads from the manual panel's slave
    QString model; // Combo5's text, as it is now
    ConnectCommand connect; // for the periodic reconnect
};

// The value boxes: Text5 and signal1 (decimal), Text8 (bits), Text9 (inverted bits).
struct ValueTexts {
    QString decimal;
    QString bits;
    QString inverted;
};

// What a command leaves on screen. Empty fields leave their controls alone.
struct Shown {
    enum class Value {
        Keep,       // the value boxes stay as they are
        Clear,      // Text5, Text8, Text9 and signal1 emptied
        ClearText5, // a write's echo: Text5 emptied
        ClearDisplay, // Connect under way: signal1 emptied
        Set,        // `value`
    };
    enum class Focus { Keep, SlaveBox, LengthBox };

    QStringList queryLines;    // Text4, oldest first; each goes on top
    QStringList responseLines; // Text3, oldest first; each goes on top
    std::optional<QString> text7;
    Value valueShown = Value::Keep;
    ValueTexts value;
    std::optional<Reason> reason;  // why there is no value, or how fast it came
    std::optional<QString> hint;   // signal2
    std::optional<QString> status; // Label12
    std::optional<QString> scanLine; // on top of Text12
    std::optional<QString> reg;      // Text2, filled by the scan
    std::optional<QString> length;   // Combo4's text, filled by Connect and the scan
    Focus focus = Focus::Keep;
    bool clearLogs = false;          // Clear: Text3, Text4, Text5 and Text12 emptied

    // The port panel after an open, a close or a lost link.
    struct Panel {
        enum Change { OpenTried, Closed, Lost } change = OpenTried;
        bool open = false;      // after an open that was tried
        QString portName;       // "COM3", or the text that names no port
        OpenStatus status;      // how the open went, or the device that was lost
        bool focusPort = false; // a close puts the focus on the port list
    };
    std::optional<Panel> panel;
    std::optional<bool> sendEnabled;   // Command3, Command5
    std::optional<bool> connectLocked; // Combo6, Combo7, Command2 disabled
    std::optional<bool> scanning;      // Timer2 running, Command11 shown instead of Command10

    // `later` happened after this: lines are appended, what it sets wins.
    void merge(const Shown &later);
};

class MeterSession {
public:
    static constexpr int RegisterBase = 40001;
    static constexpr double ReconnectPause = 0.1;

    // `modelDir`: the folder of RTU_SETUP.TXT and item/; `langId` decodes the files.
    MeterSession(std::unique_ptr<SerialPort> port, Clock &clock, QString modelDir,
                 std::uint16_t langId);
    ~MeterSession();

    SerialPort &port();
    // A request going out, as the wait for its answer begins: its query line,
    // and for Connect the emptied display and hint.
    void setOnSend(std::function<void(const Shown &)> onSend) { m_onSend = std::move(onSend); }
    // signal2's text when Connect gets no value, in the caption language.
    void setConnectHint(const QString &hint) { m_connectHint = hint; }

    // The port button: opens when the panel is closed, closes when open.
    Shown toggle(const PortChoice &choice);
    Shown linkLost();
    // Close the port before the program ends.
    void closeForExit();

    // The Read and Write options.
    void setFunction(std::uint8_t function) { m_functionCode = function; }
    Shown read(const ReadCommand &command);
    Shown write(const WriteCommand &command);
    Shown connect(const ConnectCommand &command);
    Shown clear() const;
    // The hidden conversion button: the last data bytes once more.
    Shown convertLast() const;

    Shown startScan(const QString &model);
    Shown stopScan();
    Shown tick(const TickCommand &command);

    // Engineer mode locks Connect; leaving it stops the scan.
    Shown setEngineerMode(bool on);

    // A request is on the line (a command now does nothing).
    bool busy() const { return m_line.busy(); }

    // The last request's frame and expected length, the byte order sign and
    // the data digits of the last read, as later requests inherit them.
    const LineRequest &lastRequest() const { return m_last; }
    const QString &byteOrderSign() const { return m_byteOrderSign; }

private:
    struct InUse {
        int port = 0;
        QString baud;
        QString framing;
    };
    Shown open(const PortChoice &choice);
    Shown close();
    QString statusLine() const;
    std::optional<QString> modelLine(const QString &model, std::int32_t n) const;

    // Runs a request on the line. Empty when the line did not take it.
    std::optional<Shown> exchange(LineRequest request, const QString &lengthText, RequestKind kind);
    Shown outcomeShown(const LineOutcome &outcome, const LineRequest &request,
                       const QString &lengthText);
    static Shown refused(const Reason &reason);
    Shown sendByHand(const RequestTexts &texts);
    void scanReading(const TickCommand &command, std::int32_t entryLine, Shown &shown);
    Shown periodicReconnect(const ConnectCommand &connect);

    ModbusLine m_line; // owns the port
    Clock &m_clock;
    QString m_modelDir;
    std::uint16_t m_langId;
    std::function<void(const Shown &)> m_onSend;

    std::optional<InUse> m_inUse; // the port as opened; empty while closed
    bool m_engineer = false;
    std::uint8_t m_functionCode = ReadHoldingRegisters;
    LineRequest m_last;           // QueryFrame and ExpectedLength
    QString m_byteOrderSign;
    QString m_dataHex;
    QString m_connectHint;
    ScanCursor m_scan;
    bool m_ticking = false;
};

} // namespace movra
