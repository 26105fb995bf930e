// The number reader, rounding and HEX_to_DEC, on any text
// and any double.
//
// Input: a flag byte (bit 0: UTF-8, else one character a byte), eight bytes
// of a double (any bit pattern: NaN, infinity, huge, tiny), then the text.
// Texts of a million characters are left to the unit tests: here they would
// take most of the time for little.
// Every result is compared with a reference computed another way: a regular
// expression and strtod for the number reader, nearbyint for rounding,
// integer parsing for HEX_to_DEC.
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
    FUZZ_CHECK(roundToByte(v) == referenceRound<std::uint8_t>(v), QStringLiteral("roundToByte(%1)").arg(show(v)));
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


} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const bool utf8 = in.byte() & 1;
    const double raw = in.value<double>();
    const QString text = fuzz::toText(in.rest(), utf8);

    const double read = checkNumberReader(text);
    for (double v : {raw, read})
        checkRounding(v);
    checkHexToDec(text);
    return 0;
}
