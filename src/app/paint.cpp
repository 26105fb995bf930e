// Form1: what a command leaves on screen, painted onto the controls.
#include "form1.h"

#include "captions.h"
#include "porttips.h"
#include "widgets.h"

#include <QComboBox>
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
    w->setToolTip(tip);
    w->setAccessibleDescription(tip);
}
} // namespace

void Form1::paint(const Shown &shown)
{
    if (shown.clearLogs) {
        ui.Text3->clearLog();
        ui.Text4->clearLog();
        ui.Text5->clear();
        ui.Text12->clearLog();
    }
    for (const QString &line : shown.queryLines)
        ui.Text4->prependLine(line);
    if (shown.panel)
        paintPanel(*shown.panel);
    if (shown.sendEnabled) {
        ui.Command5->setEnabled(*shown.sendEnabled);
        ui.Command3->setEnabled(*shown.sendEnabled);
    }
    if (shown.connectLocked) {
        ui.Combo7->setEnabled(!*shown.connectLocked);
        ui.Combo6->setEnabled(!*shown.connectLocked);
        ui.Command2->setEnabled(!*shown.connectLocked);
    }
    if (shown.status)
        ui.Label12->setText(*shown.status);
    if (shown.reg)
        ui.Text2->setText(*shown.reg);
    if (shown.length)
        ui.Combo4->setEditText(*shown.length);
    for (const QString &line : shown.responseLines)
        ui.Text3->prependLine(line);
    if (shown.text7)
        ui.Text7->setText(*shown.text7);
    paintValue(shown);
    if (shown.reason)
        paintReason(*shown.reason);
    if (shown.hint)
        ui.signal2->setText(*shown.hint);
    if (shown.scanLine)
        ui.Text12->prependLine(*shown.scanLine);
    if (shown.scanning) {
        if (*shown.scanning)
            ui.Timer2->start();
        else
            ui.Timer2->stop();
        ui.Command10->setVisible(!*shown.scanning);
        ui.Command11->setVisible(*shown.scanning);
    }
    switch (shown.focus) {
    case Shown::Focus::Keep:
        break;
    case Shown::Focus::SlaveBox:
        ui.Text1->setFocus();
        ui.Text1->selectAll();
        break;
    case Shown::Focus::LengthBox:
        ui.Combo4->setFocus();
        if (QLineEdit *edit = ui.Combo4->lineEdit())
            edit->selectAll();
        break;
    }
}

void Form1::paintPanel(const Shown::Panel &panel)
{
    const bool chinese = captionsChinese();
    switch (panel.change) {
    case Shown::Panel::OpenTried:
        if (panel.open) {
            ui.Shape1->setFillColor(Lamp::Green);
            ui.Combo1->setEnabled(false);
            ui.Combo2->setEnabled(false);
            ui.Combo3->setEnabled(false);
            ui.Command1->setProperty(tagProperty, QStringLiteral("1"));
            ui.Command1->setText(QStringLiteral("CLOS"));
        } else {
            ui.Shape1->setFillColor(Lamp::Red);
        }
        setTip(ui.Shape1, lampOpenTip(panel.portName, panel.status, chinese));
        return;
    case Shown::Panel::Closed:
    case Shown::Panel::Lost:
        ui.Combo1->setEnabled(true);
        ui.Combo2->setEnabled(true);
        ui.Combo3->setEnabled(true);
        ui.Shape1->setFillColor(Lamp::Red);
        if (panel.focusPort)
            ui.Combo1->setFocus();
        ui.Command1->setProperty(tagProperty, QStringLiteral("0"));
        ui.Command1->setText(QStringLiteral("OPEN"));
        setTip(ui.Shape1, panel.change == Shown::Panel::Lost
                       ? lampLostTip(panel.portName, panel.status.device, chinese)
                       : QString());
        return;
    }
}

void Form1::paintValue(const Shown &shown)
{
    switch (shown.valueShown) {
    case Shown::Value::Keep:
        return;
    case Shown::Value::Clear:
        ui.Text5->clear();
        ui.Text8->clear();
        ui.Text9->clear();
        ui.signal1->clear();
        return;
    case Shown::Value::ClearText5:
        ui.Text5->clear();
        return;
    case Shown::Value::ClearDisplay:
        ui.signal1->clear();
        return;
    case Shown::Value::Set:
        ui.Text8->setText(shown.value.bits);
        ui.Text9->setText(shown.value.inverted);
        ui.Text5->setText(shown.value.decimal);
        ui.signal1->setText(shown.value.decimal);
        return;
    }
}

// Why the last request gave no value, or how fast its answer came, on Text5
// and signal1.
void Form1::paintReason(const Reason &reason)
{
    const QString text = m_captions ? reasonText(reason, *m_captions) : QString();
    setTip(ui.Text5, text);
    setTip(ui.signal1, text);
}

// The tips speak the captions' language.
bool Form1::captionsChinese() const
{
    return m_captions && m_captions->chinese;
}

} // namespace movra
