#pragma once
// The status line's tooltip: how the line has held up since the port opened,
// in the caption language.
#include "commands.h"
#include "language.h"
#include "linehealth.h"

#include <QString>

namespace movra {

// "Since COM1 opened at 14:02:11 (9600, N,8,1):", the requests and how many
// gave a value, the faults by reason, the answer times, the requests not
// sent, and the meter's lateness while the line knows one; lines joined by
// "\n". The heading names the port as `panel` has it. Empty before the
// first open.
QString healthTip(const HealthReport &report, const PortPanel &panel, Language language);

} // namespace movra
