// Form1: the register scan, one reading per tick of Timer2.
#include "form1.h"

#include "lineio.h"
#include "modelentry.h"
#include "numtext.h"
#include "texts.h"
#include "widgets.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

namespace movra {

namespace {
constexpr int FirstEntryLine = 2;
constexpr int RegisterBase = 40001;
constexpr double ReconnectPause = 0.1;
} // namespace

std::optional<QString> Form1::modelLine(const QComboBox *model, std::int32_t n) const
{
    return GetLine(modelFilePath(m_env.exeDir, model->currentText()), n, m_env.langId);
}

void Form1::Command10_Click()
{
    const auto first = modelLine(ui.Combo5, 1);
    ScanLastLine = (first ? leadingNumber(*first) : 0.0) + 1;
    ScanLine = FirstEntryLine;
    ui.Timer2->start();
    ui.Command10->setVisible(false);
    ui.Command11->setVisible(true);
    ScanTickCount = 0;
}

void Form1::Command11_Click()
{
    ui.Timer2->stop();
    ui.Command11->setVisible(false);
    ui.Command10->setVisible(true);
    ScanTickCount = 0;
}

void Form1::Timer2_Timer()
{
    // A tick that falls due while a reading or the reconnect's pause waits is
    // skipped, not nested.
    if (m_busy || m_ticking)
        return;
    const QScopedValueRollback ticking(m_ticking, true);
    // Past the last entry (also when line 1 held a fraction) the pass ends
    // with a tick that reads nothing.
    if (ScanLine >= ScanLastLine + 1)
        ScanLine = FirstEntryLine;
    else
        scanReading();
    if (ScanTickCount == ReadingsPerReconnect)
        periodicReconnect();
}

void Form1::scanReading()
{
    const auto line = modelLine(ui.Combo5, ScanLine);
    if (!line) {
        // The file went away or got shorter: start the pass again.
        ScanLine = FirstEntryLine;
        return;
    }
    const ModelEntry entry = parseEntry(*line);
    ui.Text2->setText(entry.address);
    ui.Combo4->setEditText(entry.length);
    const int registerNumber = HEX_to_DEC(ui.Text2->text()).value_or(0) + RegisterBase;
    ++ScanLine;
    Command3_Click();
    ui.Text12->prependLine(
        scanListLine(registerNumber, ui.Text2->text(), ui.Text5->text(), entry.name));
    ++ScanTickCount;
}

// Every 3600 readings: Connect, a pause, then the port closed and opened
// again, so the scan goes on reading on a fresh port. A closed port stays closed.
void Form1::periodicReconnect()
{
    Command2_Click();
    WaitSeconds(ReconnectPause);
    if (portFlagOpen()) {
        Command1_Click();
        Command1_Click();
    }
    ScanTickCount = 0;
}

} // namespace movra
