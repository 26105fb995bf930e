// Form1: what a command leaves on screen, painted onto the controls.
#include "form1.h"

#include "captions.h"
#include "findtexts.h"
#include "healthtip.h"
#include "porttips.h"
#include "records.h"
#include "recordtexts.h"
#include "trendwindow.h"
#include "widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace movra {

namespace {
const char *const tagProperty = "tag";

// Screen readers get what the tip shows.
void setTip(QWidget *w, const QString &tip)
{
    // Each change tells a screen reader; an unchanged tip is not news.
    if (w->toolTip() == tip && w->accessibleDescription() == tip)
        return;
    w->setToolTip(tip);
    w->setAccessibleDescription(tip);
}
} // namespace

void Form1::paint(const Result &result)
{
    if (result.clearLogs) {
        ui.Text3->clearLog();
        ui.Text4->clearLog();
        ui.Text12->clearLog();
        // An empty box tells nothing of the answer it no longer shows.
        ui.Text5->clear();
        setTip(ui.Text5, QString());
    }
    for (const QString &line : result.queryLines)
        ui.Text4->prependLine(line);
    if (result.reg)
        ui.Text2->setText(*result.reg);
    if (result.length)
        ui.Combo4->setEditText(*result.length);
    for (const QString &line : result.responseLines)
        ui.Text3->prependLine(line);
    if (result.reading)
        paintReading(*result.reading);
    if (result.hint)
        paintHint(*result.hint);
    if (result.found)
        selectFound(*result.found);
    if (result.scanLine)
        ui.Text12->prependLine(*result.scanLine);
    if (result.exchange)
        plot(*result.exchange);
    switch (result.focus) {
    case Result::Focus::Keep:
        break;
    case Result::Focus::SlaveBox:
        ui.Text1->setFocus();
        ui.Text1->selectAll();
        break;
    case Result::Focus::LengthBox:
        ui.Combo4->setFocus();
        if (QLineEdit *edit = ui.Combo4->lineEdit())
            edit->selectAll();
        break;
    case Result::Focus::PortList:
        ui.Combo1->setFocus();
        break;
    }
}

// The port panel, the send buttons, Connect's lock and the scan, as the
// session holds them.
void Form1::mirror(const SessionState &state, const HealthReport &health)
{
    const PortPanel &panel = state.panel;
    const bool open = panel.kind == PortPanel::Open;
    const Language language = captionsLanguage();
    // The line's health changes as each request ends, the rest seldom.
    if (m_mirroredHealth != health || m_mirrored != state) {
        m_mirroredHealth = health;
        setTip(ui.Label12, open ? healthTip(health, panel, language) : QString());
    }
    if (m_mirrored == state)
        return;
    // The status line is the port's: open, closed, or at other settings;
    // a step that leaves the state as it was leaves it as it was.
    ui.Label12->setText(open ? statusLine(panel.comNumber, panel.settings) : QString());
    m_mirrored = state;
    ui.Shape1->setFillColor(open ? Lamp::Green : Lamp::Red);
    ui.Combo1->setEnabled(!open);
    ui.Combo2->setEnabled(!open);
    ui.Combo3->setEnabled(!open);
    ui.Command1->setEnabled(!state.searching);
    ui.Check1->setEnabled(!state.searching);
    ui.Command1->setProperty(tagProperty, open ? QStringLiteral("1") : QStringLiteral("0"));
    // Until a port has been closed the button keeps the caption table's text.
    if (open)
        ui.Command1->setText(QStringLiteral("CLOS"));
    else if (panel.everOpened)
        ui.Command1->setText(QStringLiteral("OPEN"));
    switch (panel.kind) {
    case PortPanel::Closed:
        setTip(ui.Shape1, QString());
        break;
    case PortPanel::Open:
    case PortPanel::OpenFailed:
        setTip(ui.Shape1, lampOpenTip(panel.portName, panel.status, language));
        break;
    case PortPanel::LinkLost:
        setTip(ui.Shape1, lampLostTip(panel.portName, panel.status.device, language));
        break;
    }
    ui.Command5->setEnabled(state.sendEnabled());
    ui.Command3->setEnabled(state.sendEnabled());
    ui.Combo7->setEnabled(!state.connectLocked && !state.searching);
    ui.Combo6->setEnabled(!state.connectLocked && !state.searching);
    ui.Command2->setEnabled(!state.connectLocked); // pressed again, it stops a search
    m_findAction->setEnabled(state.canFind());
    if (state.scanning != ui.Timer2->isActive()) {
        if (state.scanning)
            ui.Timer2->start();
        else
            ui.Timer2->stop();
    }
    ui.Command10->setVisible(!state.scanning);
    ui.Command11->setVisible(state.scanning);
}

