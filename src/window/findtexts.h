#pragma once
// The texts of the meter search, in English or Traditional Chinese.
#include "commport.h"
#include "language.h"

#include <QList>
#include <QString>

namespace movra {

// The menu item on Connect.
QString findMenuText(Language language);

// While a try runs: its settings and address, and n of the total.
QString findProgressText(const LineSettings &at, int address, int index, int total, Language language);

// The search ended without an answer: what was tried, the rates as a range
// and the framings by their parity letters ("No meter at 1-15, 2400-19200
// baud, N/E/O"); its tooltip names the likely causes.
QString findNothingText(int firstAddress, int lastAddress, const QList<int> &bauds,
                        const QList<LineSettings> &framings, Language language);
QString findNothingTip(int lastAddress, Language language);

// The line a failed Connect's hint tooltip adds.
QString findHintTipLine(Language language);

// Connect pressed again or Escape during the search.
QString findStoppedText(Language language);

} // namespace movra
