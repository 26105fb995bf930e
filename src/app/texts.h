#pragma once
// Small pure pieces of the window's handlers: texts in, values out.
#include "modbusline.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace movra {

// The slave address box: a whole number 0..255 (halves to even); empty when
// the text is not a number or does not fit a byte.
std::optional<std::uint8_t> slaveAddressFromText(const QString &text);

// High and low byte of a four-digit hexadecimal text, cut by character
// position: characters 1-2 and 3-4 ("12" gives 12H, 00H).
struct WordBytes {
    std::uint8_t high;
    std::uint8_t low;
};
WordBytes splitHexWord(const QString &text);

// A 03H read built from texts: the slave address box, the register address
// and the data length in bytes (half of it, rounded, is the register count).
// No request when the address or the count does not fit a byte.
struct ReadPlan {
    std::optional<LineRequest> request;
    Reason refusal; // NotSentSlave or NotSentLength when there is no request
};
ReadPlan planRead(const QString &slaveText, const QString &registerText, const QString &lengthText,
                  ByteOrder order);

// "COM:1 Baud rate:9600  Protocol:N,8,1"
QString statusLine(int port, const QString &baud, const QString &framing);

// "40017--0010--250--VOLT"
QString scanListLine(int registerNumber, const QString &address, const QString &value,
                     const QString &name);

// Windows language id of a locale name such as "zh_TW" or "en_US.UTF-8".
std::uint16_t langIdForLocaleName(const QString &name);
// The system's default language id (GetSystemDefaultLangID on Windows).
std::uint16_t systemLangId();

} // namespace movra
