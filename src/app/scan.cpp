// Form1: the register scan, one reading per tick of Timer2.
#include "form1.h"

#include "lineio.h"
#include "modelentry.h"
#include "numtext.h"
#include "texts.h"
#include "widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTimer>

namespace movra {

namespace {
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
    m_scan.start((first ? leadingNumber(*first) : 0.0) + 1);
    ui.Timer2->start();
    ui.Command10->setVisible(false);
    ui.Command11->setVisible(true);
}

void Form1::Command11_Click()
{
    ui.Timer2->stop();
    ui.Command11->setVisible(false);
    ui.Command10->setVisible(true);
    m_scan.stop();
}

void Form1::Timer2_Timer()
{
    // A tick that falls due while a reading or the reconnect's pause waits,
    // or while the line settles after a request without an answer, is
    // skipped, not nested.
    if (busy() || m_ticking || m_line->settling())
        return;
    const QScopedValueRollback ticking(m_ticking, true);
    if (const std::optional<std::int32_t> entryLine = m_scan.next())
        scanReading(*entryLine);
    if (m_scan.reconnectDue())
        periodicReconnect();
}

// One reading: the entry's register, its length and its byte order, from
// the slave in Text1. The manual panel shows the request and the answer.
void Form1::scanReading(std::int32_t entryLine)
{
    const auto line = modelLine(ui.Combo5, entryLine);
    if (!line) {
        m_scan.entryMissing();
        return;
    }
    const ModelEntry entry = parseEntry(*line);
    const int registerNumber = HEX_to_DEC(entry.address).value_or(0) + RegisterBase;
    const ReadPlan plan = planRead(ui.Text1->text(), entry.address, entry.length, byteOrderOf(entry.sign));
    ui.Text2->setText(entry.address);
    ui.Combo4->setEditText(entry.length);
    ByteOrderSign = entry.sign;
    QString value;
    if (plan.request) {
        const std::optional<QString> shown = exchange(*plan.request, entry.length, ModbusLine::TickSettleBudget);
        if (!shown)
            return; // the line is still not quiet: this tick is skipped
        value = *shown;
    } else {
        // Not sent; the focus stays where the operator has it.
        refuse(plan.refusal);
    }
    m_scan.readingDone();
    ui.Text12->prependLine(scanListLine(registerNumber, entry.address, value, entry.name));
}

// Every 3600 readings: Connect, a pause, then the port closed and opened
// again, so the scan goes on reading on a fresh port. A closed port stays
// closed; engineer mode's locks and the focus stay as they were.
void Form1::periodicReconnect()
{
    connectTest();
    WaitSeconds(ReconnectPause);
    if (portFlagOpen()) {
        QWidget *const focus = focusWidget();
        closeBranch();
        openBranch();
        if (ui.Check1->isChecked())
            setConnectLocked(true);
        if (focus && focus->isEnabled())
            focus->setFocus();
    }
    m_scan.reconnected();
}

} // namespace movra
