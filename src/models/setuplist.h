#pragma once
// RTU_SETUP.TXT: the list of meter models beside the executable.
#include <QString>
#include <array>
#include <cstdint>

namespace movra {

inline constexpr int ModelSlotCount = 18;
using ModelSlots = std::array<QString, ModelSlotCount>;

// Line 1 holds the count N (leading number, halves to even, overflow or no
// number gives 0); lines 2..N+1 the names, used exactly as read. Slots that
// get no name stay empty.
ModelSlots readSetupList(const QString &path, std::uint16_t langId);

} // namespace movra
