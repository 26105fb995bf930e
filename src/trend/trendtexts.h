#pragma once
// The trend's texts, in English or Traditional Chinese.
#include <QString>
#include <QStringList>

namespace movra {

// The scan list's menu item, and the window's title naming the models scanned.
QString trendMenuText(bool chinese);
QString trendTitle(const QStringList &models, bool chinese);

QString trendSaveText(bool chinese);       // the button
QString trendSaveFilter(bool chinese);     // the file dialog's type
QString trendSavedText(const QString &path, bool chinese);
QString trendNotSavedText(const QString &path, bool chinese);
QString trendHelpText(bool chinese);       // how to zoom, pan and follow live
QString trendEmptyText(bool chinese);      // before the first reading
QString trendFaultsText(bool chinese);     // the time axis's fault marks
// A strip's value when its readings were folded: the range.
QString trendRangeText(double min, double max);
QString trendValueText(double value);

} // namespace movra
