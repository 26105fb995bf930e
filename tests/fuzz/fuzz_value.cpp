// The value conversion on any DataHex text.
//
// Input: a flag byte (bit 0: UTF-8, else one character a byte; bit 1: repeat
// the text up to the length in the low 14 bits of the next two bytes, so
// that short inputs reach data of thousands of digits), the two length
// bytes, then the text.
//
// Checks: four bits per character of the text without its outer blanks,
// inverted bits only for a negative value, a decimal that is never empty
// and is the exact two's-complement value (recomputed with 128-bit integers
// for up to 16 digits, and by reading the decimal back into binary for
// longer data), or for huge data six significant digits in E+ form.
#include "fuzzinput.h"
#include "numtext.h"
#include "valueconv.h"

#include <QRegularExpression>
#include <cmath>
#include <vector>

using namespace movra;

namespace {

using Limbs = std::vector<std::uint32_t>; // little-endian

FUZZ_REFERENCE void trim(Limbs &v)
{
    while (!v.empty() && v.back() == 0)
        v.pop_back();
}

FUZZ_REFERENCE int bitLength(const Limbs &v)
{
    if (v.empty())
        return 0;
    int top = 31;
    while (!((v.back() >> top) & 1u))
        --top;
    return int(v.size() - 1) * 32 + top + 1;
}

// The digits' unsigned value, and its magnitude as a two's-complement number
// of 4 x digits bits: 2^(4n) minus the value when the top bit is set.
FUZZ_REFERENCE Limbs magnitudeOf(const std::vector<int> &nibbles, bool negative)
{
    const std::size_t n = nibbles.size();
    Limbs value(n / 8 + 2, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t bit = 4 * (n - 1 - i);
        value[bit / 32] |= std::uint32_t(nibbles[i]) << (bit % 32);
    }
    if (negative) {
        Limbs power(value.size(), 0);
        power[(4 * n) / 32] |= 1u << ((4 * n) % 32);
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < value.size(); ++i) {
            std::int64_t d = std::int64_t(power[i]) - value[i] - borrow;
            borrow = d < 0;
            if (d < 0)
                d += std::int64_t(1) << 32;
            value[i] = std::uint32_t(d);
        }
        if (borrow)
            movra::fuzz::fail(__FILE__, __LINE__, "2^(4n) below the value", {});
    }
    trim(value);
    return value;
}

FUZZ_REFERENCE Limbs fromDecimal(QStringView digits)
{
    Limbs v;
    for (qsizetype i = 0; i < digits.size(); i += 9) {
        const QStringView part = digits.mid(i, 9);
        std::uint64_t scale = 1;
        for (qsizetype k = 0; k < part.size(); ++k)
            scale *= 10;
        std::uint64_t carry = part.toULongLong();
        for (auto &limb : v) {
            const std::uint64_t cur = std::uint64_t(limb) * scale + carry;
            limb = std::uint32_t(cur);
            carry = cur >> 32;
        }
        if (carry)
            v.push_back(std::uint32_t(carry));
    }
    trim(v);
    return v;
}

FUZZ_REFERENCE QString decimalOf(__int128 v)
{
    if (v == 0)
        return QStringLiteral("0");
    const bool negative = v < 0;
    unsigned __int128 m = negative ? (unsigned __int128)(-(v + 1)) + 1 : (unsigned __int128)v;
    QString s;
    while (m) {
        s.prepend(QLatin1Char(char('0' + int(m % 10))));
        m /= 10;
    }
    return negative ? QLatin1Char('-') + s : s;
}

// log10 of the magnitude from its top 64 bits.
FUZZ_REFERENCE double log10Of(const Limbs &v)
{
    const int bits = bitLength(v);
    const int shift = std::max(bits - 64, 0);
    long double top = 0;
    for (int b = bits - 1; b >= shift; --b)
        top = top * 2 + ((v[std::size_t(b / 32)] >> (b % 32)) & 1u);
    return double(std::log10(top) + shift * 0.301029995663981195213738894724493027L);
}

