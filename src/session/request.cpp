#include "request.h"

#include "numtext.h"

#include <cmath>
#include <limits>

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

ValueShape valueShapeOf(const QString &lengthText, ByteOrder order)
{
    ValueShape shape;
    for (int length : {2, 4, 6, 8})
        if (lengthText == QString::number(length))
            shape.valueBytes = length;
    // Whole bytes, as far as an int holds them.
    const double length = leadingNumber(lengthText);
    shape.dataLength = std::abs(length) < std::numeric_limits<int>::max() ? int(length) : 0;
    shape.order = order;
    return shape;
}

RequestTexts entryTexts(std::optional<std::uint8_t> slave, const ModelEntry &entry)
{
    RequestTexts texts;
    texts.slave = slave;
    texts.reg = entry.address;
    texts.length = entry.length;
    texts.order = byteOrderOf(entry.sign);
    return texts;
}

RequestPlan planRequest(const RequestTexts &texts, const LineRequest &previous)
{
    if (!texts.slave)
        return {std::nullopt, {Reason::NotSentSlave}};
    const WordBytes reg = splitHexWord(texts.reg);
    LineRequest request;
    request.shape = valueShapeOf(texts.length, texts.order);
    request.frame = {*texts.slave, texts.function, reg.high, reg.low, 0, 0, 0, 0};

    if (texts.function == WriteSingleRegister) {
        const WordBytes value = splitHexWord(texts.value);
        request.frame[4] = value.high;
        request.frame[5] = value.low;
        request.expectedLength = int(expectedLength(WriteSingleRegister, 0));
        return {request, {}};
    }

    std::optional<double> length;
    if (texts.lengthRule == RequestTexts::LengthRule::LeadingNumber)
        length = leadingNumber(texts.length);
    else
        length = numberOnly(texts.length);
    const auto count = length ? roundToByte(*length / 2) : std::nullopt;
    const auto expected = length ? roundToInt32(expectedLength(ReadHoldingRegisters, *length))
                                 : std::nullopt;
    if (texts.lengthRule == RequestTexts::LengthRule::KeepPrevious) {
        // What cannot be computed keeps the previous request's value.
        request.frame[5] = count.value_or(previous.frame[5]);
        request.expectedLength = expected.value_or(previous.expectedLength);
        return {request, {}};
    }
    if (!count || !expected)
        return {std::nullopt, {Reason::NotSentLength}};
    request.frame[5] = *count;
    request.expectedLength = *expected;
    return {request, {}};
}

} // namespace movra
