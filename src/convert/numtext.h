#pragma once
// Text to number and back, as the tool moves numbers between its controls.
#include <QString>
#include <cstdint>
#include <optional>

namespace movra {

// The number at the start of a text: leading blanks skipped, an optional sign,
// digits with an optional decimal fraction (and exponent); "&H" followed by
// hexadecimal digits reads as hexadecimal. A text that does not begin with a
// number gives 0.
double leadingNumber(const QString &text);

// Round to the nearest whole number, a half to the even neighbour.
// Empty when the result does not fit (overflow).
std::optional<std::int32_t> roundToInt32(double value);
std::optional<std::int16_t> roundToInt16(double value);
std::optional<std::uint8_t> roundToByte(double value);

// Hexadecimal text to a signed 32-bit value. Characters that are not
// hexadecimal digits are skipped but keep their positions ("1 2" gives 258).
// Empty on overflow (above 7FFFFFFF).
std::optional<std::int32_t> HEX_to_DEC(const QString &text);

// A whole number (after rounding halves to even) to its base-2 digits.
// Empty on overflow (outside the signed 32-bit range).
std::optional<QString> Ten_To_2(double number);

// Base-2 digit text to its value, computed exactly. A character that is not a
// decimal digit counts as 0 but keeps its position; a digit above 1 is
// weighted at its own value ("12" gives 4). Empty on overflow (beyond the
// single-precision range, as the tool always reported it).
std::optional<double> B_to_10(const QString &text);

} // namespace movra
