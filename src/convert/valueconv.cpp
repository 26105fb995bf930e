#include "valueconv.h"

#include "numtext.h"

#include <QStringView>
#include <QVarLengthArray>
#include <cmath>
#include <cstdint>

namespace movra {

namespace {

using Limbs = QVarLengthArray<std::uint32_t, 4>; // little-endian 32-bit limbs

// The nibbles as one unsigned number: nibble values or, for a negative value,
// the magnitude: inverted nibbles plus one.
Limbs magnitudeOf(const QVarLengthArray<std::uint8_t, 16> &nibbles, bool negative)
{
    Limbs limbs((nibbles.size() + 7) / 8, 0);
    qsizetype bit = 0;
    for (qsizetype i = nibbles.size() - 1; i >= 0; --i, bit += 4) {
        const std::uint32_t v = negative ? 15u - nibbles[i] : nibbles[i];
        limbs[bit / 32] |= v << (bit % 32);
    }
    if (negative) {
        for (auto &limb : limbs) {
            if (++limb != 0)
                break;
        }
        // All inverted bits set cannot happen: the first bit of the data is 1.
    }
    while (!limbs.isEmpty() && limbs.last() == 0)
        limbs.removeLast();
    return limbs;
}

int bitLength(const Limbs &limbs)
{
    if (limbs.isEmpty())
        return 0;
    return int(limbs.size() - 1) * 32 + (32 - __builtin_clz(limbs.last()));
}

// All digits, by repeated division by 10^9.
QString exactDecimal(Limbs limbs)
{
    constexpr std::uint32_t chunk = 1000000000;
    QVarLengthArray<std::uint32_t, 8> chunks; // least significant first
    while (!limbs.isEmpty()) {
        std::uint64_t rest = 0;
        for (qsizetype i = limbs.size() - 1; i >= 0; --i) {
            const std::uint64_t cur = (rest << 32) | limbs[i];
            limbs[i] = std::uint32_t(cur / chunk);
            rest = cur % chunk;
        }
        chunks.append(std::uint32_t(rest));
        while (!limbs.isEmpty() && limbs.last() == 0)
            limbs.removeLast();
    }
    if (chunks.isEmpty())
        return QStringLiteral("0");
    QString text = QString::number(chunks.last());
    for (qsizetype i = chunks.size() - 2; i >= 0; --i)
        text += QString::number(chunks[i]).rightJustified(9, u'0');
    return text;
}

// Six significant digits, mantissa "E+" exponent, from the top 64 bits.
QString roundedDecimal(const Limbs &limbs)
{
    const int bits = bitLength(limbs);
    const int shift = bits - 64;
    std::uint64_t top = 0;
    for (int b = bits - 1; b >= shift; --b) {
        const std::uint32_t bit = (limbs[b / 32] >> (b % 32)) & 1u;
        top = (top << 1) | bit;
    }
    const long double log10Of2 = 0.301029995663981195213738894724493027L;
    const long double lg = std::log10(static_cast<long double>(top)) + shift * log10Of2;
    long long exponent = static_cast<long long>(std::floor(lg));
    double mantissa = static_cast<double>(std::pow(10.0L, lg - exponent));
    QString digits = QString::number(mantissa, 'f', 5);
    if (digits.startsWith(QLatin1String("10"))) {
        ++exponent;
        digits = QStringLiteral("1.00000");
    }
    while (digits.endsWith(u'0'))
        digits.chop(1);
    if (digits.endsWith(u'.'))
        digits.chop(1);
    return digits + QLatin1String("E+") + QString::number(exponent);
}

} // namespace

ConvertedValue convertValue(const QString &dataHex)
{
    QStringView h(dataHex);
    while (!h.isEmpty() && h.front() == u' ')
        h = h.mid(1);
    while (!h.isEmpty() && h.back() == u' ')
        h.chop(1);

    ConvertedValue out;
    QVarLengthArray<std::uint8_t, 16> nibbles;
    nibbles.reserve(h.size());
    out.bits.reserve(4 * h.size());
    for (const QChar c : h) {
        const int v = std::max(hexDigitValue(c), 0);
        nibbles.append(std::uint8_t(v));
        for (int b = 3; b >= 0; --b)
            out.bits += QLatin1Char((v >> b) & 1 ? '1' : '0');
    }

    const bool negative = out.bits.startsWith(u'1');
    if (negative) {
        out.inverted.reserve(out.bits.size());
        for (const QChar c : std::as_const(out.bits))
            out.inverted += QLatin1Char(c == u'1' ? '0' : '1');
    }

    const Limbs magnitude = magnitudeOf(nibbles, negative);
    const QString digits = bitLength(magnitude) <= maxExactDecimalBits ? exactDecimal(magnitude)
                                                                       : roundedDecimal(magnitude);
    out.decimal = negative ? QLatin1Char('-') + digits : digits;
    return out;
}


} // namespace movra
