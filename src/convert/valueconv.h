#pragma once
// The value of a read answer's data, as bits, inverted bits and decimal.
#include <QString>

namespace movra {

struct ConvertedValue {
    QString bits;     // four binary digits per hexadecimal digit
    QString inverted; // the bits inverted, only for a negative value
    QString decimal;  // the exact two's-complement value
};

// DataHex → the three texts. Leading and trailing blanks are ignored; a
// character that is not a hexadecimal digit counts as 0 and still takes four
// bit positions. The value is the two's complement of all the bits (up to 64);
// longer data still gives a decimal text, never a stale one.
//
// The decimal is never empty: "0" for empty data. Longer data is still read
// as one two's-complement number, written with all its digits as long as its
// magnitude needs at most maxExactDecimalBits bits (so leading 0 or F digits
// cost nothing). Beyond that the decimal is the magnitude rounded to six
// significant digits, written as mantissa, "E+" and exponent
// (e.g. "1.18973E+4932"), so that huge data costs linear time.
ConvertedValue convertValue(const QString &dataHex);

constexpr int maxExactDecimalBits = 16384;

} // namespace movra
