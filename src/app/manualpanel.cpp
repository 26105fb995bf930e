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
constexpr std::uint8_t ReadHolding = 0x03;
constexpr std::uint8_t WriteSingle = 0x06;

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
    FunctionCode = ReadHolding;
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
    FunctionCode = WriteSingle;
    ui.Command5->setVisible(true);
    ui.Command3->setVisible(false);
    ui.Combo4->setVisible(false);
    ui.Label9->setVisible(false);
    ui.Label11->setVisible(true);
    ui.Text6->setVisible(true);
}

void Form1::Command3_Click()
{
    if (m_busy)
        return;
    const WordBytes reg = splitHexWord(ui.Text2->text());
    ByteOrderSign = QStringLiteral("-");
    const double count = leadingNumber(ui.Combo4->currentText()) / 2;
    const auto slave = slaveAddressFromText(ui.Text1->text());
    const auto countByte = roundToByte(count);
    const auto expected = roundToInt32(count * 2 + 3);
    if (!slave || !countByte || !expected) {
        // Not sent: nothing on screen may pass for this read's value.
        clearValue();
        if (!slave)
            selectForCorrection(ui.Text1, ui.Text1);
        else
            selectForCorrection(ui.Combo4, ui.Combo4->lineEdit());
        return;
    }
    QueryFrame[0] = *slave;
    QueryFrame[1] = ReadHolding; // also when the scan reads while Write is chosen
    QueryFrame[2] = reg.high;
    QueryFrame[3] = reg.low;
    QueryFrame[4] = 0;
    QueryFrame[5] = *countByte;
    ExpectedLength = *expected;
    sendAndCollect();
}

void Form1::Command5_Click()
{
    if (m_busy)
        return;
    const WordBytes reg = splitHexWord(ui.Text2->text());
    const WordBytes value = splitHexWord(ui.Text6->text());
    const auto slave = slaveAddressFromText(ui.Text1->text());
    if (!slave) {
        selectForCorrection(ui.Text1, ui.Text1);
        return;
    }
    QueryFrame[0] = *slave;
    QueryFrame[1] = static_cast<std::uint8_t>(FunctionCode);
    QueryFrame[2] = reg.high;
    QueryFrame[3] = reg.low;
    QueryFrame[4] = value.high;
    QueryFrame[5] = value.low;
    ExpectedLength = 6;
    sendAndCollect();
}

void Form1::Command4_Click()
{
    ui.Text3->clearLog();
    ui.Text4->clearLog();
    ui.Text5->clear();
    ui.Text12->clearLog();
}

} // namespace movra
