// Form1: the port panel (open/close toggle, lamp, status line, exits).
#include "form1.h"

#include "captions.h"
#include "commport.h"
#include "porttips.h"
#include "texts.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace movra {

namespace {
const char *const tagProperty = "tag";

QString portName(int n)
{
    return QStringLiteral("COM%1").arg(n);
}
} // namespace

int Form1::selectedIndex(const QComboBox *combo)
{
    const int index = combo->currentIndex();
    if (index < 0 || combo->itemText(index) != combo->currentText())
        return -1;
    return index;
}

bool Form1::portFlagOpen() const
{
    return ui.Command1->property(tagProperty).toString() == QLatin1String("1");
}

QString Form1::statusLine() const
{
    return movra::statusLine(selectedIndex(ui.Combo1) + 1, ui.Combo2->currentText(),
                             ui.Combo3->currentText());
}

void Form1::setSendButtonsEnabled(bool on)
{
    ui.Command5->setEnabled(on);
    ui.Command3->setEnabled(on);
}

void Form1::Command1_Click()
{
    if (portFlagOpen())
        closeBranch();
    else
        openBranch();
}

void Form1::openBranch()
{
    const int n = selectedIndex(ui.Combo1) + 1;
    const QString settings = ui.Combo2->currentText() + QLatin1Char(',') + ui.Combo3->currentText();
    // Each step may fail; the open is tried with whatever the port then holds.
    MSComm1->setCommPort(n);
    MSComm1->setSettings(settings);
    MSComm1->setPortOpen(true);
    if (MSComm1->portOpen()) {
        ui.Shape1->setFillColor(Lamp::Green);
        ui.Combo1->setEnabled(false);
        ui.Combo2->setEnabled(false);
        ui.Combo3->setEnabled(false);
        setSendButtonsEnabled(true);
        ui.Label12->setText(statusLine());
        ui.Command1->setProperty(tagProperty, QStringLiteral("1"));
        ui.Command1->setText(QStringLiteral("CLOS"));
        ui.Combo7->setEnabled(true);
        ui.Combo6->setEnabled(true);
        ui.Command2->setEnabled(true);
    } else {
        ui.Shape1->setFillColor(Lamp::Red);
        setSendButtonsEnabled(false);
    }
    OpenStatus status = MSComm1->openStatus();
    if (!MSComm1->portOpen() && status.failure == OpenFailure::None)
        status.failure = OpenFailure::Other; // a port that cannot tell why
    setLampTip(lampOpenTip(portName(MSComm1->commPort()), status, captionsChinese()));
}

void Form1::closeBranch()
{
    MSComm1->setPortOpen(false);
    ui.Combo1->setEnabled(true);
    ui.Combo2->setEnabled(true);
    ui.Combo3->setEnabled(true);
    ui.Shape1->setFillColor(Lamp::Red);
    setSendButtonsEnabled(false);
    ui.Combo1->setFocus();
    ui.Command1->setProperty(tagProperty, QStringLiteral("0"));
    ui.Command1->setText(QStringLiteral("OPEN"));
    ui.Label12->clear();
    setLampTip({});
}

// The adapter went away: show the port as closed rather than a green lamp
// over a dead line.
void Form1::onLinkLost()
{
    if (!portFlagOpen())
        return;
    closeBranch();
    setLampTip(lampLostTip(portName(MSComm1->commPort()), MSComm1->openStatus().device,
                           captionsChinese()));
}

void Form1::refreshPortTips()
{
    const bool chinese = captionsChinese();
    const QList<PortInfo> ports = portInfos(m_env.exeDir, ui.Combo1->count());
    for (int i = 0; i < ports.size(); ++i)
        ui.Combo1->setItemData(i, portItemTip(ports[i], chinese), Qt::ToolTipRole);
}

// The tips speak the captions' language.
bool Form1::captionsChinese() const
{
    return m_captions && m_captions->chinese;
}

// Screen readers get what the tip shows.
void Form1::setLampTip(const QString &tip)
{
    ui.Shape1->setToolTip(tip);
    ui.Shape1->setAccessibleDescription(tip);
}

void Form1::Command6_Click()
{
    MSComm1->setPortOpen(false);
    m_env.quit();
}

void Form1::Command12_Click()
{
    m_env.quit();
}

} // namespace movra
