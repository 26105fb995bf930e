#pragma once
// Text to number and back, as the tool moves numbers between its controls.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>

namespace movra {

// The number at the start of a text: leading blanks skipped, an optional sign,
// digits with an optional decimal fraction (and exponent); "&H" followed by
// hexadecimal digits reads as hexadecimal. A text that does not begin with a
// number gives 0.
//
// Blanks are spaces, tabs, CR and LF; a blank after the first digit ends the
// number ("1 2" gives 1). The exponent is "E" or "e", an optional sign and
// digits; an "E" without digits is not part of the number ("1E" gives 1).
// "&H" (either case) takes no sign and gives the plain non-negative value of
// its digits: "&HFFFF" is 65535, not -1. The decimal reading is correctly
// rounded; too large a number gives infinity, too small a one 0. The time
// taken grows linearly with the text.
double leadingNumber(const QString &text);

// The text as one number in the syntax above, blanks around it allowed.
// Empty when the text is empty, holds no number, or holds anything after the
// number ("5x"). For entries that must not quietly become 0.
std::optional<double> numberOnly(const QString &text);

// Round to the nearest whole number, a half to the even neighbour.
// Empty when the result does not fit (overflow), and for NaN and infinity.
std::optional<std::int32_t> roundToInt32(double value);
std::optional<std::uint8_t> roundToByte(double value);

// 0 to 15 for "0"-"9", "A"-"F" and "a"-"f"; -1 for any other character.
int hexDigitValue(QChar c);

// Hexadecimal text to a signed 32-bit value. Characters that are not
// hexadecimal digits are skipped but keep their positions ("1 2" gives 258).
// Empty on overflow (above 7FFFFFFF). Any number of leading zeros is fine.
std::optional<std::int32_t> HEX_to_DEC(const QString &text);


} // namespace movra
