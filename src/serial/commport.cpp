#include "commport.h"

#include <QStringList>
#include <algorithm>

#include <string_view>

namespace movra {

namespace {

std::optional<int> wholeNumber(const QString &field)
{
    if (field.isEmpty())
        return std::nullopt;
    for (QChar c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const int value = field.toInt(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

bool settingsPossible(const LineSettings &s)
{
    return s.baudRate > 0 && std::string_view("NOEMS").find(s.parity) != std::string_view::npos && s.dataBits >= 5
           && s.dataBits <= 8 && (s.stopBits == 1 || s.stopBits == 2 || s.stopBits == OneAndHalfStopBits);
}

std::optional<int> parseBaud(const QString &text)
{
    const std::optional<int> baud = wholeNumber(text.trimmed());
    if (!baud || *baud <= 0)
        return std::nullopt;
    return baud;
}

std::optional<LineSettings> parseSettings(const QString &text)
{
    std::optional<LineSettings> s = parseFraming(text.section(u',', 1));
    const std::optional<int> baud = parseBaud(text.section(u',', 0, 0));
    if (!s || !baud)
        return std::nullopt;
    s->baudRate = *baud;
    return s;
}

std::optional<LineSettings> parseFraming(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 3)
        return std::nullopt;

    LineSettings s;
    const QString parity = fields[0].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NOEMS").contains(parity[0]))
        return std::nullopt;
    s.parity = parity[0].toLatin1();

    const std::optional<int> data = wholeNumber(fields[1].trimmed());
    if (!data || *data < 5 || *data > 8)
        return std::nullopt;
    s.dataBits = *data;

    const QString stop = fields[2].trimmed();
    if (stop == u"1")
        s.stopBits = 1;
    else if (stop == u"1.5")
        s.stopBits = OneAndHalfStopBits;
    else if (stop == u"2")
        s.stopBits = 2;
    else
        return std::nullopt;
    return s;
}

double characterTime(const LineSettings &s)
{
    const double stopBits = s.stopBits == OneAndHalfStopBits ? 1.5 : s.stopBits;
    const double bits = 1 + s.dataBits + (s.parity == 'N' ? 0 : 1) + stopBits;
    return bits / std::max(s.baudRate, 1);
}

QString settingsText(const LineSettings &s)
{
    const QString stop = s.stopBits == OneAndHalfStopBits ? QStringLiteral("1.5")
                                                          : QString::number(s.stopBits);
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.baudRate)
        .arg(QChar::fromLatin1(s.parity))
        .arg(s.dataBits)
        .arg(stop);
}

QString baudText(const LineSettings &s)
{
    return QString::number(s.baudRate);
}

QString framingText(const LineSettings &s)
{
    return settingsText(s).section(QLatin1Char(','), 1);
}

bool sameFraming(const LineSettings &a, const LineSettings &b)
{
    return a.parity == b.parity && a.dataBits == b.dataBits && a.stopBits == b.stopBits;
}

QList<RefusedSetting> refusedSettings(const LineSettings &asked, const LineSettings &inEffect)
{
    // Each field as the settings text writes it.
    const QStringList a = settingsText(asked).split(u',');
    const QStringList e = settingsText(inEffect).split(u',');
    const LineParameter order[] = {LineParameter::BaudRate, LineParameter::Parity, LineParameter::DataBits,
                                   LineParameter::StopBits};
    QList<RefusedSetting> out;
    for (int i = 0; i < a.size(); ++i) {
        const bool untold = order[i] == LineParameter::BaudRate && inEffect.baudRate == 0;
        if (a[i] != e[i] && !untold)
            out.append({order[i], a[i], e[i]});
    }
    return out;
}

} // namespace movra
