#include "findtexts.h"

#include "captions.h"

#include <algorithm>

namespace movra {

namespace {

// The order parity letters are listed in: the common ones first.
constexpr char ParityOrder[] = "NEOMS";

QString range(int first, int last)
{
    return first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last);
}

QString baudRange(const QList<int> &bauds)
{
    if (bauds.isEmpty())
        return {};
    const auto [low, high] = std::minmax_element(bauds.cbegin(), bauds.cend());
    return range(*low, *high);
}

QString parityLetters(const QList<LineSettings> &framings)
{
    QString letters;
    for (const LineSettings &f : framings) {
        const QChar letter = QChar::fromLatin1(f.parity);
        if (!letters.contains(letter))
            letters += letter;
    }
    const QString order = QString::fromLatin1(ParityOrder);
    std::stable_sort(letters.begin(), letters.end(), [&](QChar a, QChar b) {
        const auto rank = [&](QChar c) { const qsizetype i = order.indexOf(c); return i < 0 ? order.size() : i; };
        return rank(a) < rank(b);
    });
    QStringList parts;
    for (QChar c : std::as_const(letters))
        parts << QString(c);
    return parts.join(QLatin1Char('/'));
}

} // namespace

QString findMenuText(Language language)
{
    return inLanguage(language, "Find the meter", "尋找儀表");
}

QString findProgressText(const LineSettings &at, int address, int index, int total, Language language)
{
    return inLanguage(language, "Searching: %1 %2, address %3 (%4 of %5)", "搜尋中：%1 %2，位址 %3（%4 / %5）")
        .arg(baudText(at), framingText(at))
        .arg(address)
        .arg(index)
        .arg(total);
}

QString findNothingText(int firstAddress, int lastAddress, const QList<int> &bauds,
                        const QList<LineSettings> &framings, Language language)
{
    return inLanguage(language, "No meter at %1, %2 baud, %3", "找不到儀表：位址 %1，鮑率 %2，%3")
        .arg(range(firstAddress, lastAddress), baudRange(bauds), parityLetters(framings));
}

QString findNothingTip(int lastAddress, Language language)
{
    return inLanguage(language,
                "Likely causes: the A/B wires swapped, the meter without power, a model with another "
                "register map, or an address above %1",
                "可能原因：A/B 線接反、儀表未通電、其他型號的暫存器配置，或位址大於 %1")
        .arg(lastAddress);
}

QString findHintTipLine(Language language)
{
    return inLanguage(language, "Right-click Connect: Find the meter tries every baud rate, framing and address",
                "在「連線」按右鍵：「尋找儀表」會試遍每種鮑率、協定與位址");
}

QString findStoppedText(Language language)
{
    return inLanguage(language, "Search stopped: the settings are as before", "搜尋已停止：設定維持原狀");
}

} // namespace movra
