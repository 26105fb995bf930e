#pragma once
// The system's language, as a Windows language id. TraditionalChineseLangId,
// the one id that selects the Chinese captions, comes with the line reader.
#include "langid.h"
#include "lineio.h"

#include <QString>
#include <cstdint>

namespace movra {

// The system's default language id (GetSystemDefaultLangID on Windows).
std::uint16_t systemLangId();

// A text in the captions' language: English, or Traditional Chinese (UTF-8).
inline QString inLanguage(bool chinese, const char *english, const char *zh)
{
    return QString::fromUtf8(chinese ? zh : english);
}

} // namespace movra
