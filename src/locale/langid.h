#pragma once
// Windows language ids of locale names, for systems without
// GetSystemDefaultLangID.
#include <QString>
#include <cstdint>

namespace movra {

inline constexpr std::uint16_t EnglishUsLangId = 0x0409;

// Windows language id of a locale name such as "zh_TW" or "en_US.UTF-8"
// (the code set and an "@" modifier are ignored); English (US) for a name
// the table does not hold.
std::uint16_t langIdForLocaleName(const QString &name);

// The system's default language id (GetSystemDefaultLangID on Windows,
// the locale's elsewhere).
std::uint16_t systemLangId();

} // namespace movra
