#include "commport.h"

#include <QStringList>

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

std::optional<LineSettings> parseSettings(const QString &text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings s;
    const std::optional<int> baud = wholeNumber(fields[0].trimmed());
    if (!baud || *baud <= 0)
        return std::nullopt;
    s.baudRate = *baud;

    const QString parity = fields[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NOEMS").contains(parity[0]))
        return std::nullopt;
    s.parity = parity[0].toLatin1();

    const std::optional<int> data = wholeNumber(fields[2].trimmed());
    if (!data || *data < 5 || *data > 8)
        return std::nullopt;
    s.dataBits = *data;

    const QString stop = fields[3].trimmed();
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

} // namespace movra
