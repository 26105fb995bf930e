// Form1: a request run on the line, the query log and the answer shown.
#include "form1.h"

#include "captions.h"
#include "clock.h"
#include "valueconv.h"
#include "widgets.h"

#include <QLabel>
#include <QLineEdit>

namespace movra {

std::optional<QString> Form1::exchange(const LineRequest &request, const QString &lengthText,
                                       double settleBudget)
{
    ExpectedLength = request.expectedLength;
    const std::optional<LineOutcome> outcome = m_line->transact(request, settleBudget);
    if (!outcome)
        return std::nullopt;
    return showOutcome(*outcome, request, lengthText);
}

void Form1::ShowQuery()
{
    ui.Text4->prependLine(queryLine(QueryFrame));
}

void Form1::clearValue()
{
    ui.Text5->clear();
    ui.Text8->clear();
    ui.Text9->clear();
    ui.signal1->clear();
}

void Form1::showReason(const Reason &reason)
{
    const QString text = m_captions ? reasonText(reason, *m_captions) : QString();
    for (QWidget *w : {static_cast<QWidget *>(ui.Text5), static_cast<QWidget *>(ui.signal1)}) {
        w->setToolTip(text);
        w->setAccessibleDescription(text);
    }
}

void Form1::refuse(const Reason &reason)
{
    clearValue();
    showReason(reason);
}

// Late bytes get a log line of their own above the answer; an echo with
// nothing behind it is logged too. Only a trusted read answer gives a value.
QString Form1::showOutcome(const LineOutcome &outcome, const LineRequest &request,
                           const QString &lengthText)
{
    if (!outcome.late.isEmpty())
        ui.Text3->prependLine(bytesLine(outcome.late));
    if (outcome.answer.isEmpty()) {
        if (!outcome.received.isEmpty())
            ui.Text3->prependLine(bytesLine(outcome.received));
        refuse(outcome.reason);
        return {};
    }
    ResponseBytes = outcome.answer;
    const bool write = request.frame[1] == WriteSingleRegister;
    ui.Text5->clear();
    const RenderedResponse shown =
        renderResponse(ResponseBytes, ExpectedLength, write, lengthText, request.order);
    ui.Text7->setText(shown.text7);
    if (shown.logged)
        ui.Text3->prependLine(shown.text7);
    QString value;
    if (write) {
        if (!outcome.trusted())
            clearValue();
    } else if (outcome.trusted() && shown.convert && shown.dataHex) {
        DataHex = *shown.dataHex;
        value = showValue(DataHex);
    } else {
        clearValue();
    }
    showReason(outcome.reason);
    return value;
}

// The value conversion: bits, inverted bits, decimal, meter display.
QString Form1::showValue(const QString &dataHex)
{
    const ConvertedValue value = convertValue(dataHex);
    ui.Text8->setText(value.bits);
    ui.Text9->setText(value.inverted);
    ui.Text5->setText(value.decimal);
    ui.signal1->setText(value.decimal);
    return value.decimal;
}

void Form1::Command9_Click()
{
    showValue(DataHex);
}

void Form1::WaitSeconds(double seconds)
{
    m_env.clock->wait(seconds);
}

} // namespace movra
