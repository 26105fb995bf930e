// Form1: engineer mode, the taller window with the manual panel and the scan.
#include "form1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace movra {

namespace {
constexpr int EngineerTopTwips = 10;

int pixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}
} // namespace

void Form1::Check1_Click()
{
    const Qt::CheckState state = ui.Check1->checkState();
    if (state == Qt::Checked) {
        setFixedHeight(pixels(OperatorHeightTwips + EngineerExtraTwips));
        move(x(), pixels(EngineerTopTwips));
        ui.Combo6->setEnabled(false);
        ui.Combo7->setEnabled(false);
        ui.Command2->setEnabled(false);
    } else if (state == Qt::Unchecked) {
        setFixedHeight(pixels(OperatorHeightTwips));
        ui.Combo6->setEnabled(true);
        ui.Combo7->setEnabled(true);
        ui.Command2->setEnabled(true);
        Command11_Click();
    }
}

} // namespace movra
