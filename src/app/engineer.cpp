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
        setConnectLocked(true);
    } else if (state == Qt::Unchecked) {
        setFixedHeight(pixels(OperatorHeightTwips));
        setConnectLocked(false);
        Command11_Click();
    }
}

// Engineer mode locks Connect's address, model and button.
void Form1::setConnectLocked(bool locked)
{
    ui.Combo6->setEnabled(!locked);
    ui.Combo7->setEnabled(!locked);
    ui.Command2->setEnabled(!locked);
}

} // namespace movra
