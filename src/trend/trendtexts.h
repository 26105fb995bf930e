#pragma once
// The trend's texts, in English or Traditional Chinese.
#include "language.h"

#include <QString>
#include <QStringList>

namespace movra {

// The scan list's menu item, and the window's title naming the models scanned.
QString trendMenuText(Language language);
QString trendTitle(const QStringList &models, Language language);

QString trendSaveText(Language language);       // the button
QString trendSaveFilter(Language language);     // the file dialog's type
QString trendSavedText(const QString &path, Language language);
QString trendNotSavedText(const QString &path, Language language);
QString trendHelpText(Language language);       // how to zoom, pan and follow live
QString trendEmptyText(Language language);      // before the first reading
QString trendFaultsText(Language language);     // the time axis's fault marks
// A strip's value when its readings were folded: the range.
QString trendRangeText(double min, double max);
QString trendValueText(double value);

} // namespace movra
