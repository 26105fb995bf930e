#pragma once
// The one place a request is built from the texts the operator and the model
// files give: slave address, register address by character position, data
// length or the word to write, and the byte order.
#include "modbusline.h"
#include "modelentry.h"
#include "reason.h"

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

// A read's value shape from the data length text: a value only for "2",
// "4", "6" or "8" exactly as typed or as a model entry has them.
ValueShape valueShapeOf(const QString &lengthText, ByteOrder order);

struct RequestTexts {
    // How a data length that is not a number is taken: as 0 (the manual
    // panel and the scan), or by keeping the previous request's count and
    // expected length (Connect, whose length comes from a model file).
    enum class LengthRule { LeadingNumber, KeepPrevious };

    std::uint8_t function = ReadHoldingRegisters;
    std::optional<std::uint8_t> slave; // empty: the address box holds none
    QString reg;      // hexadecimal, cut by position
    QString length;   // read: data length in bytes, half of it the register count
    QString value;    // write: the word, hexadecimal, cut by position
    ByteOrder order = ByteOrder::AsReceived;
    LengthRule lengthRule = LengthRule::LeadingNumber;
};

// A read of a model file's entry from `slave`: its register, data length and
// byte order.
RequestTexts entryTexts(std::optional<std::uint8_t> slave, const ModelEntry &entry);

// A request, or why none can be sent (NotSentSlave, NotSentLength).
struct RequestPlan {
    std::optional<LineRequest> request;
    Reason refusal;
};
RequestPlan planRequest(const RequestTexts &texts, const LineRequest &previous);

} // namespace movra
