#include "language.h"

#include <QLocale>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace movra {

std::uint16_t systemLangId()
{
#ifdef Q_OS_WIN
    return GetSystemDefaultLangID();
#else
    return langIdForLocaleName(QLocale::system().name());
#endif
}

} // namespace movra