// Four bits per character, most significant first; inverted bits only for
// a negative value. Gives the characters' digit values.
FUZZ_REFERENCE std::vector<int> checkBits(QStringView h, const ConvertedValue &v)
{
    FUZZ_CHECK(v.bits.size() == 4 * h.size(), QStringLiteral("%1 bits for %2 characters").arg(v.bits.size()).arg(h.size()));
    std::vector<int> nibbles;
    nibbles.reserve(std::size_t(h.size()));
    for (qsizetype i = 0; i < h.size(); ++i) {
        const int d = std::max(fuzz::hexValue(h[i]), 0);
        nibbles.push_back(d);
        for (int b = 0; b < 4; ++b)
            FUZZ_CHECK(v.bits[4 * i + b] == QLatin1Char((d >> (3 - b)) & 1 ? '1' : '0'), QStringLiteral("bit %1").arg(4 * i + b));
    }

    if (v.bits.startsWith(u'1')) {
        FUZZ_CHECK(v.inverted.size() == v.bits.size());
        for (qsizetype i = 0; i < v.bits.size(); ++i)
            FUZZ_CHECK(v.inverted[i] != v.bits[i] && (v.inverted[i] == u'0' || v.inverted[i] == u'1'), QStringLiteral("inverted bit %1").arg(i));
    } else {
        FUZZ_CHECK(v.inverted.isEmpty(), v.inverted.left(80));
    }

    return nibbles;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.byte();
    // Up to 16383 characters: well past the exact decimal range, still quick.
    const auto repeatTo = qsizetype(in.value<std::uint16_t>() & 0x3FFF);
    QString text = fuzz::toText(in.rest(), flags & 1);
    if ((flags & 2) && !text.isEmpty()) {
        const QString unit = text;
        while (text.size() < repeatTo)
            text += unit;
        text.truncate(std::max<qsizetype>(repeatTo, unit.size()));
    }

    const ConvertedValue v = convertValue(text);

    QStringView h(text);
    while (!h.isEmpty() && h.front() == u' ')
        h = h.mid(1);
    while (!h.isEmpty() && h.back() == u' ')
        h.chop(1);

    const std::vector<int> nibbles = checkBits(h, v);
    const bool negative = v.bits.startsWith(u'1');
    FUZZ_CHECK(!v.decimal.isEmpty());
    FUZZ_CHECK(v.decimal.startsWith(u'-') == negative, v.decimal.left(80));
    const QStringView magnitudeText = QStringView(v.decimal).mid(negative ? 1 : 0);

    if (h.size() <= 16) {
        __int128 value = 0;
        for (int d : nibbles)
            value = value * 16 + d;
        if (negative)
            value -= (__int128)1 << (4 * h.size());
        FUZZ_CHECK(v.decimal == decimalOf(value), QStringLiteral("%1 gave %2, want %3").arg(h.toString(), v.decimal, decimalOf(value)));
        return 0;
    }

    const Limbs magnitude = magnitudeOf(nibbles, negative);
    static const QRegularExpression exact(QStringLiteral("^(0|[1-9][0-9]*)$"));
    static const QRegularExpression rounded(QStringLiteral("^([1-9](?:\\.[0-9]{0,4}[1-9])?)E\\+([0-9]+)$"));
    if (bitLength(magnitude) <= maxExactDecimalBits) {
        FUZZ_CHECK(exact.match(magnitudeText).hasMatch(), v.decimal.left(80));
        FUZZ_CHECK(fromDecimal(magnitudeText) == magnitude, QStringLiteral("decimal of %1 digits is not the value").arg(h.size()));
    } else {
        const QRegularExpressionMatch m = rounded.match(magnitudeText);
        FUZZ_CHECK(m.hasMatch(), v.decimal.left(80));
        const double lg = std::log10(m.captured(1).toDouble()) + m.captured(2).toDouble();
        // Six significant digits: within half a unit of the sixth digit.
        FUZZ_CHECK(std::abs(lg - log10Of(magnitude)) < 2.5e-6,
                   QStringLiteral("%1 for a magnitude of 10^%2").arg(v.decimal).arg(log10Of(magnitude), 0, 'f', 8));
    }
    return 0;
}
