// The number reader, rounding, HEX_to_DEC, Ten_To_2 and B_to_10, on any text
// and any double.
//
// Input: a flag byte (bit 0: UTF-8, else one character a byte), eight bytes
// of a double (any bit pattern: NaN, infinity, huge, tiny), then the text.
// Texts of a million characters are left to the unit tests: here they would
// take most of the time for little.
// Every result is compared with a reference computed another way: a regular
// expression and strtod for the number reader, nearbyint for rounding,
// integer parsing for HEX_to_DEC, an exact binary sum for B_to_10.
#include "fuzzinput.h"
#include "numtext.h"

#include <QRegularExpression>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

using namespace movra;

namespace {

QString show(double v)
{
    return QString::number(v, 'g', 17);
}

QString show(const std::optional<double> &v)
{
    return v ? show(*v) : QStringLiteral("(none)");
}

bool same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// The number at the start of the text, and where it ends; nothing when the
// text does not begin with one.
struct Leading {
    bool found = false;
    double value = 0;
    bool exact = true; // false for long hexadecimal digit runs
    qsizetype end = 0;
};

FUZZ_REFERENCE Leading referenceLeading(const QString &text)
{
    static const QRegularExpression number(QStringLiteral(
        "^[ \\t\\r\\n]*(?:&[Hh]([0-9A-Fa-f]+)|([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?))"));
    const QRegularExpressionMatch m = number.match(text);
    Leading r;
    if (!m.hasMatch())
        return r;
    r.found = true;
    r.end = m.capturedEnd(0);
    if (m.capturedLength(1) > 0) {
        QString digits = m.captured(1);
        while (digits.startsWith(u'0'))
            digits.remove(0, 1);
        if (digits.size() > 13) {
            r.exact = false;
            r.value = digits.size() > 256 ? std::numeric_limits<double>::infinity() : std::ldexp(1.0, 4 * int(digits.size() - 1));
            return r;
        }
        r.value = digits.isEmpty() ? 0.0 : double(digits.toLongLong(nullptr, 16));
        return r;
    }
    const QByteArray ascii = m.captured(2).toLatin1();
    r.value = std::strtod(ascii.constData(), nullptr);
    return r;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

double checkNumberReader(const QString &text)
{
    const Leading ref = referenceLeading(text);
    const double got = leadingNumber(text);
    if (ref.exact) {
        FUZZ_CHECK(same(got, ref.value), QStringLiteral("leadingNumber: got %1, want %2").arg(show(got), show(ref.value)));
    } else {
        // A long run of hexadecimal digits: right to within its leading digit.
        FUZZ_CHECK(got >= ref.value && (!std::isinf(ref.value) || std::isinf(got)),
                   QStringLiteral("leadingNumber hex: got %1, at least %2").arg(show(got), show(ref.value)));
    }

    bool onlyNumber = ref.found;
    for (qsizetype i = ref.end; onlyNumber && i < text.size(); ++i)
        onlyNumber = isBlank(text[i]);
    const std::optional<double> only = numberOnly(text);
    FUZZ_CHECK(only.has_value() == onlyNumber, QStringLiteral("numberOnly: got %1").arg(show(only)));
    if (only)
        FUZZ_CHECK(same(*only, got), QStringLiteral("numberOnly %1, leadingNumber %2").arg(show(*only), show(got)));
    return got;
}

template<typename T>
FUZZ_REFERENCE std::optional<T> referenceRound(double v)
{
    if (!std::isfinite(v))
        return std::nullopt;
    const double r = std::nearbyint(v); // to nearest, halves to even
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        return std::nullopt;
    return T(r);
}

void checkRounding(double v)
{
    FUZZ_CHECK(roundToInt32(v) == referenceRound<std::int32_t>(v), QStringLiteral("roundToInt32(%1)").arg(show(v)));
    FUZZ_CHECK(roundToInt16(v) == referenceRound<std::int16_t>(v), QStringLiteral("roundToInt16(%1)").arg(show(v)));
    FUZZ_CHECK(roundToByte(v) == referenceRound<std::uint8_t>(v), QStringLiteral("roundToByte(%1)").arg(show(v)));
}

FUZZ_REFERENCE QString binaryDigits(long long m)
{
    QString s;
    do {
        s.prepend(QLatin1Char(m % 2 ? '1' : '0'));
        m /= 2;
    } while (m > 0);
    return s;
}

void checkTenTo2(double v)
{
    const std::optional<QString> got = Ten_To_2(v);
    std::optional<QString> want;
    if (v == 0) {
        want = QStringLiteral("0");
    } else if (v == 1) {
        want = QStringLiteral("1");
    } else if (const std::optional<std::int32_t> m = referenceRound<std::int32_t>(v)) {
        const long long whole = *m;
        if (whole < 0)
            want = QLatin1Char('-') + binaryDigits(-whole);
        else if (whole < 2)
            want = QLatin1Char('0') + binaryDigits(whole);
        else
            want = binaryDigits(whole);
    }
    FUZZ_CHECK(got == want, QStringLiteral("Ten_To_2(%1) gave %2").arg(show(v), got.value_or(QStringLiteral("(none)"))));
    if (got && !got->startsWith(u'-')) {
        // Back again: the rounded whole number.
        const std::optional<double> back = B_to_10(*got);
        FUZZ_CHECK(back && *back == std::nearbyint(v), QStringLiteral("B_to_10(Ten_To_2(%1))").arg(show(v)));
    }
}

FUZZ_REFERENCE void checkHexToDec(const QString &text)
{
    // Non-digits hold their place as zeros; then at most eight significant
    // digits, up to 7FFFFFFF.
    QString digits;
    for (QChar c : text) {
        FUZZ_CHECK(hexDigitValue(c) == fuzz::hexValue(c), QStringLiteral("hexDigitValue(U+%1)").arg(c.unicode(), 4, 16));
        digits += fuzz::hexValue(c) >= 0 ? c : QChar(u'0');
    }
    while (digits.startsWith(u'0'))
        digits.remove(0, 1);
    std::optional<std::int32_t> want;
    if (digits.size() <= 8) {
        const long long v = digits.isEmpty() ? 0 : digits.toLongLong(nullptr, 16);
        if (v <= std::numeric_limits<std::int32_t>::max())
            want = std::int32_t(v);
    }
    const std::optional<std::int32_t> got = HEX_to_DEC(text);
    FUZZ_CHECK(got == want, QStringLiteral("HEX_to_DEC gave %1, want %2")
                                .arg(got ? QString::number(*got) : QStringLiteral("(none)"),
                                     want ? QString::number(*want) : QStringLiteral("(none)")));
}

FUZZ_REFERENCE void checkBTo10(const QString &text)
{
    // The exact sum as a count of powers of two, carried into binary.
    const qsizetype n = text.size();
    std::vector<int> bit(std::size_t(n) + 8, 0);
    for (qsizetype k = 0; k < n; ++k) {
        const QChar c = text[n - 1 - k];
        const int d = (c >= u'0' && c <= u'9') ? c.unicode() - u'0' : 0;
        for (int j = 0; j < 4; ++j)
            bit[std::size_t(k + j)] += (d >> j) & 1;
    }
    for (std::size_t i = 0; i + 1 < bit.size(); ++i) {
        bit[i + 1] += bit[i] / 2;
        bit[i] %= 2;
    }
    qsizetype top = -1;
    for (qsizetype i = qsizetype(bit.size()) - 1; i >= 0 && top < 0; --i)
        if (bit[std::size_t(i)])
            top = i;
    std::optional<double> want;
    if (top < 128) {
        unsigned __int128 sum = 0;
        for (qsizetype i = top; i >= 0; --i)
            sum = (sum << 1) | unsigned(bit[std::size_t(i)]);
        const unsigned __int128 floatMax = (unsigned __int128)(0xFFFFFF) << 104;
        if (sum <= floatMax)
            want = double(sum);
    }
    const std::optional<double> got = B_to_10(text);
    FUZZ_CHECK(got == want, QStringLiteral("B_to_10 gave %1, want %2").arg(show(got), show(want)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const bool utf8 = in.byte() & 1;
    const double raw = in.value<double>();
    const QString text = fuzz::toText(in.rest(), utf8);

    const double read = checkNumberReader(text);
    for (double v : {raw, read}) {
        checkRounding(v);
        checkTenTo2(v);
    }
    checkHexToDec(text);
    checkBTo10(text);
    return 0;
}
