#include "porttips.h"

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

QString tr(bool chinese, const char *english, const char16_t *zh)
{
    return chinese ? QString::fromUtf16(zh) : QString::fromUtf8(english);
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

QString failureText(const OpenStatus &status, bool chinese)
{
    switch (status.failure) {
    case OpenFailure::None:
        return tr(chinese, "open", u"已開啟");
    case OpenFailure::NoDevice:
        return tr(chinese, "no such device", u"沒有這個裝置");
    case OpenFailure::LinkLeadsNowhere:
        return tr(chinese, "no such device, the link leads nowhere",
                  u"沒有這個裝置,連結指向不存在的路徑");
    case OpenFailure::PermissionDenied:
        return tr(chinese,
                  "permission denied. Add the user to the dialout group "
                  "(sudo adduser $USER dialout), then log in again.",
                  u"權限不足。請將使用者加入 dialout 群組(sudo adduser $USER dialout),再重新登入。");
    case OpenFailure::InUse:
        return tr(chinese, "in use by another program", u"正被其他程式使用");
    case OpenFailure::NotSerial:
        return tr(chinese, "not a serial device", u"不是序列埠裝置");
    case OpenFailure::Other:
    case OpenFailure::NoSuchPortName:  // lampOpenTip words these whole
    case OpenFailure::SettingsRefused:
        break;
    }
    if (status.detail.isEmpty())
        return tr(chinese, "cannot open", u"無法開啟");
    return tr(chinese, "cannot open: ", u"無法開啟:") + status.detail;
}

QString parameterName(LineParameter parameter, bool chinese)
{
    switch (parameter) {
    case LineParameter::BaudRate: return tr(chinese, "Baud rate", u"鮑率");
    case LineParameter::Parity: return tr(chinese, "Parity", u"同位檢查");
    case LineParameter::DataBits: return tr(chinese, "Data bits", u"資料位元");
    case LineParameter::StopBits: return tr(chinese, "Stop bits", u"停止位元");
    }
    return {};
}

// "Parity E not taken by the driver: N in effect", one line each.
QString refusedLines(const QList<RefusedSetting> &refused, bool chinese)
{
    QStringList lines;
    for (const RefusedSetting &r : refused)
        lines << tr(chinese, "%1 %2 not taken by the driver: %3 in effect", u"驅動程式未接受%1 %2：實際為 %3")
                     .arg(parameterName(r.parameter, chinese), r.asked, r.inEffect);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QString portItemTip(const PortInfo &info, bool chinese)
{
    QStringList lines{heading(info.name, info.device)};
    if (info.present) {
        if (info.pseudoTerminal)
            lines << tr(chinese, "pseudo-terminal", u"虛擬終端");
        for (const QString &known : {info.description, info.manufacturer})
            if (!known.isEmpty())
                lines << known;
        if (!info.serialNumber.isEmpty())
            lines << tr(chinese, "serial number ", u"序號 ") + info.serialNumber;
    } else if (info.notSerial) {
        lines << tr(chinese, "not a serial device", u"不是序列埠裝置");
    } else {
        lines << tr(chinese, "not present", u"不存在");
    }
    return lines.join(QLatin1Char('\n'));
}

QString lampOpenTip(const QString &name, const OpenStatus &status, bool chinese)
{
    if (status.failure == OpenFailure::NoSuchPortName)
        return tr(chinese, "\"%1\" names no port: type COM1 to COM%2",
                  u"「%1」不是埠的名稱:請輸入 COM1 到 COM%2")
            .arg(status.detail, QString::number(MaxComNumber));
    if (status.failure == OpenFailure::SettingsRefused)
        return tr(chinese, "%1: the port refuses the settings %2", u"%1:此埠不接受設定 %2")
            .arg(heading(name, status.device), status.detail);
    QString tip = heading(name, status.device) + tr(chinese, ": ", u":") + failureText(status, chinese);
    if (status.failure == OpenFailure::None && !status.refused.isEmpty())
        tip += QLatin1Char('\n') + refusedLines(status.refused, chinese);
    if (status.failure != OpenFailure::None && !status.unlinkedAdapters.isEmpty()) {
        const QString adapter = status.unlinkedAdapters.first();
        // A link that leads nowhere is there already and is replaced.
        const QString ln = status.failure == OpenFailure::LinkLeadsNowhere ? QStringLiteral("ln -sf")
                                                                           : QStringLiteral("ln -s");
        const QString command = QStringLiteral("%1 %2 %3").arg(
            ln, shellWord(adapter), shellWord(QDir(status.linkFolder).filePath(name)));
        tip += QLatin1Char('\n')
               + tr(chinese, "Adapters no COM link names: %1", u"尚未連結為 COM 埠的轉接器:%1")
                     .arg(status.unlinkedAdapters.join(QStringLiteral(", ")))
               + QLatin1Char('\n')
               + tr(chinese, "To open %1 as %2: %3", u"要以 %2 開啟 %1:%3").arg(adapter, name, command);
    }
    return tip;
}

QString lampLostTip(const QString &name, const QString &device, bool chinese)
{
    return heading(name, device)
           + tr(chinese, ": the link was lost", u":連線已中斷");
}

} // namespace movra
