#pragma once
// The value of a read answer's data, as bits, inverted bits and decimal.
#include <QString>

namespace movra {

struct ConvertedValue {
    QString bits;     // Text8: four binary digits per hexadecimal digit
    QString inverted; // Text9: the bits inverted, only for a negative value
    QString decimal;  // Text5 and signal1: the exact two's-complement value
};

// DataHex → the three texts. Leading and trailing blanks are ignored; a
// character that is not a hexadecimal digit counts as 0 and still takes four
// bit positions. The value is the two's complement of all the bits (up to 64);
// longer data still gives a decimal text, never a stale one.
ConvertedValue convertValue(const QString &dataHex);

// Decimal text of a whole number, with all its digits.
QString decimalText(long long value);

} // namespace movra
