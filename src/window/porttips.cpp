#include "porttips.h"

#include "captions.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringList>

namespace movra {

namespace {

// "COM1 → /dev/ttyUSB0"; just "COM1" where the port is its own device.
QString heading(const QString &name, const QString &device)
{
    if (device.isEmpty() || device == name)
        return name;
    return name + QStringLiteral(" → ") + device;
}

// A path as one word of a shell command: quoted when it holds anything but
// the characters of plain paths.
QString shellWord(const QString &path)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:@%+=,-]+$"));
    if (plain.match(path).hasMatch())
        return path;
    return QLatin1Char('\'') + QString(path).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
           + QLatin1Char('\'');
}

QString failureText(const OpenStatus &status, Language language)
{
    switch (status.failure) {
    case OpenFailure::None:
        return inLanguage(language, "open", "已開啟");
    case OpenFailure::NoDevice:
        return inLanguage(language, "no such device", "沒有這個裝置");
    case OpenFailure::LinkLeadsNowhere:
        return inLanguage(language, "no such device, the link leads nowhere",
                  "沒有這個裝置,連結指向不存在的路徑");
    case OpenFailure::PermissionDenied:
        return inLanguage(language,
                  "permission denied. Add the user to the dialout group "
                  "(sudo adduser $USER dialout), then log in again.",
                  "權限不足。請將使用者加入 dialout 群組(sudo adduser $USER dialout),再重新登入。");
    case OpenFailure::InUse:
        return inLanguage(language, "in use by another program", "正被其他程式使用");
    case OpenFailure::NotSerial:
        return inLanguage(language, "not a serial device", "不是序列埠裝置");
    case OpenFailure::Other:
    case OpenFailure::NoSuchPortName:  // lampOpenTip words these whole
    case OpenFailure::SettingsRefused:
        break;
    }
    if (status.detail.isEmpty())
        return inLanguage(language, "cannot open", "無法開啟");
    return inLanguage(language, "cannot open: ", "無法開啟:") + status.detail;
}

QString parameterName(LineParameter parameter, Language language)
{
    switch (parameter) {
    case LineParameter::BaudRate: return inLanguage(language, "Baud rate", "鮑率");
    case LineParameter::Parity: return inLanguage(language, "Parity", "同位檢查");
    case LineParameter::DataBits: return inLanguage(language, "Data bits", "資料位元");
    case LineParameter::StopBits: return inLanguage(language, "Stop bits", "停止位元");
    }
    return {};
}

// "Parity E not taken by the driver: N in effect", one line each.
QString refusedLines(const QList<RefusedSetting> &refused, Language language)
{
    QStringList lines;
    for (const RefusedSetting &r : refused)
        lines << inLanguage(language, "%1 %2 not taken by the driver: %3 in effect", "驅動程式未接受%1 %2：實際為 %3")
                     .arg(parameterName(r.parameter, language), r.asked, r.inEffect);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString portItemTip(const PortInfo &info, Language language)
{
    QStringList lines{heading(info.name, info.device)};
    if (info.present) {
        if (info.pseudoTerminal)
            lines << inLanguage(language, "pseudo-terminal", "虛擬終端");
        for (const QString &known : {info.description, info.manufacturer})
            if (!known.isEmpty())
                lines << known;
        if (!info.serialNumber.isEmpty())
            lines << inLanguage(language, "serial number ", "序號 ") + info.serialNumber;
    } else if (info.notSerial) {
        lines << inLanguage(language, "not a serial device", "不是序列埠裝置");
    } else {
        lines << inLanguage(language, "not present", "不存在");
    }
    return lines.join(QLatin1Char('\n'));
}

QString lampOpenTip(const QString &name, const OpenStatus &status, Language language)
{
    if (status.failure == OpenFailure::NoSuchPortName)
        return inLanguage(language, "\"%1\" names no port: type COM1 to COM%2",
                  "「%1」不是埠的名稱:請輸入 COM1 到 COM%2")
            .arg(status.detail, QString::number(MaxComNumber));
    if (status.failure == OpenFailure::SettingsRefused)
        return inLanguage(language, "%1: the port refuses the settings %2", "%1:此埠不接受設定 %2")
            .arg(heading(name, status.device), status.detail);
    QString tip = heading(name, status.device) + inLanguage(language, ": ", ":") + failureText(status, language);
    if (status.failure == OpenFailure::None && !status.refused.isEmpty())
        tip += QLatin1Char('\n') + refusedLines(status.refused, language);
    if (status.failure != OpenFailure::None && !status.unlinkedAdapters.isEmpty()) {
        const QString adapter = status.unlinkedAdapters.first();
        // A link that leads nowhere is there already and is replaced.
        const QString ln = status.failure == OpenFailure::LinkLeadsNowhere ? QStringLiteral("ln -sf")
                                                                           : QStringLiteral("ln -s");
        const QString command = QStringLiteral("%1 %2 %3").arg(
            ln, shellWord(adapter), shellWord(QDir(status.linkFolder).filePath(name)));
        tip += QLatin1Char('\n')
               + inLanguage(language, "Adapters no COM link names: %1", "尚未連結為 COM 埠的轉接器:%1")
                     .arg(status.unlinkedAdapters.join(QStringLiteral(", ")))
               + QLatin1Char('\n')
               + inLanguage(language, "To open %1 as %2: %3", "要以 %2 開啟 %1:%3").arg(adapter, name, command);
    }
    return tip;
}

QString statusLine(int comNumber, const LineSettings &settings)
{
    return QStringLiteral("COM:%1 Baud rate:%2  Protocol:%3").arg(comNumber).arg(baudText(settings), framingText(settings));
}

QString lampLostTip(const QString &name, const QString &device, Language language)
{
    return heading(name, device)
           + inLanguage(language, ": the link was lost", ":連線已中斷");
}

} // namespace movra
