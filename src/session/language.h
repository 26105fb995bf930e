#pragma once
// The system's language, as a Windows language id. TraditionalChineseLangId,
// the one id that selects the Chinese captions, comes with the line reader.
#include "langid.h"
#include "lineio.h"

#include <QString>
#include <cstdint>

namespace movra {

// The language of the captions and texts.
enum class Language { English, Chinese };

// Traditional Chinese for TraditionalChineseLangId, English for every other id.
inline Language languageOf(std::uint16_t langId)
{
    return langId == TraditionalChineseLangId ? Language::Chinese : Language::English;
}

// A text in the captions' language: English, or Traditional Chinese (UTF-8).
inline QString inLanguage(Language language, const char *english, const char *zh)
{
    return QString::fromUtf8(language == Language::Chinese ? zh : english);
}

} // namespace movra
