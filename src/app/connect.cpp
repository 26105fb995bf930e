// Form1: Connect, one read of the model's last listed register.
#include "form1.h"

#include "modelentry.h"
#include "numtext.h"
#include "texts.h"

#include <QComboBox>
#include <QLabel>

namespace movra {

void Form1::Command2_Click()
{
    connectTest();
}

void Form1::connectTest()
{
    if (busy())
        return;
    ui.signal1->clear();
    ui.signal2->clear();
    // Without the model's entry there is nothing to ask: send nothing.
    const auto first = modelLine(ui.Combo7, 1);
    const auto last = first ? roundToInt32(leadingNumber(*first) + 1) : std::nullopt;
    const auto line = last ? modelLine(ui.Combo7, *last) : std::nullopt;
    if (!line) {
        ui.signal2->setText(ConnectHint);
        return;
    }
    const ModelEntry entry = parseEntry(*line);
    ByteOrderSign = entry.sign;
    const WordBytes reg = splitHexWord(entry.address);

    LineRequest request;
    // A length that is not a number keeps the previous count and length.
    request.frame = QueryFrame;
    request.expectedLength = ExpectedLength;
    request.frame[0] = static_cast<std::uint8_t>(selectedIndex(ui.Combo6) + 1);
    request.frame[1] = ReadHoldingRegisters;
    request.frame[2] = reg.high;
    request.frame[3] = reg.low;
    request.frame[4] = 0;
    if (const auto length = numberOnly(entry.length)) {
        if (const auto count = roundToByte(*length / 2))
            request.frame[5] = *count;
        if (const auto expected = roundToInt32(expectedLength(ReadHoldingRegisters, *length)))
            request.expectedLength = *expected;
    }
    request.order = byteOrderOf(entry.sign);
    ui.Combo4->setEditText(entry.length);
    const std::optional<QString> value = exchange(request, entry.length, ModbusLine::ClickSettleBudget);
    if (!value)
        refuse({Reason::LateAnswer});

    if (!value || value->isEmpty())
        ui.signal2->setText(ConnectHint);
    else
        ui.Label12->setText(statusLine());
}

} // namespace movra
