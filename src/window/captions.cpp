// The English and Traditional Chinese caption routines as two step lists.
#include "captions.h"

#include "findtexts.h"
#include "linetracker.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

namespace movra {

namespace {

CaptionStep caption(const char *control, const char *text)
{
    return {CaptionStep::Caption, control, text, 0};
}

CaptionStep size(const char *control, double points)
{
    return {CaptionStep::FontSize, control, nullptr, points};
}

QString hint(const char *first, const char *second)
{
    return QString::fromUtf8(first) + QStringLiteral("\r\n") + QString::fromUtf8(second);
}

} // namespace

const CaptionTable &englishTable()
{
    static const CaptionTable table{
        {
            caption("Label1", "Port number"),
            caption("Label2", "Baud rate"),
            caption("Label3", "Protocol"),
            caption("Label10", "Query"),
            caption("Label14", "Response"),
            caption("Command1", "Open"),
            caption("Command2", "Connect"),
            caption("Command6", "Exit"),
            caption("Command4", "Clear"),
            caption("Command12", "Exit"),
            caption("Frame1", "Set1(Setup COM PORT)"),
            caption("Frame2", "Engineer"),
            caption("Frame3", "Set2(Setup Meter Model/Address)"),
            size("Label6", 13),
            caption("Label6", "1.Slave address             (0~255)"),
            size("Label7", 14),
            caption("Label7", "2.Function"),
            size("Label8", 13),
            caption("Label8", "3.Register addr                 H"),
            size("Label9", 14),
            caption("Label9", "4.Select data length (Byte)"),
            size("Label11", 13),
            caption("Label11", "4.Input Data                     H"),
            size("Option1", 13),
            size("Option2", 13),
            caption("Option1", "Read(03H)"),
            caption("Option2", "Write(06H)"),
            size("Command5", 10),
            size("Command3", 10),
            caption("Command5", "Send Command-W"),
            caption("Command3", "Send Command-R"),
            caption("Label13", "Model"),
            caption("Label5", "Address"),
            size("signal2", 12),
            caption("Command10", "Start scan"),
            caption("Command11", "Stop scan"),
        },
        hint("1. Confirm the baud rate / protocol!", "2. Confirm the model or address !"),
    };
    return table;
}

const CaptionTable &chineseTable()
{
    // Label13, Label5 and signal2's size keep their design-time values.
    static const CaptionTable table{
        {
            caption("Label1", "COM 埠"),
            caption("Label2", "通訊鮑率"),
            caption("Label3", "通訊協定"),
            caption("Label10", "傳送資料"),
            caption("Label14", "接收資料"),
            caption("Command1", "開啟"),
            caption("Command2", "連線"),
            caption("Command6", "離開"),
            caption("Command4", "清除"),
            caption("Command12", "離開"),
            caption("Frame1", "操作1(設定COM 埠)"),
            caption("Frame2", "工程模式"),
            caption("Frame3", "操作2(選擇儀表型號 / 位址'站號')"),
            size("Label6", 16),
            caption("Label6", "1-儀表位址         (0~255)"),
            size("Label7", 16),
            caption("Label7", "2-選擇功能"),
            size("Label8", 16),
            caption("Label8", "3-輸入位址             H"),
            size("Label9", 16),
            caption("Label9", "4-選擇資料長度(Byte)"),
            size("Label11", 16),
            caption("Label11", "4-輸入資料             H"),
            size("Option1", 16),
            size("Option2", 16),
            caption("Option1", "讀取(03H)"),
            caption("Option2", "寫入(06H)"),
            size("Command5", 12),
            size("Command3", 12),
            caption("Command5", "發送命令-W"),
            caption("Command3", "發送命令-R"),
            caption("Command10", "掃瞄"),
            caption("Command11", "停止"),
        },
        hint("1.確認通訊鮑率/協定正確性!", "2.確認型號或位址是否錯誤!"),
        Language::Chinese,
    };
    return table;
}

QString answerTimeText(int ms, Language language)
{
    return inLanguage(language, "Answer in %1 ms", "回應時間 %1 毫秒").arg(ms);
}

QString latenessText(double seconds)
{
    return QString::number(seconds, 'f', 2);
}

namespace {
// A wait in seconds as the line planned it: "0.2", "1.05", "2".
QString waitText(double seconds)
{
    constexpr double Hundredths = 100;
    constexpr int Digits = 3;
    return QString::number(qRound(seconds * Hundredths) / Hundredths, 'g', Digits);
}
} // namespace

QString reasonText(const Reason &reason, const CaptionTable &table)
{
    const Language language = table.language;
    auto text = [language](const char *english, const char *zh) { return inLanguage(language, english, zh); };
    const bool timed = reason.seconds >= 0;
    switch (reason.kind) {
    case Reason::None:
        if (!timed)
            return {};
        return answerTimeText(qRound(reason.seconds * 1000), language);
    case Reason::NoAnswer: {
        const QString within = reason.waited < 0 ? text("No answer within 0.2 s", "0.2 秒內無回應")
                                                 : text("No answer within %1 s", "%1 秒內無回應").arg(waitText(reason.waited));
        if (!timed)
            return within;
        if (reason.seconds > LineTracker::MaxSettleTime)
            return within + text(": the meter answers about %1 s after a request, later than %2 s: too late to read",
                                 "：儀表約在請求後 %1 秒才回應，超過 %2 秒，太晚無法讀取")
                                .arg(latenessText(reason.seconds), waitText(LineTracker::MaxSettleTime));
        return within + text(": the meter answers about %1 s after a request; the next request waits for it",
                             "：儀表約在請求後 %1 秒才回應，下一個請求會等候")
                            .arg(latenessText(reason.seconds));
    }
    case Reason::ShortAnswer:
        if (reason.waited < 0)
            return text("Answer incomplete: %1 of %2 bytes", "回應不完整：收到 %1 / %2 位元組").arg(reason.detail).arg(reason.of);
        return text("Answer incomplete after %1 s: %2 of %3 bytes", "%1 秒後回應仍不完整：收到 %2 / %3 位元組")
            .arg(waitText(reason.waited))
            .arg(reason.detail)
            .arg(reason.of);
    case Reason::Exception: {
        struct Named {
            int code;
            const char *english;
            const char *chinese;
        };
        static constexpr Named names[] = {
            {0x01, "illegal function", "不合法的功能碼"},
            {0x02, "illegal data address", "不合法的資料位址"},
            {0x03, "illegal data value", "不合法的資料值"},
            {0x04, "slave device failure", "從站裝置故障"},
            {0x05, "acknowledge", "已接受,處理中"},
            {0x06, "slave device busy", "從站裝置忙碌"},
            {0x08, "memory parity error", "記憶體同位檢查錯誤"},
            {0x0A, "gateway path unavailable", "閘道路徑無法使用"},
            {0x0B, "gateway target device failed to respond", "閘道目標裝置無回應"},
        };
        const QString head = text("Exception ", "例外 ")
                             + QStringLiteral("%1").arg(reason.detail, 2, 16, QLatin1Char('0')).toUpper();
        for (const Named &n : names)
            if (n.code == reason.detail)
                return head + text(": ", "：") + text(n.english, n.chinese);
        return head;
    }
    case Reason::BadCrc:
        return text("CRC error", "CRC 錯誤");
    case Reason::WrongSlave:
        return text("Answer from slave ", "回應來自站號 ") + QString::number(reason.detail);
    case Reason::WrongFunction:
        return text("Wrong function code", "功能碼錯誤");
    case Reason::WrongByteCount:
        return text("Wrong byte count", "位元組數錯誤");
    case Reason::MoreThanOneFrame:
        return text("More than one frame", "收到多於一個訊框");
    case Reason::LateAnswer:
        if (!timed)
            return text("Late answer to an earlier request", "先前請求的延遲回應");
        return text("Late answer to an earlier request, none of this one's own: the meter answers about %1 s "
                    "after a request",
                    "先前請求的延遲回應，本請求沒有回應：儀表約在請求後 %1 秒才回應")
            .arg(latenessText(reason.seconds));
    case Reason::ClosedInWait:
        return text("Port closed during the wait", "等候回應時通訊埠已關閉");
    case Reason::Unreadable:
        return text("Unreadable answer: no valid frame; the meter may use another baud rate or framing",
                    "無法辨識的回應：沒有有效的訊框；儀表可能使用其他鮑率或通訊協定")
               + QLatin1Char('\n') + findHintTipLine(language);
    case Reason::LineBusy:
        return text("Not sent: the line is busy (bytes keep arriving)", "未送出：線路忙碌（持續收到資料）");
    case Reason::EchoMismatch:
        return text("Echo differs from the request", "回應與寫入命令不符");
    case Reason::NotSentSlave:
        return text("Not sent: slave address", "未送出：儀表位址");
    case Reason::NotSentLength:
        return text("Not sent: data length", "未送出：資料長度");
    case Reason::NotSentPortClosed:
        return text("Not sent: port closed", "未送出：通訊埠未開啟");
    case Reason::NoModelEntry:
        return text("Not sent: no model entry", "未送出：無型號項目");
    case Reason::NoValue:
        if (reason.detail == Reason::NoValueSign)
            return text("Answer gives no value: the byte order sign is neither - nor +",
                        "回應無法換算數值：位元組順序符號不是 - 或 +");
        if (reason.detail > 0)
            return text("Answer gives no value for data length %1", "回應無法換算數值：資料長度 %1")
                .arg(reason.detail);
        return text("Answer gives no value", "回應無法換算數值");
    }
    return {};
}

void applyCaptions(QWidget *form, const CaptionTable &table)
{
    for (const CaptionStep &step : table.steps) {
        auto *w = form->findChild<QWidget *>(QString::fromLatin1(step.control));
        if (!w)
            continue;
        if (step.kind == CaptionStep::FontSize) {
            QFont font = w->font();
            font.setPointSizeF(step.points);
            w->setFont(font);
            continue;
        }
        const QString text = QString::fromUtf8(step.text);
        if (auto *label = qobject_cast<QLabel *>(w))
            label->setText(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            button->setText(text);
        else if (auto *frame = qobject_cast<QGroupBox *>(w))
            frame->setTitle(text);
    }
}

} // namespace movra
