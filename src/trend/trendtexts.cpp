#include "trendtexts.h"

#include "language.h"

namespace movra {

namespace {
// Significant digits of a value on hover.
constexpr int ValueDigits = 10;
} // namespace

QString trendMenuText(Language language)
{
    return inLanguage(language, "Trend", "趨勢圖");
}

// "Trend — MV-210, MV-100"
QString trendTitle(const QStringList &models, Language language)
{
    const QString title = trendMenuText(language);
    return models.isEmpty() ? title : title + QStringLiteral(" — ") + models.join(QStringLiteral(", "));
}

QString trendSaveText(Language language)
{
    return inLanguage(language, "Save picture…", "儲存圖片…");
}

QString trendSaveFilter(Language language)
{
    return inLanguage(language, "PNG picture (*.png)", "PNG 圖片 (*.png)");
}

QString trendSavedText(const QString &path, Language language)
{
    return inLanguage(language, "Picture saved: %1", "圖片已儲存：%1").arg(path);
}

QString trendNotSavedText(const QString &path, Language language)
{
    return inLanguage(language, "Picture not saved: %1 cannot be written", "圖片未儲存：無法寫入 %1").arg(path);
}

QString trendHelpText(Language language)
{
    return inLanguage(language, "Wheel: zoom · drag: pan · double-click: follow live",
                      "滾輪：縮放 · 拖曳：平移 · 按兩下：即時跟隨");
}

QString trendEmptyText(Language language)
{
    return inLanguage(language, "No readings yet: start a scan", "尚無讀值：請開始掃瞄");
}

QString trendFaultsText(Language language)
{
    return inLanguage(language, "Faults", "錯誤");
}

QString trendValueText(double value)
{
    return QString::number(value, 'g', ValueDigits);
}

QString trendRangeText(double min, double max)
{
    return min == max ? trendValueText(min) : trendValueText(min) + QStringLiteral(" … ") + trendValueText(max);
}

} // namespace movra
