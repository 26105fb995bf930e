#include "langid.h"

#include <QLocale>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace movra {

std::uint16_t langIdForLocaleName(const QString &name)
{
    // Language and territory, without the code set ("zh_TW.UTF-8" → "zh_TW").
    const QString tag = name.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    static const std::pair<const char *, std::uint16_t> ids[] = {
        {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004},
        {"zh_MO", 0x1404}, {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09},
        {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_ZA", 0x1C09},
        {"en_IN", 0x4009}, {"en_SG", 0x4809}, {"fr_FR", 0x040C}, {"fr_BE", 0x080C},
        {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"de_DE", 0x0407}, {"de_CH", 0x0807},
        {"de_AT", 0x0C07}, {"it_IT", 0x0410}, {"es_ES", 0x0C0A}, {"es_MX", 0x080A},
        {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"nl_NL", 0x0413}, {"nl_BE", 0x0813},
        {"sv_SE", 0x041D}, {"da_DK", 0x0406}, {"nb_NO", 0x0414}, {"fi_FI", 0x040B},
        {"pl_PL", 0x0415}, {"cs_CZ", 0x0405}, {"hu_HU", 0x040E}, {"ru_RU", 0x0419},
        {"uk_UA", 0x0422}, {"tr_TR", 0x041F}, {"el_GR", 0x0408}, {"he_IL", 0x040D},
        {"ar_SA", 0x0401}, {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"th_TH", 0x041E},
        {"vi_VN", 0x042A}, {"id_ID", 0x0421}, {"ms_MY", 0x043E}, {"hi_IN", 0x0439},
    };
    for (const auto &[locale, id] : ids) {
        if (tag == QLatin1StringView(locale))
            return id;
    }
    return EnglishUsLangId;
}

std::uint16_t systemLangId()
{
#ifdef Q_OS_WIN
    return GetSystemDefaultLangID();
#else
    return langIdForLocaleName(QLocale::system().name());
#endif
}

} // namespace movra
