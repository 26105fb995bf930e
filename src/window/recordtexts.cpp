#include "recordtexts.h"

namespace movra {

QString senderName(Exchange::Sender sender)
{
    switch (sender) {
    case Exchange::Sender::Connect:
        return QStringLiteral("connect");
    case Exchange::Sender::Manual:
        return QStringLiteral("manual");
    case Exchange::Sender::Scan:
        return QStringLiteral("scan");
    case Exchange::Sender::Search:
        return QStringLiteral("search");
    }
    return {};
}

std::vector<RecordRow> recordRows(const Exchange &exchange, const QDateTime &at, const CaptionTable &table)
{
    RecordRow row;
    row.at = at;
    row.sender = senderName(exchange.sender);
    row.port = exchange.port;
    if (exchange.settings) {
        row.baud = baudText(*exchange.settings);
        row.framing = framingText(*exchange.settings);
    }
    std::vector<RecordRow> rows;
    const bool busy = exchange.reason && exchange.reason->kind == Reason::LineBusy;
    if (!exchange.late.isEmpty()) {
        RecordRow late = row;
        late.answer = exchange.late;
        late.reason = busy ? inLanguage(table.language, "Stray bytes on a busy line, not decoded",
                                        "線路忙碌時收到的雜散資料，未解碼")
                           : inLanguage(table.language, "Late bytes, not decoded", "延遲收到的資料，未解碼");
        rows.push_back(late);
    }
    row.slave = exchange.slave;
    row.function = exchange.function;
    row.reg = exchange.reg;
    row.length = exchange.length;
    row.entry = exchange.entry;
    row.value = exchange.valueText;
    if (exchange.reason) {
        row.reason = reasonText(*exchange.reason, table);
        if (exchange.reason->kind == Reason::None && exchange.reason->seconds >= 0)
            row.answerMs = qRound(exchange.reason->seconds * 1000);
    }
    row.request = exchange.request;
    row.answer = exchange.answer;
    rows.push_back(row);
    return rows;
}

QString recordMenuText(Language language)
{
    return inLanguage(language, "Record to file", "記錄到檔案");
}

QString openRecordsMenuText(Language language)
{
    return inLanguage(language, "Open the records folder", "開啟記錄資料夾");
}

QString saveAsMenuText(Language language)
{
    return inLanguage(language, "Save as…", "另存新檔…");
}

RecordingLook recordingLook(const Recorder &recorder, Language language)
{
    auto text = [language](const char *english, const char *zh) { return inLanguage(language, english, zh); };
    if (recorder.recording()) {
        QString tip = text("Recording every request to\n%1", "每個請求都記錄到\n%1").arg(recorder.filePath());
        if (recorder.inFallback())
            tip += QLatin1Char('\n')
                   + text("The records folder beside the tool cannot be written: recording in the per-user data folder",
                          "工具旁的記錄資料夾無法寫入：改記錄在使用者資料夾");
        return {text("● REC", "● 記錄中"), tip};
    }
    const RecordFault &fault = recorder.fault();
    QString why;
    switch (fault.kind) {
    case RecordFault::None:
        return {};
    case RecordFault::NoFolder:
        why = text("no records folder can be made or written", "記錄資料夾無法建立或寫入");
        break;
    case RecordFault::FolderGone:
        why = text("the file or its folder is gone", "檔案或其資料夾已不存在");
        break;
    case RecordFault::WriteFailed:
        why = fault.detail; // the system's words: "No space left on device"
        break;
    }
    const QString head = text("Recording stopped:", "記錄已停止：");
    return {head + QLatin1Char('\n') + why, head + QLatin1Char(' ') + why + QLatin1Char('\n') + fault.path};
}

RecordingLook saveFailedLook(const QString &path, const QString &why, Language language)
{
    const QString text = inLanguage(language, "Not saved: %1", "未儲存：%1").arg(why);
    return {text, text + QLatin1Char('\n') + path};
}

} // namespace movra
