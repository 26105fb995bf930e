#pragma once
// The tool in the Linux desktops' application menus: a freedesktop launcher
// and the tool's icon, under the user's data folder ($XDG_DATA_HOME).
#include <QString>

namespace movra {

// <dataHome>/applications/movra-modbus.desktop
QString launcherPath(const QString &dataHome);
// <dataHome>/icons/hicolor/64x64/apps/movra-modbus.png
QString launcherIconPath(const QString &dataHome);

// The launcher's text for the tool at `tool` (an absolute path); empty when
// the path cannot stand on an Exec line (it holds a control character).
QString launcherText(const QString &tool);

// Writes (or replaces) the launcher and the icon; false when either failed.
bool writeLauncher(const QString &dataHome, const QString &tool);

} // namespace movra
