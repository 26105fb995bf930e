#pragma once
// The operator tool's one window: its controls, and the handlers that read
// them into the session's commands and paint what comes back.
#include "controls.h"
#include "language.h"
#include "metersession.h"
#include "recordtexts.h"
#include "trenddata.h"
#include "trendwindow.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace movra {

class LogBox;
class Recorder;
class SerialPort;
class Clock;
struct CaptionTable;

// What the window needs from the machine; tests hand in fakes.
struct Form1Environment {
    QString exeDir;                                     // folder of the executable
    std::uint16_t langId = EnglishUsLangId;             // system default language id
    std::function<std::unique_ptr<SerialPort>()> makePort; // the serial control
    Clock *clock = nullptr;                             // time for the waits
    std::function<void()> quit;                         // end the program
    QString dataDir; // the per-user data folder; empty: the system's
    // Where to save a log (empty: not saved), and showing a folder: the
    // system's dialog and file manager when not given.
    std::function<QString(QWidget *parent, const QString &suggested)> askSavePath;
    std::function<void(const QString &folder)> openFolder;
};

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(Form1Environment env, QWidget *parent = nullptr);
    ~Form1() override;

    const Form1Controls &controls() const { return ui; }
    // The trend, while it is open.
    TrendWindow *trend() const { return m_trend; }

protected:
    bool event(QEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    // Handlers: each reads its controls into a command, runs it on the
    // session and paints what it leaves on screen.
    void Form_Load();
    void Form_Activate();
    void Check1_Click();
    void Command1_Click();
    void Command2_Click();
    void Command2_Find();
    // Exit, Close-and-exit and closing the window during a search: the
    // search is stopped, and the program ends once it has let go, so no try
    // goes out after. False when no search runs.
    enum class Ending { None, Exit, ClosePortAndExit };
    bool endAfterSearch(Ending ending);
    void end(Ending ending);
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
    void Text12_Trend();
    // The logs' context menus.
    void Record_Click(bool on);
    void OpenRecords_Click();
    void SaveLog_Click(const LogBox *log);

    void english();
    void chinese();
    void useCaptions(const CaptionTable &table);

    void wireHandlers();
    void fillStartupLists();
    void loadModelList(QComboBox *combo);
    // The position of the combo's item, or -1 when its text was typed.
    static int selectedIndex(const QComboBox *combo);
    PortChoice portChoice() const;
    ConnectCommand connectCommand() const;
    FindCommand findCommand() const;
    // Tips: where each port list item goes.
    void refreshPortTips();
    Language captionsLanguage() const;

    void paint(const Result &result);
    void mirror(const SessionState &state, const HealthReport &health);
    void paintReading(const Reading &reading);
    void paintReason(const std::optional<Reason> &reason);
    void paintHint(const Hint &hint);
    void selectFound(const Found &found);
    void plot(const Exchange &exchange);
    void record(const Result &result);
    void paintRecording();
    void makeRecordingControls();

    Form1Environment m_env;
    Form1Controls ui{};
    std::unique_ptr<MeterSession> m_session; // owns the line and the port
    const CaptionTable *m_captions = nullptr;
    QMenu *m_connectMenu = nullptr; // Connect's context menu: find the meter
    QAction *m_findAction = nullptr;
    QAction *m_trendAction = nullptr; // in the scan list's context menu
    TrendData m_trendData;            // the scan's readings, also while the trend is closed
    QPointer<TrendWindow> m_trend;
    std::optional<SessionState> m_mirrored; // what the controls show of the state
    std::optional<HealthReport> m_mirroredHealth;
    std::unique_ptr<Recorder> m_recorder; // asks the session whether a request is on the line
    QAction *m_recordAction = nullptr;
    QAction *m_openRecordsAction = nullptr;
    QList<QAction *> m_saveActions;
    QLabel *m_recordingMark = nullptr; // recording, or why it stopped
    std::optional<RecordingLook> m_saveFailure; // a log not saved
    bool m_activated = false;
    Ending m_endAfterSearch = Ending::None;
};

} // namespace movra
