#include "numtext.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace movra {

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

int decimalDigitValue(QChar c)
{
    return (c >= u'0' && c <= u'9') ? c.unicode() - u'0' : -1;
}

qsizetype skipBlanks(QStringView text, qsizetype pos)
{
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    return pos;
}

// More significant digits than this never change a correctly rounded double;
// the rest only matter as "zero or not".
constexpr qsizetype keptDigits = 800;
// An exponent is held up to this bound, far beyond the length of any text,
// so that it can still be offset by all the zeros a text can hold.
constexpr long long exponentCap = 1000000000000000; // 10^15

struct ReadNumber {
    bool found = false;
    double value = 0;
    qsizetype end = 0; // just after the number
};

ReadNumber readHex(QStringView text, qsizetype pos)
{
    ReadNumber r;
    double value = 0;
    while (pos < text.size()) {
        const int d = hexDigitValue(text[pos]);
        if (d < 0)
            break;
        value = value * 16 + d;
        ++pos;
        r.found = true;
    }
    if (r.found) {
        r.value = value;
        r.end = pos;
    }
    return r;
}

// Mantissa digits and exponent to the correctly rounded double.
double decimalValue(const std::string &digits, long long exponent)
{
    if (digits.empty())
        return 0;
    // digits = d1 d2 ... dn, value = 0.d1d2...dn x 10^(exponent + n)
    const long long magnitude = exponent + static_cast<long long>(digits.size());
    if (magnitude > 400)
        return std::numeric_limits<double>::infinity();
    if (magnitude < -400)
        return 0;
    const std::string text = digits + 'e' + std::to_string(exponent);
    double value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)ptr;
    if (ec == std::errc::result_out_of_range)
        return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return value;
}

ReadNumber readDecimal(QStringView text, qsizetype pos)
{
    ReadNumber r;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }

    std::string digits; // significant digits, leading zeros dropped
    long long exponent = 0; // the value is digits x 10^exponent
    bool anyDigit = false;
    bool droppedNonZero = false;
    auto takeDigit = [&](int d, bool fraction) {
        anyDigit = true;
        if (digits.empty() && d == 0) {
            if (fraction)
                --exponent;
            return;
        }
        if (static_cast<qsizetype>(digits.size()) < keptDigits) {
            digits.push_back(char('0' + d));
            if (fraction)
                --exponent;
        } else {
            droppedNonZero = droppedNonZero || d != 0;
            if (!fraction)
                ++exponent;
        }
    };

    for (int d; pos < text.size() && (d = decimalDigitValue(text[pos])) >= 0; ++pos)
        takeDigit(d, false);
    if (pos < text.size() && text[pos] == u'.') {
        ++pos;
        for (int d; pos < text.size() && (d = decimalDigitValue(text[pos])) >= 0; ++pos)
            takeDigit(d, true);
    }
    if (!anyDigit)
        return r;

    if (pos < text.size() && (text[pos] == u'e' || text[pos] == u'E')) {
        qsizetype p = pos + 1;
        bool expNegative = false;
        if (p < text.size() && (text[p] == u'+' || text[p] == u'-')) {
            expNegative = text[p] == u'-';
            ++p;
        }
        if (p < text.size() && decimalDigitValue(text[p]) >= 0) {
            long long e = 0;
            for (int d; p < text.size() && (d = decimalDigitValue(text[p])) >= 0; ++p)
                e = std::min(e * 10 + d, exponentCap);
            exponent += expNegative ? -e : e;
            pos = p;
        }
    }

    if (droppedNonZero) {
        // A sticky last digit keeps the rounding direction of what was dropped.
        digits.push_back('1');
        --exponent;
    }
    const double magnitude = decimalValue(digits, exponent);
    r.found = true;
    r.value = (negative && magnitude != 0) ? -magnitude : magnitude;
    r.end = pos;
    return r;
}

ReadNumber readNumber(QStringView text)
{
    const qsizetype pos = skipBlanks(text, 0);
    if (pos + 1 < text.size() && text[pos] == u'&' && (text[pos + 1] == u'H' || text[pos + 1] == u'h'))
        return readHex(text, pos + 2);
    return readDecimal(text, pos);
}

template<typename T>
std::optional<T> roundTo(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double floor = std::floor(value);
    const double fraction = value - floor; // exact for every double
    double whole = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0))
        whole = floor + 1;
    if (whole < std::numeric_limits<T>::min() || whole > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(whole);
}

} // namespace

double leadingNumber(const QString &text)
{
    return readNumber(text).value;
}

std::optional<double> numberOnly(const QString &text)
{
    const ReadNumber r = readNumber(text);
    if (!r.found || skipBlanks(text, r.end) != text.size())
        return std::nullopt;
    return r.value;
}

std::optional<std::int32_t> roundToInt32(double value)
{
    return roundTo<std::int32_t>(value);
}

std::optional<std::uint8_t> roundToByte(double value)
{
    return roundTo<std::uint8_t>(value);
}

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    return -1;
}

std::optional<std::int32_t> HEX_to_DEC(const QString &text)
{
    // Position i counts from the right, from 1; its weight is 16^(i-1).
    std::int64_t value = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 1; i <= n; ++i) {
        const int d = hexDigitValue(text[n - i]);
        if (d <= 0)
            continue; // skipped character or zero digit: the value stays
        if (i > 8)
            return std::nullopt; // 16^8 alone is beyond 7FFFFFFF
        value += std::int64_t(d) << (4 * (i - 1));
        if (value > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}


} // namespace movra
