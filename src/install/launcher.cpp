#include "launcher.h"

#include "meterart.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace movra {

namespace {

const QString IconName = QStringLiteral("movra-modbus");

// One argument of an Exec line: quoted, with the characters that are special
// inside quotes escaped, then escaped again as a string value; a % doubled
// so that it is not read as a field code.
QString execArgument(const QString &arg)
{
    QString quoted;
    for (QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    return u'"' + quoted + u'"';
}

bool saveFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit();
}

} // namespace

QString launcherPath(const QString &dataHome)
{
    return dataHome + QStringLiteral("/applications/movra-modbus.desktop");
}

QString launcherIconPath(const QString &dataHome)
{
    return dataHome + QStringLiteral("/icons/hicolor/64x64/apps/") + IconName + QStringLiteral(".png");
}

QString launcherText(const QString &tool)
{
    for (QChar c : tool) {
        if (c.category() == QChar::Other_Control)
            return {};
    }
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.4\n"
                          "Name=Movra Modbus\n"
                          "Comment=Read Modbus RTU panel meters over a serial port\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "Categories=Utility;\n"
                          "Keywords=Modbus;RTU;serial;meter;\n")
        .arg(execArgument(tool), IconName);
}

bool writeLauncher(const QString &dataHome, const QString &tool)
{
    const QString text = launcherText(tool);
    if (dataHome.isEmpty() || text.isEmpty())
        return false;
    QByteArray png;
    {
        QBuffer buffer(&png);
        if (!buffer.open(QIODevice::WriteOnly) || !meterIconImage().save(&buffer, "PNG"))
            return false;
    }
    // The icon first: a menu that sees the launcher finds its icon.
    const bool icon = saveFile(launcherIconPath(dataHome), png);
    return saveFile(launcherPath(dataHome), text.toUtf8()) && icon;
}

} // namespace movra
