// Form1: the transaction cycle, the query log and the answer decoder.
#include "form1.h"

#include "clock.h"
#include "commport.h"
#include "response.h"
#include "valueconv.h"
#include "widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace movra {

namespace {
constexpr double AnswerWait = 0.2;
} // namespace

// Send QueryFrame, wait, take what came and decode it. One at a time: the
// senders drop a request while another one waits.
void Form1::sendAndCollect()
{
    m_busy = true;
    // A late answer to an earlier request must not lead this one's answer.
    if (MSComm1->inBufferCount() > 0)
        MSComm1->input();
    CRC();
    m_env.clock->wait(AnswerWait);
    if (MSComm1->inBufferCount() > 0) {
        ResponseBytes = MSComm1->input();
        ShowResponse();
    } else {
        // No answer: nothing on screen may pass for this request's value.
        clearValue();
    }
    m_busy = false;
}

void Form1::CRC()
{
    movra::CRC(QueryFrame);
    ShowQuery();
    MSComm1->output(frameBytes(QueryFrame)); // a refused write is not retried
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

void Form1::ShowResponse()
{
    ui.Text5->clear();
    const bool writeOption = ui.Option2->isChecked();
    const RenderedResponse shown = renderResponse(ResponseBytes, ExpectedLength, writeOption,
                                                  ui.Combo4->currentText(), ByteOrderSign);
    ui.Text7->setText(shown.text7);
    if (shown.logged)
        ui.Text3->prependLine(shown.text7);
    if (writeOption)
        return;
    // A value only from an answer that is this request's own, whole and intact.
    if (shown.convert && shown.dataHex && checkAnswer(QueryFrame, ResponseBytes) == AnswerStatus::Ok) {
        DataHex = *shown.dataHex;
        Command9_Click();
    } else {
        clearValue();
    }
}

// The value conversion: bits, inverted bits, decimal, meter display.
void Form1::Command9_Click()
{
    const ConvertedValue value = convertValue(DataHex);
    ui.Text8->setText(value.bits);
    ui.Text9->setText(value.inverted);
    ui.Text5->setText(value.decimal);
    ui.signal1->setText(ui.Text5->text());
}

void Form1::WaitSeconds(double seconds)
{
    m_env.clock->wait(seconds);
}

} // namespace movra
