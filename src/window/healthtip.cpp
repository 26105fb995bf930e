#include "healthtip.h"

#include "captions.h"

#include <QStringList>

#include <algorithm>

namespace movra {

namespace {

// How a count of one reason reads: "1 CRC error", "3 CRC errors", "3 次 CRC 錯誤".
struct Noun {
    Reason::Kind kind;
    const char *one;
    const char *many;
    const char *chinese;
};

constexpr Noun Nouns[] = {
    {Reason::NoAnswer, "no answer", "no answer", "無回應"},
    {Reason::Exception, "exception", "exceptions", "例外"},
    {Reason::BadCrc, "CRC error", "CRC errors", "CRC 錯誤"},
    {Reason::WrongSlave, "answer from another slave", "answers from another slave", "其他站號回應"},
    {Reason::WrongFunction, "wrong function code", "wrong function codes", "功能碼錯誤"},
    {Reason::WrongByteCount, "wrong byte count", "wrong byte counts", "位元組數錯誤"},
    {Reason::MoreThanOneFrame, "more than one frame", "more than one frame", "多於一個訊框"},
    {Reason::LateAnswer, "late answer", "late answers", "延遲回應"},
    {Reason::ShortAnswer, "answer cut short", "answers cut short", "回應不完整"},
    {Reason::Unreadable, "unreadable answer", "unreadable answers", "無法辨識的回應"},
    {Reason::EchoMismatch, "echo that differs", "echoes that differ", "回應與寫入命令不符"},
    {Reason::NoValue, "answer without a value", "answers without a value", "回應無法換算數值"},
    {Reason::NotSentSlave, "without a slave address", "without a slave address", "無儀表位址"},
    {Reason::NotSentLength, "without a data length", "without a data length", "無資料長度"},
    {Reason::NotSentPortClosed, "with the port closed", "with the port closed", "通訊埠未開啟"},
    {Reason::NoModelEntry, "without a model entry", "without a model entry", "無型號項目"},
    {Reason::LineBusy, "with the line busy", "with the line busy", "線路忙碌"},
};

// A kind without a row is still counted, under a plain name.
constexpr Noun Other{Reason::None, "other fault", "other faults", "其他錯誤"};

const Noun &nounOf(Reason::Kind kind)
{
    for (const Noun &n : Nouns)
        if (n.kind == kind)
            return n;
    return Other;
}

QString counted(const HealthReport::Count &c, Language language)
{
    const Noun &n = nounOf(c.kind);
    if (language == Language::English)
        return QStringLiteral("%1 ").arg(c.count) + QString::fromUtf8(c.count == 1 ? n.one : n.many);
    // A Latin word after the counter is set off by a blank.
    const QString noun = QString::fromUtf8(n.chinese);
    const bool latin = noun.front().unicode() < 0x80;
    return QStringLiteral("%1 次").arg(c.count) + (latin ? QStringLiteral(" ") : QString()) + noun;
}

QString countLine(const std::vector<HealthReport::Count> &counts, Language language)
{
    QStringList parts;
    for (const HealthReport::Count &c : counts)
        parts << counted(c, language);
    return parts.join(QStringLiteral(" · "));
}

// One decimal; never "100.0" while some request went without a value, nor
// "0.0" while some gave one.
QString percentText(qint64 part, qint64 whole)
{
    constexpr double Tenth = 0.1;
    constexpr double All = 100;
    double percent = All * double(part) / double(whole);
    if (part < whole)
        percent = std::min(percent, All - Tenth);
    if (part > 0)
        percent = std::max(percent, Tenth);
    return QString::number(percent, 'f', 1);
}

} // namespace

QString healthTip(const HealthReport &r, const PortPanel &panel, Language language)
{
    if (r.openedAt.isNull())
        return {};
    const QString baud = baudText(panel.settings);
    const QString framing = framingText(panel.settings);
    QStringList lines;
    const QString at = r.openedAt.toString(QStringLiteral("HH:mm:ss"));
    if (r.since == HealthReport::Since::SettingsFound)
        lines << inLanguage(language, "Since the search set %1 to %3, %4 at %2:", "自搜尋於 %2 將 %1 設為 %3, %4 以來：")
                     .arg(panel.portName, at, baud, framing);
    else
        lines << inLanguage(language, "Since %1 opened at %2 (%3, %4):", "自 %1 於 %2 開啟以來 (%3, %4)：")
                     .arg(panel.portName, at, baud, framing);
    if (r.requests == 0) {
        lines << inLanguage(language, "No requests yet", "尚無請求");
    } else {
        const QString percent = percentText(r.withValue, r.requests);
        const char *english = r.requests == 1 ? "%1 request, %2 with a value (%3 %)"
                                              : "%1 requests, %2 with a value (%3 %)";
        lines << inLanguage(language, english, "%1 個請求，%2 個有數值 (%3 %)")
                     .arg(r.requests)
                     .arg(r.withValue)
                     .arg(percent);
        if (!r.faults.empty())
            lines << countLine(r.faults, language);
    }
    if (r.minMs && r.maxMs && r.medianMs) {
        if (*r.minMs == *r.maxMs)
            lines << answerTimeText(*r.minMs, language);
        else
            lines << inLanguage(language, "Answer in %1–%2 ms, median %3 ms",
                          "回應時間 %1–%2 毫秒，中位數 %3 毫秒")
                         .arg(*r.minMs)
                         .arg(*r.maxMs)
                         .arg(*r.medianMs);
    }
    if (!r.notSent.empty())
        lines << inLanguage(language, "Not sent: ", "未送出：") + countLine(r.notSent, language);
    // How many answers came late and how late, not a lateness one late answer would suggest.
    QString late;
    if (r.lateAnswers == 1)
        late = inLanguage(language, "1 answer came late, %1 s after its request", "1 個回應延遲，在請求後 %1 秒")
                   .arg(latenessText(r.longestLate));
    else if (r.lateAnswers > 1)
        late = inLanguage(language, "%1 answers came late, up to %2 s after the request", "%1 個回應延遲，最多在請求後 %2 秒")
                   .arg(r.lateAnswers)
                   .arg(latenessText(r.longestLate));
    if (r.lateness)
        late += inLanguage(language, "; the next request waits %1 s", "；下一個請求等候 %1 秒").arg(latenessText(r.nextWait));
    if (r.lateAnswers > 0)
        lines << late;
    return lines.join(QLatin1Char('\n'));
}

} // namespace movra