void Form1::paintReading(const Reading &reading)
{
    if (reading.answerHex)
        ui.Text7->setText(*reading.answerHex);
    switch (reading.boxes) {
    case Reading::Boxes::Cleared:
        ui.Text5->clear();
        ui.Text8->clear();
        ui.Text9->clear();
        ui.signal1->clear();
        break;
    case Reading::Boxes::Echo:
        ui.Text5->clear();
        break;
    case Reading::Boxes::Value:
        ui.Text8->setText(reading.value.bits);
        ui.Text9->setText(reading.value.inverted);
        ui.Text5->setText(reading.value.decimal);
        ui.signal1->setText(reading.value.decimal);
        break;
    }
    if (reading.reason)
        paintReason(*reading.reason);
    else if (reading.boxes == Reading::Boxes::Cleared)
        paintReason(std::nullopt); // an empty box tells nothing of the answer it no longer shows
}

// Why the last request gave no value, or how fast its answer came, on Text5
// and signal1.
void Form1::paintReason(const std::optional<Reason> &reason)
{
    const QString text = m_captions && reason ? reasonText(*reason, *m_captions) : QString();
    setTip(ui.Text5, text);
    setTip(ui.signal1, text);
}

void Form1::paintHint(const Hint &hint)
{
    const Language language = captionsLanguage();
    QString text;
    QString tip;
    switch (hint.kind) {
    case Hint::None:
        break;
    case Hint::CheckSettings:
        text = m_captions ? m_captions->connectHint : QString();
        if (hint.offerFind)
            tip = findHintTipLine(language); // where an operator stuck here finds the search
        break;
    case Hint::Searching:
        text = findProgressText(hint.at, hint.address, hint.index, hint.total, language);
        break;
    case Hint::NothingFound:
        text = findNothingText(hint.firstAddress, hint.lastAddress, hint.bauds, hint.framings, language);
        tip = findNothingTip(hint.lastAddress, language);
        break;
    case Hint::Stopped:
        text = findStoppedText(language);
        break;
    }
    ui.signal2->setText(text);
    setTip(ui.signal2, tip);
}

// The lists show what the search found: the items whose text is the found
// baud rate and framing, and the address item n - 1.
void Form1::selectFound(const Found &found)
{
    // A typed setting that no item has stays typed.
    for (auto [combo, text] :
         {std::pair{ui.Combo2, baudText(found.settings)}, {ui.Combo3, framingText(found.settings)}}) {
        const int index = combo->findText(text);
        if (index >= 0)
            combo->setCurrentIndex(index);
        else
            combo->setEditText(text);
    }
    ui.Combo6->setCurrentIndex(found.address - 1);
}

// A scan reading on the trend, at the wall clock's time it came.
void Form1::plot(const Exchange &exchange)
{
    if (exchange.sender != Exchange::Sender::Scan)
        return;
    const double at = epochNow();
    m_trendData.add(exchange.entry, at, exchange.value, exchange.reason.value_or(Reason{}));
    if (m_trend)
        m_trend->dataChanged();
}

// Each request that ended goes to the recording, stamped with the wall clock.
void Form1::record(const Result &result)
{
    if (!result.exchange || !m_recorder->recording() || !m_captions)
        return;
    for (const RecordRow &row : recordRows(*result.exchange, QDateTime::currentDateTime(), *m_captions))
        m_recorder->add(row);
}

// The recording's mark: on, and where to; or why it stopped; or why a log
// was not saved.
void Form1::paintRecording()
{
    RecordingLook look = recordingLook(*m_recorder, captionsLanguage());
    if (look.text.isEmpty() && m_saveFailure)
        look = *m_saveFailure;
    m_recordAction->setChecked(m_recorder->recording());
    m_recordingMark->setText(look.text);
    setTip(m_recordingMark, look.tip);
    m_recordingMark->setVisible(!look.text.isEmpty());
}

// The tips speak the captions' language.
Language Form1::captionsLanguage() const
{
    return m_captions ? m_captions->language : Language::English;
}

} // namespace movra
