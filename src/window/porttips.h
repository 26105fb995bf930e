#pragma once
// Tooltips of the port panel in the caption language: where each port list
// item goes, and what became of the last open (on the lamp).
#include "commport.h"
#include "language.h"
#include "portinfo.h"
#include <QString>

namespace movra {

// "COM1 → /dev/ttyUSB0", then what is known of the device, one item a line,
// or "not present".
QString portItemTip(const PortInfo &info, Language language);

// After an open: "COM1 → /dev/ttyUSB0: open", then a line for each setting
// the driver did not take; or the reason it failed.
QString lampOpenTip(const QString &name, const OpenStatus &status, Language language);

// The status line while the port is open: "COM:1 Baud rate:9600  Protocol:N,8,1".
QString statusLine(int comNumber, const LineSettings &settings);

// After the device went away while open.
QString lampLostTip(const QString &name, const QString &device, Language language);

} // namespace movra
