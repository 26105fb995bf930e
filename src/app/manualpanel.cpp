// Form1: the manual read/write panel.
#include "form1.h"

#include "numtext.h"
#include "texts.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace movra {

namespace {
void selectForCorrection(QWidget *box, QLineEdit *edit)
{
    box->setFocus();
    if (edit)
        edit->selectAll();
}
} // namespace

void Form1::Option1_Click()
{
    ui.Option2->setChecked(false);
    FunctionCode = ReadHoldingRegisters;
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
    FunctionCode = WriteSingleRegister;
    ui.Command5->setVisible(true);
    ui.Command3->setVisible(false);
    ui.Combo4->setVisible(false);
    ui.Label9->setVisible(false);
    ui.Label11->setVisible(true);
    ui.Text6->setVisible(true);
}

void Form1::Command3_Click()
{
    if (busy())
        return;
    ByteOrderSign = QStringLiteral("-");
    const QString lengthText = ui.Combo4->currentText();
    const ReadPlan plan = planRead(ui.Text1->text(), ui.Text2->text(), lengthText, ByteOrder::AsReceived);
    if (!plan.request) {
        // Not sent: nothing on screen may pass for this read's value.
        refuse(plan.refusal);
        if (plan.refusal.kind == Reason::NotSentSlave)
            selectForCorrection(ui.Text1, ui.Text1);
        else
            selectForCorrection(ui.Combo4, ui.Combo4->lineEdit());
        return;
    }
    if (!exchange(*plan.request, lengthText, ModbusLine::ClickSettleBudget))
        refuse({Reason::LateAnswer});
}

void Form1::Command5_Click()
{
    if (busy())
        return;
    const auto slave = slaveAddressFromText(ui.Text1->text());
    if (!slave) {
        refuse({Reason::NotSentSlave});
        selectForCorrection(ui.Text1, ui.Text1);
        return;
    }
    const WordBytes reg = splitHexWord(ui.Text2->text());
    const WordBytes value = splitHexWord(ui.Text6->text());
    LineRequest request;
    request.frame = {*slave, static_cast<std::uint8_t>(FunctionCode), reg.high, reg.low, value.high, value.low, 0, 0};
    request.expectedLength = int(expectedLength(WriteSingleRegister, 0));
    if (!exchange(request, QString(), ModbusLine::ClickSettleBudget))
        refuse({Reason::LateAnswer});
}

void Form1::Command4_Click()
{
    ui.Text3->clearLog();
    ui.Text4->clearLog();
    ui.Text5->clear();
    ui.Text12->clearLog();
}

} // namespace movra
