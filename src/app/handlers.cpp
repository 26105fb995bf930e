// Form1's handlers: read the controls into a command, run it on the session,
// paint the result.
#include "form1.h"

#include "captions.h"
#include "porttips.h"
#include "records.h"
#include "recordtexts.h"
#include "trendwindow.h"
#include "widgets.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace movra {

namespace {
constexpr int EngineerTopTwips = 10;

int pixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}
} // namespace

int Form1::selectedIndex(const QComboBox *combo)
{
    const int index = combo->currentIndex();
    if (index < 0 || combo->itemText(index) != combo->currentText())
        return -1;
    return index;
}

PortChoice Form1::portChoice() const
{
    const QString typed = ui.Combo2->currentText() + QLatin1Char(',') + ui.Combo3->currentText();
    return {ui.Combo1->currentText(), selectedIndex(ui.Combo1), parseSettings(typed), typed};
}

// The address follows the item's position: item n is slave n + 1; a typed
// text selects no item and gives slave 0.
ConnectCommand Form1::connectCommand() const
{
    return {ui.Combo7->currentText(), selectedIndex(ui.Combo6) + 1};
}

// --- The port panel ---------------------------------------------------------

void Form1::Command1_Click()
{
    m_session->toggle(portChoice());
}

void Form1::Command6_Click()
{
    if (!endAfterSearch(Ending::ClosePortAndExit))
        end(Ending::ClosePortAndExit);
}

void Form1::Command12_Click()
{
    if (!endAfterSearch(Ending::Exit))
        end(Ending::Exit);
}

bool Form1::endAfterSearch(Ending ending)
{
    if (!m_session->state().searching)
        return false;
    m_endAfterSearch = ending;
    m_session->stopFinding();
    return true;
}

void Form1::end(Ending ending)
{
    if (ending == Ending::ClosePortAndExit)
        m_session->closeForExit();
    m_env.quit();
}

void Form1::refreshPortTips()
{
    const Language language = captionsLanguage();
    const QList<PortInfo> ports = portInfos(m_env.exeDir, ui.Combo1->count());
    for (int i = 0; i < ports.size(); ++i)
        ui.Combo1->setItemData(i, portItemTip(ports[i], language), Qt::ToolTipRole);
}

// --- The manual panel ---------------------------------------------------------

void Form1::Option1_Click()
{
    ui.Option2->setChecked(false);
    m_session->setFunction(ReadHoldingRegisters);
    ui.Command3->setVisible(true);
    ui.Command5->setVisible(false);
    ui.Combo4->setVisible(true);
    ui.Label9->setVisible(true);
    ui.Label11->setVisible(false);
    ui.Text6->setVisible(false);
}

void Form1::Option2_Click()
{
    ui.Option1->setChecked(false);
    m_session->setFunction(WriteSingleRegister);
    ui.Command5->setVisible(true);
    ui.Command3->setVisible(false);
    ui.Combo4->setVisible(false);
    ui.Label9->setVisible(false);
    ui.Label11->setVisible(true);
    ui.Text6->setVisible(true);
}

void Form1::Command3_Click()
{
    m_session->read({ui.Text1->text(), ui.Text2->text(), ui.Combo4->currentText()});
}

void Form1::Command5_Click()
{
    m_session->write({ui.Text1->text(), ui.Text2->text(), ui.Text6->text()});
}

void Form1::Command4_Click()
{
    m_session->clear();
}

// --- The logs' menus ---------------------------------------------------------

void Form1::Record_Click(bool on)
{
    m_saveFailure.reset();
    if (on)
        m_recorder->start();
    else
        m_recorder->stop();
    paintRecording();
}

// The folder being recorded in; otherwise the one beside the executable.
void Form1::OpenRecords_Click()
{
    const QString folder = m_recorder->recording() ? QFileInfo(m_recorder->filePath()).path()
                                             : recordsFolder(m_env.exeDir);
    QDir().mkpath(folder);
    if (m_env.openFolder)
        m_env.openFolder(folder);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void Form1::SaveLog_Click(const LogBox *log)
{
    const QString suggested = QDir(m_env.exeDir).filePath(log->objectName() + QStringLiteral(".txt"));
    const QString path = m_env.askSavePath ? m_env.askSavePath(this, suggested)
                                           : QFileDialog::getSaveFileName(this, QString(), suggested);
    if (path.isEmpty())
        return;
    const QString why = saveText(path, log->text());
    m_saveFailure.reset();
    if (!why.isEmpty())
        m_saveFailure = saveFailedLook(path, why, captionsLanguage());
    paintRecording();
}

void Form1::Command9_Click()
{
    m_session->convertLast();
}

// --- Connect and the scan -------------------------------------------------------

void Form1::Command2_Click()
{
    m_session->connect(connectCommand());
}

// Connect's context menu: every baud rate, framing and address the lists offer.
void Form1::Command2_Find()
{
    m_session->findMeter(findCommand());
    if (const Ending ending = std::exchange(m_endAfterSearch, Ending::None); ending != Ending::None)
        end(ending);
}

FindCommand Form1::findCommand() const
{
    FindCommand command;
    command.model = ui.Combo7->currentText();
    // Items that give no settings are not tried.
    for (int i = 0; i < ui.Combo2->count(); ++i)
        if (const auto baud = parseBaud(ui.Combo2->itemText(i)))
            command.bauds << *baud;
    for (int i = 0; i < ui.Combo3->count(); ++i)
        if (const auto framing = parseFraming(ui.Combo3->itemText(i)))
            command.framings << *framing;
    command.firstAddress = 1;
    command.lastAddress = ui.Combo6->count();
    return command;
}

void Form1::Command10_Click()
{
    m_session->startScan(ui.Combo5->currentText());
}

void Form1::Command11_Click()
{
    m_session->stopScan();
}

void Form1::Timer2_Timer()
{
    m_trendData.addModel(ui.Combo5->currentText()); // the model may have changed mid-scan
    m_session->tick({ui.Text1->text(), ui.Combo5->currentText(), connectCommand()});
}

// The trend: one per tool, not modal, in the captions' language.
void Form1::Text12_Trend()
{
    if (!m_trend) {
        TrendEnvironment env;
        env.language = captionsLanguage();
        env.reasonText = [this](const Reason &reason) {
            return m_captions ? reasonText(reason, *m_captions) : QString();
        };
        m_trend = new TrendWindow(m_trendData, std::move(env), this);
        m_trend->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_trend->show();
    m_trend->raise();
    m_trend->activateWindow();
}

// Escape ends a search for the meter; so does closing the window.
void Form1::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape)
        m_session->stopFinding();
    QWidget::keyPressEvent(e);
}

void Form1::closeEvent(QCloseEvent *e)
{
    if (endAfterSearch(Ending::Exit)) {
        e->ignore(); // the window goes with the program, once the search has let go
        return;
    }
    QWidget::closeEvent(e);
}

// --- Engineer mode ---------------------------------------------------------------

void Form1::Check1_Click()
{
    const Qt::CheckState state = ui.Check1->checkState();
    if (state == Qt::Checked) {
        setFixedHeight(pixels(OperatorHeightTwips + EngineerExtraTwips));
        move(x(), pixels(EngineerTopTwips));
        m_session->setEngineerMode(true);
    } else if (state == Qt::Unchecked) {
        setFixedHeight(pixels(OperatorHeightTwips));
        m_session->setEngineerMode(false);
    }
}

} // namespace movra
