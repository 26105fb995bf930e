#include "texts.h"
#include "numtext.h"

#include <QLocale>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace movra {

std::optional<std::uint8_t> slaveAddressFromText(const QString &text)
{
    const auto value = numberOnly(text);
    if (!value)
        return std::nullopt;
    return roundToByte(*value);
}

WordBytes splitHexWord(const QString &text)
{
    // Two characters never overflow.
    return {static_cast<std::uint8_t>(HEX_to_DEC(text.mid(0, 2)).value_or(0)),
            static_cast<std::uint8_t>(HEX_to_DEC(text.mid(2, 2)).value_or(0))};
}

ReadPlan planRead(const QString &slaveText, const QString &registerText, const QString &lengthText,
                  ByteOrder order)
{
    const auto slave = slaveAddressFromText(slaveText);
    if (!slave)
        return {std::nullopt, {Reason::NotSentSlave}};
    const double count = leadingNumber(lengthText) / 2;
    const auto countByte = roundToByte(count);
    const auto expected = roundToInt32(expectedLength(ReadHoldingRegisters, count * 2));
    if (!countByte || !expected)
        return {std::nullopt, {Reason::NotSentLength}};
    const WordBytes reg = splitHexWord(registerText);
    LineRequest request;
    request.frame = {*slave, ReadHoldingRegisters, reg.high, reg.low, 0, *countByte, 0, 0};
    request.expectedLength = *expected;
    request.order = order;
    return {request, {}};
}

QString statusLine(int port, const QString &baud, const QString &framing)
{
    return QStringLiteral("COM:%1 Baud rate:%2  Protocol:%3").arg(port).arg(baud, framing);
}

QString scanListLine(int registerNumber, const QString &address, const QString &value,
                     const QString &name)
{
    return QStringLiteral("%1--%2--%3--%4").arg(registerNumber).arg(address, value, name);
}

std::uint16_t langIdForLocaleName(const QString &name)
{
    // Language and territory, without the code set ("zh_TW.UTF-8" → "zh_TW").
    const QString tag = name.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    struct Entry {
        const char *locale;
        std::uint16_t id;
    };
    static constexpr Entry table[] = {
        {"zh_TW", 0x0404}, {"zh_CN", 0x0804}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004},
        {"zh_MO", 0x1404}, {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09},
        {"en_CA", 0x1009}, {"fr_FR", 0x040C}, {"fr_CA", 0x0C0C}, {"de_DE", 0x0407},
        {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"it_IT", 0x0410}, {"es_ES", 0x0C0A},
        {"pt_BR", 0x0416}, {"ru_RU", 0x0419}, {"nl_NL", 0x0413},
    };
    for (const auto &e : table)
        if (tag == QLatin1String(e.locale))
            return e.id;
    return 0x0409;
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
