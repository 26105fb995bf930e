#pragma once
// The operator tool's one window: its controls, its window-level values and
// the handlers that glue the pure code to the widgets.
#include "controls.h"
#include "frame.h"
#include "modbusline.h"
#include "scancursor.h"
#include <QByteArray>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace movra {

class SerialPort;
class Clock;
struct CaptionTable;

// What the window needs from the machine; tests hand in fakes.
struct Form1Environment {
    QString exeDir;                                     // folder of the executable
    std::uint16_t langId = 0x0409;                      // system default language id
    std::function<std::unique_ptr<SerialPort>()> makePort; // the serial control
    Clock *clock = nullptr;                             // time for the waits
    std::function<void()> quit;                         // end the program
};

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(Form1Environment env, QWidget *parent = nullptr);
    ~Form1() override;

    const Form1Controls &controls() const { return ui; }
    SerialPort &port() { return *MSComm1; }
    ModbusLine &line() { return *m_line; }

    // Handlers, also called directly (start-up, the decoder, the scan).
    void Form_Load();
    void Form_Activate();
    void Check1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Option1_Click();
    void Option2_Click();
    void Timer2_Timer();

    void english();
    void chinese();

    // Window-level values.
    movra::QueryFrame QueryFrame{};
    QByteArray ResponseBytes;
    int ExpectedLength = 0;
    int FunctionCode = 0;
    QString ByteOrderSign;
    QString DataHex;
    QString ConnectHint;
private:
    ScanCursor m_scan;
public:
    double &ScanLastLine = m_scan.lastLine;
    std::int32_t &ScanLine = m_scan.line;
    int &ScanTickCount = m_scan.readings;

    // True while a transaction waits for its answer.
    bool busy() const { return m_line->busy(); }

    static constexpr int ReadingsPerReconnect = ScanCursor::ReadingsPerReconnect;

protected:
    bool event(QEvent *e) override;

private:
    void wireHandlers();
    void fillStartupLists();
    void loadModelList(QComboBox *combo);
    // Port panel
    void openBranch();
    void closeBranch();
    void onLinkLost();
    // Tips: where each port list item goes; how the last open went (lamp).
    void refreshPortTips();
    void setLampTip(const QString &tip);
    bool captionsChinese() const;
    bool portFlagOpen() const;
    // The position of the combo's item, or -1 when its text was typed.
    static int selectedIndex(const QComboBox *combo);
    QString statusLine() const;
    void setSendButtonsEnabled(bool on);
    // Transactions: run a request on the line and show what came back. The
    // value shown, empty for none; no outcome when the line did not take it.
    std::optional<QString> exchange(const LineRequest &request, const QString &lengthText,
                                    double settleBudget);
    QString showOutcome(const LineOutcome &outcome, const LineRequest &request,
                        const QString &lengthText);
    QString showValue(const QString &dataHex);
    void ShowQuery();
    void clearValue();
    // Why the last request gave no value, on Text5 and signal1.
    void showReason(const Reason &reason);
    void refuse(const Reason &reason);
    void WaitSeconds(double seconds);
    // Manual panel and Connect, also run by the scan's periodic step.
    void connectTest();
    void setConnectLocked(bool locked);
    // Line n of the definition file of the model that `model` names.
    std::optional<QString> modelLine(const QComboBox *model, std::int32_t n) const;
    // Scan
    void periodicReconnect();
    void scanReading(std::int32_t entryLine);

    Form1Environment m_env;
    Form1Controls ui{};
    std::unique_ptr<ModbusLine> m_line; // owns the port
    SerialPort *MSComm1 = nullptr;
    const CaptionTable *m_captions = nullptr;
    bool m_ticking = false; // a scan tick runs
    bool m_activated = false;
};

} // namespace movra
